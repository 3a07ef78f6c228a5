#include "TestSupport.h"
#include "uAccessKeys.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uTImageList.h"
#include "uTMenuItemManager.h"
#include "uTMenuListing.h"
#include "uTTrayMenu.h"
#include "uTURLMenuItem.h"
#include "uTrayMenuBuilder.h"

#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString TestParams = QStringLiteral("&ref=42&check=2024-05-01&version=2.2&subid=software");

// One line per entry, nested entries indented; "*" marks bold, "[n]" the image index.
// Each submenu is opened as a user, the menu window or the desktop opens it: a
// submenu gets its entries when it is about to show.
// A caption without its access key mark; "&&" stays, as the escaped ampersand it is.
QString WithoutKey(const QString& Caption) {
    const QChar Key = AccessKeyOf(Caption);
    if (Key.isNull())
        return Caption;
    QString Result;
    bool Removed = false;
    for (qsizetype I = 0; I < Caption.size(); ++I) {
        if (Caption.at(I) == QLatin1Char('&') && I + 1 < Caption.size() && Caption.at(I + 1) == QLatin1Char('&')) {
            Result += QStringLiteral("&&");
            ++I;
        } else if (Caption.at(I) == QLatin1Char('&') && !Removed) {
            Removed = true;
        } else {
            Result += Caption.at(I);
        }
    }
    return Result;
}

void DumpMenu(const QMenu& Menu, const QString& Indent, QStringList& Lines) {
    for (QAction* Action : Menu.actions()) {
        if (Action->isSeparator()) {
            Lines << Indent + "---";
            continue;
        }
        QString Line = Indent + WithoutKey(Action->text()); // every entry has a key; where is not the point here
        if (Action->font().bold())
            Line += " *";
        if (const auto* Item = qobject_cast<const TURLMenuItem*>(Action))
            Line += QStringLiteral(" [%1]").arg(Item->ImageIndex());
        Lines << Line;
        if (QMenu* Sub = Action->menu()) {
            Q_EMIT Sub->aboutToShow();
            DumpMenu(*Sub, Indent + "  ", Lines);
        }
    }
}

QStringList Dump(const QMenu& Menu) {
    QStringList Lines;
    DumpMenu(Menu, QString(), Lines);
    return Lines;
}

const QStringList FixedDump = {"---",           "Style Voting", "eBay Galerie", "Suchen",
                               "Einstellungen", "Info",         "---",          "Beenden"};

class TrayMenuTest : public ::testing::Test {
protected:
    TTempEnvironment Env;
    TImageList Images = TImageList::WithFixedPictures();
    TTrayMenu Menu;
    TFixedEntries Fixed;
    TMenuItemManager Links{QStringLiteral("favorites")};
    TShopList Shops;
    int NewLinkCalls = 0;

    void SetUp() override {
        SetCurrentLanguage(0);
        Fixed = CreateFixedEntries(Menu, Images);
    }

    void AddShop(const QString& Category, const QString& Name, int Id = 1, int Ranking = 1000) {
        auto Shop = std::make_shared<TShop>();
        Shop->Category = Category;
        Shop->SetName(Name);
        Shop->Id = Id;
        Shop->Ranking = Ranking;
        Shop->SetSite("http://site" + QString::number(Id) + ".example");
        Shops.push_back(Shop);
    }

    // The catalogue's order: ASCII-upper(Category + Name), so "->" sorts before letters.
    void Build() {
        std::stable_sort(Shops.begin(), Shops.end(), [](const TShopPtr& A, const TShopPtr& B) {
            return (A->Category + A->GetName()).toUpper() < (B->Category + B->GetName()).toUpper();
        });
        BuildTrayMenu(Menu, TMenuBuildInput{Shops, TestParams, Links, Images, [this] { ++NewLinkCalls; }});
    }
};

TEST_F(TrayMenuTest, EmptyCatalogueShowsExactlyTheEightFixedEntries) {
    Build();
    EXPECT_EQ(Dump(Menu), FixedDump);
    Build();
    EXPECT_EQ(Dump(Menu), FixedDump);
}

TEST_F(TrayMenuTest, NestedCategoriesComeBeforeShopsOfTheParent) {
    AddShop("Mode", "Gamma", 3);
    AddShop("Mode->Schuhe", "Alpha", 1);
    AddShop("Mode->Schuhe", "beta", 2);
    AddShop("Technik", "Delta", 4);
    Build();
    const QStringList Expected =
        QStringList{"Mode", "  Schuhe", "    Alpha [5]", "    beta [5]", "  Gamma [5]", "Technik", "  Delta [5]"} +
        FixedDump;
    EXPECT_EQ(Dump(Menu), Expected);
    // Category submenus carry no side bar.
    EXPECT_EQ(qobject_cast<TTrayMenu*>(Menu.actions().at(0)->menu()), nullptr);
}

TEST_F(TrayMenuTest, ShopNamedLikeASubcategoryStaysAShop) {
    AddShop("Mode", "Gamma", 3);
    AddShop("Mode", "Schuhe", 4);
    AddShop("Mode->Schuhe", "Alpha", 1);
    Build();
    EXPECT_EQ(Dump(Menu),
              QStringList({"Mode", "  Schuhe", "    Alpha [5]", "  Gamma [5]", "  Schuhe [5]"}) + FixedDump);
    const QMenu* Mode = Menu.actions().at(0)->menu();
    EXPECT_EQ(Mode->actions().at(2)->menu(), nullptr) << "the shop entry keeps its click";
}

TEST_F(TrayMenuTest, HiddenShopsAndCategoriesWithoutVisibleShopsDisappear) {
    AddShop("Mode", "Gamma", 3);
    AddShop("Mode->Schuhe", "Alpha", 1);
    AddShop("Mode->Schuhe", "beta", 2);
    SetShopVisible("Mode->Schuhe", "Alpha", false);
    WriteSettingInteger("categories\\Mode->Schuhe", "beta", 2); // only 1 counts as shown
    Build();
    EXPECT_EQ(Dump(Menu), QStringList({"Mode", "  Gamma [5]"}) + FixedDump);

    EXPECT_FALSE(IsShopVisible("Mode->Schuhe", "Alpha"));
    SetShopVisible("Mode->Schuhe", "Alpha", true);
    EXPECT_FALSE(SettingsValueExists("categories\\Mode->Schuhe", "Alpha")) << "showing deletes the value";
    EXPECT_TRUE(IsShopVisible("Mode->Schuhe", "Alpha"));
    SetShopVisible("Mode", "Gamma", false);
    AddShop("Haus\\Garten", "Laube", 5); // a backslash in a category makes a nested key
    AddShop("Haus\\Garten", "Zaun", 6);
    SetShopVisible("Haus\\Garten", "Laube", false);
    Build();
    EXPECT_EQ(Dump(Menu), QStringList({"Haus\\Garten", "  Zaun [5]", "Mode", "  Schuhe", "    Alpha [5]"}) + FixedDump);
}

TEST_F(TrayMenuTest, TopLevelShopsFixedEntryCategoriesAndAmpersands) {
    AddShop("", "Zeta & Co", 9);
    AddShop("Mode", "A & B", 1);
    AddShop("info", "Hilfe-Shop", 2);
    Build();
    const QStringList Expected = {"Mode",         "  A && B [5]", "Zeta && Co [5]", "---",  "Style Voting",
                                  "eBay Galerie", "Suchen",       "Einstellungen",  "Info", "  Hilfe-Shop [5]",
                                  "---",          "Beenden"};
    EXPECT_EQ(Dump(Menu), Expected);
    ASSERT_NE(Fixed.miInfo->menu(), nullptr) << "a category named like a fixed entry lands under it";

    // The next build without that category gives the fixed entry back its own click.
    std::erase_if(Shops, [](const TShopPtr& Shop) { return Shop->Category == "info"; });
    Build();
    EXPECT_EQ(Fixed.miInfo->menu(), nullptr);
    EXPECT_EQ(Dump(Menu), QStringList({"Mode", "  A && B [5]", "Zeta && Co [5]"}) + FixedDump);
}

TEST_F(TrayMenuTest, RebuildGivesTheIdenticalMenu) {
    AddShop("", "Solo", 5);
    AddShop("Bücher", "Leser", 6);
    AddShop("info", "Hilfe", 7);
    AddShop("Mode", "Gamma", 3);
    AddShop("Mode->Schuhe", "Alpha", 1, 3);
    Links.Save({"Wetter", "http://wetter.example", 0});
    Build();
    const QStringList First = Dump(Menu);
    const auto Count = Menu.actions().size();
    Build();
    EXPECT_EQ(Dump(Menu), First);
    EXPECT_EQ(Menu.actions().size(), Count);
    EXPECT_EQ(Menu.findChildren<QMenu*>().size(), 5) << "old submenus are deleted, not left behind";
}

TEST_F(TrayMenuTest, BoldExactlyForTopTenRanking) {
    AddShop("Mode", "Ten", 1, 10);
    AddShop("Mode", "Eleven", 2, 11);
    AddShop("Mode", "Unranked", 3);
    AddShop("Mode", "First", 4, 1);
    Build();
    EXPECT_EQ(Dump(Menu),
              QStringList({"Mode", "  Eleven [5]", "  First * [5]", "  Ten * [5]", "  Unranked [5]"}) + FixedDump);
    const QMenu* Mode = Menu.actions().at(0)->menu();
    EXPECT_NE(Mode->actions().at(0)->property("tag").toInt(), 1);
    EXPECT_EQ(Mode->actions().at(1)->property("tag").toInt(), 1);
}

TEST_F(TrayMenuTest, ShopImagesUseFaviconIndexesInRange) {
    Images.Add(QIcon(":/pictures/cart.svg")); // index 8
    AddShop("Mode", "Fav", 1);
    AddShop("Mode", "Huge", 2);
    Images.SetShopIndex(1, 8);
    Images.SetShopIndex(2, 99);
    Build();
    EXPECT_EQ(Dump(Menu), QStringList({"Mode", "  Fav [8]", "  Huge [5]"}) + FixedDump);
}

TEST_F(TrayMenuTest, PersonalLinksStandAtTheTopAndAnEmptyNameShowsTheAddress) {
    Images.Add(QIcon(":/pictures/cart.svg")); // index 8
    Links.Save({"Wetter", "http://wetter.example", 8});
    Links.Save({"-", "x", 0});
    Links.Save({"Alt", "http://alt.example", 40});
    // An address without a scheme is stored with "http://"; one with a scheme or a port stays.
    Links.Save({"Ohne", " www.example.org/x ", 0});
    Links.Save({"Port", "localhost:8080/y", 0});
    Links.Save({"Post", "mailto:a@b.example", 0});
    TURLItem Stored{"Ohne", {}, 0};
    Links.Load(Stored);
    EXPECT_EQ(Stored.URL, "http://www.example.org/x");
    Stored.Name = "Port";
    Links.Load(Stored);
    EXPECT_EQ(Stored.URL, "http://localhost:8080/y");
    Stored.Name = "Post";
    Links.Load(Stored);
    EXPECT_EQ(Stored.URL, "mailto:a@b.example");
    Links.Delete("Port");
    Links.Delete("Post");
    AddShop("Mode", "Gamma", 3);
    AddShop("Mode", "", 4);
    Build();
    // A link named "-" is a separator line that groups the links; a shop without a name
    // shows its address.
    const QString Address =
        Shops.front()->GetName().isEmpty() ? Shops.front()->GetShopURL() : Shops.back()->GetShopURL();
    const QStringList Expected =
        QStringList{"Eigene Links", "  ---",           "  Alt [5]", "  Ohne [5]", "  Wetter [8]",
                    "  ---",        "  Neuer Link...", "---",       "Mode",       "  " + Address + " [5]",
                    "  Gamma [5]"} +
        FixedDump;
    EXPECT_EQ(Dump(Menu), Expected);
    // The desktop's copy of the menu reads the same caption without making the entry.
    QMenu* Mode = Menu.actions().at(2)->menu();
    ASSERT_NE(Mode, nullptr);
    auto* Listing = dynamic_cast<TMenuListing*>(Mode);
    ASSERT_TRUE(Listing && Listing->HasListing());
    EXPECT_EQ(ShownCaption(Listing->ListingEntry(0).Caption), Address);

    QAction* NewLink = Menu.findChild<QAction*>("miNewLink");
    ASSERT_NE(NewLink, nullptr);
    NewLink->trigger();
    QApplication::processEvents();
    EXPECT_EQ(NewLinkCalls, 1);
}

TEST_F(TrayMenuTest, LongNamesAreShortenedInTheMiddleSoNoMenuGrowsPastTheScreen) {
    const QString Long = "Anfang" + QString(10000, 'x') + "Ende";
    Links.Save({Long, "http://long.example", 0});
    AddShop(Long, "Laden & " + QString(10000, 'y') + " Ende", 3);
    Build();
    const QStringList Lines = Dump(Menu);
    for (const QString& Line : Lines)
        EXPECT_LE(Line.trimmed().size(), 90) << Line.left(100).toStdString();
    const QString Ellipsis(QChar(0x2026));
    EXPECT_TRUE(Lines.contains("  Anfang" + QString(47, 'x') + Ellipsis + QString(22, 'x') + "Ende [5]"))
        << Lines.join('\n').left(2000).toStdString();
    EXPECT_TRUE(Lines.contains("Anfang" + QString(47, 'x') + Ellipsis + QString(22, 'x') + "Ende"));
    EXPECT_TRUE(Lines.contains("  Laden && " + QString(45, 'y') + Ellipsis + QString(21, 'y') + " Ende [5]"))
        << Lines.join('\n').left(2000).toStdString();
    EXPECT_LT(Menu.sizeHint().width(), 1024);
}

TEST_F(TrayMenuTest, ChoosingEntriesOpensTheirAddressesOncePerChoice) {
    TBrowserRecorder Browser;
    WriteSettingString("", "server", "http://vendor.test:8080/");
    AddShop("Mode", "A & B", 17);
    AddShop("", "Solo", 23);
    Links.Save({"Wetter", "http://wetter.example/?q=a&b=c", 0});
    Build();
    // Eigene Links, separator, Mode, Solo, fixed entries; Mode gets its entries when opened.
    QMenu* Mode = Menu.actions().at(2)->menu();
    ASSERT_NE(Mode, nullptr);
    Q_EMIT Mode->aboutToShow();
    ASSERT_EQ(Mode->actions().size(), 1);
    auto* Nested = qobject_cast<TURLMenuItem*>(Mode->actions().at(0));
    auto* TopLevel = qobject_cast<TURLMenuItem*>(Menu.actions().at(3));
    auto* Link = qobject_cast<TURLMenuItem*>(Menu.actions().at(0)->menu()->actions().at(0));
    ASSERT_TRUE(Nested && TopLevel && Link);
    EXPECT_EQ(Nested->statusTip(), "http://site17.example");

    Nested->trigger();
    EXPECT_EQ(Browser.Opened(1).size(), 1);
    TopLevel->trigger();
    EXPECT_EQ(Browser.Opened(2).size(), 2);
    Link->trigger();
    // Wait for a fourth launch that must not come.
    const QStringList Opened = Browser.Opened(4, 1500);
    EXPECT_EQ(Opened,
              QStringList({"http://vendor.test:8080/shop.php?id=17&ref=42&check=2024-05-01&version=2.2&subid=software",
                           "http://vendor.test:8080/shop.php?id=23&ref=42&check=2024-05-01&version=2.2&subid=software",
                           "http://wetter.example/?q=a&b=c"}));
}

TEST_F(TrayMenuTest, FixedEntriesFollowTheLanguage) {
    SetCurrentLanguage(1);
    ApplyFixedEntryTexts(Fixed);
    EXPECT_EQ(Fixed.miClose->text(), "E&xit");
    EXPECT_EQ(WithoutKey(Fixed.miSettings->text()), "Settings");
    SetCurrentLanguage(0);
    ApplyFixedEntryTexts(Fixed);
    EXPECT_EQ(WithoutKey(Fixed.miClose->text()), "Beenden");
}

TEST_F(TrayMenuTest, SideBarIsReservedInTheTopLevelOnly) {
    AddShop("Mode", "Gamma", 3);
    Build();
    QMenu Plain;
    for (QAction* Action : Menu.actions())
        Plain.addAction(Action);
    EXPECT_GE(Menu.sizeHint().width(), Plain.sizeHint().width() + TTrayMenu::SideBarWidth);
    Menu.SetSideBarCaption("Quorvantis");
    Menu.popup(QPoint(10, 10));
    for (QAction* Action : Menu.actions())
        EXPECT_GE(Menu.actionGeometry(Action).left(), TTrayMenu::SideBarWidth) << Action->text().toStdString();
    const QImage Shot = Menu.grab().toImage();
    const QColor Foot = Shot.pixelColor(TTrayMenu::SideBarWidth / 2, Shot.height() - 3);
    EXPECT_GT(Foot.red(), 2 * Foot.green()) << "dark red foot of the side bar";
    Menu.hide();
}

} // namespace

namespace {

// Opens the top menu at Pos and then each first-entry submenu with the keyboard, as a user does.
QList<QMenu*> OpenCascade(TTrayMenu& Menu, const QPoint& Pos, int Levels) {
    QList<QMenu*> Open{&Menu};
    Menu.popup(Pos);
    QApplication::processEvents();
    for (int Level = 0; Level < Levels; ++Level) {
        QMenu* Current = Open.last();
        Current->setActiveAction(Current->actions().at(0));
        QTest::keyClick(Current, Qt::Key_Right);
        QApplication::processEvents();
        QMenu* Sub = Current->actions().at(0)->menu();
        if (Sub == nullptr || !Sub->isVisible())
            break;
        Open << Sub;
    }
    return Open;
}

} // namespace

TEST_F(TrayMenuTest, SubmenusNeverCoverTheSideBarOrTheirParentMenu) {
    AddShop("Mode->Schuhe->Sandalen", "Sommerschritt", 1);
    AddShop("Mode->Schuhe", "Alpha", 2);
    AddShop("Mode", "Gamma", 3);
    Build();
    const QRect Screen = QApplication::primaryScreen()->availableGeometry();

    // At the notification area in the bottom right corner: the cascade goes left and stays left.
    QList<QMenu*> Open = OpenCascade(Menu, Screen.bottomRight(), 3);
    ASSERT_EQ(Open.size(), 4);
    for (int I = 1; I < Open.size(); ++I) {
        SCOPED_TRACE(I);
        EXPECT_LE(Open[I]->geometry().right(), Open[I - 1]->geometry().left() - 1);
        EXPECT_GE(Open[I]->geometry().left(), Screen.left());
    }
    Menu.hide();
    QApplication::processEvents();

    // From the centre: right while there is room, then left, never over the parent.
    Open = OpenCascade(Menu, Screen.center(), 3);
    ASSERT_EQ(Open.size(), 4);
    for (int I = 1; I < Open.size(); ++I) {
        SCOPED_TRACE(I);
        EXPECT_FALSE(Open[I]->geometry().intersects(Open[I - 1]->geometry()));
        EXPECT_TRUE(Screen.contains(Open[I]->geometry()));
    }
    EXPECT_GE(Open[1]->geometry().left(), Open[0]->geometry().right() + 1);
    Menu.hide();
}

TEST_F(TrayMenuTest, ShopsWithoutCategoryCanBeHidden) {
    AddShop("", "Solo", 1);
    AddShop("", "Zweiter", 2);
    AddShop("Mode", "Gamma", 3);
    EXPECT_NO_THROW(SetShopVisible("", "Solo", false));
    EXPECT_FALSE(IsShopVisible("", "Solo"));
    EXPECT_EQ(ReadSettingInteger("categories", "Solo", -1), 0);
    Build();
    EXPECT_EQ(Dump(Menu), QStringList({"Mode", "  Gamma [5]", "Zweiter [5]"}) + FixedDump);
    SetShopVisible("", "Solo", true);
    EXPECT_TRUE(IsShopVisible("", "Solo"));
    Build();
    EXPECT_EQ(Dump(Menu), QStringList({"Mode", "  Gamma [5]", "Solo [5]", "Zweiter [5]"}) + FixedDump);
}

TEST_F(TrayMenuTest, SubmenusGetTheirEntriesWhenFirstOpenedAndARebuildDropsOnlyWhatWasBuilt) {
    AddShop("Mode", "Gamma", 3);
    AddShop("Mode->Schuhe", "Alpha", 1, 2);
    AddShop("Technik", "Delta", 4);
    AddShop("info", "Hilfe", 5);
    Build();
    // The top level at once; below it nothing yet, not even the nested category.
    QMenu* Mode = Menu.actions().at(0)->menu();
    QMenu* Technik = Menu.actions().at(1)->menu();
    ASSERT_TRUE(Mode && Technik && Fixed.miInfo->menu());
    EXPECT_TRUE(Mode->actions().isEmpty());
    EXPECT_TRUE(Technik->actions().isEmpty());
    EXPECT_TRUE(Fixed.miInfo->menu()->actions().isEmpty());
    EXPECT_EQ(Menu.findChildren<QMenu*>().size(), 3);

    Q_EMIT Mode->aboutToShow();
    Q_EMIT Mode->aboutToShow(); // once only
    ASSERT_EQ(Mode->actions().size(), 2);
    QMenu* Shoes = Mode->actions().at(0)->menu();
    ASSERT_NE(Shoes, nullptr);
    EXPECT_EQ(WithoutKey(Shoes->title()), "Schuhe");
    EXPECT_TRUE(Shoes->actions().isEmpty());
    Q_EMIT Shoes->aboutToShow();
    ASSERT_EQ(Shoes->actions().size(), 1);
    EXPECT_TRUE(Shoes->actions().at(0)->font().bold());
    EXPECT_EQ(Menu.findChildren<QMenu*>().size(), 4);

    // The same catalogue again: every built submenu goes, the new ones start empty,
    // and opened they show what the first build showed.
    const QStringList Before = Dump(Menu);
    QPointer<QMenu> OldShoes = Shoes;
    Build();
    EXPECT_TRUE(OldShoes.isNull());
    EXPECT_EQ(Menu.findChildren<QMenu*>().size(), 3);
    EXPECT_TRUE(Menu.actions().at(0)->menu()->actions().isEmpty());
    EXPECT_EQ(Dump(Menu), Before);

    // A refreshed catalogue: the rebuild shows the new shops, the old ones are gone.
    Shops.clear();
    AddShop("Mode", "Neu", 9);
    Build();
    EXPECT_EQ(Dump(Menu), QStringList({"Mode", "  Neu [5]"}) + FixedDump);
}

TEST_F(TrayMenuTest, AClosedLongCategoryLetsItsWindowGoAndOpensAgainFullyWorking) {
    TBrowserRecorder Browser;
    WriteSettingString("", "server", "http://vendor.test:8080/");
    for (int Id = 1; Id <= 400; ++Id)
        AddShop("Lang", QStringLiteral("Shop %1").arg(Id, 3, 10, QLatin1Char('0')), Id);
    Build();
    QAction* Long = Menu.actions().at(0);
    QMenu* Sub = Long->menu();
    ASSERT_NE(Sub, nullptr);
    const QRect Screen = QApplication::primaryScreen()->availableGeometry();
    for (int Round = 1; Round <= 2; ++Round) {
        Menu.popup(Screen.center());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Menu));
        Menu.setActiveAction(Long); // pops the submenu up at once
        ASSERT_TRUE(WaitUntil([&] { return Sub->isVisible(); }, 5000)) << "round " << Round;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Sub));
        ASSERT_EQ(Sub->actions().size(), 400);
        ASSERT_GE(qint64(Sub->width()) * Sub->height(), 512 * 512) << "spread over columns";
        if (Round == 1) {
            Menu.hide();
            EXPECT_TRUE(WaitUntil([&] { return Sub->windowHandle() == nullptr; }, 5000)) << "window kept when closed";
        }
    }
    // Its entries are the ones it had.
    Sub->actions().at(1)->trigger();
    EXPECT_EQ(
        Browser.Opened(1),
        QStringList({"http://vendor.test:8080/shop.php?id=2&ref=42&check=2024-05-01&version=2.2&subid=software"}));
    Menu.hide();
}

TEST_F(TrayMenuTest, PointingAtACategoryOpensItFilledBesideItsEntry) {
    AddShop("Mode", "Gamma", 3);
    AddShop("Mode", "Zeta", 4);
    AddShop("Technik", "Delta", 5);
    Build();
    const QRect Screen = QApplication::primaryScreen()->availableGeometry();
    Menu.popup(Screen.center());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Menu));
    QAction* Technik = Menu.actions().at(1);
    QTest::mouseMove(&Menu, Menu.actionGeometry(Technik).center());
    QMenu* Sub = Technik->menu();
    ASSERT_TRUE(WaitUntil([&] { return Sub->isVisible(); }, 5000));
    ASSERT_EQ(Sub->actions().size(), 1);
    EXPECT_EQ(WithoutKey(Sub->actions().at(0)->text()), "Delta");
    // Filled before it was placed: its first entry lines up with the category entry.
    const int EntryTop = Menu.mapToGlobal(Menu.actionGeometry(Technik).topLeft()).y();
    const int FirstTop = Sub->mapToGlobal(Sub->actionGeometry(Sub->actions().at(0)).topLeft()).y();
    EXPECT_EQ(FirstTop, EntryTop);
    Menu.hide();
}
