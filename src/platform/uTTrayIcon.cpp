#include "uTTrayIcon.h"

#include "uConst.h"
#include "uTLogger.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariantMap>

namespace {
constexpr int RetryIntervalMs = 2000;
constexpr int MaxAttempts = 30; // a minute of waiting for a panel

const TLangText txtNoTrayNotice{
    {"Quorvantis läuft, aber es wurde kein Infobereich gefunden. Mit \"quorvantis show\" öffnen Sie das Menü.",
     "Quorvantis is running, but no notification area was found. \"quorvantis show\" opens its menu."}};

const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");
} // namespace

TTrayIcon::TTrayIcon(const QIcon& Icon, TLogger& Logger, QObject* Parent)
    : QObject(Parent), FIcon(new QSystemTrayIcon(Icon, this)), FRetry(new QTimer(this)), FLogger(Logger) {
    FRetry->setInterval(RetryIntervalMs);
    connect(FRetry, &QTimer::timeout, this, &TTrayIcon::TryShow);
    connect(FIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Reason) {
        // The desktop shows a handed-over menu itself on the context click.
        if (Reason != QSystemTrayIcon::Trigger && (Reason != QSystemTrayIcon::Context || HasDesktopMenu()))
            return;
        RequestMenu();
    });
    connect(FIcon, &QSystemTrayIcon::messageClicked, this, &TTrayIcon::RequestMenu);
}

void TTrayIcon::RequestMenu() {
    // Queued: a panel's request (StatusNotifierItem "Activate") waits for its
    // answer, which must not wait for the menu to close. And once: on X11 a click
    // on the icon while its balloon shows reports both a balloon click and an
    // activation, which would open the menu again after it closed.
    if (FMenuQueued)
        return;
    FMenuQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this, Pos = QCursor::pos()] {
            FMenuQueued = false;
            Q_EMIT MenuRequested(Pos);
        },
        Qt::QueuedConnection);
}

TTrayIcon::~TTrayIcon() {
    FIcon->hide();
}

QString TTrayIcon::NoTrayNoticeText() {
    return txtNoTrayNotice();
}

void TTrayIcon::SetToolTip(const QString& Text) {
    FIcon->setToolTip(Text.left(127));
}

void TTrayIcon::Show() {
    TryShow();
}

void TTrayIcon::TryShow() {
    ++FAttempts;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        FRetry->stop();
        FIcon->show();
        // The host may need a moment to embed the icon before it can point a balloon at it.
        QTimer::singleShot(500, this, &TTrayIcon::ShowPendingBalloon);
        return;
    }
    if (!FReportedMissing) {
        FReportedMissing = true;
        FLogger.Info(QStringLiteral("No notification area found: the tray icon is not shown; "
                                    "\"quorvantis show\" opens the menu"));
    }
    if (FAttempts >= MaxAttempts) {
        FRetry->stop();
        NotifyNoTray();
    } else if (!FRetry->isActive()) {
        FRetry->start();
    }
}

bool TTrayIcon::ShowBalloon(const QString& Title, const QString& Text, int TimeoutMs) {
    if (!FIcon->isVisible()) {
        // Autostart before the panel: shown as soon as the icon is.
        FPendingTitle = Title;
        FPendingText = Text;
        FPendingTimeoutMs = TimeoutMs;
        FLogger.Debug(QStringLiteral("Balloon waits for the notification area"));
        return false;
    }
    FIcon->showMessage(Title.left(63), Text.left(255), QSystemTrayIcon::Information, TimeoutMs);
    FLogger.Debug(QStringLiteral("Balloon shown: ") + Text.section(QLatin1Char('\r'), 0, 0));
    return true;
}

void TTrayIcon::SetDesktopMenu(QMenu* Menu) {
    FIcon->setContextMenu(Menu);
}

bool TTrayIcon::HasDesktopMenu() const {
    return FIcon->contextMenu() != nullptr;
}

bool TTrayIcon::IsShown() const {
    return FIcon->isVisible();
}

void TTrayIcon::ShowPendingBalloon() {
    if (FPendingText.isEmpty() || !FIcon->isVisible())
        return;
    const QString Text = FPendingText;
    FPendingText.clear();
    ShowBalloon(FPendingTitle, Text, FPendingTimeoutMs);
}

void TTrayIcon::NotifyNoTray() {
    FPendingText.clear();
    QDBusConnection Bus = QDBusConnection::sessionBus();
    if (!Bus.isConnected() || !Bus.interface() || !Bus.interface()->isServiceRegistered(NotificationsService)) {
        FLogger.Info(QStringLiteral("No notification area and no notification service: nothing to tell the user"));
        return;
    }
    QDBusMessage Notify =
        QDBusMessage::createMethodCall(NotificationsService, QStringLiteral("/org/freedesktop/Notifications"),
                                       NotificationsService, QStringLiteral("Notify"));
    Notify << QString::fromUtf8(ProgramName) << 0u << QStringLiteral("dialog-information")
           << QString::fromUtf8(ProgramName) << NoTrayNoticeText() << QStringList() << QVariantMap() << 10000;
    Bus.asyncCall(Notify);
}
