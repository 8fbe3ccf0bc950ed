#include "app/single_instance.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QtEndian>

#include "app/hand_over_message.h"

namespace velindra {

namespace {

constexpr char kAck = 'k';

}  // namespace

QString SingleInstance::DefaultName() {
    const QString folder = PrivateSocketFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/velindra.socket");
}

SingleInstance::HandOverResult SingleInstance::HandOver(const QString& name,
                                                        const QStringList& arguments, int connectMs,
                                                        int answerMs) {
    if (name.isEmpty())
        return HandOverResult::NoInstance;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(connectMs) || !PeerIsThisUser(socket))
        return HandOverResult::NoInstance;
    const QByteArray message = HandOverMessage(arguments);
    QDataStream framed(&socket);
    framed << message;
    if (!socket.waitForBytesWritten(answerMs))
        return HandOverResult::NoAnswer;
    // Only once the running program has the arguments may this one go away. A program that is
    // busy for a while still takes them when it can: waiting is better than a second window.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(answerMs))
            return HandOverResult::NoAnswer;
    }
    char ack = 0;
    return socket.getChar(&ack) && ack == kAck ? HandOverResult::Delivered
                                               : HandOverResult::NoAnswer;
}

SingleInstance::SingleInstance(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->setMaxPendingConnections(kMaxClients);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::Accept);
}

void SingleInstance::Accept() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        if (!PeerIsThisUser(*client)) {
            client->abort();
            client->deleteLater();
            continue;
        }
        // At most kMaxClients at once: the one that has waited longest makes room. A start
        // sends its links as soon as it is connected, so idle connections, however many, cannot
        // keep one out, nor hold descriptors.
        std::erase_if(clients_, [](const QPointer<QLocalSocket>& c) { return c.isNull(); });
        if (clients_.size() >= static_cast<size_t>(kMaxClients)) {
            clients_.front()->abort();
            clients_.front()->deleteLater();
            clients_.pop_front();
        }
        clients_.emplace_back(client);
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        auto* idle = new QTimer(client);  // a client that sends nothing goes
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, client, [client] {
            client->abort();
            client->deleteLater();
        });
        idle->start(kIdleMs);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { Read(client); });
    }
}

// A message is a 32-bit big-endian length and that many bytes; nothing is parsed until it is
// all there, and a length over the bound ends the connection at once.
void SingleInstance::Read(QLocalSocket* client) {
    if (client->bytesAvailable() < 4)
        return;
    char prefix[4];
    client->peek(prefix, sizeof prefix);
    const quint32 length = qFromBigEndian<quint32>(prefix);
    if (length > kMaxMessageBytes) {
        client->abort();
        client->deleteLater();
        return;
    }
    if (client->bytesAvailable() < 4 + qint64(length))
        return;  // not all there yet
    client->skip(4);
    const QByteArray message = client->read(length);
    const QStringList arguments = HandedOverArguments(message);
    client->putChar(kAck);
    client->flush();
    client->disconnectFromServer();
    emit argumentsArrived(arguments);
}

SingleInstance::ListenResult SingleInstance::Listen(const QString& name) {
    if (name.isEmpty())
        return ListenResult::Failed;
    // Somebody answers there: never ours to take, whatever state it is in. Nobody: a crashed
    // run's leftover, or nothing at all.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(500))
        return ListenResult::Taken;
    QLocalServer::removeServer(name);
    return server_->listen(name) ? ListenResult::Listening : ListenResult::Failed;
}

}  // namespace velindra
