#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPoint>
#include <QString>

// The wire types of org.kde.StatusNotifierItem: an icon as ARGB32 in network byte
// order, at several sizes, and the tool tip.
struct TDBusIconPixmap {
    int Width = 0;
    int Height = 0;
    QByteArray Bytes;
};
using TDBusIconPixmapList = QList<TDBusIconPixmap>;
struct TDBusToolTip {
    QString IconName;
    TDBusIconPixmapList Icons;
    QString Title;
    QString Text;
};
Q_DECLARE_METATYPE(TDBusIconPixmap)
Q_DECLARE_METATYPE(TDBusToolTip)

// Our icon as a StatusNotifierItem on the session bus, under a name of its own.
// It is not registered anywhere by itself: the tray icon registers it with each
// StatusNotifierWatcher that appears. The panel's clicks come with the position
// of the icon, which the drawn menu uses on X11.
class TStatusNotifierItem final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TStatusNotifierItem)
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(int WindowId READ WindowId)
    Q_PROPERTY(QString IconThemePath READ IconThemePath)
    Q_PROPERTY(QString IconName READ EmptyText)
    Q_PROPERTY(TDBusIconPixmapList IconPixmap READ IconPixmap)
    Q_PROPERTY(QString OverlayIconName READ EmptyText)
    Q_PROPERTY(TDBusIconPixmapList OverlayIconPixmap READ NoPixmap)
    Q_PROPERTY(QString AttentionIconName READ EmptyText)
    Q_PROPERTY(TDBusIconPixmapList AttentionIconPixmap READ NoPixmap)
    Q_PROPERTY(QString AttentionMovieName READ EmptyText)
    Q_PROPERTY(TDBusToolTip ToolTip READ ToolTip)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)
public:
    static const QString ObjectPath;

    TStatusNotifierItem(const QDBusConnection& Bus, const QIcon& Icon, QObject* Parent = nullptr);
    ~TStatusNotifierItem() override;

    // Whether the object and its bus name are in place.
    bool IsExported() const { return FExported; }
    QString ServiceName() const { return FServiceName; }
    void SetToolTip(const QString& Text);
    // The path of the exported menu, empty when the panel gets none (our clicks then).
    void SetMenuPath(const QString& Path);
    // Where the panel looks for icons the exported menu names (set before the
    // item is registered: panels read it once).
    void SetIconThemePath(const QString& Path) { FIconThemePath = Path; }
    QString IconThemePath() const { return FIconThemePath; }

    QString Category() const { return QStringLiteral("ApplicationStatus"); }
    QString Id() const;
    QString Title() const;
    QString Status() const { return QStringLiteral("Active"); }
    int WindowId() const { return 0; }
    QString EmptyText() const { return {}; }
    TDBusIconPixmapList IconPixmap() const { return FPixmaps; }
    TDBusIconPixmapList NoPixmap() const { return {}; }
    TDBusToolTip ToolTip() const;
    // A left click activates; a panel that thinks the item is a menu would open
    // the exported menu instead of asking us.
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const;

public Q_SLOTS:
    Q_SCRIPTABLE void Activate(int X, int Y);
    Q_SCRIPTABLE void ContextMenu(int X, int Y);
    Q_SCRIPTABLE void SecondaryActivate(int X, int Y);
    Q_SCRIPTABLE void Scroll(int Delta, const QString& Orientation);

Q_SIGNALS:
    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewAttentionIcon();
    Q_SCRIPTABLE void NewOverlayIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString& Status);

    // Not on the bus: a click the panel reported, at the icon's position.
    void Activated(const QPoint& Pos);
    void ContextMenuRequested(const QPoint& Pos);

private:
    QDBusConnection FBus;
    QString FServiceName;
    TDBusIconPixmapList FPixmaps;
    QString FToolTip;
    QString FMenuPath;
    QString FIconThemePath;
    bool FExported = false;
};
