#pragma once

#include <QString>

QString HelpText();
// What --help says after HelpText() of commands that take turns on a folder.
QString TakingTurnsHelpText();
QString UsageHint();
