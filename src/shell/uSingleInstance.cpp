#include "uSingleInstance.h"

#include "uConst.h"
#include "uErrors.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uTLogger.h"
#include "uTools.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
constexpr quint32 MaxMessageBytes = 64;

QByteArray EncodeMessage(quint32 Message) {
    QByteArray Payload;
    QDataStream(&Payload, QIODevice::WriteOnly) << Message;
    QByteArray Frame;
    QDataStream Out(&Frame, QIODevice::WriteOnly);
    Out << quint32(Payload.size());
    Frame.append(Payload);
    return Frame;
}
} // namespace

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

// The one log line of a second start that could not hand its command over.
void LogGiveUp(const QString& Command, const QString& Why) {
    const QString Line =
        QStringLiteral("SendCommandToFirstInstance: the command \"%1\" was not handed over: %2").arg(Command, Why);
    try {
        TLogger(QString::fromUtf8(ProgramName)).Error(Line);
    } catch (...) {
    }
    qWarning("%s", qPrintable(Line));
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

} // namespace

int SendCommandToFirstInstance(const QStringList& Arguments, const THandOffTimeouts& Timeouts) {
    const QString Command = CommandWordFromArguments(Arguments);
    try {
        WriteSetting(Setting::Command, Command);
    } catch (const std::exception& E) {
        LogGiveUp(Command, ExceptionMessage(E));
        return 0;
    }
    QLocalSocket Socket;
    switch (ConnectToInstance(Socket, Timeouts.ListenerMs)) {
    case TConnectResult::NoInstance:
        return 0; // the instance ended meanwhile: nobody to hand anything to
    case TConnectResult::TimedOut:
        LogGiveUp(Command,
                  QStringLiteral("the running instance did not listen within %1 s").arg(Timeouts.ListenerMs / 1000));
        return 0;
    case TConnectResult::Connected:
        break;
    }
    Socket.write(EncodeMessage(WM_INSTANCECOMMAND));
    if (!Socket.waitForBytesWritten(Timeouts.SendMs)) {
        LogGiveUp(Command, QStringLiteral("the running instance did not take the message: ") + Socket.errorString());
        return 0;
    }
    // Synchronous like a sent window message: wait until the command was served (for
    // "show", until the menu has closed) or the instance went away.
    bool Received = false;
    bool Waiting = false;
    QDeadlineTimer Deadline(Timeouts.ReceiptMs);
    while (Socket.state() == QLocalSocket::ConnectedState) {
        if (!Waiting && Deadline.hasExpired()) {
            LogGiveUp(
                Command,
                Received
                    ? QStringLiteral("the running instance did not serve it within %1 s").arg(Timeouts.ServeMs / 1000)
                    : QStringLiteral("the running instance did not answer within %1 s").arg(Timeouts.ReceiptMs / 1000));
            return 0;
        }
        Socket.waitForReadyRead(Waiting ? 1000
                                        : static_cast<int>(qBound(qint64(1), Deadline.remainingTime(), qint64(1000))));
        for (const char Byte : Socket.readAll()) {
            if (Byte == TCommandListener::Done)
                return 0;
            if (Byte == TCommandListener::Waiting)
                Waiting = true;
            if (Byte == TCommandListener::Received && !Received) {
                Received = true;
                Deadline = QDeadlineTimer(Timeouts.ServeMs);
            }
        }
    }
    return 0;
}

TCommandListener::TCommandListener(QObject* Parent) : QObject(Parent), FServer(new QLocalServer(this)) {
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
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

void TCommandListener::Acknowledge(QLocalSocket* Connection) {
    if (!Connection)
        return;
    if (Connection->state() == QLocalSocket::ConnectedState) {
        Connection->write(&Done, 1);
        Connection->flush();
        Connection->disconnectFromServer();
    }
    Connection->deleteLater();
}

void TCommandListener::NotifyWaiting(QLocalSocket* Connection) {
    if (Connection && Connection->state() == QLocalSocket::ConnectedState) {
        Connection->write(&Waiting, 1);
        Connection->flush();
    }
}

void TCommandListener::OnNewConnection() {
    while (QLocalSocket* Connection = FServer->nextPendingConnection()) {
        auto Buffer = std::make_shared<QByteArray>();
        connect(Connection, &QLocalSocket::readyRead, this, [this, Connection, Buffer] {
            Buffer->append(Connection->readAll());
            if (Buffer->size() < 4)
                return;
            quint32 Length = 0;
            QDataStream(*Buffer) >> Length;
            if (Length > MaxMessageBytes || Length < 4) {
                Connection->abort();
                Connection->deleteLater();
                return;
            }
            if (quint32(Buffer->size()) < 4 + Length)
                return;
            quint32 Message = 0;
            QDataStream(Buffer->mid(4, 4)) >> Message;
            disconnect(Connection, &QLocalSocket::readyRead, this, nullptr);
            Connection->write(&Received, 1);
            Connection->flush();
            Q_EMIT MessageReceived(Message, Connection);
            if (Message == WM_INSTANCECOMMAND) {
                QString Command;
                try {
                    Command = ReadSetting(Setting::Command);
                } catch (const std::exception&) {
                }
                Acknowledge(Connection);
                if (!Command.isEmpty())
                    Q_EMIT CommandReceived(Command);
            } else {
                Acknowledge(Connection);
            }
        });
    }
}
