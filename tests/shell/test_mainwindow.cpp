// The main window and the real program against the real local vendor server.
#include "LoopbackServer.h"
#include "ProgramRunner.h"
#include "ShellSupport.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uSingleInstance.h"
#include "uTTrayMenu.h"
#include "uTURLMenuItem.h"
#include "uUIHooks.h"
#include "ufrmQuorvantis.h"
#include "ufrmSettings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

#include <csignal>

namespace {

// A copy of the sample content whose catalogue gets Edit applied.
QString ContentWith(const QString& Folder, const std::function<void(QString&)>& Edit) {
    TVendorServerProcess::CopyContent(Folder);
    QString Xml = QString::fromUtf8(ReadFileBytes(Folder + "/version2.xml"));
    Edit(Xml);
    WriteFileBytes(Folder + "/version2.xml", Xml.toUtf8());
    return Folder;
}

class VendorTest : public ::testing::Test {
protected:
    void UseServer(const TVendorServerProcess& Server) {
        WriteSettingString("", "server", Server.BaseURL());
        WriteSettingInteger("", "debug", 3);
    }
    TTempEnvironment Env;
};

TEST_F(VendorTest, RunningProgramLoadsTheCatalogueAndOpensShopsNamedByASecondStart) {
    const QString Content = ContentWith(Env.Root() + "/content", [](QString& Xml) {
        Xml.replace("</shops>", "<shop id=\"2001\" name=\"kleiderwolke\" site=\"{BASE}/sites/kleiderwolke\" "
                                "category=\"Sonstiges\"/></shops>");
    });
    TVendorServerProcess Server(Content);
    UseServer(Server);
    WriteSettingString("", "lastnews", "9999"); // no news question box in this run
    TBrowserRecorder Browser;

    TProgramRun First;
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 30000));
    const QString Log = QString::fromUtf8(ReadFileBytes(Env.LogFile()));
    EXPECT_TRUE(Log.contains("|INFO|GetUpdates: Version=2.2 Server=2.2 Check=2026-12-01 URL=" + Server.BaseURL() +
                             "/version2.xml?ref="));
    EXPECT_TRUE(QFile::exists(Env.InstallFolder() + "quorvantis.xml"));

    EXPECT_EQ(RunProgramToEnd({"KLEIDERWOLKE"}), 0);
    // Both browsers start at once, so their records may land in either order.
    QStringList Both = Browser.Opened(2);
    Both.sort();
    EXPECT_EQ(Both, QStringList({Server.BaseURL() + "/shop.php?id=1001", Server.BaseURL() + "/shop.php?id=2001"}));
    // ASCII letters fold, an umlaut must match as written.
    EXPECT_EQ(RunProgramToEnd({"SOHLENGLüCK"}), 0);
    EXPECT_EQ(Browser.Opened(3).value(2), Server.BaseURL() + "/shop.php?id=1007");
    EXPECT_EQ(RunProgramToEnd({"SOHLENGLÜCK"}), 0);
    First.Terminate(SIGTERM);
    ASSERT_TRUE(First.WaitFinished());
    EXPECT_EQ(Browser.Opened().size(), 3);
}

TEST_F(VendorTest, SignalEndsAnOpenQuestionBoxOrARunningRequestFirst) {
    TVendorServerProcess Server;
    UseServer(Server); // the news question box opens during the start
    {
        TProgramRun Run;
        // The news question comes right after the catalogue line.
        QElapsedTimer Timer;
        Timer.start();
        while (!ReadFileBytes(Env.LogFile()).contains("|INFO|GetUpdates: Version=2.2") && Timer.elapsed() < 15000)
            QThread::msleep(20);
        ASSERT_TRUE(ReadFileBytes(Env.LogFile()).contains("|INFO|GetUpdates: Version=2.2"));
        QThread::msleep(300); // an absence: a program that ended at the question would have by now
        EXPECT_EQ(Run.Process().state(), QProcess::Running);
        Run.Terminate(SIGTERM);
        ASSERT_TRUE(Run.WaitFinished(10000));
        EXPECT_EQ(Run.Process().exitCode(), 0);
    }

    // A server that accepts the catalogue request and then sends nothing.
    TLoopbackServer Stalled;
    Stalled.Svr.Get("/version2.xml", [&Stalled](const httplib::Request&, httplib::Response& Res) {
        Stalled.Hold();
        Res.set_content("<c/>", "text/xml");
    });
    Stalled.Start();
    WriteSettingString("", "server", Stalled.Base());
    QFile::remove(Env.LogFile());
    {
        TProgramRun Run;
        ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Starting..."));
        ASSERT_TRUE(WaitUntil([&] { return Stalled.Taken == 1; })) << "the signal must reach a running request";
        Run.Terminate(SIGTERM);
        EXPECT_TRUE(Run.WaitFinished(10000));
        EXPECT_EQ(Run.Process().exitCode(), 0);
    }
    EXPECT_TRUE(Env.LogLines().join("\n").contains("|ERROR|GetUpdates: URL=http://127.0.0.1:"));
}

// In-process main window: the start sequence with scripted answers.
class MainWindowTest : public VendorTest {
protected:
    void SetUp() override {
        UIHooks().AskYesNo = [this](const QString& Caption, const QString& Text) {
            Questions << Caption + "|" + Text;
            return false;
        };
    }
    void TearDown() override { UIHooks() = TUIHooks(); }
    QStringList Questions;
};

TEST_F(MainWindowTest, FirstStartBalloonThenVersionWarningAndNewsOfferedOnce) {
    const QString Content =
        ContentWith(Env.Root() + "/content", [](QString& Xml) { Xml.replace("<version>2.2<", "<version>2.3<"); });
    TVendorServerProcess Server(Content);
    UseServer(Server);
    SetCurrentLanguage(0);
    {
        TfrmQuorvantis Main({"quorvantis"});
        ASSERT_TRUE(WaitStarted(Main));
        EXPECT_EQ(Main.LastBalloonText(), txtFirstStartBalloon.In(0));
        EXPECT_FALSE(Main.GetShops().empty());
    }
    ASSERT_EQ(Questions.size(), 1);
    EXPECT_TRUE(Questions[0].endsWith("\r\n\r\nWollen Sie den kompletten Artikel lesen?"));
    EXPECT_EQ(ReadSettingString("", "lastnews", ""), "2026-12-01");
    EXPECT_EQ(ReadSettingInteger("", "handle", -1), 0);
    {
        TfrmQuorvantis Main({"quorvantis"});
        ASSERT_TRUE(WaitStarted(Main));
        EXPECT_EQ(Main.LastBalloonText(), txtNotUpToDateBalloon.In(0));
        // Declined before: not offered again, also not on a forced refresh.
        EXPECT_EQ(RefreshNow(Main.Program(), true), 1);
    }
    EXPECT_EQ(Questions.size(), 1);
}

TEST_F(MainWindowTest, ShopEntryOpensTheFullAddressAndShowPopsTheMenuUp) {
    TVendorServerProcess Server;
    UseServer(Server);
    WriteSettingString("", "lastnews", "9999");
    TBrowserRecorder Browser;
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ASSERT_FALSE(Main.GetSortedShops().empty());

    TURLMenuItem* Entry = nullptr;
    std::function<void(QMenu*)> Find = [&](QMenu* Menu) {
        for (QAction* A : Menu->actions()) {
            if (auto* Item = qobject_cast<TURLMenuItem*>(A); Item && Item->URL().endsWith("/shop.php?id=1007"))
                Entry = Item;
            if (A->menu()) {
                Q_EMIT A->menu()->aboutToShow(); // as opening it does
                Find(A->menu());
            }
        }
    };
    Find(Main.TrayMenu());
    ASSERT_NE(Entry, nullptr);
    Entry->trigger();
    EXPECT_EQ(Browser.Opened(1), QStringList{Server.BaseURL() + "/shop.php?id=1007&ref=" + QString::number(Main.Ref()) +
                                             "&check=2026-12-01&version=2.2&subid=software"});

    bool WasOpen = false;
    QTimer::singleShot(200, [&] {
        WasOpen = QApplication::activePopupWidget() == Main.TrayMenu();
        Main.TrayMenu()->close();
    });
    Main.ExecuteCommand("SHOW");
    EXPECT_TRUE(WasOpen);
    EXPECT_EQ(Browser.Opened().size(), 1);
}

TEST_F(MainWindowTest, OfflineStartWithoutAnyCatalogueSaysWhyTheMenuHasNoShops) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteSettingBool("", "first", false);
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    EXPECT_TRUE(Main.GetShops().empty());
    // The fixed entries below one disabled line that says why there are no shops.
    const QList<QAction*> Entries = Main.TrayMenu()->actions();
    ASSERT_EQ(Entries.size(), 9);
    EXPECT_EQ(Entries[0]->text(), txtMenuNoShops.In(0));
    EXPECT_FALSE(Entries[0]->isEnabled());
    Main.SetLanguage(1);
    EXPECT_EQ(Main.TrayMenu()->actions().value(0)->text(), "No shops: server not reachable");
    Main.SetLanguage(0);
    // The refresh failed and no local file exists: the file's verdict 0 gives no notice.
    EXPECT_EQ(Main.LastBalloonText(), "");
    EXPECT_TRUE(Env.LogLines().join("\n").contains("|ERROR|GetUpdates: URL=http://127.0.0.1:9/version2.xml?ref="));
}

TEST_F(MainWindowTest, UnreachableServerFallsBackToTheLocalFile) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteSettingBool("", "first", false);
    WriteSettingInteger("", "debug", 2);
    WriteFileBytes(Env.InstallFolder() + "quorvantis.xml",
                   "<c><version>2.3</version><shops><shop id=\"1\" name=\"Lokal\" category=\"A\"/></shops></c>");
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    EXPECT_EQ(Main.GetShops().size(), 1u);
    EXPECT_EQ(Main.LastBalloonText(), txtNotUpToDateBalloon.In(0));
    QStringList Lines = Env.LogLines();
    // Without a notification area the program says so once and keeps going.
    EXPECT_EQ(Lines.filter("|INFO|No notification area found").size(), 1);
    // The stored catalogue is loaded first, shown while the request runs.
    Lines = Lines.filter(QRegularExpression("GetUpdates|Load data"));
    ASSERT_EQ(Lines.size(), 2);
    EXPECT_TRUE(Lines[0].endsWith("|INFO|Load data from file: 2.3"));
    EXPECT_TRUE(Lines[1].contains("|ERROR|GetUpdates: URL=http://127.0.0.1:9/version2.xml?ref="));
}

TEST_F(MainWindowTest, HintsGoToTheStatusBarsWithCarriageReturnsAsBlanks) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    QStringList Shown;
    QObject::connect(&Main.Program(), &TProgram::HintChanged, [&](const QString& Text) { Shown << Text; });
    Main.DisplayHint("Zeile 1\r\nZeile 2");
    Main.DisplayHint("");
    EXPECT_EQ(Shown, QStringList({"Zeile 1 \nZeile 2", "Quorvantis 2.2"}));
}

TEST_F(MainWindowTest, NothingWaitsForAServerThatNeverAnswers) {
    // A server that takes every request and answers only when the test is over.
    TLoopbackServer Stalled;
    Stalled.Svr.Get(".*", [&Stalled](const httplib::Request&, httplib::Response& Res) {
        Stalled.Hold();
        Res.set_content("<c/>", "text/xml");
    });
    Stalled.Start();
    WriteSettingString("", "server", Stalled.Base());
    WriteSettingString("", "lastnews", "9999");
    UIHooks().ShowWarning = [](const QString&, const QString&) { ADD_FAILURE() << "nothing is reported yet"; };
    {
        TfrmQuorvantis Main({"quorvantis"});
        ASSERT_TRUE(WaitUntil([&] { return Stalled.Taken == 1; }));
        EXPECT_FALSE(Main.IsStarted()) << "the start waits for the catalogue in the background";

        // The menu opens at once, however long the catalogue takes.
        bool Shown = false;
        struct TOnShow final : QObject {
            bool* Flag;
            explicit TOnShow(bool* F) : Flag(F) {}
            bool eventFilter(QObject* Watched, QEvent* Event) override {
                if (Event->type() == QEvent::Show) {
                    *Flag = true;
                    QTimer::singleShot(0, static_cast<QWidget*>(Watched), &QWidget::close);
                }
                return false;
            }
        } OnShow(&Shown);
        Main.TrayMenu()->installEventFilter(&OnShow);
        Main.ExecuteCommand("show"); // returns when the menu has closed
        EXPECT_TRUE(Shown);
        Main.TrayMenu()->removeEventFilter(&OnShow);

        // A submission that stalls leaves the settings window usable: tabs, Escape.
        ShowSettings(Main.Program());
        TfrmSettings* Settings = ExistingSettings();
        auto* Tabs = Settings->findChild<QTabWidget*>("pcSettings");
        Tabs->setCurrentIndex(3);
        Settings->findChild<QPlainTextEdit*>("edtFeedback")->setPlainText("Hallo");
        Settings->findChild<QLineEdit*>("edtFeedbackEmail")->setText("kunde@beispiel.de");
        auto* Send = Settings->findChild<QPushButton*>("btnSendFeedback");
        Send->click();
        ASSERT_TRUE(WaitUntil([&] { return Stalled.Taken == 2; }));
        EXPECT_TRUE(Main.Program().IsSubmitting());
        EXPECT_FALSE(Send->isEnabled()) << "sending again waits for the answer";
        EXPECT_EQ(Settings->cursor().shape(), Qt::BusyCursor);
        QTest::keyClick(Tabs, Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_NE(Tabs->currentIndex(), 3);
        QTest::keyClick(Settings, Qt::Key_Escape);
        EXPECT_FALSE(Settings->isVisible());
        delete Settings;
    }
}

TEST_F(MainWindowTest, HandOffDuringACatalogueRequestIsServedAfterIt) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteSettingString("", "lastnews", "9999");
    TBrowserRecorder Browser;
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ASSERT_TRUE(Main.GetShops().empty());

    // A vendor server that answers the catalogue request once the second start's command has arrived.
    TLoopbackServer Slow;
    Slow.Svr.Get("/version2.xml", [&Slow](const httplib::Request&, httplib::Response& Res) {
        Slow.Hold();
        Res.set_content("<c><version>2.2</version><shops><shop id=\"5\" name=\"Zauberladen\"/></shops></c>",
                        "text/xml");
    });
    Slow.Start();
    const QString Base = Slow.Base();
    WriteSettingString("", "server", Base);
    QTimer Arrived;
    QObject::connect(&Arrived, &QTimer::timeout, [&] {
        if (Main.Program().PendingCommands() > 0)
            Slow.Release();
    });
    Arrived.start(5);

    TInstanceGuard Guard; // this process is the running instance
    ASSERT_TRUE(Guard.IsFirstInstance());
    QProcess Second;
    QProcessEnvironment E = QProcessEnvironment::systemEnvironment();
    E.insert("QT_QPA_PLATFORM", "offscreen");
    Second.setProcessEnvironment(E);
    Second.start(ProgramBinary(), {"ZAUBERLADEN"});
    ASSERT_TRUE(Second.waitForStarted());
    // The command arrives while the request runs; served inside it, it would find no shop.
    EXPECT_EQ(RefreshNow(Main.Program(), true), usCheckOutdated);
    // The sender ends on receipt; the command is served once the request is over.
    EXPECT_TRUE(
        WaitUntil([&] { return Second.state() == QProcess::NotRunning && !Browser.Opened().isEmpty(); }, 15000));
    EXPECT_EQ(Second.state(), QProcess::NotRunning);
    EXPECT_EQ(Second.exitCode(), 0);
    EXPECT_EQ(Browser.Opened(1), QStringList{Base + "/shop.php?id=5"});
}

} // namespace
