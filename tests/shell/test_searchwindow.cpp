// The search, eBay and style voting windows as real widgets over a real catalogue
// file, with a real $BROWSER. This process has no web module next to it, so the
// two web windows show their one-line notice instead of a page.
#include "ShellSupport.h"
#include "TestSupport.h"
#include "uAccessKeys.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uTWebPanel.h"
#include "uUIHooks.h"
#include "uWebModule.h"
#include "ufrmEbay.h"
#include "ufrmQuorvantis.h"
#include "ufrmSearch.h"
#include "ufrmStyleVoting.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray Catalogue(const QByteArray& Engines) {
    QByteArray Shops;
    for (int I = 1; I <= 20; ++I)
        Shops += QStringLiteral("<shop id=\"%1\" name=\"Laden %1\" category=\"Mode->Damen\"/>").arg(100 + I).toUtf8();
    Shops += "<shop id=\"201\" name=\"Sohlenglück\" category=\"Mode->Schuhe\"/>"
             "<shop id=\"202\" name=\"Bitwerk\" category=\"Technik->Rechner\"/>"
             "<shop id=\"203\" name=\"Kabelfuchs\" category=\"Technik->Zubehör\"/>"
             "<shop id=\"204\" name=\"Bitwerk\" category=\"Technik->Notebooks\"/>"
             "<shop id=\"205\" name=\"Tastenreich\" category=\"Technik->Zubehör\"/>";
    return "<quorvantis><version>2.2</version><check>2099-01-01</check><shops>" + Shops + "</shops>" + Engines +
           "</quorvantis>";
}
const QByteArray TwoEngines =
    "<searchengines><search name=\"Shops\" type=\"shops\"/><search name=\"Web\" type=\"web\"/></searchengines>";

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteSettingString("", "server", "http://127.0.0.1:9"); // refused at once: the local file serves
        WriteSettingBool("", "first", false);
        SetCurrentLanguage(0);
        UIHooks().ShowWarning = [this](const QString& Caption, const QString& Text) {
            Warnings << Caption + "|" + Text;
        };
    }
    void TearDown() override {
        UIHooks() = TUIHooks();
        // Each test starts with windows that have never been opened.
        delete ExistingSearch();
        delete ExistingEbay();
        delete ExistingStyleVoting();
        SetCurrentLanguage(0);
    }
    // On the indicator: a radio button takes clicks on its circle and text only.
    static void Choose(QRadioButton* Choice) {
        QTest::mouseClick(Choice, Qt::LeftButton, {}, QPoint(6, Choice->height() / 2));
    }
    void UseCatalogue(const QByteArray& Xml) { WriteFileBytes(Env.InstallFolder() + "quorvantis.xml", Xml); }
    void Type(QLineEdit* Edit, const QString& Text) {
        Edit->selectAll();
        QTest::keyClick(Edit, Qt::Key_Backspace);
        // Key by key with its text (keyClicks knows ASCII only).
        for (const QChar C : Text)
            QTest::sendKeyEvent(QTest::Click, Edit, Qt::Key(C.toUpper().unicode()), QString(C), Qt::NoModifier);
    }
    QString Base() const { return "http://127.0.0.1:9"; }
    TTempEnvironment Env;
    TBrowserRecorder Browser;
    QStringList Warnings;
};

TEST_F(WindowsTest, CatalogueSearchFollowsTypingAndSizesTheWindowToItsResults) {
    UseCatalogue(Catalogue(TwoEngines));
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ShowSearch(Main.Program());
    TfrmSearch* W = ExistingSearch();
    ASSERT_NE(W, nullptr);
    ASSERT_TRUE(W->isVisible());
    auto* Edit = Child<QLineEdit>(W, "edtSearch");
    auto* List = Child<QListView>(W, "listResult");
    auto* NotFound = Child<QLabel>(W, "lblNotFound");
    auto* Group = Child<QGroupBox>(W, "rdgSearchType");

    // Two engines: group 111 high, bevel at 206; an empty field shows the input area only.
    EXPECT_EQ(Group->height(), 111);
    EXPECT_EQ(W->SearchType(), 0);
    EXPECT_EQ(W->DesignHeight(), 206 + 40);
    EXPECT_FALSE(List->isVisible());
    EXPECT_EQ(W->windowTitle(), "Suche");

    Type(Edit, "LADEN"); // 20 shops: 14 rows shown, the rest scroll
    EXPECT_EQ(List->model()->rowCount(), 20);
    EXPECT_EQ(List->height(), 210);
    EXPECT_EQ(W->DesignHeight(), 206 + 210 + 55);
    QApplication::processEvents();
    EXPECT_TRUE(List->verticalScrollBar()->isVisible());

    Type(Edit, "techn"); // category-only match; "Bitwerk" twice in the catalogue, once here
    EXPECT_EQ(List->model()->rowCount(), 3);
    EXPECT_EQ(List->height(), 45);
    EXPECT_EQ(W->DesignHeight(), 206 + 45 + 55);
    QApplication::processEvents();
    EXPECT_FALSE(List->verticalScrollBar()->isVisible());

    Type(Edit, "GLüCK"); // an umlaut matches only as written
    ASSERT_EQ(List->model()->rowCount(), 1);
    EXPECT_EQ(List->model()->index(0, 0).data().toString(), "Sohlenglück");
    Type(Edit, "GLÜCK");
    EXPECT_FALSE(List->isVisible());
    EXPECT_TRUE(NotFound->isVisible());
    EXPECT_EQ(NotFound->text(), "Keine Einträge gefunden!");
    EXPECT_EQ(W->DesignHeight(), 206 + NotFound->height() + 55);

    Type(Edit, "kabel");
    const QModelIndex First = List->model()->index(0, 0);
    QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, List->visualRect(First).center());
    EXPECT_EQ(Browser.Opened(1), QStringList{Base() + "/shop.php?id=203"});

    // Cleared, the field leaves no results behind: the list is empty, not only cut off.
    Edit->selectAll();
    QTest::keyClick(Edit, Qt::Key_Backspace);
    EXPECT_EQ(W->DesignHeight(), 206 + 40);
    EXPECT_EQ(List->model()->rowCount(), 0);
    EXPECT_EQ(List->height(), 0);
    EXPECT_FALSE(List->isVisible());
    EXPECT_FALSE(NotFound->isVisible());
    Type(Edit, "GLÜCK");
    Edit->clear();
    QTest::keyClick(Edit, Qt::Key_Shift);
    EXPECT_FALSE(NotFound->isVisible());
    EXPECT_EQ(W->DesignHeight(), 206 + 40);
    QTest::keyClick(Edit, Qt::Key_Escape);
    EXPECT_FALSE(W->isVisible());
}

TEST_F(WindowsTest, EngineSearchOpensTheBrowserAndSearchesReachAVisibleEbayWindow) {
    UseCatalogue(Catalogue("<searchengines><search name=\"Shops\" type=\"shops\"/><search name=\"Produkte &amp; "
                           "mehr\" type=\"web\"/></searchengines>"));
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ShowSearch(Main.Program());
    TfrmSearch* W = ExistingSearch();
    auto* Edit = Child<QLineEdit>(W, "edtSearch");
    auto* List = Child<QListView>(W, "listResult");
    Type(Edit, "laden");
    ASSERT_EQ(List->model()->rowCount(), 20);

    QList<QRadioButton*> Choices = Child<QGroupBox>(W, "rdgSearchType")->findChildren<QRadioButton*>();
    ASSERT_EQ(Choices.size(), 3);
    // An engine's "&" is drawn as written, not taken as an access key.
    EXPECT_EQ(ShownCaption(Choices[2]->text()), "Produkte & mehr");
    Choose(Choices[2]);
    EXPECT_EQ(W->SearchType(), 2);
    EXPECT_EQ(W->DesignHeight(), 206 + 40); // results cut off
    Type(Edit, "Grüne Jacke");              // typing alone searches nothing here
    EXPECT_EQ(List->model()->rowCount(), 20);
    QTest::keyClick(Edit, Qt::Key_Return);
    EXPECT_EQ(Browser.Opened(1), QStringList{Base() + "/search.php?type=web&search=Gr%FCne%20Jacke"});
    EXPECT_EQ(List->model()->rowCount(), 20); // the list stays as it was
    EXPECT_TRUE(Warnings.isEmpty());
    // What the server's code page cannot carry is refused by name, not sent as "?".
    Type(Edit, QString::fromUtf8("Jacke \u2192 Łódź"));
    QTest::keyClick(Edit, Qt::Key_Return);
    ASSERT_EQ(Warnings.size(), 1);
    EXPECT_TRUE(Warnings[0].startsWith(QString::fromUtf8("Suche|Diese Zeichen kann die Suche nicht übertragen: "
                                                         "\u201E\u2192\u201C, \u201EŁ\u201C, \u201Eź\u201C")))
        << Warnings[0].toStdString();
    EXPECT_EQ(Browser.Opened(1).size(), 1) << "nothing more was opened";
    Type(Edit, "Grüne Jacke");

    // The eBay window, visible, takes the text of every search started here.
    ShowEbay(Main.Program());
    TfrmEbay* Ebay = ExistingEbay();
    ASSERT_NE(Ebay, nullptr);
    auto* EbayEdit = Child<QLineEdit>(Ebay, "edtSearch");
    EXPECT_EQ(EbayEdit->text(), "Zara");
    QTest::mouseClick(Child<QPushButton>(W, "btnSearch"), Qt::LeftButton);
    EXPECT_EQ(EbayEdit->text(), "Grüne Jacke");
    Choose(Choices[0]);    // choosing the catalogue search runs one as well
    Type(Edit, "Bitwerk"); // ... typing does not
    EXPECT_EQ(EbayEdit->text(), "Grüne Jacke");
    QTest::keyClick(Edit, Qt::Key_Enter);
    EXPECT_EQ(EbayEdit->text(), "Bitwerk");
    Ebay->close();
    Type(Edit, "Kabel");
    QTest::keyClick(Edit, Qt::Key_Return);
    EXPECT_EQ(EbayEdit->text(), "Bitwerk"); // hidden: left alone
    EXPECT_EQ(Browser.Opened(2).size(), 2);
}

TEST_F(WindowsTest, ChoicesFollowTheCatalogueAndTextsTheLanguage) {
    UseCatalogue(Catalogue(""));
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ShowSearch(Main.Program());
    TfrmSearch* W = ExistingSearch();
    auto* Group = Child<QGroupBox>(W, "rdgSearchType");
    EXPECT_EQ(Group->findChildren<QRadioButton*>().size(), 1);
    EXPECT_EQ(Group->height(), 91);
    EXPECT_EQ(W->DesignHeight(), 186 + 40);

    // Refreshed while the window stays open: the choices follow when it is used again.
    UseCatalogue(Catalogue(TwoEngines));
    Main.LoadVersionFile();
    QTest::keyClick(Child<QLineEdit>(W, "edtSearch"), Qt::Key_Return);
    QList<QRadioButton*> Choices = Group->findChildren<QRadioButton*>();
    ASSERT_EQ(Choices.size(), 3);
    EXPECT_EQ(Group->height(), 111);
    Choose(Choices[1]);
    QTest::keyClick(Child<QLineEdit>(W, "edtSearch"), Qt::Key_Return);
    EXPECT_EQ(Browser.Opened(1), QStringList{Base() + "/search.php?type=shops&search="});

    ShowEbay(Main.Program());
    ShowStyleVoting(Main.Program());
    Main.SetLanguage(1);
    EXPECT_EQ(W->windowTitle(), "Search");
    EXPECT_EQ(Group->title(), "Where do you want to search");
    EXPECT_EQ(Child<QPushButton>(W, "btnSearch")->text(), "Sear&ch");
    EXPECT_EQ(ShownCaption(Child<QLabel>(ExistingEbay(), "labSearch")->text()), "What do you search");
    EXPECT_EQ(Child<QPushButton>(ExistingEbay(), "btnSearch")->toolTip(), "Search for shops or products");
    EXPECT_EQ(ExistingEbay()->windowTitle(), "eBay Galerie");
    EXPECT_EQ(Child<QPushButton>(ExistingStyleVoting(), "btnRefresh")->text(), "&Nächste Seite");
    Main.SetLanguage(0);
    EXPECT_EQ(ShownCaption(Child<QLabel>(W, "labSearch")->text()), "Was suchen Sie");
}

TEST_F(WindowsTest, WebWindowsWithoutTheModuleSaySoLogItAndStillWork) {
    for (const QString& Folder : WebModuleFolders())
        if (QFile::exists(Folder + "/" + WebModuleFileName))
            GTEST_SKIP() << "a web module is installed in " << Folder.toStdString();
    UseCatalogue(Catalogue(TwoEngines));
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));

    ShowEbay(Main.Program());
    TfrmEbay* Ebay = ExistingEbay();
    ASSERT_TRUE(Ebay && Ebay->isVisible());
    const std::vector<TEbayCategory>& Categories = Ebay->Categories();
    ASSERT_EQ(Categories.size(), 34u);
    EXPECT_EQ(Categories.front().Name, "Antiquitäten & Kunst");
    EXPECT_EQ(Categories.front().CategoryId, 353);
    EXPECT_EQ(Categories[26].Name, "Sammeln & Seltenes");
    EXPECT_EQ(Categories[26].CategoryId, 1);
    EXPECT_EQ(Categories.back().Name, "Uhren & Schmuck");
    EXPECT_EQ(Ebay->SelectedCategory(), 11450);
    EXPECT_EQ(Child<QComboBox>(Ebay, "cboCategory")->currentText(), "Kleidung & Accessoires");
    EXPECT_FALSE(Ebay->Browser().HasBrowser());
    EXPECT_TRUE(Ebay->Browser().Message().startsWith("Die Seite kann hier nicht angezeigt werden: Web module"));

    // A new category loads at once, without the button.
    Child<QComboBox>(Ebay, "cboCategory")->setCurrentIndex(26);
    EXPECT_EQ(Ebay->SelectedCategory(), 1);
    QStringList Errors = Env.LogLines().filter("|ERROR|Load ");
    ASSERT_EQ(Errors.size(), 2) << Errors.join("\n").toStdString();
    EXPECT_TRUE(Errors[0].contains("|ERROR|Load banner: Web module not loaded: quorvantis_web.so not found in "));

    ShowStyleVoting(Main.Program());
    TfrmStyleVoting* Voting = ExistingStyleVoting();
    ASSERT_TRUE(Voting && Voting->isVisible());
    EXPECT_FALSE(Voting->Browser().Message().isEmpty());
    QTest::mouseClick(Child<QPushButton>(Voting, "btnTops"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(Voting, "btnFlops"), Qt::LeftButton);
    EXPECT_EQ(Browser.Opened(2),
              QStringList({Base() + "/topvotes.html?ref=software", Base() + "/flopvotes.html?ref=software"}));
    Errors = Env.LogLines().filter("|ERROR|Load ");
    ASSERT_EQ(Errors.size(), 3);
    EXPECT_TRUE(Errors[2].contains("|ERROR|Load Style Voting: Web module not loaded"));
    QApplication::setActiveWindow(Voting); // where the user's keys go
    QTest::keyClick(Voting, Qt::Key_Escape);
    EXPECT_FALSE(Voting->isVisible());
}

} // namespace
