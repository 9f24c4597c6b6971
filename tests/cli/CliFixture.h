#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

// What one run of parafold-cli gave back.
struct CliResult
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
};

// Runs the built parafold-cli with the arguments, in workingDir when given, under a Chinese
// locale (on POSIX; Windows takes the system's).
CliResult RunCli(const QStringList &arguments, const QString &workingDir = QString());
// The same under the POSIX locale named, such as "C.UTF-8".
CliResult RunCliInLocale(const QString &locale, const QStringList &arguments,
                         const QString &workingDir = QString());
// Waits for a started process, killing it after two minutes, and collects what it gave back.
CliResult FinishCli(QProcess &process);
QString CliPath();

// parafold-cli's output as text: UTF-8, in which RunCli has it write on POSIX, or on Windows
// the system's code page.
QString CliText(const QByteArray &output);

// Writes bytes to root/relativePath, creating folders on the way.
void WriteBytes(const QString &root, const QString &relativePath, const QByteArray &bytes);
QByteArray ReadBytes(const QString &path);

QByteArray Utf8(const char *text);
QByteArray Gbk(const QString &text);
QByteArray Utf16LeWithBom(const QString &text);

// A small tree of mixed encodings, line ends and non-.txt files below root.
void MakeSampleTree(const QString &root);

// Every folder and file below root by relative path; a file's bytes, and with
// withTimes also every entry's modification time.
QMap<QString, QByteArray> Snapshot(const QString &root, bool withTimes);

// The lines of a list written with line feeds or NUL bytes, without the last terminator.
QStringList SplitList(const QByteArray &list, char separator);

// The statistics line with its elapsed seconds left out, since two runs may cross a
// second boundary differently.
QString WithoutSeconds(const QString &statistics);
