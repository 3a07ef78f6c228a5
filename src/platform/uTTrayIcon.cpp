#include "uTTrayIcon.h"

#include "uTLogger.h"

#include <QCursor>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {
constexpr int RetryIntervalMs = 2000;
constexpr int MaxAttempts = 30; // a minute of waiting for a panel
} // namespace

TTrayIcon::TTrayIcon(const QIcon& Icon, TLogger& Logger, QObject* Parent)
    : QObject(Parent), FIcon(new QSystemTrayIcon(Icon, this)), FRetry(new QTimer(this)), FLogger(Logger) {
    FRetry->setInterval(RetryIntervalMs);
    connect(FRetry, &QTimer::timeout, this, &TTrayIcon::TryShow);
    connect(FIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason Reason) {
        // The desktop shows a handed-over menu itself on the context click.
        if (Reason != QSystemTrayIcon::Trigger && (Reason != QSystemTrayIcon::Context || HasDesktopMenu()))
            return;
        // Queued: a panel's request (StatusNotifierItem "Activate") waits for its
        // answer, which must not wait for the menu to close.
        QMetaObject::invokeMethod(
            this, [this, Pos = QCursor::pos()] { Q_EMIT MenuRequested(Pos); }, Qt::QueuedConnection);
    });
}

TTrayIcon::~TTrayIcon() {
    FIcon->hide();
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
        return;
    }
    if (!FReportedMissing) {
        FReportedMissing = true;
        FLogger.Info(QStringLiteral("No notification area found: the tray icon is not shown; "
                                    "\"quorvantis show\" opens the menu"));
    }
    if (FAttempts >= MaxAttempts)
        FRetry->stop();
    else if (!FRetry->isActive())
        FRetry->start();
}

bool TTrayIcon::ShowBalloon(const QString& Title, const QString& Text, int TimeoutMs) {
    if (!FIcon->isVisible())
        return false;
    FIcon->showMessage(Title.left(63), Text.left(255), QSystemTrayIcon::Information, TimeoutMs);
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
