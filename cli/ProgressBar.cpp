#include "cli/ProgressBar.h"

#include "cli/Console.h"
#include "platform/Terminal.h"
#include <QCoreApplication>
#include <QVector>
#include <chrono>

namespace {

const auto tickInterval = std::chrono::milliseconds(100);
const int barCells = 20;

// The tail of text that fits into the given columns, with "…" in front when cut: the
// end of a path names the file, so that is the part worth keeping.
QString FitFromLeft(const QString &text, int columns)
{
    QVector<uint> codePoints = text.toUcs4();
    // A line break or escape in a file name must not move the cursor.
    for (uint &codePoint : codePoints) {
        if (codePoint < 0x20 || codePoint == 0x7f)
            codePoint = '?';
    }
    int used = 0;
    for (uint codePoint : codePoints)
        used += platform::CharacterColumns(codePoint);
    if (used <= columns)
        return QString::fromUcs4(codePoints.constData(), codePoints.size());
    if (columns <= 1)
        return QString();
    QVector<uint> kept;
    used = 1;
    for (int i = codePoints.size() - 1; i >= 0; --i) {
        const int width = platform::CharacterColumns(codePoints.at(i));
        if (used + width > columns)
            break;
        used += width;
        kept.prepend(codePoints.at(i));
    }
    return QChar(0x2026) + QString::fromUcs4(kept.constData(), kept.size());
}

} // namespace

ProgressBar::ProgressBar(Console &console) : console(console) {}

ProgressBar::~ProgressBar()
{
    finish();
}

void ProgressBar::start()
{
    std::lock_guard<std::mutex> guard(lock);
    if (running)
        return;
    running = true;
    clock.start();
    ticker = std::thread([this] { tick(); });
}

void ProgressBar::setTotal(int txtFiles)
{
    QByteArray line;
    {
        std::lock_guard<std::mutex> guard(lock);
        total = txtFiles;
        if (!running)
            return;
        line = render();
    }
    console.showStatus(line);
}

void ProgressBar::setFileInHand(const QString &nativePath)
{
    std::lock_guard<std::mutex> guard(lock);
    fileInHand = nativePath;
}

void ProgressBar::fileHandled(qint64 size)
{
    std::lock_guard<std::mutex> guard(lock);
    ++done;
    bytes += size;
}

void ProgressBar::finish()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        running = false;
    }
    wake.notify_all();
    if (ticker.joinable()) {
        ticker.join();
        console.clearStatus();
    }
}

void ProgressBar::tick()
{
    std::unique_lock<std::mutex> guard(lock);
    do {
        const QByteArray line = render();
        guard.unlock();
        console.showStatus(line);
        guard.lock();
    } while (!wake.wait_for(guard, tickInterval, [this] { return !running; }));
}

QByteArray ProgressBar::render()
{
    const int columns = platform::TerminalColumns(platform::StandardStream::Error) -
                        1; // the last column would wrap on some terminals
    QString head;
    if (total < 0) {
        head = QCoreApplication::translate("ProgressBar", "scanning... ");
    } else {
        const int filled = total > 0 ? static_cast<int>(qint64(done) * barCells / total) : barCells;
        const double seconds = clock.elapsed() / 1000.0;
        const double bytesPerSecond = seconds > 0 ? bytes / seconds : 0.0;
        const QString rate = bytesPerSecond >= 1e6
                                 ? QStringLiteral("%1 MB/s").arg(bytesPerSecond / 1e6, 0, 'f', 1)
                                 : QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1e3, 0, 'f', 1);
        head = QStringLiteral("[%1%2] %3/%4 %5 ")
                   .arg(QString(filled, QLatin1Char('#')),
                        QString(barCells - filled, QLatin1Char('.')))
                   .arg(done)
                   .arg(total)
                   .arg(rate);
    }
    const int left = columns - head.size();
    if (left <= 0)
        return FitFromLeft(head, columns).toLocal8Bit();
    return (head + FitFromLeft(fileInHand, left)).toLocal8Bit();
}
