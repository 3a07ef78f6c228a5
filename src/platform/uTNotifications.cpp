#include "uTNotifications.h"

#include "uConst.h"
#include "uTLogger.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

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
}

bool TNotifications::IsAvailable() const {
    return FBus.isConnected() && FBus.interface() && FBus.interface()->isServiceRegistered(Service);
}

void TNotifications::Send(const QString& Title, const QString& Text, int TimeoutMs, const QImage& Image) {
    QDBusMessage Notify = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    QVariantMap Hints;
    Hints.insert(QStringLiteral("desktop-entry"), DesktopEntry);
    if (!Image.isNull())
        Hints.insert(QStringLiteral("image-data"), QVariant::fromValue(TNotificationImage{Image}));
    Notify << QString::fromUtf8(ProgramName) << 0u << QString() << Title << Text
           << QStringList{QStringLiteral("default"), txtOpenMenu()} << Hints << TimeoutMs;
    auto* Watcher = new QDBusPendingCallWatcher(FBus.asyncCall(Notify), this);
    connect(Watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* Call) {
        const QDBusPendingReply<uint> Reply = *Call;
        Call->deleteLater();
        if (Reply.isError()) {
            FLogger.Error(QStringLiteral("Notify: ") + Reply.error().message());
            return;
        }
        FOwn.insert(Reply.value());
        FLogger.Debug(QStringLiteral("Notification %1 sent").arg(Reply.value()));
    });
}

void TNotifications::ActionInvoked(uint Id, const QString& Action) {
    if (!FOwn.contains(Id)) {
        FLogger.Debug(QStringLiteral("Notification %1 is not ours: action \"%2\" ignored").arg(Id).arg(Action));
        return;
    }
    FLogger.Debug(QStringLiteral("Notification %1 clicked").arg(Id));
    if (Action == QLatin1String("default"))
        Q_EMIT Clicked();
}

void TNotifications::NotificationClosed(uint Id, uint) {
    FOwn.remove(Id);
}
