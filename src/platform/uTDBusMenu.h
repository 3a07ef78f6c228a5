#pragma once

#include "uDBusMenuTypes.h"
#include "uTMenuListing.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusVariant>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QVariantMap>
#include <map>

class QAction;
class QDBusArgument;
class QMenu;

// Exports a QMenu tree as com.canonical.dbusmenu, the menu a StatusNotifier panel
// draws at the icon. Written here rather than taken from Qt's tray icon: Qt
// rewrites the first "&" of every caption into a hotkey, so "Auto && Motorrad"
// reaches the panel as "Auto _& Motorrad", and it cannot be used without Qt's
// tray icon. The tree is read as it stands at each request; a submenu that is
// about to open is told so first (the menu mirror fills its entries then), and
// changes are announced once per turn of the event loop. A submenu that lists
// its entries (TMenuListing) is read from the listing: its entries get ids of
// their own, with no action behind them.
//
// Panels ask in different orders. GNOME's extension reads the whole tree first
// and opens only submenus that already have entries; Plasma and LXQt read one
// level at a time and show a submenu with what they hold when it opens. So a
// listed submenu is never sent empty: until it is opened it shows its first
// entry only, and all of them once it opens. When its parent opens, it gets its
// entries in advance (all when they are few, else a screenful), announced per
// submenu so such panels fetch it before it shows, within a budget for the
// level: the first submenus of a level of 1,000 get theirs, the others keep
// their first entry. A catalogue of 100,000 shops thus never crosses the bus
// as a whole, whichever order the panel uses.
class TDBusMenuExporter final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TDBusMenuExporter)
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)
public:
    static const QString ObjectPath;

    explicit TDBusMenuExporter(const QDBusConnection& Bus, QObject* Parent = nullptr);
    ~TDBusMenuExporter() override;

    // Exports Menu (null: the object stays, with an empty menu).
    void SetMenu(QMenu* Menu);
    QMenu* Menu() const;
    bool IsRegistered() const { return FRegistered; }

    uint Version() const { return 3; }
    QString TextDirection() const;
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return FIconThemePath; }

    // A picture the panel may find by Name in the folders of ThemePath, instead of
    // getting it with every entry that shows it (10,000 shops share the globe).
    void NameIcon(const QIcon& Icon, const QString& Name, const QString& ThemePath);
    // Whether the panel takes names: not every panel looks in IconThemePath.
    void SetSendIconNames(bool Send);

public Q_SLOTS:
    Q_SCRIPTABLE uint GetLayout(int ParentId, int RecursionDepth, const QStringList& PropertyNames,
                                TDBusMenuLayoutItem& Layout);
    Q_SCRIPTABLE TDBusMenuItemList GetGroupProperties(const QList<int>& Ids, const QStringList& PropertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int Id, const QString& Name);
    Q_SCRIPTABLE void Event(int Id, const QString& EventId, const QDBusVariant& Data, uint Timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const TDBusMenuEventList& Events);
    Q_SCRIPTABLE bool AboutToShow(int Id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& Ids, QList<int>& IdErrors);

Q_SIGNALS:
    Q_SCRIPTABLE void ItemsPropertiesUpdated(const TDBusMenuItemList& UpdatedProps,
                                             const TDBusMenuItemKeysList& RemovedProps);
    Q_SCRIPTABLE void LayoutUpdated(uint Revision, int Parent);
    Q_SCRIPTABLE void ItemActivationRequested(int Id, uint Timestamp);

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    int IdOf(QAction* Action);
    QAction* ActionOf(int Id) const;
    QMenu* MenuOf(int Id) const;
    QVariantMap PropertiesOf(int Id, const QStringList& Names, bool WithDefaults = true);
    QVariantMap EntryProperties(const TMenuListing::TEntry& Entry, const QStringList& Names, bool WithDefaults);
    static TMenuListing* ListingOf(QMenu* Menu);
    // The id of the first entry of a listed submenu, 0 while its entries have none.
    int FirstListedId(QMenu* Menu) const;
    // Gives the entries of a listed submenu their ids and shows at least Shown of
    // them; true when the panel now gets more than before.
    bool OpenListing(QMenu* Menu, qsizetype Shown);
    // The entries of Menu the panel gets now (a listed submenu: of its listing).
    qsizetype ShownCount(QMenu* Menu) const;
    // A submenu that is not listed fills when it is first about to show; one read
    // as part of a layout is filled for it, without announcing what it then holds.
    void Prepare(QMenu* Menu);
    // The parent opens: its first submenus get their entries (all, or a screenful),
    // within a budget for the whole level, announced one by one.
    bool PrepareChildren(QMenu* Menu);
    // The listed submenu that holds the entry with Id, and the entry's place in it.
    QMenu* ListedMenuOf(int Id, qsizetype* Index = nullptr) const;
    TDBusMenuLayoutItem LayoutOf(int Id, int Depth, const QStringList& Names);
    void Watch(QMenu* Menu);
    void ScheduleAnnouncement();
    void Announce();
    QByteArray IconData(const QIcon& Icon);
    // The icon as a name where the panel takes one, else as a picture.
    void InsertIcon(QVariantMap& Properties, const QIcon& Icon, const QStringList& Names);

    QDBusConnection FBus;
    bool FRegistered = false;
    QPointer<QMenu> FRoot;
    QHash<QAction*, int> FIds;
    QHash<int, QPointer<QAction>> FActions;
    QList<QPointer<QMenu>> FWatched;
    int FNextId = 1;
    uint FRevision = 1;
    QSet<int> FChangedLayouts;
    QSet<int> FChangedItems;
    bool FAnnouncing = false;
    // Opened listed submenus: the first id of their entries, and by that id.
    struct TListed {
        QPointer<QMenu> Menu;
        qsizetype Count = 0;
        qsizetype Shown = 0; // entries the panel gets, at most Count
    };
    QHash<QMenu*, QPointer<QMenu>> FPrepared;
    QHash<QMenu*, int> FListedFirstIds;
    std::map<int, TListed> FListed;
    // Pictures of the current menu, and of the one before until they are used again.
    QHash<qint64, QByteArray> FIconCache;
    QHash<qint64, QByteArray> FEarlierIconCache;
    QHash<qint64, QString> FIconNames;
    QStringList FIconThemePath;
    bool FSendIconNames = false;
};
