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

// A report's content: one native path per line, every line ended by CR LF, in the local
// 8-bit code page (GBK on a Chinese Windows, UTF-8 on Linux); in UTF-8 with a byte-order mark,
// which Notepad reads, when some path cannot be written in the code page without loss.
QByteArray ReportBytes(const QStringList &nativePaths);

// Writes a report, replaced whole like any text file. False, with the system's words in
// error, when it could not be written.
bool WriteReport(const QString &reportPath, const QStringList &nativePaths,
                 QString *error = nullptr);

// The statistics line with the short note that a report could not be written.
QString WithReportFailure(const QString &statistics);
