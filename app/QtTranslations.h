#pragma once

class QCoreApplication;

// Qt's own texts, such as the folder picker's and the message boxes' buttons, in Chinese when
// the application's own texts are (UsesChinese(), translations/Language.h). Looks in Qt's
// translation folder and in "translations" beside the executable, where a Windows copy keeps
// them. Call once the application exists.
void InstallQtTranslations(QCoreApplication &application);
