#pragma once

#include <QByteArray>
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

    // True when some process holds the lock now (probed without keeping it).
    static bool IsLockHeld();

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

// The hand-off frame: a 32-bit big-endian length of what follows, then the
// message number (32-bit big-endian) and the command in UTF-8. Both ends refuse
// longer commands, so a peer can never make the other side buffer without bound.
inline constexpr qsizetype MaxCommandBytes = 4096;
QByteArray EncodeHandOff(quint32 Message, const QString& Command);

// How long a second start waits on the running instance. It never waits for the
// command to be served (the user may keep a menu or box open for as long as they like).
struct THandOffTimeouts {
    int ListenerMs = 30000; // lock held, nobody listening yet: the instance is starting
    int SendMs = 5000;
    int ReceiptMs = 10000; // a healthy instance confirms at once, even inside a request or an open menu
};

// Second instance: write `command` (kept for the stored format), wait for the
// running instance's listener, send the command inside the hand-off message and
// wait for the receipt. Returns the process exit code: 0 when the running instance
// received the command, 1 when it could not be handed over (one line on stderr, and
// one ERROR log line when the running instance failed to take it).
int SendCommandToFirstInstance(const QStringList& Arguments, const THandOffTimeouts& Timeouts = {});

// First instance: listens on the per-user local socket, for any number of
// senders at once. A connection that delivers a whole, valid message gets one
// byte back (Received) and its command is passed on through CommandReceived; the
// listener then closes it. Anything else is dropped without an answer.
class TCommandListener final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TCommandListener)
public:
    explicit TCommandListener(QObject* Parent = nullptr);
    ~TCommandListener() override;

    // Removes a stale socket left by a crash (we hold the lock) and listens.
    bool Listen(QString& Error);
    void Close();

    static constexpr char Received = 'R';
    // A sender that has not delivered its whole message by then is dropped.
    static constexpr int MessageTimeoutMs = 10000;

Q_SIGNALS:
    // Once per valid message, after its sender has been sent the receipt.
    void CommandReceived(const QString& Command);

private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* Connection, QByteArray& Buffer);
    QLocalServer* FServer;
};
