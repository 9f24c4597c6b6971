#include "app/WindowHandOver.h"

#include <QDataStream>
#include <QLocalSocket>

namespace {

constexpr int waitMs = 10000;
constexpr char taken = '1';

QDataStream &Prepared(QDataStream &stream)
{
    stream.setVersion(QDataStream::Qt_5_15);
    return stream;
}

} // namespace

WindowHandOver::Outcome WindowHandOver::HandOver(const QString &channel, const QString &folder)
{
    QLocalSocket socket;
    socket.connectToServer(channel);
    if (!socket.waitForConnected(waitMs))
        return Outcome::NoWindow;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    Prepared(out) << folder;
    socket.write(message);
    if (!socket.waitForBytesWritten(waitMs) || !socket.waitForReadyRead(waitMs))
        return Outcome::NoAnswer;
    return socket.read(1) == QByteArray(1, taken) ? Outcome::Taken : Outcome::NoAnswer;
}

WindowHandOver::WindowHandOver(QObject *parent) : QObject(parent)
{
    // No other user may connect, even where the channel's folder would let them.
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server.nextPendingConnection())
            Receive(socket);
    });
}

bool WindowHandOver::listen(const QString &channel)
{
    if (server.listen(channel))
        return true;
    // Only called once no window answered there.
    QLocalServer::removeServer(channel);
    return server.listen(channel);
}

void WindowHandOver::Receive(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        QDataStream in(socket);
        Prepared(in).startTransaction();
        QString folder;
        in >> folder;
        if (!in.commitTransaction())
            return;
        socket->write(QByteArray(1, taken));
        socket->flush();
        socket->disconnectFromServer();
        emit folderHandedOver(folder);
    });
}
