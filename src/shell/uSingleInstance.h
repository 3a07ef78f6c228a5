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

// How long a second start waits on the running instance. Only a wait on the user
// (the instance's menu or a box it shows) is unbounded; the instance says so.
struct THandOffTimeouts {
    int ListenerMs = 30000; // lock held, nobody listening yet: the instance is starting
    int SendMs = 5000;
    int ReceiptMs = 10000; // a healthy instance confirms at once, even inside a request
    int ServeMs = 90000;   // after the receipt: covers a catalogue request and its deadline
};

// Second instance: write `command`, wait for the running instance's listener,
// send the hand-off message and wait until the command was served. A wait that
// runs out logs one ERROR line and ends. Returns the process exit code.
int SendCommandToFirstInstance(const QStringList& Arguments, const THandOffTimeouts& Timeouts = {});

// First instance: listens on the per-user local socket. Each message is a
// length-prefixed message number. The sender gets one byte back at once (received),
// one when the command waits on the user (an open menu or box: no time limit), and
// one when the receiver calls Acknowledge, so it waits for the command to be served.
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
    // Tells the sender that its command waits on the user.
    static void NotifyWaiting(QLocalSocket* Connection);

    static constexpr char Received = 'R';
    static constexpr char Waiting = 'W';
    static constexpr char Done = 'K';

Q_SIGNALS:
    void MessageReceived(quint32 Message, QLocalSocket* Connection);
    void CommandReceived(const QString& Command);

private:
    void OnNewConnection();
    QLocalServer* FServer;
};
