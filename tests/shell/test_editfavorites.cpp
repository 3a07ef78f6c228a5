#include "TestSupport.h"
#include "uConst.h"
#include "uTMenuItemManager.h"
#include "uTProgram.h"
#include "uUIHooks.h"
#include "ufrmEditFavorites.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Runs Act on the open editor while EditFavorite's modal loop runs; closes the
// editor afterwards if Act left it open, so a failing check cannot hang the test.
TProgram& Program() {
    static TProgram Program; // the editor follows the language of a program
    return Program;
}

bool EditWith(TURLItem& Item, const std::function<void(TfrmEditFavorites&)>& Act) {
    QTimer::singleShot(0, [&Act] {
        TfrmEditFavorites* Editor = ExistingEditFavorites();
        if (Editor == nullptr)
            return;
        Act(*Editor);
        if (Editor->isVisible())
            Editor->reject();
    });
    return EditFavorite(Program(), Item);
}

QLineEdit* Title(TfrmEditFavorites& E) {
    return E.findChild<QLineEdit*>("edtTitle");
}
QLineEdit* URL(TfrmEditFavorites& E) {
    return E.findChild<QLineEdit*>("edtURL");
}
QPushButton* Save(TfrmEditFavorites& E) {
    return E.findChild<QPushButton*>("btnSave");
}

class EditFavoritesTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetCurrentLanguage(0);
        (void)frmEditFavorites(Program());
    }
    // Also after a failed check: the next test must not inherit a hook or the language.
    void TearDown() override {
        UIHooks() = TUIHooks();
        SetCurrentLanguage(0);
    }
};

TEST_F(EditFavoritesTest, NewLinkStartsWithHttpAndSaveDisabled) {
    TURLItem Item;
    bool SaveAtOpen = true, SaveWithNameOnly = true, SaveWithBlankName = true, SaveComplete = false;
    QString URLAtOpen;
    const bool Result = EditWith(Item, [&](TfrmEditFavorites& E) {
        URLAtOpen = URL(E)->text();
        SaveAtOpen = Save(E)->isEnabled();
        QTest::keyClicks(Title(E), "Wetter");
        SaveWithNameOnly = Save(E)->isEnabled();
        URL(E)->setText("  http://wetter.example  ");
        Title(E)->setText("   ");
        SaveWithBlankName = Save(E)->isEnabled();
        Title(E)->setText("  Wetter  ");
        SaveComplete = Save(E)->isEnabled();
        QTest::keyClick(URL(E), Qt::Key_Return);
    });
    EXPECT_EQ(URLAtOpen, "http://");
    EXPECT_FALSE(SaveAtOpen);
    EXPECT_FALSE(SaveWithNameOnly);
    EXPECT_FALSE(SaveWithBlankName);
    EXPECT_TRUE(SaveComplete);
    EXPECT_TRUE(Result);
    EXPECT_EQ(Item.Name, "Wetter");
    EXPECT_EQ(Item.URL, "http://wetter.example");
}

TEST_F(EditFavoritesTest, EnterInTheNameMovesOnAndEnterWithSaveDisabledDoesNothing) {
    TURLItem Item{"Wetter", "", 7};
    bool StillOpen = false;
    const bool Result = EditWith(Item, [&](TfrmEditFavorites& E) {
        E.activateWindow();
        Title(E)->setFocus();
        QTest::keyClick(Title(E), Qt::Key_Return);
        EXPECT_TRUE(E.isVisible());
        QTest::keyClick(URL(E), Qt::Key_Enter); // Save is disabled: "http://" only
        StillOpen = E.isVisible();
        URL(E)->setText("http://w.example");
        QTest::keyClick(URL(E), Qt::Key_Enter);
    });
    EXPECT_TRUE(StillOpen);
    EXPECT_TRUE(Result);
    EXPECT_EQ(Item.URL, "http://w.example");
    EXPECT_EQ(Item.Icon, 7) << "the icon is never touched";
}

TEST_F(EditFavoritesTest, EscapeAndCancelLeaveTheItemAlone) {
    TURLItem Item{"Wetter", "http://wetter.example", 3};
    EXPECT_FALSE(EditWith(Item, [](TfrmEditFavorites& E) {
        Title(E)->setText("Changed");
        QTest::keyClick(Title(E), Qt::Key_Escape);
    }));
    EXPECT_FALSE(EditWith(Item, [](TfrmEditFavorites& E) {
        URL(E)->setText("http://changed.example");
        E.findChild<QPushButton*>("btnCancel")->click();
    }));
    EXPECT_EQ(Item.Name, "Wetter");
    EXPECT_EQ(Item.URL, "http://wetter.example");
}

TEST_F(EditFavoritesTest, SecondRequestWhileOpenWarnsAndReturnsFalse) {
    QStringList Warnings;
    UIHooks().ShowWarning = [&](const QString& Caption, const QString& Text) { Warnings << Caption + "|" + Text; };
    TURLItem Item{"First", "http://first.example", 0};
    bool Nested = true;
    TURLItem Other{"Second", "http://second.example", 0};
    EditWith(Item, [&](TfrmEditFavorites& E) {
        Nested = EditFavorite(Program(), Other);
        EXPECT_EQ(Title(E)->text(), "First") << "the open edit is not overwritten";
    });
    UIHooks().ShowWarning = nullptr;
    EXPECT_FALSE(Nested);
    EXPECT_EQ(Other.Name, "Second");
    EXPECT_EQ(Warnings, QStringList({"Quorvantis|" + txtEditorAlreadyOpen()}));
}

TEST_F(EditFavoritesTest, LayoutAndTextsFollowTheLanguage) {
    SetCurrentLanguage(1);
    TURLItem Item;
    QString Caption, Label, CaptionAfterSwitch;
    EditWith(Item, [&](TfrmEditFavorites& E) {
        Caption = E.windowTitle();
        Label = E.findChild<QLabel*>("labTitle")->text();
        EXPECT_EQ(E.size(), QSize(432, 96));
        EXPECT_TRUE(E.windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(E.isModal());
        EXPECT_EQ(Title(E)->maxLength(), 100);
        EXPECT_EQ(URL(E)->maxLength(), 300);
        SetCurrentLanguage(0);
        E.ApplyLanguage();
        CaptionAfterSwitch = E.windowTitle();
    });
    EXPECT_EQ(Caption, txtEditFavoritesCaption.In(1));
    EXPECT_EQ(Label, txtTitleLabel.In(1));
    EXPECT_EQ(CaptionAfterSwitch, txtEditFavoritesCaption.In(0));
}

} // namespace
