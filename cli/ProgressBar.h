#pragma once

#include <QElapsedTimer>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>

class Console;

// The line on a terminal's stderr that shows how far a run is: files done of the total,
// the read rate and the file in hand. A ticker thread redraws it, so it stays current
// while a large file is being handled; it is erased when the run ends.
class ProgressBar
{
public:
    explicit ProgressBar(Console &console);
    ~ProgressBar();
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    void start();
    void setTotal(int txtFiles);
    void setFileInHand(const QString &nativePath);
    void fileHandled(qint64 bytes);
    // Stops the ticker and erases the line.
    void finish();

private:
    void tick();
    QByteArray render();

    Console &console;
    std::mutex lock;
    std::condition_variable wake;
    std::thread ticker;
    bool running = false;
    int total = -1; // unknown until the scan is done
    int done = 0;
    qint64 bytes = 0;
    QString fileInHand;
    QElapsedTimer clock;
};
