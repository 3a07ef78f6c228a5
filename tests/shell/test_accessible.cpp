// What assistive technology reads from our own widgets, through Qt's accessibility
// interfaces: the layer the desktop bridge serves (tests/accessibility reads the
// real program through the bridge itself).
#include "TestSupport.h"
#include "uBanner.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uTCheckListBox.h"
#include "uTImageList.h"
#include "uTLinkLabel.h"
#include "uTMenuItemManager.h"
#include "uTMenuWindow.h"
#include "uTTrayMenu.h"
#include "uTrayMenuBuilder.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QAccessibleInterface* ChildFor(QAccessibleInterface* Parent, const QObject* Object) {
    for (int I = 0; I < Parent->childCount(); ++I)
        if (QAccessibleInterface* Child = Parent->child(I); Child && Child->object() == Object)
            return Child;
    return nullptr;
}

QStringList ChildNames(QAccessibleInterface* Parent) {
    QStringList Names;
    for (int I = 0; I < Parent->childCount(); ++I)
        if (Parent->child(I)->role() != QAccessible::Separator)
            Names << Parent->child(I)->text(QAccessible::Name);
    return Names;
}

QString Plain(QString Caption) {
    return Caption.remove('&');
}

class AccessibleTest : public ::testing::Test {
protected:
    void SetUp() override { SetCurrentLanguage(0); }
    TTempEnvironment Env;
};

TEST_F(AccessibleTest, TheShowWindowExposesItsMenuAndAnnouncesTheEntryThatIsHighlighted) {
    WriteSettingString("", "server", "http://vendor.test");
    TImageList Images = TImageList::WithFixedPictures();
    TTrayMenu Menu;
    TMenuItemManager Links{QStringLiteral("favorites")};
    CreateFixedEntries(Menu, Images);
    TShopList Shops;
    for (const auto& [Category, Name] : {std::pair{"Mode->Schuhe", "Sohle"}, {"Mode", "Kleid"}}) {
        auto Shop = std::make_shared<TShop>();
        Shop->Category = QString::fromUtf8(Category);
        Shop->SetName(QString::fromUtf8(Name));
        Shop->Id = static_cast<int>(Shops.size()) + 1;
        Shops.push_back(Shop);
    }
    BuildTrayMenu(Menu, TMenuBuildInput{Shops, "&ref=1", Links, Images, {}});

    QStringList TopNames;
    QString LevelName, FocusBefore, EnteredOn, FocusAfter, Highlighted;
    QStringList LevelEntries;
    auto Look = [&](TMenuWindow& Window) {
        QAccessibleInterface* Top = ChildFor(QAccessible::queryAccessibleInterface(&Window), &Menu);
        ASSERT_NE(Top, nullptr) << "the menu is missing from the window's children";
        TopNames = ChildNames(Top);

        QAction* Mode = nullptr;
        for (QAction* Entry : Menu.actions())
            if (Plain(Entry->text()) == "Mode")
                Mode = Entry;
        ASSERT_NE(Mode, nullptr);
        Menu.setActiveAction(Mode);
        // Opened, the level is named by its caption; what has the focus then is the
        // entry highlighted in it, never the entry of the level below.
        QTest::keyClick(&Menu, Qt::Key_Right);
        QMenu* Sub = Window.CurrentMenu();
        ASSERT_EQ(Sub, Mode->menu());
        QAccessibleInterface* Face = QAccessible::queryAccessibleInterface(&Window);
        QAccessibleInterface* Level = ChildFor(Face, Sub);
        ASSERT_NE(Level, nullptr);
        ASSERT_EQ(ChildFor(Face, &Menu), nullptr); // the level below is gone from the window
        LevelName = Level->text(QAccessible::Name);
        // The level got its entries when it opened: they are there to be read.
        LevelEntries = ChildNames(Level);
        FocusBefore = Face->focusChild() ? Face->focusChild()->text(QAccessible::Name) : QString();
        EnteredOn = Sub->activeAction() ? Plain(Sub->activeAction()->text()) : QString();
        QTest::keyClick(Sub, Qt::Key_Down);
        ASSERT_NE(Sub->activeAction(), nullptr);
        Highlighted = Plain(Sub->activeAction()->text());
        ASSERT_NE(Face->focusChild(), nullptr);
        FocusAfter = Face->focusChild()->text(QAccessible::Name);
    };
    QTimer::singleShot(0, [&] {
        TMenuWindow& Window = *TMenuWindow::Current();
        Look(Window);
        Window.close(); // also after a failed assertion
    });
    TMenuWindow::Exec(Menu);

    EXPECT_TRUE(TopNames.contains("Mode")) << TopNames.join('|').toStdString();
    EXPECT_TRUE(TopNames.contains(Plain(txtSettings()))) << TopNames.join('|').toStdString();
    EXPECT_FALSE(TopNames.contains(QString()));
    EXPECT_EQ(LevelName, "Mode");
    EXPECT_EQ(LevelEntries, (QStringList{"Schuhe", "Kleid"}));
    // Entering a level highlights its first row; what is announced is what is highlighted.
    EXPECT_TRUE(FocusBefore == EnteredOn || (EnteredOn.isEmpty() && FocusBefore == "Mode"))
        << FocusBefore.toStdString();
    EXPECT_EQ(FocusAfter, Highlighted);
    EXPECT_NE(FocusAfter, "Eigene Links");
}

TEST_F(AccessibleTest, CheckListLinesShowTheirBoxAndItsThreeStates) {
    TCheckListBox List;
    List.AddLine("Mode", Qt::Checked);
    List.AddLine("Technik", Qt::PartiallyChecked);
    List.AddLine("Sport", Qt::Unchecked);
    List.show();
    QAccessibleInterface* Face = QAccessible::queryAccessibleInterface(&List);
    EXPECT_EQ(Face->role(), QAccessible::List);
    ASSERT_EQ(Face->childCount(), 3);
    EXPECT_EQ(ChildNames(Face), (QStringList{"Mode", "Technik", "Sport"}));
    auto StateOf = [&](int Row) { return Face->child(Row)->state(); };
    for (int Row = 0; Row < 3; ++Row) {
        EXPECT_TRUE(StateOf(Row).checkable) << Row;
        EXPECT_EQ(Face->child(Row)->role(), QAccessible::CheckBox) << Row;
    }
    EXPECT_TRUE(StateOf(0).checked);
    EXPECT_FALSE(StateOf(1).checked);
    EXPECT_TRUE(StateOf(1).checkStateMixed);
    EXPECT_FALSE(StateOf(2).checked || StateOf(2).checkStateMixed);
    EXPECT_EQ(Face->indexOfChild(Face->child(2)), 2);

    // The toggle a screen reader offers acts as a click and reports the new state.
    QSignalSpy Clicks(&List, &TCheckListBox::Click);
    QAccessibleActionInterface* Actions = Face->child(1)->actionInterface();
    ASSERT_NE(Actions, nullptr);
    Actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(List.State(1), Qt::Checked);
    EXPECT_EQ(List.ItemIndex(), 1);
    EXPECT_EQ(Clicks.count(), 1);
    EXPECT_TRUE(StateOf(1).checked);
    // Focus on a line is that line for a screen reader.
    List.setFocus();
    List.activateWindow();
    if (QTest::qWaitForWindowActive(&List)) {
        ASSERT_NE(Face->focusChild(), nullptr);
        EXPECT_EQ(Face->focusChild()->text(QAccessible::Name), "Technik");
    }
}

TEST_F(AccessibleTest, LinksAreFocusableLinksAndBannersOnlyDecorate) {
    QWidget Window;
    auto* Link = new TLinkLabel("Teilnahmebedingungen", &Window);
    QLabel* Banner = CreateBanner(&Window, 200, 30);
    Window.show();
    QSignalSpy Clicks(Link, &TLinkLabel::Clicked);

    QAccessibleInterface* Face = QAccessible::queryAccessibleInterface(Link);
    EXPECT_EQ(Face->role(), QAccessible::Link);
    EXPECT_EQ(Face->text(QAccessible::Name), "Teilnahmebedingungen");
    EXPECT_TRUE(Face->state().focusable);
    ASSERT_NE(Face->actionInterface(), nullptr);
    Face->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTest::keyClick(Link, Qt::Key_Space);
    QTest::mouseClick(Link, Qt::LeftButton);
    EXPECT_EQ(Clicks.count(), 3);

    QAccessibleInterface* Picture = QAccessible::queryAccessibleInterface(Banner);
    EXPECT_EQ(Picture->role(), QAccessible::Graphic);
    EXPECT_TRUE(Picture->state().invisible); // hidden from screen readers
    EXPECT_FALSE(Picture->state().focusable);
}

} // namespace
