// The info and help windows in the running main window, against the local vendor server.
#include "ShellSupport.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uTTrayMenu.h"
#include "uUIHooks.h"
#include "ufrmAbout.h"
#include "ufrmHelp.h"
#include "ufrmQuorvantis.h"
#include "ufrmSearch.h"
#include "ufrmSettings.h"
#include "ufrmSoftwareUpdate.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <gtest/gtest.h>

namespace {

class InfoHelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetCurrentLanguage(0);
        WriteSettingInteger("", "debug", 3);
        WriteSettingString("", "lastnews", "9999"); // no news question box
        WriteSettingBool("", "first", false);
        // Every test starts without the windows.
        delete ExistingAbout();
        delete ExistingHelp();
        delete ExistingSoftwareUpdate();
    }
    void TearDown() override {
        delete ExistingAbout();
        delete ExistingHelp();
        delete ExistingSoftwareUpdate();
        UIHooks() = TUIHooks();
        SetCurrentLanguage(0);
    }
    bool LogHas(const QString& Tail) const { return Env.HasLogLine(Tail); }
    TTempEnvironment Env;
};

QString Text(QWidget* Window, const char* Label) {
    return Child<QLabel>(Window, Label)->text();
}

} // namespace

TEST_F(InfoHelpTest, InfoFromTheTrayShowsCheckOpensTheVendorAndOffersTheInstallerWithShift) {
    TVendorServerProcess Server;
    WriteSettingString("", "server", Server.BaseURL());
    TBrowserRecorder Browser;
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));

    QAction* Info = nullptr;
    for (QAction* Action : Main.TrayMenu()->actions())
        if (Action->text() == "&Info")
            Info = Action;
    ASSERT_NE(Info, nullptr);
    Info->trigger();
    TfrmAbout* About = ExistingAbout();
    ASSERT_TRUE(About && About->isVisible());
    EXPECT_EQ(About->windowTitle(), "Info");
    EXPECT_EQ(Text(About, "labTitle"), "Quorvantis - der Schnellzugang zu Ihren Lieblingsshops");
    EXPECT_EQ(Text(About, "labVersion"), "Version 2.2   © 2026");
    EXPECT_EQ(Text(About, "lblLastCheck"), "Check: 2026-12-01");
    EXPECT_EQ(Child<QPushButton>(About, "btnSoftwareUpdate")->text(), "Akt&ualisieren");

    QLabel* Vendor = Child<QLabel>(About, "labCopyright");
    EXPECT_EQ(Vendor->text().remove(QLatin1Char('&')), Server.BaseURL().mid(7)); // shown with its access key
    QTest::mouseClick(Vendor, Qt::LeftButton);
    EXPECT_EQ(Browser.Opened(1), QStringList{TfrmAbout::HomePageURL()});
    EXPECT_TRUE(TfrmAbout::HomePageURL().startsWith(Server.BaseURL()));

    // The program is up to date; Shift held at the click still offers the installer.
    UIHooks().IsShiftDown = [] { return true; };
    QTest::mouseClick(Child<QPushButton>(About, "btnSoftwareUpdate"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return ExistingSoftwareUpdate() && ExistingSoftwareUpdate()->isVisible(); }));
    TfrmSoftwareUpdate* Update = ExistingSoftwareUpdate();
    EXPECT_EQ(Update->State(), usUpToDate);
    EXPECT_TRUE(Update->ForceButton());
    EXPECT_TRUE(Child<QPushButton>(Update, "btnUpdate")->isVisible());
    EXPECT_EQ(Text(Update, "labTitle"), "Quorvantis: Keine neue Version verfügbar.");
    int Downloads = 0;
    for (const QString& Line : Env.LogLines())
        Downloads += Line.contains("|INFO|GetUpdates: Version=2.2");
    EXPECT_EQ(Downloads, 2) << "the update button always downloads the catalogue";

    Main.SetLanguage(1);
    EXPECT_EQ(Text(About, "labTitle"), "Quorvantis - The direct way to your favorite shops");
    EXPECT_EQ(Child<QPushButton>(About, "btnClose")->text(), "Clo&se");
    EXPECT_EQ(Text(Update, "labTitle"), "Quorvantis: No new version available.");
    QTest::keyClick(About, Qt::Key_Escape);
    EXPECT_FALSE(About->isVisible());
    EXPECT_TRUE(Update->isVisible());
}

TEST_F(InfoHelpTest, InfoWindowGrowsToHoldItsTextsInALargerDesktopFont) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    // A desktop font half as large again as the design's (GNOME's clipped "Aktualisieren").
    struct TFontGuard {
        QFont Saved = QApplication::font();
        ~TFontGuard() { QApplication::setFont(Saved); }
    } Guard;
    QFont Large = Guard.Saved;
    Large.setPointSizeF(Guard.Saved.pointSizeF() * 1.5);
    QApplication::setFont(Large);
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ShowInfo(Main.Program());
    TfrmAbout* About = ExistingAbout();
    ASSERT_TRUE(About && About->isVisible());
    for (const char* Name : {"btnSoftwareUpdate", "btnClose"}) {
        auto* Button = Child<QPushButton>(About, Name);
        EXPECT_GE(Button->width(), Button->sizeHint().width()) << Name;
        EXPECT_GE(Button->height(), Button->sizeHint().height()) << Name;
        EXPECT_TRUE(About->rect().contains(Button->geometry())) << Name;
    }
    int Below = 0; // each row starts below the one before
    for (const char* Name : {"labTitle", "labDescription", "labVersion", "lblLastCheck"}) {
        auto* Label = Child<QLabel>(About, Name);
        EXPECT_GE(Label->y(), Below) << Name;
        EXPECT_GE(Label->height(),
                  Label->wordWrap() ? Label->heightForWidth(Label->width()) : Label->sizeHint().height())
            << Name;
        if (!Label->wordWrap()) {
            EXPECT_GE(Label->width(), Label->sizeHint().width()) << Name;
        }
        EXPECT_TRUE(About->rect().contains(Label->geometry())) << Name;
        Below = Label->geometry().bottom() + 1;
    }
    auto* Vendor = Child<QLabel>(About, "labCopyright");
    EXPECT_GT(Vendor->x(), Child<QLabel>(About, "labVersion")->geometry().right());
    EXPECT_TRUE(About->rect().contains(Vendor->geometry()));
    EXPECT_GE(Child<QPushButton>(About, "btnClose")->y(), Below);
    EXPECT_GT(About->height(), 236) << "the window grows down for the larger rows";
}

TEST_F(InfoHelpTest, WithoutAnyCatalogueTheCheckLineIsEmpty) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ShowInfo(Main.Program());
    ASSERT_NE(ExistingAbout(), nullptr);
    EXPECT_EQ(Text(ExistingAbout(), "lblLastCheck"), "Check: ");
}

TEST_F(InfoHelpTest, HelpShowsTheDocumentOfTheLanguageAndSwitchesWhileOpen) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ShowHelp(Main.Program());
    TfrmHelp* Help = ExistingHelp();
    ASSERT_TRUE(Help && Help->isVisible());
    QTextBrowser* Document = Child<QTextBrowser>(Help, "rdtHelp");
    EXPECT_EQ(Help->windowTitle(), "Hilfe");
    EXPECT_EQ(Text(Help, "labTitle"), "Schneller und einfacher Zugang zu Ihren Lieblingsshops");
    EXPECT_TRUE(Document->toPlainText().startsWith("Hilfe zu Quorvantis 2.2\n"));
    EXPECT_TRUE(Document->isReadOnly());
    const QString German = TfrmHelp::DocumentPath();
    EXPECT_TRUE(German.endsWith("/Quorvantis_Help_DE.rtf"));
    EXPECT_TRUE(LogHas("DEBUG|Help document: " + German));
    EXPECT_EQ(Child<QStatusBar>(Help, "pnlStatusBar")->currentMessage(), "Quorvantis 2.2");

    Main.SetLanguage(1);
    EXPECT_EQ(Help->windowTitle(), "Help");
    EXPECT_TRUE(Document->toPlainText().startsWith("Quorvantis 2.2 help\n"));
    EXPECT_TRUE(LogHas("DEBUG|Help document: " + TfrmHelp::DocumentPath()));

    // A document in the install folder comes first.
    WriteFileBytes(Env.InstallFolder() + "Quorvantis_Help_EN.rtf", R"({\rtf1 Own {\b help}\par})");
    ShowHelp(Main.Program());
    EXPECT_EQ(Document->toPlainText(), "Own help\n");
    EXPECT_EQ(TfrmHelp::DocumentPath(), Env.InstallFolder() + "Quorvantis_Help_EN.rtf");
    Main.SetLanguage(0);
    EXPECT_TRUE(Document->toPlainText().startsWith("Hilfe zu Quorvantis 2.2\n"));

    // One too large to be ours gives way to the shipped document, and the log says why.
    const QString Huge = Env.InstallFolder() + "Quorvantis_Help_DE.rtf";
    WriteFileBytes(Huge, "{\\rtf1 Riesig\\par " + QByteArray(TfrmHelp::MaxDocumentBytes, 'x') + "}");
    Document->clear();
    ShowHelp(Main.Program());
    EXPECT_TRUE(Document->toPlainText().startsWith("Hilfe zu Quorvantis 2.2\n"));
    EXPECT_EQ(TfrmHelp::DocumentPath(), German);
    EXPECT_TRUE(LogHas("ERROR|ShowHelp: The help document is too large: " + Huge));

    // No document for the language: the missing-file text, nothing logged.
    QFile::remove(Env.LogFile());
    Help->LoadDocument(Env.InstallFolder() + "missing.rtf");
    EXPECT_EQ(Document->toPlainText(), txtHelpFileMissing.In(0));
    EXPECT_FALSE(QFile::exists(Env.LogFile()));

    QTest::keyClick(Help, Qt::Key_Escape);
    EXPECT_FALSE(Help->isVisible());
}

TEST_F(InfoHelpTest, F1OpensTheHelpFromEveryWindowAndEveryWindowBearsTheProgramIcon) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ShowSettings(Main.Program());
    ShowSearch(Main.Program());
    ShowInfo(Main.Program());
    ShowUpdates(Main.Program(), usUpToDate, false);
    const QList<QWidget*> Windows = {ExistingSettings(), ExistingSearch(), ExistingAbout(), ExistingSoftwareUpdate()};
    for (QWidget* Window : Windows) {
        ASSERT_NE(Window, nullptr);
        SCOPED_TRACE(Window->objectName().toStdString());
        EXPECT_FALSE(Window->windowIcon().isNull());
        // A parentless dialog is kept above every other window of the program by the desktop
        // (xfwm4): a window opened later from the menu would come up behind it.
        EXPECT_EQ(Window->windowType(), Qt::Window);
        if (ExistingHelp())
            ExistingHelp()->close();
        Window->activateWindow();
        QWidget* Target = Window->focusWidget() ? Window->focusWidget() : Window;
        QTest::keyClick(Target, Qt::Key_F1);
        ASSERT_NE(ExistingHelp(), nullptr);
        EXPECT_TRUE(ExistingHelp()->isVisible());
        EXPECT_FALSE(ExistingHelp()->windowIcon().isNull());
    }
    // Elsewhere F1 is an ordinary key: with Shift it opens nothing.
    ExistingHelp()->close();
    QTest::keyClick(ExistingSearch(), Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_FALSE(ExistingHelp()->isVisible());
    delete ExistingSettings();
    delete ExistingSearch();
}

TEST_F(InfoHelpTest, EveryWindowFitsTheAvailableAreaOfTheScreenWithItsButtonsVisible) {
    if (!qEnvironmentVariableIsSet("QUORVANTIS_TEST_SMALL_SCREEN")) {
        // This very test again, in a process whose only screen is 1024 x 600.
        QTemporaryDir Folder;
        const QString Config = Folder.filePath("screen.json");
        WriteFileBytes(Config, R"({"screens": [{"name": "Small", "x": 0, "y": 0, "width": 1024, "height": 600,
                                   "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        QProcess Child;
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + Config);
        Environment.insert("QUORVANTIS_TEST_SMALL_SCREEN", "1");
        Child.setProcessEnvironment(Environment);
        Child.setProcessChannelMode(QProcess::MergedChannels);
        Child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=InfoHelpTest.EveryWindowFitsTheAvailableAreaOfTheScreenWithItsButtonsVisible"});
        ASSERT_TRUE(Child.waitForFinished(90000));
        const QString Output = QString::fromUtf8(Child.readAll());
        EXPECT_EQ(Child.exitCode(), 0) << Output.toStdString();
        EXPECT_TRUE(Output.contains("[  PASSED  ] 1 test")) << Output.toStdString();
        return;
    }
    WriteSettingString("", "server", "http://127.0.0.1:9");
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    const QRect Area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(Area.size(), QSize(1024, 600));
    ShowHelp(Main.Program());
    ShowInfo(Main.Program());
    for (QWidget* Window : {static_cast<QWidget*>(ExistingHelp()), static_cast<QWidget*>(ExistingAbout())}) {
        ASSERT_NE(Window, nullptr);
        SCOPED_TRACE(Window->objectName().toStdString());
        // Room for a title bar above, nothing past the bottom or the sides.
        EXPECT_GE(Window->y() - 32, Area.top());
        EXPECT_LE(Window->y() + Window->height(), Area.bottom() + 1);
        EXPECT_GE(Window->x(), Area.left());
        EXPECT_LE(Window->x() + Window->width(), Area.right() + 1);
        // Every control of the window lies inside it.
        for (QWidget* Control : Window->findChildren<QWidget*>())
            if (Control->isVisible() && Control->parentWidget() == Window) {
                EXPECT_LE(Control->geometry().bottom(), Window->height() - 1) << Control->objectName().toStdString();
            }
    }
    TfrmHelp* Help = ExistingHelp();
    QPushButton* Close = Child<QPushButton>(Help, "btnClose");
    EXPECT_LT(Close->geometry().bottom(), Child<QStatusBar>(Help, "pnlStatusBar")->geometry().top());
    QTextBrowser* Text = Child<QTextBrowser>(Help, "rdtHelp");
    EXPECT_LT(Text->mapTo(Help, QPoint(0, Text->height())).y(), Close->geometry().top());
    EXPECT_GE(Text->height(), 100) << "the text keeps room to read";
    QTest::mouseClick(Close, Qt::LeftButton);
    EXPECT_FALSE(Help->isVisible());
}
