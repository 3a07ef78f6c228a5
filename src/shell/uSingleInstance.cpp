#include "uSingleInstance.h"

#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uTools.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

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

int SendCommandToFirstInstance(const QStringList& Arguments) {
    const QString Command = CommandWordFromArguments(Arguments);
    int Handle = 0;
    try {
        Handle = ReadSetting(Setting::Handle);
    } catch (const std::exception&) {
        return 0;
    }
    // The running instance stores its process id; anything else means "none".
    if (Handle <= 0)
        return 0;
    try {
        WriteSetting(Setting::Command, Command);
    } catch (const std::exception&) {
        return 0;
    }
    QLocalSocket Socket;
    Socket.connectToServer(TInstanceGuard::SocketName());
    if (!Socket.waitForConnected(3000))
        return 0;
    Socket.write(EncodeMessage(WM_INSTANCECOMMAND));
    if (!Socket.waitForBytesWritten(3000))
        return 0;
    // Synchronous like a sent window message: wait until the command was served
    // (for "show", until the menu has closed) or the instance went away.
    while (Socket.state() == QLocalSocket::ConnectedState && Socket.bytesAvailable() == 0)
        Socket.waitForReadyRead(-1);
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
        Connection->write("OK");
        Connection->flush();
        Connection->disconnectFromServer();
    }
    Connection->deleteLater();
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
            Q_EMIT MessageReceived(Message, Connection);
        });
    }
}
