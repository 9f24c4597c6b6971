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

!include LogicLib.nsh
!include MUI2.nsh

!define APP "Parafold"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Parafold"
!define FOLDER_ENTRY "Software\Classes\Directory\shell\Parafold"

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
!insertmacro MUI_LANGUAGE "SimpChinese"

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

    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Parafold developers"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Parafold.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
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

Section "Uninstall"
    !include "${REMOVE}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"
    DeleteRegKey SHCTX "${FOLDER_ENTRY}"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
