#include "uTrayMenuBuilder.h"

#include "uAccessKeys.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uTImageList.h"
#include "uTMenuItemManager.h"
#include "uTMenuListing.h"
#include "uTTrayMenu.h"
#include "uTURLMenuItem.h"
#include "uTools.h"

#include <QCoreApplication>
#include <QHash>
#include <QMenu>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <memory>
#include <unordered_map>
#include <utility>

namespace {

// Marks submenus that the build attached to a fixed entry, so the next build
// removes them again (the fixed entries themselves survive every build).
constexpr const char* BuiltSubmenuProperty = "qvBuiltSubmenu";
constexpr int FixedEntryCount = 8;

// Captions match case-insensitively with every "&" removed.
QString MatchKey(const QString& Caption) {
    QString Key = Caption;
    Key.remove(QLatin1Char('&'));
    return Key.toCaseFolded();
}

// Adds Entries to an empty Menu in their order. Each insertion makes the widget
// search its entries for the new one and for the one it goes before; going
// backwards with the entry before always first halves that work for large menus.
void InsertInOrder(QMenu& Menu, const QList<QAction*>& Entries) {
    QAction* Before = nullptr;
    for (auto It = Entries.crbegin(); It != Entries.crend(); ++It) {
        Menu.insertAction(Before, *It);
        Before = *It;
    }
}

// What a build decided, kept until a submenu is first opened. The tree is shared
// by the submenus that still have to be filled and goes with the last of them.
struct TMenuNode;
struct TMenuEntry {
    TShopPtr Shop;             // a shop entry, or
    TMenuNode* Node = nullptr; // a category submenu
};

struct TMenuNode {
    QString Caption;
    QAction* Fixed = nullptr; // a fixed top-level entry whose submenu this level becomes
    std::vector<TMenuEntry> Entries;
    // Levels below by match key (categories, and on the top level the fixed entries);
    // needed only while building.
    std::unordered_map<QString, TMenuNode*> Children;
};

struct TMenuTree final : TBuiltMenu {
    std::deque<TMenuNode> Nodes;
    const TMenuNode* RootNode = nullptr;
    // The drawn submenu of each level once made, and the shop entries of the top level.
    QHash<const TMenuNode*, QPointer<QMenu>> Menus;
    QHash<uint32_t, QPointer<QAction>> TopLevelShops; // by place among the root's entries
    QPointer<QMenu> LinksMenu;
    // Where each shop stands (level, place), worked out at the first icon that arrives.
    std::unordered_multimap<int32_t, std::pair<const TMenuNode*, uint32_t>> ShopPlaces;
    bool PlacesKnown = false;

    void ShopIconChanged(int32_t ShopId) override;
    void LinkIconChanged(const QString& Name, int Index) override;

    QString ShopURLPrefix;
    QString Params;
    const TImageList* Images = nullptr;
    QIcon Globe;
    QPointer<QMenu> Root;

    TMenuNode& NewNode(const QString& Caption) {
        TMenuNode& Node = Nodes.emplace_back();
        Node.Caption = Caption;
        return Node;
    }

    // A shop without a name shows its address, as the drawn entry does.
    QString ShopCaption(const TShop& Shop) const {
        const QString Name = Shop.GetName();
        return MenuCaption(Name.isEmpty() ? ShopURLPrefix + QString::number(Shop.Id) : Name);
    }

    QAction* NewShopEntry(QMenu& Owner, const TShop& Shop) const {
        auto* Entry = new TURLMenuItem(&Owner, ShopURLPrefix + QString::number(Shop.Id), Shop.GetName(), Shop.GetSite(),
                                       TURLMenuItem::TRouting::OwningMenu);
        Entry->SetParams(Params);
        ShowShopIcon(*Entry, Shop.Id);
        if (Shop.IsTopShop())
            TTrayMenu::MarkTopRanked(*Entry);
        return Entry;
    }

    void ShowShopIcon(TURLMenuItem& Entry, int32_t ShopId) const {
        const int Image = Images->ShopIndex(ShopId);
        Entry.SetImageIndex(Image > 0 ? Image : TImageList::GlobeIndex);
        Entry.setIcon(Image > 0 ? Images->Icon(Image) : Globe);
    }
};

// A category submenu that gets its entries when it is first about to show (a
// pop-up, the menu window), or already when the pointer or the keyboard reaches
// its entry, so the pop-up is placed with its real size. The menu handed to the
// desktop reads the entries from the listing instead, without making them.
class TLazyMenu final : public QMenu, public TMenuListing {
public:
    TLazyMenu(const QString& Title, QWidget* Parent, std::shared_ptr<TMenuTree> Tree, const TMenuNode& Node)
        : QMenu(Title, Parent), FTree(std::move(Tree)), FNode(Node) {
        FTree->Menus.insert(&Node, this);
        connect(this, &QMenu::aboutToShow, this, &TLazyMenu::Fill);
        FillSubmenusOnHover(*this);
        // The drawn menu places its submenus beside itself, also those made now.
        if (FTree->Root)
            installEventFilter(FTree->Root);
    }

    void Fill() {
        if (FFilled)
            return;
        FFilled = true;
        const std::vector<uint32_t>& Places = Slots();
        FShopEntries.reserve(static_cast<qsizetype>(FNode.Entries.size() - FChildren.size()));
        QList<QAction*> Entries;
        Entries.reserve(static_cast<qsizetype>(FNode.Entries.size()));
        for (size_t I = 0; I < FNode.Entries.size(); ++I) {
            const TMenuEntry& Entry = FNode.Entries[I];
            if (Entry.Node != nullptr) {
                Entries.append(Child(Places[I], static_cast<qsizetype>(I), *Entry.Node)->menuAction());
            } else {
                QAction* Shop = FTree->NewShopEntry(*this, *Entry.Shop);
                Shop->setText(Captions()[I]);
                FShopEntries.append(Shop);
                Entries.append(Shop);
            }
        }
        if (!FShopEntries.isEmpty())
            TURLMenuItem::RouteClicksOf(*this);
        InsertInOrder(*this, Entries);
    }

    // The entries at Places show their shop's icon as the image list has it now; the
    // desktop's copy of this level is told to read them again.
    void ShopIconsChanged(const QList<qsizetype>& Places) {
        if (FFilled) {
            const std::vector<uint32_t>& Slots = this->Slots();
            for (const qsizetype Place : Places) {
                const TMenuEntry& Entry = FNode.Entries[static_cast<size_t>(Place)];
                if (Entry.Node == nullptr)
                    FTree->ShowShopIcon(*static_cast<TURLMenuItem*>(FShopEntries.at(Slots[static_cast<size_t>(Place)])),
                                        Entry.Shop->Id);
            }
        }
        TListingChangedEvent Changed(Places);
        QCoreApplication::sendEvent(this, &Changed);
    }

    bool HasListing() const override { return true; }
    qsizetype ListingCount() const override { return static_cast<qsizetype>(FNode.Entries.size()); }

    TEntry ListingEntry(qsizetype Index) override {
        const TMenuEntry& Entry = FNode.Entries[static_cast<size_t>(Index)];
        const QString& Caption = Captions()[Index];
        if (Entry.Node != nullptr)
            return {Caption, {}, Child(Slots()[static_cast<size_t>(Index)], Index, *Entry.Node)};
        const TShop& Shop = *Entry.Shop;
        const int Image = FTree->Images->ShopIndex(Shop.Id);
        return {Caption, Image > 0 ? FTree->Images->Icon(Image) : FTree->Globe, nullptr};
    }

    void ChooseListed(qsizetype Index) override {
        const TMenuEntry& Entry = FNode.Entries[static_cast<size_t>(Index)];
        if (Entry.Node != nullptr)
            return;
        if (FFilled) {
            // The entry the drawn menu holds, with whatever it is connected to.
            FShopEntries.at(Slots()[static_cast<size_t>(Index)])->trigger();
            return;
        }
        const std::unique_ptr<QAction> Shop(FTree->NewShopEntry(*this, *Entry.Shop));
        static_cast<TURLMenuItem&>(*Shop).Click();
    }

    static void FillSubmenusOnHover(QMenu& Menu) {
        if (Menu.property(FillsOnHoverProperty).toBool())
            return;
        Menu.setProperty(FillsOnHoverProperty, true);
        connect(&Menu, &QMenu::hovered, &Menu, [](QAction* Action) {
            if (auto* Lazy = dynamic_cast<TLazyMenu*>(Action->menu()))
                Lazy->Fill();
        });
    }

protected:
    // A closed pop-up keeps its window and, behind it, a picture of the whole window:
    // for a long category spread over the screen in columns that is megabytes, held
    // for the rest of the session. Both go; the next opening makes them again.
    void hideEvent(QHideEvent* Event) override {
        QMenu::hideEvent(Event);
        if (isWindow() && qint64(width()) * height() >= LargeWindowPixels)
            QTimer::singleShot(0, this, [this] {
                if (!isVisible() && isWindow() && windowHandle() != nullptr)
                    destroy();
            });
    }

private:
    static constexpr const char* FillsOnHoverProperty = "qvFillsOnHover";
    static constexpr qint64 LargeWindowPixels = 512 * 512;

    // Per entry, its place among the nested levels or among the shops; worked out
    // when the level is first read, not for every category at each build.
    const std::vector<uint32_t>& Slots() {
        if (FSlots.size() != FNode.Entries.size()) {
            FSlots.reserve(FNode.Entries.size());
            uint32_t Levels = 0;
            uint32_t Shops = 0;
            for (const TMenuEntry& Entry : FNode.Entries)
                FSlots.push_back(Entry.Node != nullptr ? Levels++ : Shops++);
            FChildren.resize(Levels);
        }
        return FSlots;
    }

    // The nested level, made once: by the listing or by the fill, whichever comes first.
    TLazyMenu* Child(uint32_t Which, qsizetype Index, const TMenuNode& Node) {
        QPointer<TLazyMenu>& Sub = FChildren[Which];
        if (!Sub)
            Sub = new TLazyMenu(Captions()[Index], this, FTree, Node);
        return Sub;
    }

    // The entries' captions with an access key of their own each, while keys last;
    // the same for the drawn menu and the desktop's copy.
    const QStringList& Captions() {
        if (FCaptions.size() != static_cast<qsizetype>(FNode.Entries.size())) {
            QStringList Plain;
            Plain.reserve(static_cast<qsizetype>(FNode.Entries.size()));
            for (const TMenuEntry& Entry : FNode.Entries)
                Plain << (Entry.Node != nullptr ? Entry.Node->Caption : FTree->ShopCaption(*Entry.Shop));
            QSet<QChar> Taken;
            FCaptions = AssignAccessKeys(Plain, Taken);
        }
        return FCaptions;
    }

    // Kept after the fill: the desktop's copy of this level reads the listing.
    const std::shared_ptr<TMenuTree> FTree;
    const TMenuNode& FNode;
    std::vector<uint32_t> FSlots;               // see Slots()
    std::vector<QPointer<TLazyMenu>> FChildren; // the nested levels in order
    QStringList FCaptions;                      // see Captions()
    QList<QAction*> FShopEntries;               // once filled: the shop entries in order
    bool FFilled = false;
};

void TMenuTree::ShopIconChanged(int32_t ShopId) {
    if (!PlacesKnown) {
        PlacesKnown = true;
        for (const TMenuNode& Node : Nodes)
            for (uint32_t I = 0; I < Node.Entries.size(); ++I)
                if (Node.Entries[I].Node == nullptr)
                    ShopPlaces.emplace(Node.Entries[I].Shop->Id, std::make_pair(&Node, I));
    }
    QHash<const TMenuNode*, QList<qsizetype>> ByLevel;
    const auto [First, Last] = ShopPlaces.equal_range(ShopId);
    for (auto It = First; It != Last; ++It) {
        const auto [Node, Place] = It->second;
        if (Node == RootNode) {
            if (auto* Entry = qobject_cast<TURLMenuItem*>(TopLevelShops.value(Place).data()))
                ShowShopIcon(*Entry, ShopId);
        } else {
            ByLevel[Node].append(Place);
        }
    }
    // A level nobody has opened yet has no entries to change: it reads the image list when it opens.
    for (auto It = ByLevel.cbegin(); It != ByLevel.cend(); ++It)
        if (auto* Level = static_cast<TLazyMenu*>(Menus.value(It.key()).data()))
            Level->ShopIconsChanged(It.value());
}

void TMenuTree::LinkIconChanged(const QString& Name, int Index) {
    if (!LinksMenu)
        return;
    // Captions carry an access key mark; the link is known by what it shows.
    const QString Caption = ShownCaption(MenuCaption(Name));
    for (QAction* Action : LinksMenu->actions()) {
        auto* Entry = qobject_cast<TURLMenuItem*>(Action);
        if (Entry != nullptr && ShownCaption(Entry->text()) == Caption) {
            Entry->SetImageIndex(Index);
            Entry->setIcon(Images->Icon(Index));
        }
    }
}

TMenuNode* ResolveCategory(TMenuTree& Tree, TMenuNode& Root, const QStringList& Path) {
    TMenuNode* Current = &Root;
    for (const QString& Name : Path) {
        const QString Key = MatchKey(EscapeAmpersands(Name));
        const auto Found = Current->Children.find(Key);
        if (Found != Current->Children.end()) {
            Current = Found->second;
            continue;
        }
        TMenuNode& Level = Tree.NewNode(MenuCaption(Name));
        Current->Entries.push_back({nullptr, &Level});
        Current->Children.emplace(Key, &Level);
        Current = &Level;
    }
    return Current;
}

// Removes the dynamic part: every top-level entry above the last eight, and the
// submenus an earlier build attached to fixed entries.
void ClearDynamicPart(QMenu& Menu) {
    const QList<QAction*> Actions = Menu.actions();
    const qsizetype Excess = Actions.size() - FixedEntryCount;
    for (qsizetype I = 0; I < Excess; ++I) {
        QAction* Action = Actions[I];
        QMenu* Sub = Action->menu();
        if (Sub != nullptr && Sub->parent() == &Menu && Sub->menuAction() == Action)
            delete Sub; // takes its entry and everything below it along
        else if (Action->parent() == &Menu)
            delete Action;
        else
            Menu.removeAction(Action);
    }
    for (qsizetype I = std::max<qsizetype>(Excess, 0); I < Actions.size(); ++I) {
        QAction* Action = Actions[I];
        QMenu* Sub = Action->menu();
        if (Sub != nullptr && Sub->property(BuiltSubmenuProperty).toBool()) {
            Action->setMenu(nullptr);
            delete Sub;
        }
    }
}

// Visibility without a settings probe per shop: a category without a key of its
// own has no hidden shops, so its shops need no value reads. The keys below
// "categories" are listed once; folding may only make more names equal than the
// store does, which costs reads but never hides a shop.
class TVisibility final {
public:
    TVisibility() {
        for (const QString& Name : GetSettingsKeyNames(QLatin1String(CategoriesKey)))
            FKeyed.insert(Name.toCaseFolded());
    }

    bool IsVisible(const TShop& Shop) {
        if (!FValid || Shop.Category != FCategory) {
            FCategory = Shop.Category;
            FKey = CategoryKey(Shop.Category);
            // A "\" in a category names a nested key that the list does not show.
            FKeyExists = Shop.Category.isEmpty() || Shop.Category.contains(QLatin1Char('\\'))
                             ? SettingsKeyExists(FKey)
                             : FKeyed.contains(Shop.Category.toCaseFolded());
            FValid = true;
        }
        return !FKeyExists || ReadSettingBool(FKey, Shop.GetName(), true);
    }

private:
    QSet<QString> FKeyed;
    bool FValid = false;
    bool FKeyExists = false;
    QString FCategory;
    QString FKey;
};

QMenu* AddPersonalLinks(QMenu& Menu, const TMenuBuildInput& Input) {
    if (Input.Links.GetNames().isEmpty())
        return nullptr;
    auto* Links = new QMenu(QStringLiteral("Eigene Links"), &Menu);
    Links->menuAction()->setObjectName(QStringLiteral("miPersonalLinks"));
    auto* Separator = new QAction(&Menu);
    Separator->setSeparator(true);
    QAction* const First = Menu.actions().value(0);
    Menu.insertAction(First, Separator);
    Menu.insertAction(Separator, Links->menuAction());
    FillLinksMenu(Links, Input.Links, 0, Input.Images);
    Links->addSeparator();
    QAction* NewLink = Links->addAction(QStringLiteral("Neuer Link..."));
    NewLink->setObjectName(QStringLiteral("miNewLink"));
    AssignMenuAccessKeys(*Links, Links->actions().size() - 1);
    if (Input.OnNewLink) {
        // Queued: the handler rebuilds the menu, which deletes this very entry.
        QObject::connect(
            NewLink, &QAction::triggered, &Menu, [Handler = Input.OnNewLink] { Handler(); }, Qt::QueuedConnection);
    }
    return Links;
}

} // namespace

TFixedEntries CreateFixedEntries(QMenu& Menu, const TImageList& Images) {
    auto Add = [&](const char* Name, const QString& Caption, int Image) {
        QAction* Action = Menu.addAction(Images.Icon(Image), Caption);
        Action->setObjectName(QLatin1String(Name));
        return Action;
    };
    auto Line = [&](const char* Name) {
        QAction* Action = Menu.addSeparator();
        Action->setObjectName(QLatin1String(Name));
        return Action;
    };
    TFixedEntries E;
    E.miLineCategories = Line("miLineCategories");
    E.miStyleVoting = Add("miStyleVoting", QStringLiteral("Style Voting"), 7);
    E.miEbay = Add("miEbay", QStringLiteral("&eBay Galerie"), 6);
    E.miSearch = Add("miSearch", QStringLiteral("&Suchen"), 4);
    E.miSettings = Add("miSettings", txtSettings(), 3);
    E.miInfo = Add("miInfo", txtMenuInfo(), 2);
    E.miLineClose = Line("miLineClose");
    E.miClose = Add("miClose", txtMenuExit(), 1);
    AssignMenuAccessKeys(Menu, Menu.actions().size() - FixedEntryCount);
    return E;
}

void ApplyFixedEntryTexts(const TFixedEntries& Entries) {
    auto Set = [](QAction* Action, const QString& Caption) {
        if (Action == nullptr)
            return;
        Action->setText(Caption);
        if (QMenu* Sub = Action->menu())
            Sub->setTitle(Caption);
    };
    Set(Entries.miClose, txtMenuExit());
    Set(Entries.miSettings, txtSettings());
    Set(Entries.miInfo, txtMenuInfo());
    if (auto* Menu = Entries.miClose ? qobject_cast<QMenu*>(Entries.miClose->parent()) : nullptr)
        AssignMenuAccessKeys(*Menu, Menu->actions().size() - FixedEntryCount);
}

std::shared_ptr<TBuiltMenu> BuildTrayMenu(QMenu& Menu, const TMenuBuildInput& Input) {
    // Repaint once at the end, also when a settings read throws half-way.
    struct TUpdateBracket {
        QMenu& Menu;
        const bool Enabled;
        explicit TUpdateBracket(QMenu& M) : Menu(M), Enabled(M.updatesEnabled()) { Menu.setUpdatesEnabled(false); }
        ~TUpdateBracket() { Menu.setUpdatesEnabled(Enabled); }
    } Bracket(Menu);
    ClearDynamicPart(Menu);

    TSettingsReadTransaction Reads;
    auto Tree = std::make_shared<TMenuTree>();
    Tree->Params = Input.Params;
    Tree->Images = &Input.Images;
    Tree->Globe = Input.Images.Icon(TImageList::GlobeIndex);
    Tree->Root = &Menu;
    // GetShopURL reads the server address from the settings each time: take its
    // prefix once, the id is all that differs.
    TShop Probe;
    Tree->ShopURLPrefix = Probe.GetShopURL();
    Tree->ShopURLPrefix.chop(QString::number(Probe.Id).size());

    // The top level already holds the fixed entries: a category of the same
    // caption lands below the first of them.
    TMenuNode& Root = Tree->NewNode(Menu.title());
    Tree->RootNode = &Root;
    for (QAction* Action : Menu.actions()) {
        if (Action->isSeparator())
            continue;
        const QString Key = MatchKey(Action->text());
        if (Root.Children.count(Key) != 0)
            continue;
        TMenuNode& Fixed = Tree->NewNode(Action->text());
        Fixed.Fixed = Action;
        Root.Children.emplace(Key, &Fixed);
    }

    // Backwards, each entry going in front of its level, as the menu was always
    // built; the levels are turned round once at the end.
    TVisibility Visibility;
    const TShop* Previous = nullptr;
    TMenuNode* Target = nullptr;
    for (auto It = Input.SortedShops.crbegin(); It != Input.SortedShops.crend(); ++It) {
        const TShop& Shop = **It;
        if (!Visibility.IsVisible(Shop))
            continue;
        // The list is sorted by category: resolve the path once per run of equal categories.
        if (Previous == nullptr || Previous->Category != Shop.Category)
            Target = ResolveCategory(*Tree, Root, Shop.GetCategoryPath());
        Previous = &Shop;
        Target->Entries.push_back({*It, nullptr});
    }
    for (TMenuNode& Node : Tree->Nodes) {
        std::reverse(Node.Entries.begin(), Node.Entries.end());
        std::unordered_map<QString, TMenuNode*>().swap(Node.Children);
    }

    // The top level at once, every submenu when it is first opened.
    QList<QAction*> TopLevel;
    bool TopLevelShops = false;
    for (uint32_t I = 0; I < Root.Entries.size(); ++I) {
        const TMenuEntry& Entry = Root.Entries[I];
        if (Entry.Node != nullptr) {
            TopLevel.append((new TLazyMenu(Entry.Node->Caption, &Menu, Tree, *Entry.Node))->menuAction());
        } else {
            TopLevel.append(Tree->NewShopEntry(Menu, *Entry.Shop));
            Tree->TopLevelShops.insert(I, TopLevel.last());
            TopLevelShops = true;
        }
    }
    if (TopLevelShops)
        TURLMenuItem::RouteClicksOf(Menu);
    TLazyMenu::FillSubmenusOnHover(Menu);
    Menu.insertActions(Menu.actions().value(0), TopLevel);
    for (const TMenuNode& Node : Tree->Nodes) {
        if (Node.Fixed == nullptr || Node.Entries.empty())
            continue;
        auto* Sub = new TLazyMenu(Node.Caption, &Menu, Tree, Node);
        Sub->setProperty(BuiltSubmenuProperty, true);
        Node.Fixed->setMenu(Sub);
    }

    Tree->LinksMenu = AddPersonalLinks(Menu, Input);
    // The fixed entries first: their keys stay whatever the catalogue holds.
    AssignMenuAccessKeys(Menu, Menu.actions().size() - FixedEntryCount);
    return Tree;
}
