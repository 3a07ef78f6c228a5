#include "uTDBusMenu.h"

#include "uPngEncoder.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <utility>

const QString TDBusMenuExporter::ObjectPath = QStringLiteral("/MenuBar");

TDBusMenuExporter::TDBusMenuExporter(const QDBusConnection& Bus, QObject* Parent) : QObject(Parent), FBus(Bus) {
    qDBusRegisterMetaType<TDBusMenuLayoutItem>();
    qDBusRegisterMetaType<TDBusMenuItem>();
    qDBusRegisterMetaType<TDBusMenuItemList>();
    qDBusRegisterMetaType<TDBusMenuItemKeys>();
    qDBusRegisterMetaType<TDBusMenuItemKeysList>();
    qDBusRegisterMetaType<TDBusMenuEvent>();
    qDBusRegisterMetaType<TDBusMenuEventList>();
    // The slots and signals name the lists by these aliases; unknown names would
    // leave EventGroup and ItemsPropertiesUpdated out of the exported interface.
    qRegisterMetaType<TDBusMenuItemList>("TDBusMenuItemList");
    qRegisterMetaType<TDBusMenuItemKeysList>("TDBusMenuItemKeysList");
    qRegisterMetaType<TDBusMenuEventList>("TDBusMenuEventList");
    FRegistered = FBus.isConnected() && FBus.registerObject(ObjectPath, this,
                                                            QDBusConnection::ExportScriptableSlots |
                                                                QDBusConnection::ExportScriptableSignals |
                                                                QDBusConnection::ExportScriptableProperties);
}

TDBusMenuExporter::~TDBusMenuExporter() {
    SetMenu(nullptr);
    if (FRegistered)
        FBus.unregisterObject(ObjectPath);
}

QMenu* TDBusMenuExporter::Menu() const {
    return FRoot;
}

QString TDBusMenuExporter::TextDirection() const {
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl") : QStringLiteral("ltr");
}

void TDBusMenuExporter::SetMenu(QMenu* Menu) {
    for (const QPointer<QMenu>& Watched : std::as_const(FWatched))
        if (Watched)
            Watched->removeEventFilter(this);
    FWatched.clear();
    FIds.clear();
    FActions.clear();
    FChangedItems.clear();
    FListedFirstIds.clear();
    FListed.clear();
    FPrepared.clear();
    // A rebuild mostly shows the same pictures again; those that neither this
    // menu nor the one before used are dropped instead of piling up.
    FEarlierIconCache = std::exchange(FIconCache, {});
    FRoot = Menu;
    if (Menu != nullptr)
        Watch(Menu);
    // Ids are never reused, so a panel that still holds old ones cannot reach a new entry by mistake.
    FChangedLayouts.insert(0);
    ScheduleAnnouncement();
}

void TDBusMenuExporter::Watch(QMenu* Menu) {
    for (const QPointer<QMenu>& Watched : std::as_const(FWatched))
        if (Watched == Menu)
            return;
    FWatched.append(Menu);
    Menu->installEventFilter(this);
}

int TDBusMenuExporter::IdOf(QAction* Action) {
    const auto Found = FIds.constFind(Action);
    if (Found != FIds.cend())
        return *Found;
    const int Id = FNextId++;
    FIds.insert(Action, Id);
    FActions.insert(Id, Action);
    connect(Action, &QObject::destroyed, this, [this, Action, Id] {
        FIds.remove(Action);
        FActions.remove(Id);
    });
    return Id;
}

QAction* TDBusMenuExporter::ActionOf(int Id) const {
    return FActions.value(Id).data();
}

TMenuListing* TDBusMenuExporter::ListingOf(QMenu* Menu) {
    auto* Listing = dynamic_cast<TMenuListing*>(Menu);
    return Listing != nullptr && Listing->HasListing() ? Listing : nullptr;
}

int TDBusMenuExporter::FirstListedId(QMenu* Menu) const {
    const auto Found = FListedFirstIds.constFind(Menu);
    if (Found == FListedFirstIds.cend())
        return 0;
    // A deleted submenu's address may come again with a new one.
    const auto Listed = FListed.find(*Found);
    return Listed != FListed.cend() && Listed->second.Menu == Menu ? *Found : 0;
}

namespace {

// An unopened listed submenu in a whole-tree answer: one entry is enough for a
// panel to open it, and keeps the tree of a large catalogue small.
constexpr qsizetype FirstEntries = 1;
// Once its parent opened, a submenu gets all its entries when they are few, so
// a panel that places it before it opens places it as it will be; a larger one
// gets more than a screen holds, so it is placed with its final height.
constexpr qsizetype CompleteEntries = 400;
constexpr qsizetype ScreenfulEntries = 40;
// What the submenus of an opened level get together: GNOME's extension reads the
// whole tree after every opening, and a level of 1,000 categories with a
// screenful each would be 40,000 entries. The first ones in the level get theirs
// (what shows first); the others keep their first entry until they open.
constexpr qsizetype PrefetchBudget = 4000;
constexpr qsizetype AllEntries = std::numeric_limits<qsizetype>::max();
// More submenus changed at once than this are announced as one change of the whole menu.
constexpr qsizetype MaxSeparateAnnouncements = 128;

} // namespace

bool TDBusMenuExporter::OpenListing(QMenu* Menu, qsizetype Shown) {
    TMenuListing* Listing = ListingOf(Menu);
    if (Listing == nullptr)
        return false;
    if (const int First = FirstListedId(Menu); First != 0) {
        TListed& Listed = FListed.at(First);
        const qsizetype Before = std::min(Listed.Count, Listed.Shown);
        Listed.Shown = std::max(Listed.Shown, Shown);
        return std::min(Listed.Count, Listed.Shown) > Before;
    }
    const qsizetype Count = Listing->ListingCount();
    const int First = FNextId;
    // Ids are never reused: the block of a submenu stays its own.
    FNextId += static_cast<int>(std::max<qsizetype>(Count, 1));
    FListedFirstIds.insert(Menu, First);
    FListed.emplace(First, TListed{Menu, Count, Shown});
    return std::min(Count, Shown) > 0;
}

qsizetype TDBusMenuExporter::ShownCount(QMenu* Menu) const {
    const TMenuListing* Listing = ListingOf(Menu);
    if (Listing == nullptr)
        return Menu->actions().size();
    const int First = FirstListedId(Menu);
    if (First == 0)
        return 0;
    const TListed& Listed = FListed.at(First);
    return std::min({Listing->ListingCount(), Listed.Count, Listed.Shown});
}

void TDBusMenuExporter::Prepare(QMenu* Menu) {
    if (Menu == FRoot || ListingOf(Menu) != nullptr)
        return;
    const auto Done = FPrepared.constFind(Menu);
    if (Done != FPrepared.cend() && *Done == Menu)
        return;
    FPrepared.insert(Menu, Menu);
    const int Id = FIds.value(Menu->menuAction(), 0);
    const bool Pending = FChangedLayouts.contains(Id);
    Watch(Menu);
    Q_EMIT Menu->aboutToShow();
    // The answer being made carries what that changed.
    if (!Pending)
        FChangedLayouts.remove(Id);
}

bool TDBusMenuExporter::PrepareChildren(QMenu* Menu) {
    bool Changed = false;
    // Spent on the same submenus at every opening, so opening a level again and
    // again does not bring more of its submenus each time.
    qsizetype Budget = PrefetchBudget;
    const auto Visit = [this, &Changed, &Budget](QMenu* Sub) {
        const int Id = IdOf(Sub->menuAction());
        Watch(Sub);
        if (const TMenuListing* Listing = ListingOf(Sub)) {
            const qsizetype Count = Listing->ListingCount();
            qsizetype Wanted = Count <= CompleteEntries ? Count : ScreenfulEntries;
            if (Wanted > Budget)
                Wanted = std::min(Count, ScreenfulEntries);
            if (Wanted > Budget || Wanted <= FirstEntries)
                return;
            Budget -= Wanted;
            if (OpenListing(Sub, Wanted)) {
                FChangedLayouts.insert(Id);
                Changed = true;
            }
            return;
        }
        const auto Done = FPrepared.constFind(Sub);
        if (Done != FPrepared.cend() && *Done == Sub)
            return;
        FPrepared.insert(Sub, Sub);
        const QList<QAction*> Before = Sub->actions();
        Q_EMIT Sub->aboutToShow();
        if (Sub->actions() != Before) {
            FChangedLayouts.insert(Id);
            Changed = true;
        }
    };
    if (TMenuListing* Listing = ListingOf(Menu)) {
        const qsizetype Count = ShownCount(Menu);
        for (qsizetype I = 0; I < Count; ++I)
            if (QMenu* Sub = Listing->ListingEntry(I).Submenu)
                Visit(Sub);
    } else {
        for (QAction* Action : Menu->actions())
            if (QMenu* Sub = Action->menu())
                Visit(Sub);
    }
    return Changed;
}

QMenu* TDBusMenuExporter::ListedMenuOf(int Id, qsizetype* Index) const {
    auto Found = FListed.upper_bound(Id);
    if (Found == FListed.cbegin())
        return nullptr;
    --Found;
    const qsizetype At = Id - Found->first;
    QMenu* Menu = Found->second.Menu;
    if (Menu == nullptr || At >= Found->second.Count || ListingOf(Menu) == nullptr)
        return nullptr;
    if (Index != nullptr)
        *Index = At;
    return Menu;
}

QMenu* TDBusMenuExporter::MenuOf(int Id) const {
    if (Id == 0)
        return FRoot;
    QAction* Action = ActionOf(Id);
    return Action != nullptr ? Action->menu() : nullptr;
}

// Once per picture: the entries of a large submenu share few pictures or, with
// favicons, each has its own, and a panel asks for the layout at every opening.
QByteArray TDBusMenuExporter::IconData(const QIcon& Icon) {
    const qint64 Key = Icon.cacheKey();
    const auto Found = FIconCache.constFind(Key);
    if (Found != FIconCache.cend())
        return *Found;
    const auto Earlier = FEarlierIconCache.constFind(Key);
    const QByteArray Png = Earlier != FEarlierIconCache.cend() ? *Earlier : MenuIconPng(Icon.pixmap(16, 16).toImage());
    FIconCache.insert(Key, Png);
    return Png;
}

void TDBusMenuExporter::NameIcon(const QIcon& Icon, const QString& Name, const QString& ThemePath) {
    FIconNames.insert(Icon.cacheKey(), Name);
    if (!FIconThemePath.contains(ThemePath))
        FIconThemePath.append(ThemePath);
    if (FSendIconNames) {
        FChangedLayouts.insert(0);
        ScheduleAnnouncement();
    }
}

void TDBusMenuExporter::SetSendIconNames(bool Send) {
    if (Send == FSendIconNames)
        return;
    FSendIconNames = Send;
    if (!FIconNames.isEmpty()) {
        FChangedLayouts.insert(0);
        ScheduleAnnouncement();
    }
}

void TDBusMenuExporter::InsertIcon(QVariantMap& Properties, const QIcon& Icon, const QStringList& Names) {
    const QString Name = FSendIconNames ? FIconNames.value(Icon.cacheKey()) : QString();
    const char* Property = Name.isEmpty() ? "icon-data" : "icon-name";
    if (!Names.isEmpty() && !Names.contains(QLatin1String(Property)))
        return;
    Properties.insert(QLatin1String(Property), Name.isEmpty() ? QVariant(IconData(Icon)) : QVariant(Name));
}

QVariantMap TDBusMenuExporter::EntryProperties(const TMenuListing::TEntry& Entry, const QStringList& Names,
                                               bool WithDefaults) {
    QVariantMap Properties;
    auto Wanted = [&Names](const char* Name) { return Names.isEmpty() || Names.contains(QLatin1String(Name)); };
    if (Wanted("label"))
        Properties.insert(QStringLiteral("label"), DBusMenuLabel(Entry.Caption));
    if (!Entry.Icon.isNull())
        InsertIcon(Properties, Entry.Icon, Names);
    if (Entry.Submenu != nullptr && Wanted("children-display"))
        Properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (WithDefaults) {
        if (Wanted("enabled"))
            Properties.insert(QStringLiteral("enabled"), true);
        if (Wanted("visible"))
            Properties.insert(QStringLiteral("visible"), true);
    }
    return Properties;
}

QVariantMap TDBusMenuExporter::PropertiesOf(int Id, const QStringList& Names, bool WithDefaults) {
    qsizetype Index = 0;
    if (QMenu* Listed = ListedMenuOf(Id, &Index))
        return EntryProperties(ListingOf(Listed)->ListingEntry(Index), Names, WithDefaults);
    QVariantMap Properties;
    if (Id == 0) {
        Properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (QAction* Action = ActionOf(Id)) {
        if (Action->isSeparator()) {
            Properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            Properties.insert(QStringLiteral("label"), DBusMenuLabel(Action->text()));
            if (!Action->icon().isNull())
                InsertIcon(Properties, Action->icon(), {});
            if (Action->menu() != nullptr)
                Properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
            if (Action->isCheckable()) {
                Properties.insert(QStringLiteral("toggle-type"),
                                  Action->actionGroup() != nullptr && Action->actionGroup()->isExclusive()
                                      ? QStringLiteral("radio")
                                      : QStringLiteral("checkmark"));
                Properties.insert(QStringLiteral("toggle-state"), Action->isChecked() ? 1 : 0);
            }
        }
        // Both default to true. An update replaces the properties it names, so a
        // re-enabled entry must say so; a layout gives every property of an entry,
        // and leaving them out there spares the bus two values per entry.
        if (WithDefaults || !Action->isEnabled())
            Properties.insert(QStringLiteral("enabled"), Action->isEnabled());
        if (WithDefaults || !Action->isVisible())
            Properties.insert(QStringLiteral("visible"), Action->isVisible());
    }
    if (!Names.isEmpty())
        for (auto It = Properties.begin(); It != Properties.end();)
            It = Names.contains(It.key()) ? std::next(It) : Properties.erase(It);
    return Properties;
}

TDBusMenuLayoutItem TDBusMenuExporter::LayoutOf(int Id, int Depth, const QStringList& Names) {
    TDBusMenuLayoutItem Item;
    Item.Id = Id;
    Item.Properties = PropertiesOf(Id, Names, false);
    QMenu* Menu = MenuOf(Id);
    if (Menu == nullptr || Depth == 0)
        return Item;
    Watch(Menu);
    if (TMenuListing* Listing = ListingOf(Menu)) {
        // Never empty, as a panel may open only a submenu that has entries; and
        // until it is opened only its first ones, so a panel that asks for the
        // whole tree does not get every shop of the catalogue.
        OpenListing(Menu, FirstEntries);
        const int First = FirstListedId(Menu);
        const qsizetype Count = ShownCount(Menu);
        Item.Children.reserve(Count);
        for (qsizetype I = 0; I < Count; ++I) {
            const TMenuListing::TEntry Entry = Listing->ListingEntry(I);
            if (Entry.Submenu != nullptr)
                Item.Children.append(LayoutOf(IdOf(Entry.Submenu->menuAction()), Depth < 0 ? -1 : Depth - 1, Names));
            else
                Item.Children.append({First + static_cast<int>(I), EntryProperties(Entry, Names, false), {}});
        }
        return Item;
    }
    if (Id != 0)
        Prepare(Menu);
    for (QAction* Action : Menu->actions())
        Item.Children.append(LayoutOf(IdOf(Action), Depth < 0 ? -1 : Depth - 1, Names));
    return Item;
}

uint TDBusMenuExporter::GetLayout(int ParentId, int RecursionDepth, const QStringList& PropertyNames,
                                  TDBusMenuLayoutItem& Layout) {
    // A panel may ask for a submenu without announcing that it opens it: the
    // submenu fills now, and this answer already carries what that changed. A
    // submenu announced with a screenful is fetched as announced.
    if (QMenu* Menu = ParentId != 0 ? MenuOf(ParentId) : nullptr) {
        const bool Pending = FChangedLayouts.contains(ParentId);
        Watch(Menu);
        if (ListingOf(Menu) == nullptr)
            Q_EMIT Menu->aboutToShow();
        else if (const int First = FirstListedId(Menu); First == 0 || FListed.at(First).Shown <= FirstEntries)
            OpenListing(Menu, AllEntries);
        if (!Pending)
            FChangedLayouts.remove(ParentId);
    }
    Layout = LayoutOf(ParentId, RecursionDepth, PropertyNames);
    return FRevision;
}

TDBusMenuItemList TDBusMenuExporter::GetGroupProperties(const QList<int>& Ids, const QStringList& PropertyNames) {
    TDBusMenuItemList Items;
    for (const int Id : Ids)
        if (Id == 0 || ActionOf(Id) != nullptr || ListedMenuOf(Id) != nullptr)
            Items.append({Id, PropertiesOf(Id, PropertyNames)});
    return Items;
}

QDBusVariant TDBusMenuExporter::GetProperty(int Id, const QString& Name) {
    const QVariant Value = PropertiesOf(Id, {Name}).value(Name);
    // An empty value cannot be sent at all: without an error the panel would
    // wait for an answer until its call times out.
    if (!Value.isValid() && calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No property %1 on entry %2").arg(Name).arg(Id));
    return QDBusVariant(Value.isValid() ? Value : QVariant(QString()));
}

void TDBusMenuExporter::Event(int Id, const QString& EventId, const QDBusVariant& Data, uint Timestamp) {
    Q_UNUSED(Data)
    Q_UNUSED(Timestamp)
    if (EventId == QLatin1String("opened")) {
        AboutToShow(Id);
        return;
    }
    if (EventId != QLatin1String("clicked"))
        return;
    qsizetype Index = 0;
    if (QMenu* Listed = ListedMenuOf(Id, &Index)) {
        // Queued as below; the listing is asked again then, as the menu may be gone.
        QMetaObject::invokeMethod(
            Listed,
            [Menu = QPointer<QMenu>(Listed), Index] {
                TMenuListing* Listing = ListingOf(Menu);
                if (Listing != nullptr && Index < Listing->ListingCount())
                    Listing->ChooseListed(Index);
            },
            Qt::QueuedConnection);
        return;
    }
    QAction* Action = ActionOf(Id);
    if (Action == nullptr || Action->menu() != nullptr || !Action->isEnabled())
        return;
    // Queued: the panel waits for this answer, and the choice may open a box that waits for the user.
    QMetaObject::invokeMethod(
        Action,
        [Entry = QPointer<QAction>(Action)] {
            if (Entry)
                Entry->trigger();
        },
        Qt::QueuedConnection);
}

QList<int> TDBusMenuExporter::EventGroup(const TDBusMenuEventList& Events) {
    QList<int> Unknown;
    for (const TDBusMenuEvent& E : Events) {
        if (E.Id != 0 && ActionOf(E.Id) == nullptr && ListedMenuOf(E.Id) == nullptr)
            Unknown.append(E.Id);
        else
            Event(E.Id, E.EventId, E.Data, E.Timestamp);
    }
    return Unknown;
}

bool TDBusMenuExporter::AboutToShow(int Id) {
    QMenu* Menu = MenuOf(Id);
    if (Menu == nullptr)
        return false;
    Watch(Menu);
    bool Changed = false;
    if (ListingOf(Menu) != nullptr) {
        Changed = OpenListing(Menu, AllEntries);
        if (Changed)
            FChangedLayouts.insert(Id);
    } else {
        const QList<QAction*> Before = Menu->actions();
        Q_EMIT Menu->aboutToShow();
        Changed = Menu->actions() != Before;
    }
    // Its submenus get their first screenful now, before the panel shows them.
    if (PrepareChildren(Menu))
        Changed = true;
    if (Changed)
        ScheduleAnnouncement();
    return Changed;
}

QList<int> TDBusMenuExporter::AboutToShowGroup(const QList<int>& Ids, QList<int>& IdErrors) {
    QList<int> Updated;
    for (const int Id : Ids) {
        if (MenuOf(Id) == nullptr)
            IdErrors.append(Id);
        else if (AboutToShow(Id))
            Updated.append(Id);
    }
    return Updated;
}

bool TDBusMenuExporter::eventFilter(QObject* Watched, QEvent* Event) {
    switch (Event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionRemoved: {
        auto* Menu = static_cast<QMenu*>(Watched);
        FChangedLayouts.insert(Menu == FRoot ? 0 : FIds.value(Menu->menuAction(), 0));
        ScheduleAnnouncement();
        break;
    }
    case QEvent::ActionChanged: {
        auto* Action = static_cast<QActionEvent*>(Event)->action();
        const auto Found = FIds.constFind(Action);
        if (Found != FIds.cend()) {
            FChangedItems.insert(*Found);
            ScheduleAnnouncement();
        }
        break;
    }
    default:
        if (Event->type() == TListingChangedEvent::EventType()) {
            // Entries of an opened listed submenu: announced by their ids, no new layout.
            const int First = FirstListedId(static_cast<QMenu*>(Watched));
            if (First != 0) {
                for (const qsizetype Index : static_cast<TListingChangedEvent*>(Event)->Indexes())
                    FChangedItems.insert(First + static_cast<int>(Index));
                ScheduleAnnouncement();
            }
        }
        break;
    }
    return QObject::eventFilter(Watched, Event);
}

void TDBusMenuExporter::ScheduleAnnouncement() {
    if (FAnnouncing)
        return;
    FAnnouncing = true;
    QTimer::singleShot(0, this, &TDBusMenuExporter::Announce);
}

void TDBusMenuExporter::Announce() {
    FAnnouncing = false;
    if (!FChangedItems.isEmpty()) {
        TDBusMenuItemList Updated;
        for (const int Id : std::as_const(FChangedItems))
            if (ActionOf(Id) != nullptr || ListedMenuOf(Id) != nullptr)
                Updated.append({Id, PropertiesOf(Id, {})});
        FChangedItems.clear();
        if (!Updated.isEmpty())
            Q_EMIT ItemsPropertiesUpdated(Updated, {});
    }
    if (!FChangedLayouts.isEmpty()) {
        // Each submenu that changed on its own: a panel that reads one level at a
        // time fetches just the submenus named. Very many as one change of the whole.
        QList<int> Parents = FChangedLayouts.values();
        FChangedLayouts.clear();
        if (Parents.size() > MaxSeparateAnnouncements)
            Parents = {0};
        std::sort(Parents.begin(), Parents.end());
        for (const int Parent : std::as_const(Parents)) {
            ++FRevision;
            Q_EMIT LayoutUpdated(FRevision, Parent);
        }
    }
}
