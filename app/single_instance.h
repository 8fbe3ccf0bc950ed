// One main window per user session: a later start hands its arguments to the running program.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace velindra {

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    // The per-user name: a socket in $XDG_RUNTIME_DIR, or one named after the user id.
    static QString DefaultName();

    // Gives the arguments to a program already listening under the name and waits until it
    // has taken them. False when none is running (or it did not answer in time).
    static bool HandOver(const QString& name, const QStringList& arguments, int timeoutMs = 3000);

    explicit SingleInstance(QObject* parent = nullptr);
    // Starts listening; a socket left behind by a program that crashed is removed first.
    bool Listen(const QString& name);

  signals:
    void argumentsArrived(const QStringList& arguments);

  private:
    QLocalServer* server_;
};

}  // namespace velindra
