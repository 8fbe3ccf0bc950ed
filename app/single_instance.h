// One main window per user session: a later start hands its arguments to the running program.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <deque>

class QLocalServer;
class QLocalSocket;

namespace velindra {

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    // The per-user name: a socket in a folder that belongs to the user and that nobody else
    // can write to (the runtime folder when it is such a folder, else velindra's folder in the
    // user's cache, made so); on Windows a pipe whose name holds the user's SID and a secret
    // kept in the user's profile. Empty when there is no such place.
    static QString DefaultName();

    enum class HandOverResult {
        Delivered,   // the running program has the arguments
        NoInstance,  // nothing of this user's answers under the name
        NoAnswer,    // a program of this user is there but did not take them in time
    };
    // Gives the arguments to a program already listening under the name, run by the same
    // user, and waits until it has taken them.
    static HandOverResult HandOver(const QString& name, const QStringList& arguments,
                                   int connectMs = 2000, int answerMs = 60000);

    explicit SingleInstance(QObject* parent = nullptr);

    enum class ListenResult { Listening, Taken, Failed };
    // Starts listening, unless a program still answers under the name (Taken): that one is
    // never replaced. A socket left behind by a program that crashed is removed first.
    ListenResult Listen(const QString& name);

    // Bounds of the server: how many clients at once, how long one may stay silent, how large
    // one message may be.
    static constexpr int kMaxClients = 16;
    static constexpr int kIdleMs = 5000;
    static constexpr quint32 kMaxMessageBytes = 16u << 20;

  signals:
    void argumentsArrived(const QStringList& arguments);

  private:
    void Accept();
    void Read(QLocalSocket* client);

    QLocalServer* server_;
    std::deque<QPointer<QLocalSocket>> clients_;  // oldest first
};

// Whether the program at the other end of a connected socket runs as this user (the socket's
// peer credentials; on Windows the pipe server's owner). One file per system.
bool PeerIsThisUser(const QLocalSocket& socket);

// The folder for the socket, as DefaultName describes it; empty when there is none.
QString PrivateSocketFolder();

}  // namespace velindra
