#include "StatusNotifierHost.h"

#include "TestSupport.h"

#include "uTDBusMenu.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <sys/types.h>

namespace {

const QString ItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString MenuInterface = QStringLiteral("com.canonical.dbusmenu");
int ConnectionCounter = 0;

// Reads one line that the child prints on its standard output.
QString ReadFirstLine(QProcess& Process, int TimeoutMs) {
    QByteArray Line;
    QDeadlineTimer Deadline(TimeoutMs);
    while (!Line.contains('\n') && !Deadline.hasExpired()) {
        if (Process.state() == QProcess::NotRunning)
            break;
        Process.waitForReadyRead(100);
        Line += Process.readAllStandardOutput();
    }
    return QString::fromUtf8(Line).section(QLatin1Char('\n'), 0, 0).trimmed();
}

void Stop(QProcess& Process) {
    if (Process.state() == QProcess::NotRunning)
        return;
    Process.terminate();
    if (!Process.waitForFinished(3000)) {
        Process.kill();
        Process.waitForFinished(3000);
    }
}

// An item is "service" or "service/path" (items that register a path).
QString ServiceOf(const QString& Item) {
    return Item.section(QLatin1Char('/'), 0, 0);
}

QString PathOf(const QString& Item) {
    const int Slash = Item.indexOf(QLatin1Char('/'));
    return Slash < 0 ? QStringLiteral("/StatusNotifierItem") : Item.mid(Slash);
}

TDBusMenuNode ReadNode(const QDBusArgument& Argument) {
    TDBusMenuNode Node;
    Argument.beginStructure();
    Argument >> Node.Id >> Node.Properties;
    Argument.beginArray();
    while (!Argument.atEnd()) {
        QDBusVariant Child;
        Argument >> Child;
        Node.Children.append(ReadNode(Child.variant().value<QDBusArgument>()));
    }
    Argument.endArray();
    Argument.endStructure();
    return Node;
}

} // namespace

// ---- bus and display servers -----------------------------------------------------------

TPrivateSessionBus::TPrivateSessionBus(const QString& ServiceDir, const QProcessEnvironment& Extra) {
    const QString Daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (Daemon.isEmpty())
        return;
    QStringList Arguments{"--session", "--nofork", "--nosyslog", "--print-address=1"};
    if (!ServiceDir.isEmpty()) {
        FConfig = ServiceDir + QStringLiteral(".conf");
        QFile Config(FConfig);
        if (!Config.open(QIODevice::WriteOnly))
            return;
        Config.write(
            QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig><type>session</type><listen>unix:tmpdir=%1</listen>"
                           "<servicedir>%2</servicedir><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy></busconfig>\n")
                .arg(QDir::tempPath(), ServiceDir)
                .toUtf8());
        Config.close();
        Arguments = QStringList{"--config-file=" + FConfig, "--nofork", "--nosyslog", "--print-address=1"};
    }
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(Extra);
    FDaemon.setProcessEnvironment(Env);
    FDaemon.start(Daemon, Arguments);
    if (FDaemon.waitForStarted(5000))
        FAddress = ReadFirstLine(FDaemon, 10000);
}

TPrivateSessionBus::~TPrivateSessionBus() {
    Stop(FDaemon);
    if (!FConfig.isEmpty())
        QFile::remove(FConfig);
}

qint64 TPrivateSessionBus::OwnerPid(const QString& Name) const {
    QProcess Ask;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("DBUS_SESSION_BUS_ADDRESS", FAddress);
    Ask.setProcessEnvironment(Env);
    Ask.start("dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:" + Name});
    Ask.waitForFinished(5000);
    const QString Out = QString::fromUtf8(Ask.readAllStandardOutput());
    return Out.section(QStringLiteral("uint32 "), 1).trimmed().toLongLong();
}

void TPrivateSessionBus::StopOwner(const QString& Name) const {
    if (const qint64 Pid = OwnerPid(Name); Pid > 0)
        ::kill(static_cast<pid_t>(Pid), SIGTERM);
}

TDisplayServer::TDisplayServer(TKind Kind, const QString& RuntimeDir) : FKind(Kind) {
    if (Kind == TKind::X11) {
        const QString Xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (Xvfb.isEmpty())
            return;
        // -displayfd picks a free display and prints its number.
        FServer.start(Xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        if (FServer.waitForStarted(5000)) {
            const QString Number = ReadFirstLine(FServer, 15000);
            if (!Number.isEmpty())
                FName = QLatin1Char(':') + Number;
        }
        return;
    }
    const QString Weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
    if (Weston.isEmpty())
        return;
    const QString Socket = QStringLiteral("qv-wayland-%1").arg(QCoreApplication::applicationPid());
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("XDG_RUNTIME_DIR", RuntimeDir);
    FServer.setProcessEnvironment(Env);
    FServer.setProcessChannelMode(QProcess::MergedChannels);
    FServer.start(Weston, {"--backend=headless-backend.so", "--socket=" + Socket, "--idle-time=0",
                           "--shell=desktop-shell.so", "--no-config"});
    if (!FServer.waitForStarted(5000))
        return;
    const QString Path = RuntimeDir + QLatin1Char('/') + Socket;
    if (WaitUntil([&] { return QFileInfo::exists(Path) || FServer.state() != QProcess::Running; }, 15000) &&
        QFileInfo::exists(Path))
        FName = Socket;
}

TDisplayServer::~TDisplayServer() {
    Stop(FServer);
}

// ---- menu tree -------------------------------------------------------------------------

bool TDBusMenuNode::IsSubmenu() const {
    return Properties.value(QStringLiteral("children-display")).toString() == "submenu";
}

QString TDBusMenuNode::ShownLabel() const {
    return WithoutAccessMark(Label());
}

QString WithoutAccessMark(const QString& Raw) {
    QString Shown;
    for (qsizetype I = 0; I < Raw.size(); ++I) {
        const bool Mark = Raw.at(I) == QLatin1Char('_') && (I == 0 || Raw.at(I - 1) != QLatin1Char('_')) &&
                          I + 1 < Raw.size() && Raw.at(I + 1) != QLatin1Char('_');
        if (!Mark)
            Shown.append(Raw.at(I));
    }
    return Shown;
}

const TDBusMenuNode* TDBusMenuNode::Find(const QString& Label) const {
    for (const TDBusMenuNode& Child : Children)
        if (Child.Label() == Label || Child.ShownLabel() == Label)
            return &Child;
    return nullptr;
}

// ---- watcher and host --------------------------------------------------------------------

TStatusNotifierHost::TStatusNotifierHost(const QString& BusAddress)
    : FBus(QDBusConnection::connectToBus(BusAddress, QStringLiteral("qv-host-%1").arg(++ConnectionCounter))) {
    if (!FBus.isConnected())
        return;
    FReady = FBus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                 QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                     QDBusConnection::ExportAllProperties) &&
             FBus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")) &&
             FBus.registerService(QStringLiteral("org.kde.StatusNotifierHost-%1").arg(ConnectionCounter));
    // Every exported menu's layout changes, from whichever item.
    FBus.connect(QString(), QString(), MenuInterface, QStringLiteral("LayoutUpdated"), this,
                 SLOT(OnLayoutUpdated(uint, int)));
    FBus.connect(QString(), QString(), MenuInterface, QStringLiteral("ItemsPropertiesUpdated"), this,
                 SLOT(OnItemsPropertiesUpdated(QDBusMessage)));
}

TStatusNotifierHost::~TStatusNotifierHost() {
    const QString Name = FBus.name();
    FBus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    QDBusConnection::disconnectFromBus(Name);
}

void TStatusNotifierHost::RegisterStatusNotifierItem(const QString& Service, const QDBusMessage& Message) {
    const QString Item = Service.startsWith(QLatin1Char('/')) ? Message.service() + Service : Service;
    if (!FItems.contains(Item))
        FItems.append(Item);
    Q_EMIT StatusNotifierItemRegistered(Item);
}

void TStatusNotifierHost::RegisterStatusNotifierHost(const QString&) {
    Q_EMIT StatusNotifierHostRegistered();
}

void TStatusNotifierHost::OnLayoutUpdated(uint, int Parent) {
    ++FLayoutUpdates;
    FUpdatedParents.append(Parent);
}

void TStatusNotifierHost::OnItemsPropertiesUpdated(const QDBusMessage& Message) {
    // a(ia{sv}): the entries whose properties changed, with the new values.
    const QDBusArgument Updated = Message.arguments().value(0).value<QDBusArgument>();
    Updated.beginArray();
    while (!Updated.atEnd()) {
        int Id = 0;
        QVariantMap Properties;
        Updated.beginStructure();
        Updated >> Id >> Properties;
        Updated.endStructure();
        FUpdatedLabels.append(WithoutAccessMark(Properties.value(QStringLiteral("label")).toString()));
    }
    Updated.endArray();
}

QString TStatusNotifierHost::WaitForItem(int TimeoutMs) {
    (void)WaitUntil([this] { return !FItems.isEmpty(); }, TimeoutMs);
    return FItems.value(0);
}

QDBusMessage TStatusNotifierHost::CallItem(const QString& Item, const QString& Path, const QString& Interface,
                                           const QString& Method, const QVariantList& Arguments) {
    QDBusMessage Call = QDBusMessage::createMethodCall(ServiceOf(Item), Path, Interface, Method);
    Call.setArguments(Arguments);
    // Asynchronous, with the event loop running: the program may call us back meanwhile.
    QDBusPendingCall Pending = FBus.asyncCall(Call, 20000);
    (void)WaitUntil([&] { return Pending.isFinished(); }, 25000);
    const QDBusMessage Reply = Pending.reply();
    if (Reply.type() == QDBusMessage::ErrorMessage)
        FLastError = Method + QStringLiteral(": ") + Reply.errorName() + QStringLiteral(" ") + Reply.errorMessage();
    return Reply;
}

QVariant TStatusNotifierHost::ItemProperty(const QString& Item, const QString& Name) {
    const QDBusMessage Reply = CallItem(Item, PathOf(Item), QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {ItemInterface, Name});
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty())
        return {};
    return Reply.arguments().first().value<QDBusVariant>().variant();
}

QString TStatusNotifierHost::MenuPath(const QString& Item) {
    // An exported menu without an item, named as its service and its own path.
    if (PathOf(Item) == QLatin1String("/MenuBar"))
        return PathOf(Item);
    const QVariant Value = ItemProperty(Item, QStringLiteral("Menu"));
    const QString Path = Value.value<QDBusObjectPath>().path();
    return Path == QLatin1String("/NO_DBUSMENU") ? QString() : Path;
}

bool TStatusNotifierHost::Activate(const QString& Item, int X, int Y) {
    return CallItem(Item, PathOf(Item), ItemInterface, QStringLiteral("Activate"), {X, Y}).type() ==
           QDBusMessage::ReplyMessage;
}

bool TStatusNotifierHost::ContextMenu(const QString& Item, int X, int Y) {
    return CallItem(Item, PathOf(Item), ItemInterface, QStringLiteral("ContextMenu"), {X, Y}).type() ==
           QDBusMessage::ReplyMessage;
}

TDBusMenuNode TStatusNotifierHost::Layout(const QString& Item, int Parent, int Depth, uint* Revision,
                                          const QStringList& Names) {
    const QDBusMessage Reply =
        CallItem(Item, MenuPath(Item), MenuInterface, QStringLiteral("GetLayout"), {Parent, Depth, Names});
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().size() < 2)
        return {};
    if (Revision != nullptr)
        *Revision = Reply.arguments().at(0).toUInt();
    return ReadNode(Reply.arguments().at(1).value<QDBusArgument>());
}

bool TStatusNotifierHost::AboutToShow(const QString& Item, int Id) {
    return CallItem(Item, MenuPath(Item), MenuInterface, QStringLiteral("AboutToShow"), {Id}).type() ==
           QDBusMessage::ReplyMessage;
}

int TStatusNotifierHost::AboutToShowAnswer(const QString& Item, int Id) {
    const QDBusMessage Reply = CallItem(Item, MenuPath(Item), MenuInterface, QStringLiteral("AboutToShow"), {Id});
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty())
        return -1;
    return Reply.arguments().constFirst().toBool() ? 1 : 0;
}

bool TStatusNotifierHost::Opened(const QString& Item, int Id) {
    const QVariantList Arguments{Id, QStringLiteral("opened"), QVariant::fromValue(QDBusVariant(QVariant(0))), 0u};
    return CallItem(Item, MenuPath(Item), MenuInterface, QStringLiteral("Event"), Arguments).type() ==
           QDBusMessage::ReplyMessage;
}

QHash<int, QVariantMap> TStatusNotifierHost::GroupProperties(const QString& Item, const QList<int>& Ids) {
    QHash<int, QVariantMap> Result;
    const QDBusMessage Reply = CallItem(Item, MenuPath(Item), MenuInterface, QStringLiteral("GetGroupProperties"),
                                        {QVariant::fromValue(Ids), QStringList()});
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty())
        return Result;
    // a(ia{sv})
    const QDBusArgument Items = Reply.arguments().constFirst().value<QDBusArgument>();
    Items.beginArray();
    while (!Items.atEnd()) {
        int Id = 0;
        QVariantMap Properties;
        Items.beginStructure();
        Items >> Id >> Properties;
        Items.endStructure();
        Result.insert(Id, Properties);
    }
    Items.endArray();
    return Result;
}

bool TStatusNotifierHost::Clicked(const QString& Item, int Id) {
    const QVariantList Arguments{Id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(QVariant(0))),
                                 static_cast<uint>(QDateTime::currentSecsSinceEpoch())};
    return CallItem(Item, MenuPath(Item), MenuInterface, QStringLiteral("Event"), Arguments).type() ==
           QDBusMessage::ReplyMessage;
}

QVariant TStatusNotifierHost::EntryProperty(const QString& Item, int Id, const QString& Name) {
    const QDBusMessage Reply = CallItem(Item, MenuPath(Item), MenuInterface, QStringLiteral("GetProperty"), {Id, Name});
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty())
        return {};
    return qvariant_cast<QDBusVariant>(Reply.arguments().constFirst()).variant();
}

QList<int> TStatusNotifierHost::ClickedTogether(const QString& Item, const QList<int>& Ids) {
    qDBusRegisterMetaType<TDBusMenuEvent>();
    qDBusRegisterMetaType<TDBusMenuEventList>();
    TDBusMenuEventList Events;
    for (const int Id : Ids)
        Events.append({Id, QStringLiteral("clicked"), QDBusVariant(QVariant(0)),
                       static_cast<uint>(QDateTime::currentSecsSinceEpoch())});
    const QDBusMessage Reply =
        CallItem(Item, MenuPath(Item), MenuInterface, QStringLiteral("EventGroup"), {QVariant::fromValue(Events)});
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty())
        return {-1};
    return qdbus_cast<QList<int>>(Reply.arguments().constFirst());
}
