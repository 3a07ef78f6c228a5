#include "uTDesktopMenu.h"

#include "uTMenuListing.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QMenu>
#include <QSignalBlocker>

#include <utility>

namespace {

// On a mirrored submenu: whether its own entries have joined yet.
constexpr const char* FilledProperty = "qvMirrorFilled";

QMenu* MirrorSubmenu(QAction& SourceEntry, QMenu& Source, QMenu& Parent);

// Entries that are submenus get a mirror of their own at once; the others
// (shops, links, fixed entries) are shared with the drawn menu.
void AddSkeletonOf(QMenu& Source, QMenu& Target, bool WithLeaves) {
    for (QAction* Action : Source.actions()) {
        if (QMenu* Sub = Action->menu())
            Target.addAction(MirrorSubmenu(*Action, *Sub, Target)->menuAction());
        else if (WithLeaves)
            Target.addAction(Action);
    }
}

// On a mirrored submenu's entry: the drawn submenu it mirrors.
constexpr const char* MirrorOfProperty = "qvMirrorOf";

QObject* MirrorOf(const QAction* Entry) {
    return Entry != nullptr ? qvariant_cast<QObject*>(Entry->property(MirrorOfProperty)) : nullptr;
}

// Adds the entries of Source around the nested submenus that MirrorMenu
// already holds, once.
void FillMirror(QMenu& MirrorMenu, QMenu* Source) {
    if (Source == nullptr || MirrorMenu.property(FilledProperty).toBool())
        return;
    MirrorMenu.setProperty(FilledProperty, true);
    // The drawn menu fills a submenu when it is about to show.
    Q_EMIT Source->aboutToShow();
    // The mirror holds the nested submenus known when it was made, in the drawn
    // order; everything else goes in between, each before the next of those.
    const QList<QAction*> Nested = MirrorMenu.actions();
    QList<std::pair<QAction*, QAction*>> Inserts; // (before, entry)
    qsizetype Next = 0;
    for (QAction* Action : Source->actions()) {
        QMenu* Sub = Action->menu();
        if (Sub != nullptr && Next < Nested.size() && MirrorOf(Nested[Next]) == Sub) {
            ++Next;
            continue;
        }
        QAction* Entry = Sub != nullptr ? MirrorSubmenu(*Action, *Sub, MirrorMenu)->menuAction() : Action;
        Inserts.append(std::make_pair(Nested.value(Next), Entry));
    }
    if (Inserts.isEmpty())
        return;
    // The exported menu announces every single insertion to the panel as a
    // layout change; one for the whole submenu is enough. (QPlatformMenu is a
    // QObject by single inheritance; its header is not public.)
    // Backwards, each entry before the one inserted last: the widget then finds
    // the entry to insert before at once instead of searching a long list for it.
    auto Insert = [&](qsizetype I, QAction*& Anchor, QAction*& AnchorOf) {
        if (Inserts[I].first != AnchorOf || Anchor == nullptr) {
            AnchorOf = Inserts[I].first;
            Anchor = AnchorOf;
        }
        MirrorMenu.insertAction(Anchor, Inserts[I].second);
        Anchor = Inserts[I].second;
    };
    QAction* Anchor = nullptr;
    QAction* AnchorOf = nullptr;
    {
        const QSignalBlocker Quiet(reinterpret_cast<QObject*>(MirrorMenu.platformMenu()));
        for (qsizetype I = Inserts.size() - 1; I > 0; --I)
            Insert(I, Anchor, AnchorOf);
    }
    Insert(0, Anchor, AnchorOf);
}

// A mirrored submenu. When the drawn one can list its entries without making
// them, so can the mirror: it passes the listing on, with nested levels
// mirrored when they are first listed, and holds no entries of its own.
class TMirrorMenu final : public QMenu, public TMenuListing {
public:
    TMirrorMenu(const QString& Title, QWidget* Parent, QMenu& Source) : QMenu(Title, Parent), FSource(&Source) {
        // Changed entries of the drawn level are changed entries of this copy.
        Source.installEventFilter(this);
    }

    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Watched == FSource && Event->type() == TListingChangedEvent::EventType()) {
            TListingChangedEvent Copy(static_cast<TListingChangedEvent*>(Event)->Indexes());
            QCoreApplication::sendEvent(this, &Copy);
        }
        return QMenu::eventFilter(Watched, Event);
    }

    bool HasListing() const override { return Listing() != nullptr; }
    qsizetype ListingCount() const override {
        const TMenuListing* Drawn = Listing();
        return Drawn != nullptr ? Drawn->ListingCount() : 0;
    }
    TEntry ListingEntry(qsizetype Index) override {
        TMenuListing* Drawn = Listing();
        if (Drawn == nullptr)
            return {};
        TEntry Entry = Drawn->ListingEntry(Index);
        if (Entry.Submenu != nullptr)
            Entry.Submenu = MirrorOf(*Entry.Submenu);
        return Entry;
    }
    void ChooseListed(qsizetype Index) override {
        if (TMenuListing* Drawn = Listing())
            Drawn->ChooseListed(Index);
    }

private:
    TMenuListing* Listing() const {
        auto* Drawn = dynamic_cast<TMenuListing*>(FSource.data());
        return Drawn != nullptr && Drawn->HasListing() ? Drawn : nullptr;
    }
    QMenu* MirrorOf(QMenu& Nested) {
        QPointer<QMenu>& Mirror = FMirrors[&Nested];
        if (!Mirror)
            Mirror = MirrorSubmenu(*Nested.menuAction(), Nested, *this);
        return Mirror;
    }

    const QPointer<QMenu> FSource;
    QHash<QMenu*, QPointer<QMenu>> FMirrors;
};

// SourceEntry is the entry that opens Source: its menuAction, or a fixed entry
// that was given a submenu.
QMenu* MirrorSubmenu(QAction& SourceEntry, QMenu& Source, QMenu& Parent) {
    auto* Mirror = new TMirrorMenu(SourceEntry.text(), &Parent, Source);
    QAction* Entry = Mirror->menuAction();
    Entry->setIcon(SourceEntry.icon());
    Entry->setObjectName(SourceEntry.objectName());
    Entry->setVisible(SourceEntry.isVisible());
    Entry->setEnabled(SourceEntry.isEnabled());
    Entry->setProperty(MirrorOfProperty, QVariant::fromValue(static_cast<QObject*>(&Source)));
    if (!Mirror->HasListing()) {
        // Nested submenus that exist already are mirrored now, so the desktop knows
        // at once which entries open a submenu; the rest follows when it opens.
        AddSkeletonOf(Source, *Mirror, false);
        // Guarded: a rebuild deletes the drawn submenus before it replaces the mirror.
        QObject::connect(Mirror, &QMenu::aboutToShow, Mirror,
                         [Mirror, Drawn = QPointer<QMenu>(&Source)] { FillMirror(*Mirror, Drawn); });
    }
    // The title follows the drawn submenu (language switch of a fixed entry with a submenu).
    QObject::connect(&SourceEntry, &QAction::changed, Entry, [SourceEntry = &SourceEntry, Entry] {
        Entry->setText(SourceEntry->text());
        Entry->setIcon(SourceEntry->icon());
        Entry->setVisible(SourceEntry->isVisible());
        Entry->setEnabled(SourceEntry->isEnabled());
    });
    return Mirror;
}

} // namespace

bool IsWaylandSession() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

TDesktopMenu::TDesktopMenu(QObject* Parent) : QObject(Parent) {}

TDesktopMenu::~TDesktopMenu() {
    delete FRoot;
}

void TDesktopMenu::Detach() {
    if (!FRoot)
        return;
    QList<QMenu*> Menus = FRoot->findChildren<QMenu*>();
    Menus.prepend(FRoot);
    for (QMenu* Menu : Menus) {
        const QSignalBlocker Quiet(reinterpret_cast<QObject*>(Menu->platformMenu()));
        for (QAction* Action : Menu->actions())
            if (Action->menu() == nullptr)
                Menu->removeAction(Action);
    }
}

QMenu* TDesktopMenu::Mirror(QMenu& Source) {
    if (FRoot) {
        // A choice in the old mirror may be what rebuilt the menu: delete it
        // once that choice has returned.
        FRoot->hide();
        FRoot->deleteLater();
    }
    FRoot = new QMenu();
    FRoot->setTitle(Source.title());
    FRoot->setProperty(FilledProperty, true);
    AddSkeletonOf(Source, *FRoot, true);
    return FRoot;
}
