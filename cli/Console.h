#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <mutex>

// Makes the terminal's encoding, as the C library names it, Qt's local 8-bit one, in which
// the arguments are read and the messages, lists and diffs written: Qt takes UTF-8 for a
// zh_CN.GBK locale. Called first thing in main.
void UseTerminalEncoding();

// The command's two output streams: the found list on stdout, and messages plus the
// progress line on stderr. Both may be the same terminal, so every write goes through one
// lock and erases the progress line first.
class Console
{
public:
    explicit Console(bool nullSeparated);

    bool stderrIsTerminal() const { return errIsTerminal; }

    // Appends one path to the found list. Output is flushed at once on a terminal and at
    // least every few milliseconds otherwise, so a reader sees paths as they are found.
    // A note (such as the encoding) follows the path after a tab when given.
    void writeFound(const QString &nativePath, const QString &note = QString());
    // Lines of text for stdout, already in the terminal's encoding, after the found list.
    void writeLines(const QByteArray &bytes);
    void flushFoundIfDue();
    void flushFound();
    // The reader of stdout has gone away (a closed pipe).
    bool stdoutClosed() const { return outClosed; }
    // Another write error on stdout, such as a full disk; 0 when none.
    int stdoutError() const { return outErrno; }

    // Text of the program's own, such as the help, on stdout.
    void printOut(const QString &text);

    // One message line on stderr.
    void printLine(const QString &text);

    // The progress line, redrawn in place; only ever used on a terminal.
    void showStatus(const QByteArray &line);
    void clearStatus();

private:
    void writeOut();
    void eraseStatusLocked();

    std::mutex lock;
    const bool nullSeparated;
    const bool outIsTerminal;
    const bool errIsTerminal;
    bool statusShown = false;
    bool outClosed = false;
    int outErrno = 0;
    QByteArray pending;
    QElapsedTimer sinceFlush;
};
