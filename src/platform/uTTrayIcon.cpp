#include "uTTrayIcon.h"
#include "uXInputGrab.h"

#include "uConst.h"
#include "uPngEncoder.h"
#include "uTDBusMenu.h"
#include "uTLogger.h"
#include "uTNotifications.h"
#include "uTStatusNotifierItem.h"
#include "uTXEmbedWatch.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {
constexpr int RetryIntervalMs = 2000;
constexpr int MaxAttempts = 30; // a minute of waiting for a panel
constexpr int MaxRegisterFailures = 10;

const TLangText txtNoTrayNotice{
    {"Quorvantis läuft, aber es wurde kein Infobereich gefunden. Mit \"quorvantis show\" öffnen Sie das Menü.",
     "Quorvantis is running, but no notification area was found. \"quorvantis show\" opens its menu."}};

const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString WatcherPath = QStringLiteral("/StatusNotifierWatcher");

// Puts Icon into the icon theme folder Base as Name, where a panel that takes
// the item's IconThemePath finds it: the 16-pixel size of the fallback theme.
bool InstallMenuIcon(const QString& Base, const QIcon& Icon, const QString& Name) {
    const QString Folder = Base + QStringLiteral("/hicolor/16x16/apps");
    if (!QDir().mkpath(Folder))
        return false;
    // Some loaders use a theme folder only with its description.
    QFile Index(Base + QStringLiteral("/hicolor/index.theme"));
    if (!Index.exists() && Index.open(QIODevice::WriteOnly))
        Index.write("[Icon Theme]\nName=Hicolor\nDirectories=16x16/apps\n\n"
                    "[16x16/apps]\nSize=16\nContext=Applications\nType=Threshold\n");
    QSaveFile File(Folder + QLatin1Char('/') + Name + QStringLiteral(".png"));
    const QByteArray Png = MenuIconPng(Icon.pixmap(16, 16).toImage());
    return !Png.isEmpty() && File.open(QIODevice::WriteOnly) && File.write(Png) == Png.size() && File.commit();
}

// Whether the program that owns the watcher's name also owns Name.
bool WatcherOwns(const QDBusConnection& Bus, const QString& Name) {
    const QDBusReply<QString> Watcher = Bus.interface()->serviceOwner(WatcherService);
    const QDBusReply<QString> Owner = Bus.interface()->serviceOwner(Name);
    return Watcher.isValid() && Owner.isValid() && Watcher.value() == Owner.value();
}

// GNOME Shell draws its overview above every X11 window, pop-ups included: a menu
// opened then (from a click on our notice there) stays out of sight behind it.
// Whether the overview is open, asking it to close on the first look.
bool GnomeOverviewInTheWay(QDBusConnection& Bus, bool AskToClose) {
    const QString Shell = QStringLiteral("org.gnome.Shell");
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !Bus.interface()->isServiceRegistered(Shell))
        return false;
    auto Call =
        QDBusMessage::createMethodCall(Shell, QStringLiteral("/org/gnome/Shell"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    Call << Shell << QStringLiteral("OverviewActive");
    const QDBusMessage Reply = Bus.call(Call, QDBus::Block, 500);
    if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty())
        return false;
    QVariant Active = Reply.arguments().constFirst();
    if (Active.userType() == qMetaTypeId<QDBusVariant>())
        Active = qvariant_cast<QDBusVariant>(Active).variant();
    if (!Active.toBool())
        return false;
    if (AskToClose) {
        auto Set =
            QDBusMessage::createMethodCall(Shell, QStringLiteral("/org/gnome/Shell"),
                                           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
        Set << Shell << QStringLiteral("OverviewActive") << QVariant::fromValue(QDBusVariant(false));
        Bus.call(Set, QDBus::NoBlock);
    }
    return true;
}
} // namespace

TTrayIcon::TTrayIcon(const QIcon& Icon, TLogger& Logger, QObject* Parent)
    : QObject(Parent), FBus(QDBusConnection::sessionBus()), FIconImage(Icon), FLogger(Logger),
      FRetry(new QTimer(this)) {
    FRetry->setInterval(RetryIntervalMs);
    connect(FRetry, &QTimer::timeout, this, &TTrayIcon::RetryTick);

    FNotifications = new TNotifications(FBus, FLogger, this);
    connect(FNotifications, &TNotifications::Clicked, this,
            [this] { RequestMenu(QCursor::pos(), QStringLiteral("a click on our notification")); });

    if (FBus.isConnected()) {
        FItem = new TStatusNotifierItem(FBus, Icon, this);
        // The panel's position of the icon, where we know none ourselves.
        const auto AtIcon = [this](const QPoint& Pos) {
            RequestMenu(Pos.isNull() ? QCursor::pos() : Pos, QStringLiteral("the panel"));
        };
        connect(FItem, &TStatusNotifierItem::Activated, this, AtIcon);
        connect(FItem, &TStatusNotifierItem::ContextMenuRequested, this, AtIcon);
        auto* Watcher = new QDBusServiceWatcher(WatcherService, FBus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(Watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& NewOwner) {
                    // A new watcher knows nothing of us; a vanished one took our icon along.
                    FRegistered = false;
                    FRegisterFailures = 0;
                    FLogger.Debug(NewOwner.isEmpty() ? QStringLiteral("The StatusNotifier watcher has gone")
                                                     : QStringLiteral("A StatusNotifier watcher appeared"));
                    Update();
                });
        // Signals of whichever program owns the watcher's name, now or later.
        FBus.connect(WatcherService, WatcherPath, WatcherService, QStringLiteral("StatusNotifierItemUnregistered"),
                     this, SLOT(ItemUnregistered(QString)));
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        FXEmbed = new TXEmbedWatch(this);
        connect(FXEmbed, &TXEmbedWatch::ManagerChanged, this, [this](bool Present) {
            FLogger.Debug(Present ? QStringLiteral("An XEmbed notification area appeared")
                                  : QStringLiteral("The XEmbed notification area has gone"));
            Update();
        });
    }
}

TTrayIcon::~TTrayIcon() {
    if (FQtIcon)
        FQtIcon->hide();
}

void TTrayIcon::RequestMenu(const QPoint& Pos, const QString& Source) {
    FLogger.Debug(QStringLiteral("Menu asked for by ") + Source);
    // Queued: a panel's request (StatusNotifierItem "Activate") waits for its
    // answer, which must not wait for the menu to close. And once: on X11 a click
    // on the icon while its balloon shows reports both a balloon click and an
    // activation, which would open the menu again after it closed.
    if (FMenuQueued)
        return;
    FMenuQueued = true;
    QMetaObject::invokeMethod(
        this, [this, Pos] { EmitMenuRequestOnceInputIsFree(Pos, 0); }, Qt::QueuedConnection);
}

void TTrayIcon::EmitMenuRequestOnceInputIsFree(const QPoint& Pos, int Attempt) {
    // A shell may still hold its grab while it reports the click that asks for the
    // menu; a menu popped up then never gets keyboard or pointer. Wait for the grab
    // to end (briefly: after 1.5 s the menu opens regardless).
    constexpr int RetryMs = 30;
    constexpr int MaxAttempts = 50;
    // GNOME's overview (which holds a grab of its own) slides away before the menu opens.
    if (Attempt < MaxAttempts && QApplication::activePopupWidget() == nullptr &&
        GnomeOverviewInTheWay(FBus, !FOverviewAsked)) {
        if (!FOverviewAsked)
            FLogger.Debug(QStringLiteral("The menu waits for GNOME's overview to close"));
        FOverviewAsked = true;
        QTimer::singleShot(RetryMs, this, [this, Pos, Attempt] { EmitMenuRequestOnceInputIsFree(Pos, Attempt + 1); });
        return;
    }
    // Our own open menu holds the grab itself: no probe then, it would end that grab.
    if (Attempt < MaxAttempts && QApplication::activePopupWidget() == nullptr && !CanGrabInputNow()) {
        if (Attempt == 0)
            FLogger.Debug(QStringLiteral("The menu waits for another program's input grab to end"));
        QTimer::singleShot(RetryMs, this, [this, Pos, Attempt] { EmitMenuRequestOnceInputIsFree(Pos, Attempt + 1); });
        return;
    }
    FOverviewAsked = false;
    FMenuQueued = false;
    Q_EMIT MenuRequested(Pos);
}

QString TTrayIcon::NoTrayNoticeText() {
    return txtNoTrayNotice();
}

void TTrayIcon::SetToolTip(const QString& Text) {
    FToolTip = Text.left(127);
    if (FItem)
        FItem->SetToolTip(FToolTip);
    if (FQtIcon)
        FQtIcon->setToolTip(FToolTip);
}

void TTrayIcon::Show() {
    FStarted = true;
    Update();
    if (FShown)
        return;
    FRetry->start();
    // A watcher is being asked: its answer decides.
    if (FRegistering)
        FReportNoTray = true;
    else
        ReportNoTray();
}

void TTrayIcon::ReportNoTray() {
    FReportNoTray = false;
    FLogger.Info(QStringLiteral("No notification area found: the tray icon is not shown; "
                                "\"quorvantis show\" opens the menu"));
}

void TTrayIcon::ItemUnregistered(const QString& Item) {
    if (FItem == nullptr || !FRegistered)
        return;
    // By the name we registered or by the path on our connection.
    const bool Ours = Item == FItem->ServiceName() || Item.startsWith(FBus.baseService() + QLatin1Char('/')) ||
                      Item.startsWith(FBus.baseService() + QLatin1Char('@'));
    if (!Ours)
        return;
    FRegistered = false;
    if (++FDrops > MaxRegisterFailures) {
        FLogger.Error(QStringLiteral("The StatusNotifier watcher keeps dropping the tray icon: not registered again"));
        Update();
        return;
    }
    FLogger.Info(QStringLiteral("The StatusNotifier watcher dropped the tray icon: registering it again"));
    // A moment later: a watcher that just failed to set the item up is still busy with it.
    QTimer::singleShot(RetryIntervalMs / 2, this, [this] {
        if (!FRegistered)
            RegisterItem();
    });
}

void TTrayIcon::RetryTick() {
    ++FAttempts;
    Update();
    if (FShown) {
        FRetry->stop();
    } else if (FAttempts >= MaxAttempts) {
        FRetry->stop();
        NotifyNoTray();
    }
}

void TTrayIcon::Update() {
    if (!FStarted)
        return;
    const bool Watcher =
        FItem != nullptr && FItem->IsExported() && FBus.interface()->isServiceRegistered(WatcherService);
    if (Watcher) {
        if (FQtIcon && FQtIcon->isVisible())
            FQtIcon->hide(); // one icon: the watcher's panel shows ours
        if (!FRegistered)
            RegisterItem();
    } else if (FXEmbed && FXEmbed->HasManager()) {
        ShowQtIcon();
    }
    if (FRegistered)
        SetShown(true, QStringLiteral("registered with the StatusNotifier watcher"));
    else if (!Watcher && FQtIcon && FQtIcon->isVisible() && FXEmbed && FXEmbed->HasManager())
        SetShown(true, QStringLiteral("docked in the XEmbed notification area"));
    else
        SetShown(false, {});
}

bool TTrayIcon::PanelTakesIconNames() const {
    // Plasma (its watcher runs in kded) draws a named menu icon from the item's
    // IconThemePath and replaces it when a favicon arrives as a picture later.
    // Xfce's panel and waybar (libdbusmenu-gtk) draw the name too, but keep a named
    // picture for good once drawn, so a favicon arriving during the session would
    // never show there; GNOME's extension looks names up in the shell's theme only,
    // LXQt's panel in the desktop's theme only. They, and panels not known, get
    // the pictures.
    return WatcherOwns(FBus, QStringLiteral("org.kde.kded5"));
}

void TTrayIcon::RegisterItem() {
    if (FRegistering || FRegisterFailures >= MaxRegisterFailures)
        return;
    FRegistering = true;
    // Decided before the panel reads anything of ours.
    FIconNamesTaken = PanelTakesIconNames();
    if (FMenu != nullptr)
        FMenu->SetSendIconNames(FIconNamesTaken);
    FLogger.Debug(FIconNamesTaken ? QStringLiteral("Menu icons shared by many entries go to the panel by name")
                                  : QStringLiteral("Menu icons go to the panel as pictures"));
    QDBusMessage Register = QDBusMessage::createMethodCall(WatcherService, WatcherPath, WatcherService,
                                                           QStringLiteral("RegisterStatusNotifierItem"));
    // By object path: the watcher takes the caller's connection for the item.
    // GNOME's extension then sets the item up without watching a second name,
    // which races with reading its properties after a shell restart.
    Register << TStatusNotifierItem::ObjectPath;
    auto* Call = new QDBusPendingCallWatcher(FBus.asyncCall(Register), this);
    connect(Call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* Done) {
        const QDBusPendingReply<> Reply = *Done;
        Done->deleteLater();
        FRegistering = false;
        if (Reply.isError()) {
            // A watcher may own its name a moment before it answers.
            ++FRegisterFailures;
            FLogger.Debug(QStringLiteral("RegisterStatusNotifierItem: ") + Reply.error().message());
            if (FReportNoTray)
                ReportNoTray();
            QTimer::singleShot(RetryIntervalMs / 2, this, &TTrayIcon::Update);
            return;
        }
        FRegistered = true;
        FReportNoTray = false;
        Update();
    });
}

void TTrayIcon::ShowQtIcon() {
    if (FQtIcon == nullptr) {
        FQtIcon = new QSystemTrayIcon(FIconImage, this);
        FQtIcon->setToolTip(FToolTip);
        connect(FQtIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Reason) {
            if (Reason == QSystemTrayIcon::Trigger || Reason == QSystemTrayIcon::Context)
                RequestMenu(QCursor::pos(), QStringLiteral("a click on the icon"));
        });
        connect(FQtIcon, &QSystemTrayIcon::messageClicked, this,
                [this] { RequestMenu(QCursor::pos(), QStringLiteral("a click on the balloon")); });
    }
    FQtIcon->show();
}

void TTrayIcon::SetShown(bool Shown, const QString& Where) {
    if (Shown == FShown)
        return;
    FShown = Shown;
    if (!Shown) {
        FLogger.Info(QStringLiteral("The notification area has gone; the icon comes back with the next one"));
        return;
    }
    FRetry->stop();
    FLogger.Info(QStringLiteral("Tray icon ") + Where);
    // An XEmbed host may need a moment to embed the icon before it can point a balloon at it.
    QTimer::singleShot(500, this, &TTrayIcon::ShowPendingBalloon);
}

bool TTrayIcon::ShowBalloon(const QString& Title, const QString& Text, int TimeoutMs) {
    if (!FShown) {
        // Autostart before the panel: shown as soon as the icon is.
        FPendingTitle = Title;
        FPendingText = Text;
        FPendingTimeoutMs = TimeoutMs;
        FLogger.Debug(QStringLiteral("Balloon waits for the notification area"));
        return false;
    }
    const bool Balloon = FQtIcon && FQtIcon->isVisible();
    if (Balloon && !FNotifications->IsAvailable()) {
        FQtIcon->showMessage(Title.left(63), Text.left(255), QSystemTrayIcon::Information, TimeoutMs);
    } else {
        // Started on demand, or shown once a notification service appears.
        FNotifications->Send(Title.left(63), Text.left(255), TimeoutMs, FIconImage.pixmap(48, 48).toImage());
        if (FNotifications->IsWaiting())
            return false;
    }
    FLogger.Debug(QStringLiteral("Balloon shown: ") + Text.section(QLatin1Char('\r'), 0, 0));
    return true;
}

void TTrayIcon::SetDesktopMenu(QMenu* Menu) {
    if (FItem == nullptr)
        return;
    if (FMenu == nullptr) {
        FMenu = new TDBusMenuExporter(FBus, this);
        for (const auto& [Name, Icon] : std::as_const(FMenuIcons))
            FMenu->NameIcon(Icon, Name, FIconThemePath);
        FMenu->SetSendIconNames(FIconNamesTaken);
    }
    FMenu->SetMenu(Menu);
    FItem->SetMenuPath(Menu != nullptr && FMenu->IsRegistered() ? TDBusMenuExporter::ObjectPath : QString());
}

void TTrayIcon::NameMenuIcon(const QIcon& Icon, const QString& Name) {
    if (FItem == nullptr)
        return;
    // Ours alone, and gone with the session.
    const QString Base =
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/quorvantis-icons");
    if (!InstallMenuIcon(Base, Icon, Name)) {
        FLogger.Debug(QStringLiteral("Menu icon ") + Name + QStringLiteral(" not installed in ") + Base +
                      QStringLiteral(": the panel gets its picture"));
        return;
    }
    FIconThemePath = Base;
    FItem->SetIconThemePath(Base);
    FMenuIcons.removeIf([&Name](const auto& Named) { return Named.first == Name; });
    FMenuIcons.append({Name, Icon});
    if (FMenu != nullptr)
        FMenu->NameIcon(Icon, Name, Base);
}

bool TTrayIcon::HasDesktopMenu() const {
    return FMenu != nullptr && FMenu->Menu() != nullptr;
}

void TTrayIcon::ShowPendingBalloon() {
    if (FPendingText.isEmpty() || !FShown)
        return;
    const QString Text = FPendingText;
    FPendingText.clear();
    ShowBalloon(FPendingTitle, Text, FPendingTimeoutMs);
}

void TTrayIcon::NotifyNoTray() {
    FPendingText.clear();
    FNotifications->Send(QString::fromUtf8(ProgramName), NoTrayNoticeText(), 10000,
                         FIconImage.pixmap(48, 48).toImage());
}
