#pragma once

#include "engine/batch/BatchSettings.h"

#include <QString>
#include <QStringList>

struct RunCounts
{
    int scanned = 0;
    int txtFiles = 0;
    int changed = 0; // matched files for the find-only operation
    int failed = 0;
    qint64 seconds = 0;
};

// The line shown at the end of a run. The find-only operation adds its match count and
// always shows 0 changed files; "失败" and the count appear only when some file failed.
QString StatisticsLine(Operation operation, const RunCounts &counts);

// Writes a report: one native path per line, every line ended by CR LF, in GBK, replaced
// whole like any text file. False when it could not be written.
bool WriteReport(const QString &reportPath, const QStringList &nativePaths);
