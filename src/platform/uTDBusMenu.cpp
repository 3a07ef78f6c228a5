#include "uTDBusMenu.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QBuffer>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QTimer>

const QString TDBusMenuExporter::ObjectPath = QStringLiteral("/MenuBar");

// ---- wire types ------------------------------------------------------------------------

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuLayoutItem& Item) {
    Argument.beginStructure();
    Argument << Item.Id << Item.Properties;
    Argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const TDBusMenuLayoutItem& Child : Item.Children)
        Argument << QDBusVariant(QVariant::fromValue(Child));
    Argument.endArray();
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuLayoutItem& Item) {
    Argument.beginStructure();
    Argument >> Item.Id >> Item.Properties;
    Argument.beginArray();
    Item.Children.clear();
    while (!Argument.atEnd()) {
        QDBusVariant Child;
        Argument >> Child;
        Item.Children.append(qdbus_cast<TDBusMenuLayoutItem>(Child.variant()));
    }
    Argument.endArray();
    Argument.endStructure();
    return Argument;
}

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuItem& Item) {
    Argument.beginStructure();
    Argument << Item.Id << Item.Properties;
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuItem& Item) {
    Argument.beginStructure();
    Argument >> Item.Id >> Item.Properties;
    Argument.endStructure();
    return Argument;
}

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuItemKeys& Keys) {
    Argument.beginStructure();
    Argument << Keys.Id << Keys.Names;
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuItemKeys& Keys) {
    Argument.beginStructure();
    Argument >> Keys.Id >> Keys.Names;
    Argument.endStructure();
    return Argument;
}

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuEvent& Event) {
    Argument.beginStructure();
    Argument << Event.Id << Event.EventId << Event.Data << Event.Timestamp;
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuEvent& Event) {
    Argument.beginStructure();
    Argument >> Event.Id >> Event.EventId >> Event.Data >> Event.Timestamp;
    Argument.endStructure();
    return Argument;
}

QString DBusMenuLabel(const QString& Caption) {
    QString Label;
    Label.reserve(Caption.size() + 4);
    bool HotkeyTaken = false;
    for (qsizetype I = 0; I < Caption.size(); ++I) {
        const QChar C = Caption.at(I);
        if (C == QLatin1Char('_')) {
            Label += QLatin1String("__");
        } else if (C != QLatin1Char('&')) {
            Label += C;
        } else if (I + 1 < Caption.size() && Caption.at(I + 1) == QLatin1Char('&')) {
            Label += C;
            ++I;
        } else if (!HotkeyTaken && I + 1 < Caption.size()) {
            Label += QLatin1Char('_'); // Qt, too, underlines only the first hotkey
            HotkeyTaken = true;
        }
    }
    return Label;
}

// ---- exporter ----------------------------------------------------------------------------

TDBusMenuExporter::TDBusMenuExporter(const QDBusConnection& Bus, QObject* Parent) : QObject(Parent), FBus(Bus) {
    qDBusRegisterMetaType<TDBusMenuLayoutItem>();
    qDBusRegisterMetaType<TDBusMenuItem>();
    qDBusRegisterMetaType<TDBusMenuItemList>();
    qDBusRegisterMetaType<TDBusMenuItemKeys>();
    qDBusRegisterMetaType<TDBusMenuItemKeysList>();
    qDBusRegisterMetaType<TDBusMenuEvent>();
    qDBusRegisterMetaType<TDBusMenuEventList>();
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
    // A rebuild brings new icons; the pictures of the old ones would only pile up.
    FIconCache.clear();
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

QMenu* TDBusMenuExporter::MenuOf(int Id) const {
    if (Id == 0)
        return FRoot;
    QAction* Action = ActionOf(Id);
    return Action != nullptr ? Action->menu() : nullptr;
}

QByteArray TDBusMenuExporter::IconData(const QIcon& Icon) {
    const qint64 Key = Icon.cacheKey();
    const auto Found = FIconCache.constFind(Key);
    if (Found != FIconCache.cend())
        return *Found;
    QByteArray Png;
    QBuffer Buffer(&Png);
    Buffer.open(QIODevice::WriteOnly);
    Icon.pixmap(16, 16).toImage().save(&Buffer, "PNG");
    FIconCache.insert(Key, Png);
    return Png;
}

QVariantMap TDBusMenuExporter::PropertiesOf(int Id, const QStringList& Names, bool WithDefaults) {
    QVariantMap Properties;
    if (Id == 0) {
        Properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (QAction* Action = ActionOf(Id)) {
        if (Action->isSeparator()) {
            Properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            Properties.insert(QStringLiteral("label"), DBusMenuLabel(Action->text()));
            if (!Action->icon().isNull())
                Properties.insert(QStringLiteral("icon-data"), IconData(Action->icon()));
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
    for (QAction* Action : Menu->actions())
        Item.Children.append(LayoutOf(IdOf(Action), Depth < 0 ? -1 : Depth - 1, Names));
    return Item;
}

uint TDBusMenuExporter::GetLayout(int ParentId, int RecursionDepth, const QStringList& PropertyNames,
                                  TDBusMenuLayoutItem& Layout) {
    // A panel may ask for a submenu without announcing that it opens it: the
    // submenu fills now, and this answer already carries what that changed.
    if (QMenu* Menu = ParentId != 0 ? MenuOf(ParentId) : nullptr) {
        const bool Pending = FChangedLayouts.contains(ParentId);
        Watch(Menu);
        Q_EMIT Menu->aboutToShow();
        if (!Pending)
            FChangedLayouts.remove(ParentId);
    }
    Layout = LayoutOf(ParentId, RecursionDepth, PropertyNames);
    return FRevision;
}

TDBusMenuItemList TDBusMenuExporter::GetGroupProperties(const QList<int>& Ids, const QStringList& PropertyNames) {
    TDBusMenuItemList Items;
    for (const int Id : Ids)
        if (Id == 0 || ActionOf(Id) != nullptr)
            Items.append({Id, PropertiesOf(Id, PropertyNames)});
    return Items;
}

QDBusVariant TDBusMenuExporter::GetProperty(int Id, const QString& Name) {
    return QDBusVariant(PropertiesOf(Id, {Name}).value(Name));
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
        if (E.Id != 0 && ActionOf(E.Id) == nullptr)
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
    const QList<QAction*> Before = Menu->actions();
    Q_EMIT Menu->aboutToShow();
    return Menu->actions() != Before;
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
            if (ActionOf(Id) != nullptr)
                Updated.append({Id, PropertiesOf(Id, {})});
        FChangedItems.clear();
        if (!Updated.isEmpty())
            Q_EMIT ItemsPropertiesUpdated(Updated, {});
    }
    if (!FChangedLayouts.isEmpty()) {
        // One announcement for the turn: the submenu that changed, or the whole menu.
        const int Parent = FChangedLayouts.size() == 1 ? *FChangedLayouts.cbegin() : 0;
        FChangedLayouts.clear();
        ++FRevision;
        Q_EMIT LayoutUpdated(FRevision, Parent);
    }
}
