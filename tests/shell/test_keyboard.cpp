// The windows used with the keyboard alone: keys go to whatever has the focus,
// as they would from a user, on real widgets over a real catalogue and store.
#include "ShellSupport.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uTLinkLabel.h"
#include "uUIHooks.h"
#include "ufrmEditFavorites.h"
#include "ufrmQuorvantis.h"
#include "ufrmSearch.h"
#include "ufrmSettings.h"
#include "ufrmStyleVoting.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QWidget* Focused() {
    return QApplication::focusWidget();
}

// A key to whatever has the focus, as the window system would deliver it.
void Press(int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier) {
    QWidget* Target = Focused();
    ASSERT_NE(Target, nullptr) << "nothing has the focus";
    QTest::keyClick(Target, Qt::Key(Key), Modifiers);
}

QString FocusName() {
    return Focused() ? Focused()->objectName() : QStringLiteral("(none)");
}

void Activate(QWidget& Window) {
    Window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
}

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetCurrentLanguage(0);
        UIHooks().ShowWarning = [this](const QString& Caption, const QString& Text) {
            Warnings << Caption + "|" + Text;
        };
        UIHooks().ShowInformation = [this](const QString& Caption, const QString& Text) {
            Warnings << Caption + "|" + Text;
        };
    }
    void TearDown() override {
        delete ExistingSettings();
        delete ExistingSearch();
        delete ExistingStyleVoting();
        Main.reset();
        UIHooks() = TUIHooks();
    }
    // The main window against the vendor server, its sample catalogue dated today;
    // Game: whether the sweepstakes runs.
    void Start(bool Game) {
        Content = Env.Root() + "/content";
        TVendorServerProcess::CopyContent(Content);
        SetGame(Game);
        Server = std::make_unique<TVendorServerProcess>(Content);
        WriteSettingString("", "server", Server->BaseURL());
        WriteSettingString("", "lastnews", "9999");
        WriteSettingBool("", "first", false);
        Main = std::make_unique<TfrmQuorvantis>(QStringList{"quorvantis"});
        ASSERT_TRUE(WaitStarted(*Main));
    }
    void SetGame(bool Game) {
        QString Xml = QString::fromUtf8(ReadFileBytes(Content + "/version2.xml"));
        const QString Today = QDate::currentDate().toString("yyyy-MM-dd");
        Xml.replace(QRegularExpression("<check>.*</check>"), "<check>" + Today + "</check>");
        Xml.replace(QRegularExpression("<game>.*</game>"), Game ? "<game>" + Today + "</game>" : "<game></game>");
        WriteFileBytes(Content + "/version2.xml", Xml.toUtf8());
    }
    TfrmSettings* OpenSettings() {
        ShowSettings(Main->Program());
        TfrmSettings* Dialog = ExistingSettings();
        Activate(*Dialog);
        return Dialog;
    }
    template <typename T> T* In(QWidget* Window, const char* Name) {
        T* Found = Window->findChild<T*>(QString::fromLatin1(Name));
        EXPECT_NE(Found, nullptr) << Name;
        return Found;
    }

    TTempEnvironment Env;
    TBrowserRecorder Browser;
    QString Content;
    std::unique_ptr<TVendorServerProcess> Server;
    std::unique_ptr<TfrmQuorvantis> Main;
    QStringList Warnings;
};

TEST_F(KeyboardTest, SearchRunsInReadingOrderAndResultsOpenWithReturnOrSpace) {
    Start(false);
    ShowSearch(Main->Program());
    TfrmSearch* Window = ExistingSearch();
    Activate(*Window);
    ASSERT_EQ(FocusName(), "edtSearch");
    QTest::keyClicks(Focused(), "kleider"); // "Kleiderwolke"
    auto* Results = In<QListView>(Window, "listResult");
    ASSERT_TRUE(Results->isVisible());
    ASSERT_GE(Results->model()->rowCount(), 1);

    // Text, its button, the choices, the results.
    Press(Qt::Key_Tab);
    EXPECT_EQ(FocusName(), "btnSearch");
    Press(Qt::Key_Tab);
    EXPECT_TRUE(qobject_cast<QRadioButton*>(Focused())) << FocusName().toStdString();
    while (qobject_cast<QRadioButton*>(Focused()))
        Press(Qt::Key_Tab);
    ASSERT_EQ(Focused(), Results);

    Press(Qt::Key_Down);
    const QString First = Results->currentIndex().data(Qt::UserRole).toString();
    Press(Qt::Key_Return);
    EXPECT_EQ(Browser.Opened(1), QStringList{First});
    Press(Qt::Key_Space);
    EXPECT_EQ(Browser.Opened(2), (QStringList{First, First}));
    EXPECT_EQ(Focused(), Results); // the window stays for the next choice

    // Back in reverse: Shift+Tab retraces the same way.
    Press(Qt::Key_Backtab);
    EXPECT_TRUE(qobject_cast<QRadioButton*>(Focused())) << FocusName().toStdString();
}

TEST_F(KeyboardTest, ReturnPressesTheFocusedButtonAndOkIsTheSettingsDefault) {
    Start(false);
    // A plain window: the focused button, not the first one.
    ShowStyleVoting(Main->Program());
    TfrmStyleVoting* Voting = ExistingStyleVoting();
    Activate(*Voting);
    auto* Tops = In<QPushButton>(Voting, "btnTops");
    auto* Refresh = In<QPushButton>(Voting, "btnRefresh");
    QSignalSpy RefreshClicks(Refresh, &QPushButton::clicked);
    In<QPushButton>(Voting, "btnFlops")->setFocus();
    Press(Qt::Key_Tab);
    EXPECT_EQ(Focused(), Tops); // left to right
    Press(Qt::Key_Tab);
    ASSERT_EQ(Focused(), Refresh);
    Press(Qt::Key_Return);
    Press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(RefreshClicks.count(), 2);
    Voting->close();

    TfrmSettings* Dialog = OpenSettings();
    auto* Tabs = In<QTabWidget>(Dialog, "pcSettings");

    // "Neu..." opens the link editor; there, Return on "Abbrechen" cancels it.
    Tabs->setCurrentIndex(1);
    In<QPushButton>(Dialog, "btnAddPersonalLink")->setFocus();
    bool EditorSeen = false;
    QTimer::singleShot(0, [&] {
        TfrmEditFavorites* Editor = ExistingEditFavorites();
        EditorSeen = Editor != nullptr && Editor->isVisible();
        if (!EditorSeen) {
            if (Editor != nullptr)
                Editor->reject();
            return;
        }
        Editor->findChild<QLineEdit*>("edtTitle")->setText("Nie gespeichert");
        auto* Cancel = Editor->findChild<QPushButton*>("btnCancel");
        Cancel->setFocus();
        QTest::keyClick(Cancel, Qt::Key_Return);
        if (Editor->isVisible()) {
            ADD_FAILURE() << "Return on Abbrechen left the editor open";
            Editor->reject();
        }
    });
    Press(Qt::Key_Return);
    EXPECT_TRUE(EditorSeen);
    EXPECT_FALSE(ExistingEditFavorites()->isVisible());
    EXPECT_FALSE(SettingsKeyExists("favorites\\Nie gespeichert"));
    Activate(*Dialog); // back from the editor

    // "Speichern" of the newsletter sends; Return in a text field is Ok's.
    Tabs->setCurrentIndex(2);
    auto* Email = In<QLineEdit>(Dialog, "edtEmail");
    Email->setFocus();
    QTest::keyClicks(Email, "leser@example.de");
    QStringList Visited;
    for (int I = 0; I < 10 && Focused() != nullptr && FocusName() != "btnGetNewsletter"; ++I) {
        Press(Qt::Key_Tab);
        Visited << FocusName();
    }
    ASSERT_EQ(FocusName(), "btnGetNewsletter") << Visited.join(' ').toStdString();
    Press(Qt::Key_Return);
    ASSERT_TRUE(WaitUntil([&] { return !Warnings.isEmpty() && !Main->Program().IsBusy(); }));
    EXPECT_EQ(Warnings, QStringList{txtNewsletter() + "|" + txtDataSaved()});
    EXPECT_EQ(Server->Records().size(), 1);
    EXPECT_TRUE(Dialog->isVisible());

    In<QCheckBox>(Dialog, "cbxAutoStart")->setChecked(false);
    Email->setFocus();
    Press(Qt::Key_Return);
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_FALSE(ReadSettingBool("", "autorun", true)); // Ok, not Cancel, closed it
}

TEST_F(KeyboardTest, TabLeavesTheFeedbackTextAndAHiddenSweepstakesTabIsNeverReached) {
    Start(true);
    TfrmSettings* Dialog = OpenSettings();
    auto* Tabs = In<QTabWidget>(Dialog, "pcSettings");
    auto* Game = Dialog->findChild<QWidget*>("tabGewinnspiel");
    ASSERT_TRUE(Tabs->isTabVisible(Tabs->indexOf(Game)));

    // Feedback: Tab moves on from the text instead of typing a tab character.
    Tabs->setCurrentIndex(3);
    auto* Memo = In<QPlainTextEdit>(Dialog, "edtFeedback");
    Memo->setFocus();
    QTest::keyClicks(Memo, "Gut");
    Press(Qt::Key_Tab);
    EXPECT_NE(Focused(), Memo);
    EXPECT_EQ(FocusName(), "edtFeedbackEmail");
    EXPECT_FALSE(Memo->toPlainText().contains('\t'));
    Press(Qt::Key_Backtab);
    EXPECT_EQ(Focused(), Memo);

    // While it runs, Ctrl+Tab reaches the sweepstakes; its links are in the tab order.
    In<QPushButton>(Dialog, "btnSendFeedback")->setFocus();
    Press(Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_EQ(Tabs->currentWidget(), Game);
    auto* Conditions = In<TLinkLabel>(Dialog, "lblAccept1");
    Conditions->setFocus();
    EXPECT_EQ(Focused(), Conditions);
    Press(Qt::Key_Return);
    EXPECT_EQ(Browser.Opened(1).size(), 1);

    // Closed on the sweepstakes tab; then the sweepstakes ends.
    Press(Qt::Key_Escape);
    ASSERT_FALSE(Dialog->isVisible());
    SetGame(false);
    RefreshNow(Main->Program(), true);
    ASSERT_FALSE(Main->Program().IsGameActive());

    OpenSettings();
    EXPECT_FALSE(Tabs->isTabVisible(Tabs->indexOf(Game)));
    EXPECT_NE(Tabs->currentWidget(), Game);
    EXPECT_TRUE(Tabs->currentWidget()->isVisible());
    Tabs->setCurrentIndex(3);
    auto* Send = In<QPushButton>(Dialog, "btnSendFeedback");
    QTest::keyClick(Send, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(Tabs->currentIndex(), 0); // past the hidden tab to the first one
    QTest::keyClick(Tabs->currentWidget(), Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Tabs->currentIndex(), 3);
}

} // namespace
