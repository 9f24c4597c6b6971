#pragma once

#include <QString>

// Joins a folder and a file name with exactly one separator.
QString JoinPath(const QString &folder, const QString &name);
