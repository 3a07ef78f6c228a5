#include "uTrayMenuBuilder.h"

#include "uConst.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uTImageList.h"
#include "uTMenuItemManager.h"
#include "uTTrayMenu.h"
#include "uTURLMenuItem.h"
#include "uTools.h"

#include <QMenu>
#include <QSet>
#include <memory>
#include <unordered_map>

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

// One menu level during a build: its entries by match key (only entries that can
// hold children: categories and the existing entries, never a shop), and its
// current first entry, so inserting at position 0 needs no scan of the list.
struct TLevel {
    QMenu* Menu = nullptr; // null for a plain fixed entry until something lands under it
    QAction* Entry = nullptr;
    QAction* First = nullptr;
    bool Seeded = true;
    std::unordered_map<QString, std::unique_ptr<TLevel>> Children;

    void Seed() {
        if (Seeded)
            return;
        Seeded = true;
        if (Menu == nullptr)
            return;
        const QList<QAction*> Actions = Menu->actions();
        First = Actions.value(0);
        for (QAction* Action : Actions) {
            if (Action->isSeparator())
                continue;
            const QString Key = MatchKey(Action->text());
            if (Children.count(Key) != 0)
                continue; // the first entry of a caption wins
            auto Level = std::make_unique<TLevel>();
            Level->Entry = Action;
            Level->Menu = Action->menu();
            Level->Seeded = false;
            Children.emplace(Key, std::move(Level));
        }
    }

    // A fixed entry without submenu that receives shops gets one of its own.
    QMenu* EnsureMenu(QMenu& Root) {
        if (Menu == nullptr) {
            Menu = new QMenu(Entry->text(), &Root);
            Menu->setProperty(BuiltSubmenuProperty, true);
            Entry->setMenu(Menu);
        }
        return Menu;
    }

    // The menu that will receive shop entries.
    QMenu* ShopMenu(QMenu& Root) {
        QMenu* Target = EnsureMenu(Root);
        TURLMenuItem::RouteClicksOf(*Target);
        return Target;
    }

    void InsertFirst(QAction* Action) {
        Menu->insertAction(First, Action);
        First = Action;
    }
};

TLevel* ResolveCategory(TLevel& Root, QMenu& RootMenu, const QStringList& Path) {
    TLevel* Current = &Root;
    for (const QString& Name : Path) {
        Current->Seed();
        const QString Key = MatchKey(EscapeAmpersands(Name));
        auto Found = Current->Children.find(Key);
        if (Found != Current->Children.end()) {
            Current = Found->second.get();
            continue;
        }
        QMenu* Parent = Current->EnsureMenu(RootMenu);
        auto Level = std::make_unique<TLevel>();
        Level->Menu = new QMenu(MenuCaption(Name), Parent);
        Level->Entry = Level->Menu->menuAction();
        Current->InsertFirst(Level->Entry);
        TLevel* Next = Level.get();
        Current->Children.emplace(Key, std::move(Level));
        Current = Next;
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
        return !FKeyExists || ReadSettingBool(FKey, Shop.Name, true);
    }

private:
    QSet<QString> FKeyed;
    bool FValid = false;
    bool FKeyExists = false;
    QString FCategory;
    QString FKey;
};

void AddPersonalLinks(QMenu& Menu, const TMenuBuildInput& Input) {
    if (Input.Links.GetNames().isEmpty())
        return;
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
    if (Input.OnNewLink) {
        // Queued: the handler rebuilds the menu, which deletes this very entry.
        QObject::connect(
            NewLink, &QAction::triggered, &Menu, [Handler = Input.OnNewLink] { Handler(); }, Qt::QueuedConnection);
    }
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
}

void BuildTrayMenu(QMenu& Menu, const TMenuBuildInput& Input) {
    // Repaint once at the end, also when a settings read throws half-way.
    struct TUpdateBracket {
        QMenu& Menu;
        const bool Enabled;
        explicit TUpdateBracket(QMenu& M) : Menu(M), Enabled(M.updatesEnabled()) { Menu.setUpdatesEnabled(false); }
        ~TUpdateBracket() { Menu.setUpdatesEnabled(Enabled); }
    } Bracket(Menu);
    ClearDynamicPart(Menu);

    TSettingsReadTransaction Reads;
    TLevel Root;
    Root.Menu = &Menu;
    Root.Seeded = false;
    Root.Seed();

    TVisibility Visibility;
    const QIcon Globe = Input.Images.Icon(TImageList::GlobeIndex);
    // GetShopURL reads the server address from the settings each time: take its
    // prefix once, the id is all that differs.
    TShop Probe;
    QString ShopURLPrefix = Probe.GetShopURL();
    ShopURLPrefix.chop(QString::number(Probe.Id).size());
    const TShop* Previous = nullptr;
    TLevel* Target = nullptr;
    for (auto It = Input.SortedShops.crbegin(); It != Input.SortedShops.crend(); ++It) {
        const TShop& Shop = **It;
        if (!Visibility.IsVisible(Shop))
            continue;
        // The list is sorted by category: resolve the path once per run of equal categories.
        if (Previous == nullptr || Previous->Category != Shop.Category) {
            Target = ResolveCategory(Root, Menu, Shop.GetCategoryPath());
            Target->Seed();
            Target->ShopMenu(Menu);
        }
        Previous = &Shop;

        auto* Entry = new TURLMenuItem(Target->Menu, ShopURLPrefix + QString::number(Shop.Id), Shop.Name, Shop.Site,
                                       TURLMenuItem::TRouting::OwningMenu);
        Entry->SetParams(Input.Params);
        if (Shop.ImageIndex > 0 && Shop.ImageIndex < Input.Images.Count()) {
            Entry->SetImageIndex(Shop.ImageIndex);
            Entry->setIcon(Input.Images.Icon(Shop.ImageIndex));
        } else {
            Entry->setIcon(Globe);
        }
        if (Shop.IsTopShop())
            TTrayMenu::MarkTopRanked(*Entry);
        Target->InsertFirst(Entry);
    }

    AddPersonalLinks(Menu, Input);
}

bool IsShopVisible(const QString& Category, const QString& Name) {
    return ReadSettingBool(CategoryKey(Category), Name, true);
}

void SetShopVisible(const QString& Category, const QString& Name, bool Visible) {
    if (Visible)
        DeleteSettingsValue(CategoryKey(Category), Name);
    else
        WriteSettingBool(CategoryKey(Category), Name, false);
}
