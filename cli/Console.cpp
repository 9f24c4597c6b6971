#include "cli/Console.h"

#include "engine/files/FileNames.h"
#include "platform/Terminal.h"

#include <QTextCodec>
#include <cerrno>

using platform::StandardStream;

namespace {

const qint64 flushIntervalMs = 20;
// Output gathered between writes: written once this much is held, into room made once. A
// diff of a tree is tens of megabytes, which a buffer grown between timed writes would copy
// again at every growth.
const int gatherBytes = 1 << 20;
const char eraseLine[] = "\r\x1b[K";

} // namespace

void UseTerminalEncoding()
{
    const std::string name = platform::TerminalEncoding();
    if (name.empty())
        return;
    if (QTextCodec *codec = QTextCodec::codecForName(QByteArray::fromStdString(name)))
        QTextCodec::setCodecForLocale(codec);
}

Console::Console(bool nullSeparated)
    : nullSeparated(nullSeparated), outIsTerminal(platform::IsTerminal(StandardStream::Output)),
      errIsTerminal(platform::IsTerminal(StandardStream::Error))
{
    sinceFlush.start();
}

void Console::writeFound(const QString &nativePath, const QString &note)
{
    std::lock_guard<std::mutex> guard(lock);
    if (outClosed || outErrno != 0)
        return;
    // The name's own bytes, so that the path can be handed on to other programs.
    pending += EncodeFileName(nativePath);
    if (!note.isEmpty())
        pending += '\t' + note.toLocal8Bit();
    pending += nullSeparated ? '\0' : '\n';
    if (outIsTerminal || sinceFlush.elapsed() >= flushIntervalMs)
        writeOut();
}

void Console::writeLines(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> guard(lock);
    if (outClosed || outErrno != 0)
        return;
    if (pending.capacity() < gatherBytes)
        pending.reserve(gatherBytes);
    pending += bytes;
    if (outIsTerminal || pending.size() >= gatherBytes || sinceFlush.elapsed() >= flushIntervalMs)
        writeOut();
}

void Console::flushFoundIfDue()
{
    std::lock_guard<std::mutex> guard(lock);
    if (!pending.isEmpty() && sinceFlush.elapsed() >= flushIntervalMs)
        writeOut();
}

void Console::flushFound()
{
    std::lock_guard<std::mutex> guard(lock);
    if (!pending.isEmpty())
        writeOut();
}

void Console::writeOut()
{
    if (outIsTerminal && errIsTerminal)
        eraseStatusLocked();
    const int error = platform::WriteStream(StandardStream::Output, pending.constData(),
                                            static_cast<size_t>(pending.size()));
    // The room is kept for the next output, unless one large piece grew it.
    if (pending.capacity() > 2 * gatherBytes)
        pending.clear();
    else
        pending.resize(0);
    sinceFlush.restart();
    if (error == EPIPE)
        outClosed = true;
    else if (error != 0)
        outErrno = error;
}

void Console::printOut(const QString &text)
{
    std::lock_guard<std::mutex> guard(lock);
    pending += text.toLocal8Bit();
    writeOut();
}

void Console::printLine(const QString &text)
{
    std::lock_guard<std::mutex> guard(lock);
    eraseStatusLocked();
    const QByteArray line = EncodeFileName(text) + '\n';
    // Nothing sensible is left to do when stderr itself cannot be written.
    platform::WriteStream(StandardStream::Error, line.constData(),
                          static_cast<size_t>(line.size()));
}

void Console::showStatus(const QByteArray &line)
{
    std::lock_guard<std::mutex> guard(lock);
    const QByteArray text = '\r' + line + "\x1b[K";
    platform::WriteStream(StandardStream::Error, text.constData(),
                          static_cast<size_t>(text.size()));
    statusShown = true;
}

void Console::clearStatus()
{
    std::lock_guard<std::mutex> guard(lock);
    eraseStatusLocked();
}

void Console::eraseStatusLocked()
{
    if (!statusShown)
        return;
    platform::WriteStream(StandardStream::Error, eraseLine, sizeof eraseLine - 1);
    statusShown = false;
}
