#include "uSingleInstance.h"

#include "uConst.h"
#include "uErrors.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uTLogger.h"
#include "uTools.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QUtf8StringView>
#include <QtEndian>

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
constexpr int HeaderBytes = 4;  // the length prefix
constexpr int MessageBytes = 4; // the message number
constexpr quint32 MaxFrameBytes = MessageBytes + MaxCommandBytes;

quint32 ReadBigEndian(const char* Bytes) {
    return qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(Bytes));
}

void AppendBigEndian(QByteArray& Frame, quint32 Value) {
    char Bytes[4];
    qToBigEndian(Value, reinterpret_cast<uchar*>(Bytes));
    Frame.append(Bytes, sizeof Bytes);
}

enum class TFrameState { Incomplete, Invalid, Complete };

// Checks what has arrived so far; Command is set for a complete, valid message.
TFrameState ParseHandOff(const QByteArray& Buffer, QString& Command) {
    if (Buffer.size() < HeaderBytes)
        return TFrameState::Incomplete;
    const quint32 Length = ReadBigEndian(Buffer.constData());
    if (Length < MessageBytes || Length > MaxFrameBytes)
        return TFrameState::Invalid;
    if (Buffer.size() < HeaderBytes + qsizetype(Length))
        return TFrameState::Incomplete;
    if (Buffer.size() > HeaderBytes + qsizetype(Length)) // nothing may follow the message
        return TFrameState::Invalid;
    if (ReadBigEndian(Buffer.constData() + HeaderBytes) != WM_INSTANCECOMMAND)
        return TFrameState::Invalid;
    const QByteArrayView Text(Buffer.constData() + HeaderBytes + MessageBytes, Length - MessageBytes);
    if (!QUtf8StringView(Text).isValidUtf8())
        return TFrameState::Invalid;
    Command = QString::fromUtf8(Text);
    return TFrameState::Complete;
}
} // namespace

QByteArray EncodeHandOff(quint32 Message, const QString& Command) {
    const QByteArray Text = Command.toUtf8();
    QByteArray Frame;
    AppendBigEndian(Frame, quint32(MessageBytes + Text.size()));
    AppendBigEndian(Frame, Message);
    Frame.append(Text);
    return Frame;
}

QString TInstanceGuard::RuntimeFolder() {
    const QString Runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!Runtime.isEmpty() && QFileInfo(Runtime).isDir())
        return Runtime;
    return QStringLiteral("/tmp");
}

QString TInstanceGuard::LockFileName() {
    const QString Folder = RuntimeFolder();
    if (Folder == QLatin1String("/tmp"))
        return QStringLiteral("/tmp/Quorvantis-%1.lock").arg(getuid());
    return Folder + QStringLiteral("/Quorvantis.lock");
}

QString TInstanceGuard::SocketName() {
    const QString Folder = RuntimeFolder();
    if (Folder == QLatin1String("/tmp"))
        return QStringLiteral("/tmp/Quorvantis-%1.socket").arg(getuid());
    return Folder + QStringLiteral("/Quorvantis.socket");
}

TInstanceGuard::TInstanceGuard() {
    const QByteArray Name = QFile::encodeName(LockFileName());
    FHandle = ::open(Name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (FHandle < 0) {
        FProblem = QStringLiteral("Cannot open the instance lock %1: %2")
                       .arg(QString::fromLocal8Bit(Name), QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    if (::flock(FHandle, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            FFirst = false;
        } else {
            FProblem = QStringLiteral("Cannot lock %1: %2")
                           .arg(QString::fromLocal8Bit(Name), QString::fromLocal8Bit(strerror(errno)));
        }
    }
}

TInstanceGuard::~TInstanceGuard() {
    if (FHandle >= 0)
        ::close(FHandle);
}

QString CommandWordFromArguments(const QStringList& Arguments) {
    if (Arguments.size() < 2)
        return QStringLiteral("show");
    return AsciiLower(Arguments.at(1));
}

bool TInstanceGuard::IsLockHeld() {
    const QByteArray Name = QFile::encodeName(LockFileName());
    const int Handle = ::open(Name.constData(), O_RDWR | O_CLOEXEC);
    if (Handle < 0)
        return false;
    bool Held = false;
    if (::flock(Handle, LOCK_EX | LOCK_NB) != 0)
        Held = errno == EWOULDBLOCK;
    ::close(Handle); // also drops the probe's own lock
    return Held;
}

namespace {

// The command as it may appear in one line of the log or of stderr.
QString Printable(const QString& Command) {
    constexpr qsizetype MaxShown = 80;
    QString Text = Command.left(MaxShown);
    for (QChar& C : Text)
        if (C.unicode() < 0x20 || C.unicode() == 0x7f)
            C = QLatin1Char('?');
    return Command.size() > MaxShown ? Text + QStringLiteral("...") : Text;
}

// The one line on stderr of a second start that could not hand its command over,
// and, when the running instance failed to take it, the one log line.
int GiveUp(const QString& Command, const QString& Why, bool Log = true) {
    const QString Line = QStringLiteral("the command \"%1\" was not handed over: %2").arg(Printable(Command), Why);
    if (Log) {
        try {
            TLogger(QString::fromUtf8(ProgramName)).Error(QStringLiteral("SendCommandToFirstInstance: ") + Line);
        } catch (...) {
        }
    }
    std::fprintf(stderr, "quorvantis: %s\n", Line.toLocal8Bit().constData());
    std::fflush(stderr);
    return 1;
}

// Connects to the running instance; while the lock is held but nobody listens yet
// (the instance is still starting), tries again until the time is up.
enum class TConnectResult { Connected, NoInstance, TimedOut };

TConnectResult ConnectToInstance(QLocalSocket& Socket, int TimeoutMs) {
    QDeadlineTimer Deadline(TimeoutMs);
    for (;;) {
        Socket.connectToServer(TInstanceGuard::SocketName());
        if (Socket.waitForConnected(static_cast<int>(qBound(qint64(1), Deadline.remainingTime(), qint64(1000)))))
            return TConnectResult::Connected;
        Socket.abort();
        if (!TInstanceGuard::IsLockHeld())
            return TConnectResult::NoInstance;
        if (Deadline.hasExpired())
            return TConnectResult::TimedOut;
        QThread::msleep(100);
    }
}

// Waits for the receipt byte; false when the connection ended or the time ran out first.
bool WaitForReceipt(QLocalSocket& Socket, int TimeoutMs) {
    QDeadlineTimer Deadline(TimeoutMs);
    for (;;) {
        if (Socket.readAll().contains(TCommandListener::Received))
            return true;
        if (Socket.state() != QLocalSocket::ConnectedState || Deadline.hasExpired())
            return false;
        Socket.waitForReadyRead(static_cast<int>(qBound(qint64(1), Deadline.remainingTime(), qint64(1000))));
    }
}

} // namespace

int SendCommandToFirstInstance(const QStringList& Arguments, const THandOffTimeouts& Timeouts) {
    const QString Command = CommandWordFromArguments(Arguments);
    if (Command.toUtf8().size() > MaxCommandBytes)
        return GiveUp(Command, QStringLiteral("it is longer than %1 bytes").arg(MaxCommandBytes), false);
    try {
        // Only for the stored format: the running instance serves the command of the message.
        WriteSetting(Setting::Command, Command);
    } catch (const std::exception&) {
    }
    QLocalSocket Socket;
    switch (ConnectToInstance(Socket, Timeouts.ListenerMs)) {
    case TConnectResult::NoInstance:
        return GiveUp(Command, QStringLiteral("no instance is running"), false);
    case TConnectResult::TimedOut:
        return GiveUp(
            Command, QStringLiteral("the running instance did not listen within %1 s").arg(Timeouts.ListenerMs / 1000));
    case TConnectResult::Connected:
        break;
    }
    Socket.write(EncodeHandOff(WM_INSTANCECOMMAND, Command));
    if (!Socket.waitForBytesWritten(Timeouts.SendMs))
        return GiveUp(Command,
                      QStringLiteral("the running instance did not take the message: ") + Socket.errorString());
    if (WaitForReceipt(Socket, Timeouts.ReceiptMs))
        return 0; // served by the running instance whenever it is free; nobody waits for that here
    if (Socket.state() != QLocalSocket::ConnectedState)
        return GiveUp(Command, QStringLiteral("the running instance closed the connection without taking it"));
    return GiveUp(Command,
                  QStringLiteral("the running instance did not answer within %1 s").arg(Timeouts.ReceiptMs / 1000));
}

TCommandListener::TCommandListener(QObject* Parent) : QObject(Parent), FServer(new QLocalServer(this)) {
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    // Many second starts may arrive at the same moment (a script, a key held down):
    // room for all of them in the kernel's queue and in the server's.
    FServer->setListenBacklogSize(1024);
    FServer->setMaxPendingConnections(1024);
    connect(FServer, &QLocalServer::newConnection, this, &TCommandListener::OnNewConnection);
}

TCommandListener::~TCommandListener() {
    Close();
}

bool TCommandListener::Listen(QString& Error) {
    const QString Name = TInstanceGuard::SocketName();
    QLocalServer::removeServer(Name);
    if (!FServer->listen(Name)) {
        Error = FServer->errorString();
        return false;
    }
    return true;
}

void TCommandListener::Close() {
    if (FServer->isListening())
        FServer->close();
}

void TCommandListener::OnNewConnection() {
    while (QLocalSocket* Connection = FServer->nextPendingConnection()) {
        auto Buffer = std::make_shared<QByteArray>();
        connect(Connection, &QLocalSocket::readyRead, this,
                [this, Connection, Buffer] { OnReadyRead(Connection, *Buffer); });
        connect(Connection, &QLocalSocket::disconnected, Connection, &QObject::deleteLater);
        // A sender that stalls halfway must not hold its connection for ever.
        QTimer::singleShot(MessageTimeoutMs, Connection, [Connection] {
            Connection->abort();
            Connection->deleteLater();
        });
        if (Connection->bytesAvailable() > 0)
            OnReadyRead(Connection, *Buffer);
    }
}

void TCommandListener::OnReadyRead(QLocalSocket* Connection, QByteArray& Buffer) {
    Buffer.append(Connection->read(HeaderBytes + MaxFrameBytes + 1 - Buffer.size()));
    QString Command;
    switch (ParseHandOff(Buffer, Command)) {
    case TFrameState::Incomplete:
        return;
    case TFrameState::Invalid:
        disconnect(Connection, &QLocalSocket::readyRead, this, nullptr);
        Connection->abort();
        Connection->deleteLater();
        return;
    case TFrameState::Complete:
        break;
    }
    disconnect(Connection, &QLocalSocket::readyRead, this, nullptr);
    Connection->write(&Received, 1);
    Connection->flush();
    // A sender that is gone has given up and told its user so: its command is not served.
    const QPointer<QLocalSocket> Guard(Connection);
    if (Connection->state() == QLocalSocket::ConnectedState)
        Q_EMIT CommandReceived(Command);
    if (Guard) {
        Guard->disconnectFromServer();
        Guard->deleteLater();
    }
}
