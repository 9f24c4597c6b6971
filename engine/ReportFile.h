#pragma once

#include <QString>
#include <QStringList>

// Writes a report: one native path per line, every line ended by CR LF, in GBK, replaced
// whole like any text file. False when it could not be written.
bool WriteReport(const QString &reportPath, const QStringList &nativePaths);
