#pragma once

class QCoreApplication;

// Qt's own texts, such as the folder picker's and the message boxes' buttons, in the system's
// language when that is Chinese; the application's own texts are Chinese anyway. Looks in Qt's
// translation folder and in "translations" beside the executable, where a Windows copy keeps
// them. Call once the application exists.
void InstallQtTranslations(QCoreApplication &application);
