#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>

// A session bus of our own: a dbus-daemon that lives as long as this object.
// With a ServiceDir it starts the services described there on demand (D-Bus
// activation), with Extra added to their environment.
class TPrivateSessionBus final {
public:
    explicit TPrivateSessionBus(const QString& ServiceDir = {}, const QProcessEnvironment& Extra = {});
    ~TPrivateSessionBus();
    TPrivateSessionBus(const TPrivateSessionBus&) = delete;
    TPrivateSessionBus& operator=(const TPrivateSessionBus&) = delete;

    bool IsRunning() const { return !FAddress.isEmpty(); }
    QString Address() const { return FAddress; }
    // The process that owns Name on this bus (0: none), and stopping it.
    qint64 OwnerPid(const QString& Name) const;
    void StopOwner(const QString& Name) const;

private:
    QProcess FDaemon;
    QString FConfig;
    QString FAddress;
};

// A display server for the program under test: Xvfb (X11) or a headless weston
// (Wayland) on a free display / socket; stopped with the object.
class TDisplayServer final {
public:
    enum class TKind { X11, Wayland };
    // RuntimeDir: the XDG_RUNTIME_DIR in which weston puts its socket.
    TDisplayServer(TKind Kind, const QString& RuntimeDir);
    ~TDisplayServer();
    TDisplayServer(const TDisplayServer&) = delete;
    TDisplayServer& operator=(const TDisplayServer&) = delete;

    bool IsRunning() const { return !FName.isEmpty(); }
    // DISPLAY or WAYLAND_DISPLAY value, and the matching QT_QPA_PLATFORM.
    QString Name() const { return FName; }
    QString Platform() const { return FKind == TKind::X11 ? QStringLiteral("xcb") : QStringLiteral("wayland"); }
    QString Variable() const {
        return FKind == TKind::X11 ? QStringLiteral("DISPLAY") : QStringLiteral("WAYLAND_DISPLAY");
    }

private:
    TKind FKind;
    QProcess FServer;
    QString FName;
};

// A dbusmenu label as shown: its "_" access key mark taken out ("__" stays "_").
QString WithoutAccessMark(const QString& Label);

// One entry of an exported menu (com.canonical.dbusmenu) as a host sees it.
struct TDBusMenuNode {
    int Id = 0;
    QVariantMap Properties;
    QList<TDBusMenuNode> Children;

    QString Label() const { return Properties.value(QStringLiteral("label")).toString(); }
    bool IsSubmenu() const;
    bool IsSeparator() const { return Properties.value(QStringLiteral("type")).toString() == "separator"; }
    bool HasIcon() const { return !Properties.value(QStringLiteral("icon-data")).toByteArray().isEmpty(); }
    // The label without its access key mark ("_B"); an escaped "__" stays as it is.
    QString ShownLabel() const;
    // The child of this label, written with or without its access key mark.
    const TDBusMenuNode* Find(const QString& Label) const;
};

// What a panel does with the notification-area protocol: it runs the
// StatusNotifierWatcher, registers itself as the host, learns the items that
// register and talks to them and to their exported menus.
class TStatusNotifierHost final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
public:
    explicit TStatusNotifierHost(const QString& BusAddress);
    ~TStatusNotifierHost() override;

    bool IsReady() const { return FReady; }
    QStringList RegisteredStatusNotifierItems() const { return FItems; }
    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }

    // Waits (running the event loop) for the first item to register.
    QString WaitForItem(int TimeoutMs = 15000);
    QVariant ItemProperty(const QString& Item, const QString& Name);
    // The item's exported menu path, empty when it exports none.
    QString MenuPath(const QString& Item);
    bool Activate(const QString& Item, int X, int Y);
    bool ContextMenu(const QString& Item, int X, int Y);

    // GetLayout below Parent to Depth levels (-1: all) with the properties named
    // (all when none); Revision receives the layout revision.
    TDBusMenuNode Layout(const QString& Item, int Parent, int Depth, uint* Revision = nullptr,
                         const QStringList& Names = {});
    bool AboutToShow(const QString& Item, int Id);
    // AboutToShow's answer: 1 when the item says the submenu changed, 0 when not, -1 on an error.
    int AboutToShowAnswer(const QString& Item, int Id);
    // The "opened" event a panel sends when it shows a submenu.
    bool Opened(const QString& Item, int Id);
    // GetGroupProperties: every property of each of Ids, by id.
    QHash<int, QVariantMap> GroupProperties(const QString& Item, const QList<int>& Ids);
    bool Clicked(const QString& Item, int Id);
    // "clicked" for each of Ids in one EventGroup call; the ids the item did not
    // know, or {-1} on an error.
    QList<int> ClickedTogether(const QString& Item, const QList<int>& Ids);
    // One property of one entry (GetProperty), invalid on an error.
    QVariant EntryProperty(const QString& Item, int Id, const QString& Name);
    int LayoutUpdates() const { return FLayoutUpdates; }
    // The parents named by LayoutUpdated, in order.
    QList<int> UpdatedParents() const { return FUpdatedParents; }
    // Labels of the entries announced by ItemsPropertiesUpdated, in order.
    QStringList UpdatedLabels() const { return FUpdatedLabels; }
    QString LastError() const { return FLastError; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& Service, const QDBusMessage& Message);
    void RegisterStatusNotifierHost(const QString& Service);

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& Service);
    void StatusNotifierItemUnregistered(const QString& Service);
    void StatusNotifierHostRegistered();

private Q_SLOTS:
    void OnLayoutUpdated(uint Revision, int Parent);
    void OnItemsPropertiesUpdated(const QDBusMessage& Message);

private:
    QDBusMessage CallItem(const QString& Item, const QString& Path, const QString& Interface, const QString& Method,
                          const QVariantList& Arguments);

    QDBusConnection FBus;
    QStringList FItems;
    QString FLastError;
    int FLayoutUpdates = 0;
    QList<int> FUpdatedParents;
    QStringList FUpdatedLabels;
    bool FReady = false;
};
