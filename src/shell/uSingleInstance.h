#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// The hand-off message number a second start sends to the running instance.
inline constexpr quint32 WM_INSTANCECOMMAND = 32772;

// One running instance per user: an exclusive flock on
// $XDG_RUNTIME_DIR/Quorvantis.lock (fallback /tmp/Quorvantis-<uid>.lock), held
// for the life of the process; the kernel drops it when the process ends.
class TInstanceGuard final {
public:
    TInstanceGuard();
    ~TInstanceGuard();
    TInstanceGuard(const TInstanceGuard&) = delete;
    TInstanceGuard& operator=(const TInstanceGuard&) = delete;

    // False when another process holds the lock.
    bool IsFirstInstance() const { return FFirst; }
    // Why no lock could be taken at all (the program then runs unguarded); empty when fine.
    QString Problem() const { return FProblem; }

    static QString RuntimeFolder();
    static QString LockFileName();
    static QString SocketName();

private:
    int FHandle = -1;
    bool FFirst = true;
    QString FProblem;
};

// "show", or the first argument lower-cased (ASCII letters only).
QString CommandWordFromArguments(const QStringList& Arguments);

// Second instance: when `handle` names a running instance, write `command` and
// send the hand-off message, waiting until the first instance has served it.
// Nothing else is read or written. Returns the process exit code.
int SendCommandToFirstInstance(const QStringList& Arguments);

// First instance: listens on the per-user local socket. Each message is a
// length-prefixed message number; the answer goes back only when the receiver
// calls Acknowledge, so the sender waits for the command to be served.
class TCommandListener final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCommandListener)
public:
    explicit TCommandListener(QObject* Parent = nullptr);
    ~TCommandListener() override;

    // Removes a stale socket left by a crash (we hold the lock) and listens.
    bool Listen(QString& Error);
    void Close();
    static void Acknowledge(QLocalSocket* Connection);

Q_SIGNALS:
    void MessageReceived(quint32 Message, QLocalSocket* Connection);

private:
    void OnNewConnection();
    QLocalServer* FServer;
};
