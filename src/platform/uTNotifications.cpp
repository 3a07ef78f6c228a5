#include "uTNotifications.h"

#include "uConst.h"
#include "uTLogger.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
// The installed launcher, so the desktop can group and style our notifications.
const QString DesktopEntry = QStringLiteral("quorvantis");

const TLangText txtOpenMenu{{"Menü öffnen", "Open menu"}};

// The "image-data" hint: (iiibiiay) width, height, row stride, alpha, bits per sample, channels, RGBA bytes.
struct TNotificationImage {
    QImage Image;
};

} // namespace

Q_DECLARE_METATYPE(TNotificationImage)

namespace {

QDBusArgument& operator<<(QDBusArgument& Argument, const TNotificationImage& Picture) {
    const QImage Rgba = Picture.Image.convertToFormat(QImage::Format_RGBA8888);
    Argument.beginStructure();
    Argument << Rgba.width() << Rgba.height() << static_cast<int>(Rgba.bytesPerLine()) << true << 8 << 4
             << QByteArray(reinterpret_cast<const char*>(Rgba.constBits()), Rgba.sizeInBytes());
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TNotificationImage&) {
    return Argument; // we only send it
}

} // namespace

TNotifications::TNotifications(const QDBusConnection& Bus, TLogger& Logger, QObject* Parent)
    : QObject(Parent), FBus(Bus), FLogger(Logger) {
    qDBusRegisterMetaType<TNotificationImage>();
    if (!FBus.isConnected())
        return;
    // From whichever service owns the name now or later.
    FBus.connect(QString(), Path, Service, QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
    FBus.connect(QString(), Path, Service, QStringLiteral("NotificationClosed"), this,
                 SLOT(NotificationClosed(uint, uint)));
    FWatcher = new QDBusServiceWatcher(Service, FBus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(FWatcher, &QDBusServiceWatcher::serviceRegistered, this, &TNotifications::ServiceAppeared);
}

bool TNotifications::IsAvailable() const {
    if (!FBus.isConnected() || FBus.interface() == nullptr)
        return false;
    if (FBus.interface()->isServiceRegistered(Service))
        return true;
    // Started on demand by the first call (xfce4-notifyd, dunst at login).
    const QDBusReply<QStringList> Activatable = FBus.interface()->activatableServiceNames();
    return Activatable.isValid() && Activatable.value().contains(Service);
}

void TNotifications::Send(const QString& Title, const QString& Text, int TimeoutMs, const QImage& Image) {
    if (!FBus.isConnected())
        return;
    if (FBus.interface()->isServiceRegistered(Service)) {
        SendNow(Title, Text, TimeoutMs, Image);
    } else if (IsAvailable()) {
        FLogger.Debug(QStringLiteral("The notification service is started on demand for the notice"));
        SendNow(Title, Text, TimeoutMs, Image);
    } else {
        Wait(Title, Text, TimeoutMs, Image);
    }
}

void TNotifications::Wait(const QString& Title, const QString& Text, int TimeoutMs, const QImage& Image) {
    FPendingTitle = Title;
    FPendingText = Text;
    FPendingTimeoutMs = TimeoutMs;
    FPendingImage = Image;
    FLogger.Info(QStringLiteral("No notification service yet: the notice is shown once one starts: ") +
                 Text.section(QLatin1Char('\r'), 0, 0));
}

void TNotifications::ServiceAppeared() {
    FBodyClickCloses = false;
    if (FPendingText.isEmpty())
        return;
    const QString Text = std::exchange(FPendingText, {});
    FLogger.Info(QStringLiteral("A notification service appeared: the waiting notice is shown"));
    SendNow(FPendingTitle, Text, FPendingTimeoutMs, std::exchange(FPendingImage, {}));
}

void TNotifications::SendNow(const QString& Title, const QString& Text, int TimeoutMs, const QImage& Image) {
    AskServerName();
    QDBusMessage Notify = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    QVariantMap Hints;
    Hints.insert(QStringLiteral("desktop-entry"), DesktopEntry);
    if (!Image.isNull())
        Hints.insert(QStringLiteral("image-data"), QVariant::fromValue(TNotificationImage{Image}));
    Notify << QString::fromUtf8(ProgramName) << 0u << QString() << Title << Text
           << QStringList{QStringLiteral("default"), txtOpenMenu()} << Hints << TimeoutMs;
    auto* Watcher = new QDBusPendingCallWatcher(FBus.asyncCall(Notify), this);
    connect(Watcher, &QDBusPendingCallWatcher::finished, this,
            [this, Title, Text, TimeoutMs, Image](QDBusPendingCallWatcher* Call) {
                const QDBusPendingReply<uint> Reply = *Call;
                Call->deleteLater();
                if (Reply.isError()) {
                    FLogger.Error(QStringLiteral("Notify: ") + Reply.error().message());
                    // A service that could not be started may still come by itself.
                    if (!FBus.interface()->isServiceRegistered(Service))
                        Wait(Title, Text, TimeoutMs, Image);
                    return;
                }
                FOwn.insert(Reply.value());
                FLogger.Debug(QStringLiteral("Notification %1 sent").arg(Reply.value()));
            });
}

void TNotifications::AskServerName() {
    QDBusMessage Ask = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("GetServerInformation"));
    auto* Watcher = new QDBusPendingCallWatcher(FBus.asyncCall(Ask), this);
    connect(Watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* Call) {
        const QDBusMessage Reply = QDBusPendingReply<QString>(*Call).reply();
        Call->deleteLater();
        if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty())
            return;
        const QString Name = Reply.arguments().constFirst().toString();
        FBodyClickCloses = Name.contains(QLatin1String("Xfce"), Qt::CaseInsensitive);
        FLogger.Debug(QStringLiteral("Notification service: ") + Name);
    });
}

void TNotifications::ActionInvoked(uint Id, const QString& Action) {
    if (!FOwn.contains(Id)) {
        FLogger.Debug(QStringLiteral("Notification %1 is not ours: action \"%2\" ignored").arg(Id).arg(Action));
        return;
    }
    FLogger.Debug(QStringLiteral("Notification %1 clicked").arg(Id));
    FActed.insert(Id);
    if (Action == QLatin1String("default"))
        Q_EMIT Clicked();
}

void TNotifications::NotificationClosed(uint Id, uint Reason) {
    constexpr uint DismissedByUser = 2;
    const bool Acted = FActed.remove(Id);
    if (!FOwn.remove(Id))
        return;
    // xfce4-notifyd offers "default" as a button only; a click on the notice's
    // body closes it as dismissed by the user, and that is the click meant.
    if (Reason == DismissedByUser && FBodyClickCloses && !Acted) {
        FLogger.Debug(QStringLiteral("Notification %1 clicked (closed by a click on it)").arg(Id));
        Q_EMIT Clicked();
    }
}
