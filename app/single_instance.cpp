#include "single_instance.h"

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace velindra {

namespace {

constexpr char kAck = 'k';

}  // namespace

QString SingleInstance::DefaultName() {
#ifdef _WIN32
    return QStringLiteral("velindra-") + qEnvironmentVariable("USERNAME");
#else
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(QLatin1Char('/')) && QDir(runtime).exists())
        return runtime + QStringLiteral("/velindra.socket");
    return QStringLiteral("velindra-%1").arg(::getuid());
#endif
}

bool SingleInstance::HandOver(const QString& name, const QStringList& arguments, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out << arguments;
    }
    QDataStream framed(&socket);
    framed << message;
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // Only once the running program has the arguments may this one go away.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    char ack = 0;
    return socket.getChar(&ack) && ack == kAck;
}

SingleInstance::SingleInstance(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, client, [this, client] {
                QDataStream in(client);
                in.startTransaction();
                QByteArray message;
                in >> message;
                if (!in.commitTransaction())
                    return;  // not all there yet
                QStringList arguments;
                QDataStream unpack(message);
                unpack >> arguments;
                client->putChar(kAck);
                client->flush();
                emit argumentsArrived(arguments);
            });
        }
    });
}

bool SingleInstance::Listen(const QString& name) {
    if (server_->listen(name))
        return true;
    if (server_->serverError() != QAbstractSocket::AddressInUseError)
        return false;
    // Somebody answers there: not ours to take. Nobody: a crashed run's leftover.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(500))
        return false;
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

}  // namespace velindra
