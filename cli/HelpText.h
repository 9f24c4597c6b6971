#pragma once

#include <QString>

QString HelpText();
QString UsageHint();
