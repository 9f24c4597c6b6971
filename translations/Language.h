#pragma once

class QCoreApplication;

// True when the user's language is Chinese, or Windows runs with the GBK code page: then
// everything the programs say is Chinese, otherwise English.
bool UsesChinese();

// Installs the Chinese texts when UsesChinese(); call before anything is shown or printed.
void InstallTranslations(QCoreApplication &application);
