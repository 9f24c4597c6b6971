#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

class QLocalSocket;

// A second start of the window hands its folder to the window this user already runs, which
// takes it and comes to the front, rather than the one being ended for the other.
class WindowHandOver : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        NoWindow, // none listens: this start opens the window
        Taken,
        NoAnswer, // one listens but did not take it
    };

    // Hands `folder` (empty: only come to the front) to the window listening on `channel`.
    static Outcome HandOver(const QString &channel, const QString &folder);

    explicit WindowHandOver(QObject *parent = nullptr);
    // Listens on `channel` for this user's later starts, taking over a channel left behind by
    // a window that is gone. False when it cannot.
    bool listen(const QString &channel);

signals:
    void folderHandedOver(const QString &folder);

private:
    void Receive(QLocalSocket *socket);

    QLocalServer server;
};
