#include "uTStatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QImage>
#include <QtEndian>

// Not the protocol's usual "/StatusNotifierItem": the item registers by this path, and
// a watcher that finds it on the bus by itself then names it the same way.
const QString TStatusNotifierItem::ObjectPath = QStringLiteral("/org/quorvantis/StatusNotifierItem");

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusIconPixmap& Pixmap) {
    Argument.beginStructure();
    Argument << Pixmap.Width << Pixmap.Height << Pixmap.Bytes;
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusIconPixmap& Pixmap) {
    Argument.beginStructure();
    Argument >> Pixmap.Width >> Pixmap.Height >> Pixmap.Bytes;
    Argument.endStructure();
    return Argument;
}

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusToolTip& Tip) {
    Argument.beginStructure();
    Argument << Tip.IconName << Tip.Icons << Tip.Title << Tip.Text;
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusToolTip& Tip) {
    Argument.beginStructure();
    Argument >> Tip.IconName >> Tip.Icons >> Tip.Title >> Tip.Text;
    Argument.endStructure();
    return Argument;
}

namespace {

int ItemCounter = 0;

// ARGB32 in network byte order, as the protocol wants it.
TDBusIconPixmapList PixmapsOf(const QIcon& Icon) {
    TDBusIconPixmapList Pixmaps;
    for (const int Size : {16, 22, 24, 32, 48, 64}) {
        const QImage Image =
            Icon.pixmap(Size, Size).toImage().scaled(Size, Size).convertToFormat(QImage::Format_ARGB32);
        TDBusIconPixmap Pixmap{Image.width(), Image.height(), {}};
        Pixmap.Bytes.resize(Image.width() * Image.height() * 4);
        auto* Out = reinterpret_cast<quint32*>(Pixmap.Bytes.data());
        for (int Y = 0; Y < Image.height(); ++Y) {
            const auto* Line = reinterpret_cast<const quint32*>(Image.constScanLine(Y));
            for (int X = 0; X < Image.width(); ++X)
                *Out++ = qToBigEndian(Line[X]);
        }
        Pixmaps.append(Pixmap);
    }
    return Pixmaps;
}

} // namespace

TStatusNotifierItem::TStatusNotifierItem(const QDBusConnection& Bus, const QIcon& Icon, QObject* Parent)
    : QObject(Parent), FBus(Bus), FServiceName(QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                                                   .arg(QCoreApplication::applicationPid())
                                                   .arg(++ItemCounter)),
      FPixmaps(PixmapsOf(Icon)) {
    qDBusRegisterMetaType<TDBusIconPixmap>();
    qDBusRegisterMetaType<TDBusIconPixmapList>();
    qDBusRegisterMetaType<TDBusToolTip>();
    if (!FBus.isConnected())
        return;
    FExported = FBus.registerObject(ObjectPath, this,
                                    QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals |
                                        QDBusConnection::ExportScriptableProperties) &&
                FBus.registerService(FServiceName);
}

TStatusNotifierItem::~TStatusNotifierItem() {
    if (!FBus.isConnected())
        return;
    // Dropping the name is what tells the watcher that the item is gone.
    FBus.unregisterService(FServiceName);
    FBus.unregisterObject(ObjectPath);
}

QString TStatusNotifierItem::Id() const {
    return QCoreApplication::applicationName().toLower();
}

QString TStatusNotifierItem::Title() const {
    return QCoreApplication::applicationName();
}

void TStatusNotifierItem::SetToolTip(const QString& Text) {
    if (Text == FToolTip)
        return;
    FToolTip = Text;
    Q_EMIT NewToolTip();
}

TDBusToolTip TStatusNotifierItem::ToolTip() const {
    return TDBusToolTip{{}, {}, FToolTip, {}};
}

void TStatusNotifierItem::SetMenuPath(const QString& Path) {
    // Set before the item is registered: panels read it once.
    FMenuPath = Path;
}

QDBusObjectPath TStatusNotifierItem::Menu() const {
    // The protocol has no "no menu"; this is the path panels know for it.
    return QDBusObjectPath(FMenuPath.isEmpty() ? QStringLiteral("/NO_DBUSMENU") : FMenuPath);
}

void TStatusNotifierItem::Activate(int X, int Y) {
    Q_EMIT Activated(QPoint(X, Y));
}

void TStatusNotifierItem::ContextMenu(int X, int Y) {
    Q_EMIT ContextMenuRequested(QPoint(X, Y));
}

void TStatusNotifierItem::SecondaryActivate(int, int) {}

void TStatusNotifierItem::Scroll(int, const QString&) {}
