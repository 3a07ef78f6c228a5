// The menu as the desktop gets it on Wayland, and the window that stands in for a
// pop-up there: real menus and widgets under the offscreen platform.
#include "TestSupport.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uTDesktopMenu.h"
#include "uTImageList.h"
#include "uTMenuItemManager.h"
#include "uTMenuListing.h"
#include "uTMenuWindow.h"
#include "uTTrayMenu.h"
#include "uTURLMenuItem.h"
#include "uTrayMenuBuilder.h"

#include "uAccessKeys.h"
#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QStyle>
#include <QTest>

#include <QTimer>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>

namespace {

QAction* Entry(const QMenu& Menu, const QString& Text) {
    for (QAction* Action : Menu.actions())
        if (ShownCaption(Action->text()) == ShownCaption(Text)) // with or without its access key
            return Action;
    return nullptr;
}

class MenuWindowTest : public ::testing::Test {
protected:
    TTempEnvironment Env;
    TBrowserRecorder Browser;
    TImageList Images = TImageList::WithFixedPictures();
    TTrayMenu Menu;
    TFixedEntries Fixed;
    TMenuItemManager Links{QStringLiteral("favorites")};
    TShopList Shops;

    void SetUp() override {
        SetCurrentLanguage(0);
        WriteSettingString("", "server", "http://vendor.test");
        Fixed = CreateFixedEntries(Menu, Images);
        AddShop("Mode->Schuhe", "Sohle", 7);
        AddShop("Mode", "Kleid", 8);
        AddShop("Einstellungen", "Regal", 9); // lands below a fixed entry
        AddShop("Auto & Motorrad", "Reifen & Felgen", 10);
        std::stable_sort(Shops.begin(), Shops.end(), [](const TShopPtr& A, const TShopPtr& B) {
            return (A->Category + A->GetName()).toUpper() < (B->Category + B->GetName()).toUpper();
        });
        BuildTrayMenu(Menu, TMenuBuildInput{Shops, "&ref=1&check=c&version=2.2&subid=software", Links, Images, {}});
    }

    void AddShop(const QString& Category, const QString& Name, int Id) {
        auto Shop = std::make_shared<TShop>();
        Shop->Category = Category;
        Shop->SetName(Name);
        Shop->Id = Id;
        Shop->Ranking = 1000;
        Shops.push_back(Shop);
    }

    // Runs Script once the window is up, then waits for the window to close.
    void RunWindow(const std::function<void(TMenuWindow&)>& Script) {
        QTimer::singleShot(0, [&] {
            ASSERT_NE(TMenuWindow::Current(), nullptr);
            Script(*TMenuWindow::Current());
        });
        TMenuWindow::Exec(Menu);
        EXPECT_EQ(TMenuWindow::Current(), nullptr);
        // Every menu is a pop-up in its place again, and none is left on screen.
        QCoreApplication::processEvents();
        for (QWidget* Widget : QApplication::topLevelWidgets())
            EXPECT_FALSE(qobject_cast<QMenu*>(Widget) && Widget->isVisible()) << Widget->metaObject()->className();
        EXPECT_EQ(Menu.windowType(), Qt::Popup);
        QMenu* Mode = Entry(Menu, "Mode")->menu();
        EXPECT_EQ(Mode->parent(), &Menu);
        EXPECT_EQ(Mode->windowType(), Qt::Popup);
        // A level the script never opened fills when it is about to show, as a pop-up.
        Q_EMIT Mode->aboutToShow();
        QAction* Shoes = Entry(*Mode, "Schuhe");
        ASSERT_NE(Shoes, nullptr);
        EXPECT_EQ(Shoes->menu()->parent(), Mode);
    }
};

TEST_F(MenuWindowTest, SubmenusOpenInsideTheWindowAndAChoiceClosesIt) {
    RunWindow([&](TMenuWindow& Window) {
        EXPECT_EQ(Window.CurrentMenu(), &Menu);
        EXPECT_FALSE(Window.BackButton()->isVisible());
        // Pointing at a category only highlights it, however long.
        QAction* Mode = Entry(Menu, "Mode");
        QTest::mouseMove(&Menu, Menu.actionGeometry(Mode).center());
        // An absence: twice the pop-up delay would have opened a pop-up submenu.
        QTest::qWait(2 * Menu.style()->styleHint(QStyle::SH_Menu_SubMenuPopupDelay, nullptr, &Menu) + 100);
        EXPECT_EQ(Menu.activeAction(), Mode);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        // A click on a category opens it in place; nothing pops up.
        QTest::mouseClick(&Menu, Qt::LeftButton, {}, Menu.actionGeometry(Mode).center());
        QTest::mouseMove(&Window, QPoint(1, 1)); // off the entries, for the keys below
        ASSERT_EQ(Window.Depth(), 1);
        EXPECT_EQ(Window.CurrentMenu(), Mode->menu());
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(Window.BackButton()->text(), "Mode");
        // Keys: the level opens on its first row, "Schuhe"; Right opens it, Left goes
        // back; a click opens it again.
        QMenu* Level = Window.CurrentMenu();
        ASSERT_EQ(Level->activeAction(), Entry(*Level, "Schuhe"));
        QTest::keyClick(Level, Qt::Key_Right);
        ASSERT_EQ(Window.Depth(), 2);
        EXPECT_EQ(Window.BackButton()->text(), QString::fromUtf8("Mode \u203A Schuhe"));
        QTest::keyClick(Window.CurrentMenu(), Qt::Key_Left);
        EXPECT_EQ(Window.Depth(), 1);
        QTest::mouseClick(Level, Qt::LeftButton, {}, Level->actionGeometry(Entry(*Level, "Schuhe")).center());
        ASSERT_EQ(Window.Depth(), 2);
        QMenu* Shoes = Window.CurrentMenu();
        QTest::mouseClick(Shoes, Qt::LeftButton, {}, Shoes->actionGeometry(Entry(*Shoes, "Sohle")).center());
    });
    EXPECT_EQ(Browser.Opened(1),
              QStringList{"http://vendor.test/shop.php?id=7&ref=1&check=c&version=2.2&subid=software"});
}

TEST_F(MenuWindowTest, EachLevelOpensOnItsFirstRowAndGoingBackReselectsTheRowWithoutAPopUp) {
    const auto NoPopUp = [] {
        for (QWidget* Widget : QApplication::topLevelWidgets())
            if (qobject_cast<QMenu*>(Widget) && Widget->isVisible())
                return false;
        return QApplication::activePopupWidget() == nullptr;
    };
    RunWindow([&](TMenuWindow& Window) {
        // Return works at once: the first row is highlighted, and nothing popped up for it.
        EXPECT_EQ(Menu.activeAction(), Menu.actions().value(0));
        EXPECT_NE(Menu.activeAction()->menu(), nullptr); // "Eigene Links"
        EXPECT_TRUE(NoPopUp());

        QAction* Auto = Entry(Menu, "Auto && Motorrad");
        ASSERT_NE(Auto, nullptr);
        ASSERT_TRUE(Window.OpenSubmenu(Auto));
        QMenu* Level = Window.CurrentMenu();
        EXPECT_EQ(Level->activeAction(), Entry(*Level, "Reifen && Felgen"));
        // The path shows the name as written, not "&" taken as a hotkey.
        QAccessibleInterface* Path = QAccessible::queryAccessibleInterface(Window.BackButton());
        ASSERT_NE(Path, nullptr);
        EXPECT_EQ(Path->text(QAccessible::Name), "Auto & Motorrad");

        // Backspace goes back to the row we came from; its submenu stays shut.
        QTest::keyClick(Level, Qt::Key_Backspace);
        ASSERT_EQ(Window.Depth(), 0);
        EXPECT_EQ(Menu.activeAction(), Auto);
        QCoreApplication::processEvents();
        EXPECT_TRUE(NoPopUp());
        // So Return opens that row again, inside the window.
        QTest::keyClick(&Menu, Qt::Key_Return);
        ASSERT_EQ(Window.Depth(), 1);
        EXPECT_EQ(Window.CurrentMenu(), Auto->menu());
        QTest::keyClick(Window.CurrentMenu(), Qt::Key_Left);
        EXPECT_EQ(Menu.activeAction(), Auto);
        EXPECT_TRUE(NoPopUp());
        QTest::keyClick(&Menu, Qt::Key_Escape);
    });
}

TEST_F(MenuWindowTest, EveryShopIsReachableInTheWindowThoughSubmenusFillWhenOpened) {
    QStringList Reached;
    RunWindow([&](TMenuWindow& Window) {
        std::function<void()> Walk = [&] {
            const QList<QAction*> Entries = Window.CurrentMenu()->actions();
            for (QAction* Action : Entries) {
                if (Action->menu() == nullptr) {
                    if (qobject_cast<TURLMenuItem*>(Action))
                        Reached << Action->text();
                    continue;
                }
                ASSERT_TRUE(Window.OpenSubmenu(Action));
                Walk();
                Window.Back();
            }
        };
        Walk();
        Window.close();
    });
    for (QString& Caption : Reached)
        Caption = ShownCaption(Caption); // each has its access key
    Reached.sort();
    EXPECT_EQ(Reached, (QStringList{"Kleid", "Regal", "Reifen & Felgen", "Sohle"}));
}

TEST_F(MenuWindowTest, EscapeOrAClickElsewhereClosesTheWindow) {
    RunWindow([&](TMenuWindow& Window) {
        QTest::mouseClick(&Menu, Qt::LeftButton, {}, Menu.actionGeometry(Entry(Menu, "Mode")).center());
        ASSERT_EQ(Window.Depth(), 1);
        QTest::keyClick(Window.CurrentMenu(), Qt::Key_Escape); // one level back
        ASSERT_EQ(Window.Depth(), 0);
        QTest::keyClick(&Menu, Qt::Key_Escape);
    });

    QWidget Elsewhere;
    RunWindow([&](TMenuWindow& Window) {
        Window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
        Elsewhere.show();
        Elsewhere.activateWindow();
    });
    EXPECT_TRUE(Browser.Opened().isEmpty());
}

TEST_F(MenuWindowTest, DesktopMirrorSharesTheEntriesAndListsACategoryWithoutMakingItsEntries) {
    TDesktopMenu Desktop;
    QMenu* Root = Desktop.Mirror(Menu);
    // Same captions in the same order; fixed entries are the very same actions.
    ASSERT_EQ(Root->actions().size(), Menu.actions().size());
    for (qsizetype I = 0; I < Menu.actions().size(); ++I) {
        EXPECT_EQ(Root->actions()[I]->text(), Menu.actions()[I]->text());
        if (Menu.actions()[I]->menu() == nullptr) {
            EXPECT_EQ(Root->actions()[I], Menu.actions()[I]);
        }
    }
    // A category reaches the desktop as a listing of the drawn one: its entries
    // in order, a nested category as a submenu of the mirror's own, and not one
    // action made for them in either menu.
    QMenu* Mode = Entry(*Root, "Mode")->menu();
    QMenu* DrawnMode = Entry(Menu, "Mode")->menu();
    auto* Listing = dynamic_cast<TMenuListing*>(Mode);
    ASSERT_NE(Listing, nullptr);
    ASSERT_TRUE(Listing->HasListing());
    ASSERT_EQ(Listing->ListingCount(), 2);
    const TMenuListing::TEntry Shoes = Listing->ListingEntry(0);
    EXPECT_EQ(ShownCaption(Shoes.Caption), "Schuhe");
    ASSERT_NE(Shoes.Submenu, nullptr);
    EXPECT_EQ(Shoes.Submenu, Listing->ListingEntry(0).Submenu);    // mirrored once
    EXPECT_EQ(Shoes.Submenu->menuAction()->text(), Shoes.Caption); // the same caption, key included
    EXPECT_EQ(ShownCaption(Listing->ListingEntry(1).Caption), "Kleid");
    EXPECT_FALSE(Listing->ListingEntry(1).Icon.isNull());
    auto* ShoesListing = dynamic_cast<TMenuListing*>(Shoes.Submenu);
    ASSERT_NE(ShoesListing, nullptr);
    ASSERT_EQ(ShoesListing->ListingCount(), 1);
    EXPECT_EQ(ShoesListing->ListingEntry(0).Caption, "&Sohle");
    Q_EMIT Mode->aboutToShow(); // the mirror of a listed level never fills
    EXPECT_TRUE(Mode->actions().isEmpty());
    EXPECT_TRUE(DrawnMode->actions().isEmpty());

    // A choice opens the shop once, before and after the drawn level was filled;
    // choosing a nested level does nothing.
    Listing->ChooseListed(1);
    EXPECT_EQ(Browser.Opened(1).size(), 1);
    Listing->ChooseListed(0);
    Q_EMIT DrawnMode->aboutToShow();
    ASSERT_EQ(DrawnMode->actions().size(), 2);
    // The fill takes the nested level the listing made rather than a second one.
    EXPECT_EQ(DrawnMode->findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 1);
    Listing->ChooseListed(1);
    const QStringList Opened = Browser.Opened(2);
    ASSERT_EQ(Opened.size(), 2);
    EXPECT_EQ(Opened[0], Opened[1]);

    // The language switch re-labels both, also a fixed entry that holds shops.
    SetCurrentLanguage(1);
    ApplyFixedEntryTexts(Fixed);
    EXPECT_EQ(Entry(*Root, "E&xit"), Fixed.miClose);
    EXPECT_NE(Entry(*Root, "Settings"), nullptr);
    EXPECT_NE(Entry(*Root, "Settings")->menu(), nullptr);
    SetCurrentLanguage(0);

    // A rebuild lets go of the shared entries first, then gives a new mirror;
    // the old one goes once control returns.
    QPointer<QMenu> Old = Root;
    Desktop.Detach();
    for (QMenu* Level : Root->findChildren<QMenu*>())
        for (QAction* Action : Level->actions())
            EXPECT_NE(Action->menu(), nullptr) << Action->text().toStdString();
    EXPECT_EQ(Fixed.miClose->associatedObjects().size(), 1); // the drawn menu only
    EXPECT_NE(Desktop.Mirror(Menu), Old.data());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Old.isNull());
}

} // namespace
