#pragma once

#include "engine/batch/BatchSettings.h"

#include <QMap>
#include <QString>
#include <QStringList>

struct RunCounts
{
    int scanned = 0;
    int txtFiles = 0;
    int changed = 0; // matched files for the find-only operation
    int failed = 0;
    qint64 seconds = 0;
    bool stopped = false;    // ended by a stop before the last file
    int alreadyInTarget = 0; // a conversion's files that were in the target encoding already
    bool dryRun = false;     // nothing was written: the files are those that would change
    // A conversion's files read, by the encoding they were read in ("GBK", "Big5", ...).
    QMap<QString, int> readIn;
};

extern const QString reportNotUndoneName; // "未能撤销的文件目录.txt"

// True for the name of a report that runs and undo write at the top of the source folder,
// given relative to it: such a file is the program's own list, never a text to edit.
bool IsReportName(const QString &relativePath);

// A report line for a file that failed: the path, a tab, the reason.
QString ReportLineWithReason(const QString &nativePath, const QString &reason);

// The last line of a report of a stopped run: how many files were not reached.
QString StoppedReportLine(int filesNotReached);

// The line shown at the end of a run. The find-only operation adds its match count and
// always shows 0 changed files; the conversion adds "已是目标编码" and the files already in the
// target; "失败" and the count appear only when some file failed;
// "(已停止)" ends the line of a stopped run.
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
