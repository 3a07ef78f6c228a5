// The web windows with the real engine on a real X display, against the local
// vendor server, whose request log tells what the engine fetched.
#include "ProgramRunner.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uRegistry.h"
#include "uShareContext.h"
#include "uTProgram.h"
#include "uTWebPanel.h"
#include "uWebModule.h"
#include "ufrmEbay.h"
#include "ufrmStyleVoting.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

// Generous: the engine starts slowly on a loaded machine.
constexpr int EngineDeadlineMs = 60000;

bool WaitForEngine(const std::function<bool()>& Condition, int TimeoutMs = EngineDeadlineMs) {
    return WaitUntil(Condition, TimeoutMs);
}

// Processes started by the engine's helper processes (the zygotes the engine
// starts directly): the render processes of pages.
int PageProcesses(qint64 Pid) {
    QHash<qint64, qint64> Parent;
    for (const QString& Entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool Number = false;
        const qint64 Child = Entry.toLongLong(&Number);
        if (!Number)
            continue;
        const QByteArray Stat = ReadFileBytes("/proc/" + Entry + "/stat");
        const QList<QByteArray> Fields = Stat.mid(Stat.lastIndexOf(')') + 2).split(' ');
        if (Fields.size() > 1)
            Parent.insert(Child, Fields[1].toLongLong());
    }
    int Count = 0;
    for (auto It = Parent.cbegin(); It != Parent.cend(); ++It)
        if (Parent.value(It.value()) == Pid)
            ++Count;
    return Count;
}

// Until a visible X window matches the xdotool search (for example "--class",
// "quorvantis" for the program's menu pop-up, or "--name" and a window title).
bool WaitForXWindow(const QString& XDoTool, const QStringList& Search, int TimeoutMs = 10000) {
    QProcess Finder;
    Finder.start(XDoTool, QStringList{"search", "--sync", "--onlyvisible"} + Search);
    if (!Finder.waitForFinished(TimeoutMs)) {
        Finder.kill();
        Finder.waitForFinished();
        return false;
    }
    return Finder.exitCode() == 0;
}

bool MapsEngine(qint64 Pid) {
    return ReadFileBytes(QStringLiteral("/proc/%1/maps").arg(Pid)).contains("libQt6WebEngineCore");
}

class WebTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteSettingString("", "server", Server.BaseURL());
        WriteSettingString("", "lastnews", "9999");
        WriteSettingBool("", "first", false);
    }
    void TearDown() override {
        delete ExistingEbay();
        delete ExistingStyleVoting();
    }
    int Count(const QString& Request) const { return Server.Requests().count("GET " + Request + " 200"); }
    bool WaitForRequest(const QString& Request, int Times = 1) {
        return WaitForEngine([&] { return Count(Request) >= Times; });
    }
    static QProcessEnvironment OnX() {
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert("QT_QPA_PLATFORM", "xcb");
        return Environment;
    }
    // The real program on the test's X display, with the DEBUG log, up to "Started".
    void StartProgram(QProcess& Process, const QProcessEnvironment& Environment) {
        Process.setProcessEnvironment(Environment);
        Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process.start(ProgramBinary(), {});
        ASSERT_TRUE(Process.waitForStarted());
        WriteSettingInteger("", "debug", 3);
        ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", EngineDeadlineMs));
    }
    TTempEnvironment Env;
    TVendorServerProcess Server;
    TBrowserRecorder Browser;
    TProgram Program;
};

TEST_F(WebTest, EbayLoadsEachSearchFreshLinksLeaveAndHidingEndsThePageProcesses) {
    ShowEbay(Program);
    TfrmEbay* Ebay = ExistingEbay();
    ASSERT_NE(Ebay, nullptr);
    ASSERT_TRUE(WaitForRequest("/banner.html?search=Zara&category=11450"))
        << Server.Requests().join('\n').toStdString();
    EXPECT_TRUE(Ebay->Browser().HasBrowser());
    EXPECT_EQ(Ebay->Browser().Message(), "");
    // Handed back once no page shows: the engine's own files, not those the rest of
    // the program reads.
    const QByteArray EngineFiles = WebEngineFiles().join('\n');
    EXPECT_TRUE(EngineFiles.contains("/libQt6WebEngineCore.so") && EngineFiles.contains("/quorvantis_web.so"));
    EXPECT_FALSE(EngineFiles.contains("/libQt6Widgets.so") || EngineFiles.contains("/fonts/")) << EngineFiles.data();

    Ebay->SearchFor("Grüne Jacke"); // windows-1252 bytes on the wire
    EXPECT_TRUE(WaitForRequest("/banner.html?search=Gr%FCne%20Jacke&category=11450"));
    Ebay->findChild<QComboBox*>("cboCategory")->setCurrentIndex(26);
    EXPECT_TRUE(WaitForRequest("/banner.html?search=Gr%FCne%20Jacke&category=1"));
    Ebay->SearchFor("Grüne Jacke"); // the same address again: fetched again, no cache
    EXPECT_TRUE(WaitForRequest("/banner.html?search=Gr%FCne%20Jacke&category=1", 2));

    // The page's logo links to the vendor's home page: it opens in the user's browser.
    QWidget* View = nullptr;
    for (QWidget* Widget : Ebay->findChildren<QWidget*>())
        if (Widget->inherits("QWebEngineView"))
            View = Widget;
    ASSERT_NE(View, nullptr);
    const bool Left = WaitForEngine([&] {
        if (QWidget* Target = View->focusProxy())
            QTest::mouseClick(Target, Qt::LeftButton, {}, QPoint(40, 22));
        return !Browser.Opened(1, 2000).isEmpty();
    });
    EXPECT_TRUE(Left);
    EXPECT_EQ(Browser.Opened().value(0), Server.BaseURL() + "/") << Browser.Opened().join(' ').toStdString();
    EXPECT_EQ(Count("/"), 0); // not loaded inside

    const qint64 Self = QCoreApplication::applicationPid();
    EXPECT_GE(PageProcesses(Self), 1);
    Ebay->close();
    EXPECT_FALSE(Ebay->Browser().HasBrowser());
    EXPECT_TRUE(WaitForEngine([&] { return PageProcesses(Self) == 0; })) << PageProcesses(Self);

    // Reopening shows the last text and category and loads the page again.
    ShowEbay(Program);
    EXPECT_TRUE(WaitForRequest("/banner.html?search=Gr%FCne%20Jacke&category=1", 3));
}

TEST_F(WebTest, StyleVotingFetchesTheVotingPageAtEveryOpeningAndEveryNextPage) {
    ShowStyleVoting(Program);
    TfrmStyleVoting* Voting = ExistingStyleVoting();
    ASSERT_NE(Voting, nullptr);
    ASSERT_TRUE(WaitForRequest("/votingbanner.html"));
    auto* Next = Voting->findChild<QPushButton*>("btnRefresh");
    QTest::mouseClick(Next, Qt::LeftButton);
    EXPECT_TRUE(WaitForRequest("/votingbanner.html", 2));
    QTest::mouseClick(Next, Qt::LeftButton);
    EXPECT_TRUE(WaitForRequest("/votingbanner.html", 3));
    Voting->close();
    ShowStyleVoting(Program);
    EXPECT_TRUE(WaitForRequest("/votingbanner.html", 4));
    QTest::mouseClick(Voting->findChild<QPushButton*>("btnTops"), Qt::LeftButton);
    EXPECT_EQ(Browser.Opened(1), QStringList{Server.BaseURL() + "/topvotes.html?ref=software"});
    EXPECT_EQ(Count("/votingbanner.html"), 4); // Tops left the embedded page alone
}

TEST_F(WebTest, TheProgramMapsTheEngineOnlyOnceTheEbayWindowOpens) {
    const QString XDoTool = QStandardPaths::findExecutable("xdotool");
    if (XDoTool.isEmpty())
        GTEST_SKIP() << "xdotool is needed to use the program's menu";
    QProcess Program;
    const QProcessEnvironment Environment = OnX();
    ASSERT_NO_FATAL_FAILURE(StartProgram(Program, Environment));
    EXPECT_FALSE(MapsEngine(Program.processId()));

    // No notification area here: "show" pops the menu up, "e" picks "&eBay Galerie".
    const bool Opened = WaitForEngine([&] {
        QProcess Show;
        Show.setProcessEnvironment(Environment);
        Show.start(ProgramBinary(), {"show"});
        if (WaitForXWindow(XDoTool, {"--class", "quorvantis"}))
            QProcess::execute(XDoTool, {"key", "e"});
        Show.waitForFinished(5000);
        return WaitForEngine([&] { return Count("/banner.html?search=Zara&category=11450") > 0; }, 5000);
    });
    ASSERT_TRUE(Opened) << Server.Requests().join('\n').toStdString();
    EXPECT_TRUE(MapsEngine(Program.processId()));
    // Drawn in software: no OpenGL driver (and the memory it keeps) enters the
    // program, also once the window with its page is on screen.
    EXPECT_TRUE(WaitForXWindow(XDoTool, {"--name", "^eBay Galerie$"}));
    EXPECT_FALSE(ReadFileBytes(QStringLiteral("/proc/%1/maps").arg(Program.processId())).contains("_dri.so"));

    ASSERT_TRUE(SignalProcess(Program, SIGTERM));
    ASSERT_TRUE(Program.waitForFinished(30000));
    EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Program.exitCode(), 0);
}

// The web view needs a Qt function outside Qt's public API (uShareContext.h): a Qt
// that drops or changes it fails here, not in a user's session.
TEST(WebEngineQt, TheSharedOpenGLContextIsSetWithoutCreatingIt) {
    const TSetShareContext SetShareContext = FindShareContextSetter();
    ASSERT_NE(SetShareContext, nullptr) << "Qt " << qVersion() << " no longer exports " << SetShareContextSymbol;
    QOpenGLContext* const Before = QOpenGLContext::globalShareContext();
    {
        QOpenGLContext Unused;
        SetShareContext(&Unused);
        EXPECT_EQ(QOpenGLContext::globalShareContext(), &Unused);
        EXPECT_FALSE(Unused.isValid());
        SetShareContext(Before);
    }
    EXPECT_EQ(QOpenGLContext::globalShareContext(), Before);
}

// A page that tries to leave by itself, and links a click may or may not take out.
const char* const PushyPage = R"HTML(<!DOCTYPE html><html><body style="margin:0">
<a href="http://first.invalid/" style="position:absolute;left:0;top:0;width:160px;height:40px">first</a>
<a href="smb://server/share" onclick="fetch('/clicked/smb')"
   style="position:absolute;left:0;top:50px;width:160px;height:40px">smb</a>
<a href="made-up:thing" onclick="fetch('/clicked/made-up')"
   style="position:absolute;left:0;top:100px;width:160px;height:40px">made up</a>
<a id="long" onclick="fetch('/clicked/long')" style="position:absolute;left:0;top:150px;width:160px;height:40px">long</a>
<div onclick="for (var i = 0; i < 5; ++i) window.open('http://many.invalid/' + i)"
     style="position:absolute;left:0;top:200px;width:160px;height:40px">many</div>
<a href="mailto:kunde@example.de" style="position:absolute;left:0;top:250px;width:160px;height:40px">mail</a>
<script>
document.getElementById('long').href = 'http://long.invalid/?q=' + 'x'.repeat(100000);
for (var i = 0; i < 200; ++i) window.open('http://popup.invalid/' + i);
document.getElementById('long').click(); // a script's click is no user's click
fetch('/after-popups');
</script></body></html>)HTML";

TEST_F(WebTest, OnlyAUsersClickLeavesThePageOncePerClickAndOnlyForWebAndMailAddresses) {
    const QString Content = Env.Root() + "/pushy";
    TVendorServerProcess::CopyContent(Content);
    WriteFileBytes(Content + "/banner.html", PushyPage);
    TVendorServerProcess Pushy(Content);
    WriteSettingString("", "server", Pushy.BaseURL());
    ShowEbay(Program);
    TfrmEbay* Ebay = ExistingEbay();
    ASSERT_NE(Ebay, nullptr);
    // The page has run its script when it asks for the marker.
    ASSERT_TRUE(WaitForEngine([&] { return Pushy.Requests().filter("GET /after-popups ").size() == 1; }))
        << Pushy.Requests().join('\n').toStdString();
    QWidget* View = nullptr;
    for (QWidget* Widget : Ebay->findChildren<QWidget*>())
        if (Widget->inherits("QWebEngineView"))
            View = Widget;
    ASSERT_NE(View, nullptr);
    auto Click = [&](int Y) { QTest::mouseClick(View->focusProxy(), Qt::LeftButton, {}, QPoint(40, Y)); };
    // "first" is clicked until the user's browser gets it once more: an earlier click's
    // link may still be on its way and take that click's turn.
    auto ClickFirst = [&] {
        const int Before = Browser.Opened(0, 0).count("http://first.invalid/");
        return WaitForEngine([&] {
            Click(20);
            return WaitForEngine([&] { return Browser.Opened(0, 0).count("http://first.invalid/") > Before; }, 3000);
        });
    };
    ASSERT_TRUE(ClickFirst());
    EXPECT_EQ(Browser.Opened(), QStringList{"http://first.invalid/"}) << "no popup of the page's own";

    Click(220); // five windows from one click: one leaves
    ASSERT_TRUE(WaitForEngine([&] { return Browser.Opened(0, 0).size() >= 2; }));
    Click(270); // mailto
    ASSERT_TRUE(WaitForEngine([&] { return Browser.Opened(0, 0).size() >= 3; }));
    // Refused: smb:, a made-up scheme, 100,000 characters. Each says through the server
    // that its click was handled.
    for (const auto& [Y, Marker] : {std::pair{70, "smb"}, {120, "made-up"}, {170, "long"}}) {
        Click(Y);
        ASSERT_TRUE(WaitForEngine([&] {
            return !Pushy.Requests().filter(QString("GET /clicked/") + Marker).isEmpty();
        })) << Marker;
    }
    ASSERT_TRUE(ClickFirst());
    QStringList Others = Browser.Opened();
    Others.removeAll("http://first.invalid/");
    EXPECT_EQ(Others, QStringList({"http://many.invalid/0", "mailto:kunde@example.de"}));
    Ebay->close();
}

// Formatting changes in one paragraph: the kind of document a slow reader takes minutes over.
QByteArray ManyFormatChanges(qsizetype Size) {
    QByteArray Rtf = "{\\rtf1\\ansi ";
    while (Rtf.size() < Size - 40)
        Rtf += "{\\b x}{\\i y}{\\fs40 z}";
    return Rtf + "}";
}

TEST_F(WebTest, TheProgramEndsOnSIGTERMWhileItReadsALargeHelpDocument) {
    const QString XDoTool = QStandardPaths::findExecutable("xdotool");
    if (XDoTool.isEmpty())
        GTEST_SKIP() << "xdotool is needed to use the program's menu";
    WriteFileBytes(Env.InstallFolder() + "Quorvantis_Help_DE.rtf", ManyFormatChanges((1 << 20) - 1));
    WriteSettingString("", "install", Env.InstallFolder());
    QProcess Program;
    const QProcessEnvironment Environment = OnX();
    ASSERT_NO_FATAL_FAILURE(StartProgram(Program, Environment));

    // The menu from "show": Up from no entry reaches Beenden, then Info, then Einstellungen.
    // In the settings, Alt+H is the help button.
    const QString Reading = "|DEBUG|Reading the help document " + Env.InstallFolder() + "Quorvantis_Help_DE.rtf";
    const bool Opened = WaitForEngine([&] {
        QProcess Show;
        Show.setProcessEnvironment(Environment);
        Show.start(ProgramBinary(), {"show"});
        // Sent to the program's window rather than typed: keys typed before the pop-up
        // has grabbed the keyboard are lost, and Return then lands on another entry
        // (once on Beenden). The program hands them to its open pop-up either way.
        if (WaitForXWindow(XDoTool, {"--class", "quorvantis"}))
            QProcess::execute(XDoTool, {"search", "--onlyvisible", "--class", "quorvantis", "key", "--window", "%1",
                                        "Up", "Up", "Up", "Return"});
        Show.waitForFinished(5000);
        if (WaitForXWindow(XDoTool, {"--name", "^Einstellungen$"}))
            QProcess::execute(XDoTool, {"key", "alt+h"});
        return WaitForLogLine(Env.LogFile(), Reading, 5000);
    });
    ASSERT_TRUE(Opened) << Env.LogLines().join('\n').toStdString();
    ASSERT_TRUE(SignalProcess(Program, SIGTERM)) << "the program ended before the signal:\n"
                                                 << Env.LogLines().join('\n').toStdString();
    EXPECT_TRUE(Program.waitForFinished(10000)) << "still reading after a SIGTERM";
    EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Program.exitCode(), 0);
}

} // namespace
