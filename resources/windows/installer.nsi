; Parafold's Windows installer. scripts/windows makes it with
;   makensis -DVERSION=... -DFILES=files.nsh -DREMOVE=remove.nsh -DOUTFILE=... installer.nsi
; where files.nsh puts every file of the package and remove.nsh deletes exactly those, so the
; uninstaller never removes what it did not install. Per user without administrator rights,
; for every user when run as administrator. The settings and rule tables of an installed copy
; live in %APPDATA%\Parafold and are kept.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include FileFunc.nsh
!include LogicLib.nsh
!include MUI2.nsh

!define APP "Parafold"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Parafold"
!define FOLDER_ENTRY "Software\Classes\Directory\shell\Parafold"
!define BACKGROUND_ENTRY "Software\Classes\Directory\Background\shell\Parafold"
!define DRIVE_ENTRY "Software\Classes\Drive\shell\Parafold"
!define MUI_ICON "${__FILEDIR__}\..\cvn.ico"
!define MUI_UNICON "${__FILEDIR__}\..\cvn.ico"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
BrandingText "${APP} ${VERSION}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Parafold.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the default; the user's own is taken where it is one of these.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString RUNNING ${LANG_SIMPCHINESE} "Parafold 正在运行。请先关闭它，再点“重试”。"
LangString RUNNING ${LANG_ENGLISH} "Parafold is running. Close it first, then click Retry."
LangString LEFT_BEHIND ${LANG_SIMPCHINESE} "有文件正在使用，未能删除：$INSTDIR。关闭 Parafold 后请再卸载一次。"
LangString LEFT_BEHIND ${LANG_ENGLISH} "Some files are in use and were not removed: $INSTDIR. Close Parafold and uninstall again."

Function .onInit
    SetRegView 64
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
        ; A folder given with /D stays; otherwise every user's programs folder. Compared
        ; first: the context changes what $LOCALAPPDATA names.
        ${If} $INSTDIR == "$LOCALAPPDATA\Programs\${APP}"
            StrCpy $INSTDIR "$PROGRAMFILES64\${APP}"
        ${EndIf}
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

Section "Parafold"
    !include "${FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\Parafold.exe"

    WriteRegStr SHCTX "${FOLDER_ENTRY}" "" "用Parafold处理此文件夹"
    WriteRegStr SHCTX "${FOLDER_ENTRY}" "Icon" "$INSTDIR\Parafold.exe"
    WriteRegStr SHCTX "${FOLDER_ENTRY}\command" "" '"$INSTDIR\Parafold.exe" "%1"'
    WriteRegStr SHCTX "${BACKGROUND_ENTRY}" "" "用Parafold处理此文件夹"
    WriteRegStr SHCTX "${BACKGROUND_ENTRY}" "Icon" "$INSTDIR\Parafold.exe"
    WriteRegStr SHCTX "${BACKGROUND_ENTRY}\command" "" '"$INSTDIR\Parafold.exe" "%V"'
    WriteRegStr SHCTX "${DRIVE_ENTRY}" "" "用Parafold处理此文件夹"
    WriteRegStr SHCTX "${DRIVE_ENTRY}" "Icon" "$INSTDIR\Parafold.exe"
    WriteRegStr SHCTX "${DRIVE_ENTRY}\command" "" '"$INSTDIR\Parafold.exe" "%1"'

    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP} ${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Parafold developers"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Parafold.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
    SetRegView 64
    ; Installed for every user when every user's key names this folder.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

; A running program cannot be opened for writing on Windows: that is how a running
; Parafold is told from one that has ended.
!macro WAIT_UNTIL_CLOSED PROGRAM
    ${Do}
        ClearErrors
        ${IfNot} ${FileExists} "$INSTDIR\${PROGRAM}"
            ${Break}
        ${EndIf}
        FileOpen $0 "$INSTDIR\${PROGRAM}" a
        ${IfNot} ${Errors}
            FileClose $0
            ${Break}
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(RUNNING)" /SD IDCANCEL IDRETRY +2
        Abort
    ${Loop}
!macroend

Section "Uninstall"
    !insertmacro WAIT_UNTIL_CLOSED "Parafold.exe"
    !insertmacro WAIT_UNTIL_CLOSED "parafold-cli.exe"
    !include "${REMOVE}"
    ; The entry stays while anything it installed is left, so the user can uninstall again.
    ${If} ${FileExists} "$INSTDIR\Parafold.exe"
    ${OrIf} ${FileExists} "$INSTDIR\parafold-cli.exe"
    ${OrIf} ${FileExists} "$INSTDIR\Qt5Core.dll"
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(LEFT_BEHIND)" /SD IDOK
        Abort
    ${EndIf}
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"
    DeleteRegKey SHCTX "${FOLDER_ENTRY}"
    DeleteRegKey SHCTX "${BACKGROUND_ENTRY}"
    DeleteRegKey SHCTX "${DRIVE_ENTRY}"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
