// The real program against servers that stall, trickle or answer with the wrong
// body, and against a running instance that is starting, stuck or busy with its menu.
// Times are deadlines the program promises, checked with room to spare.
#include "ProgramRunner.h"
#include "ShellSupport.h"
#include "TestSupport.h"
#include "uRegistry.h"
#include "uSingleInstance.h"
#include "uTTrayMenu.h"
#include "uUIHooks.h"
#include "ufrmQuorvantis.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTimer>
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <thread>

#include <unistd.h>

namespace {

const QString CatalogueTemplate =
    QStringLiteral("<c><version>2.2</version><check>2099-01-01</check><shops>"
                   "<shop id=\"7\" name=\"Alpha\" site=\"BASE/trickle\" category=\"Mode\"/></shops></c>");

// A vendor server on 127.0.0.1 whose catalogue answer can be delayed, stalled or
// replaced, and whose favicon route trickles one byte a second.
class TMisbehavingServer final {
public:
    std::atomic<int> CatalogueDelayMs{0};
    std::atomic<bool> Stall{false};
    std::atomic<bool> FaviconRequested{false};
    std::atomic<int> FaviconBytesSent{0};
    std::string Body;

    TMisbehavingServer() {
        FServer.Get("/version2.xml", [this](const httplib::Request&, httplib::Response& Res) {
            // The delay is the scenario; it ends early once the server is released.
            for (int Waited = 0; (Stall || Waited < CatalogueDelayMs) && !FRelease && Waited < 120000; Waited += 20)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            Res.set_content(Body, "text/xml");
        });
        FServer.Get("/trickle/favicon.ico", [this](const httplib::Request&, httplib::Response& Res) {
            FaviconRequested = true;
            Res.set_chunked_content_provider("image/x-icon", [this](size_t, httplib::DataSink& Sink) {
                // One byte a second is the scenario; the release cuts it short.
                for (int I = 0; I < 50 && !FRelease; ++I)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (FRelease || !Sink.write("\0", 1))
                    return false;
                ++FaviconBytesSent;
                return true;
            });
        });
        FPort = StartLoopbackServer(FServer, FThread);
        Body = QString(CatalogueTemplate).replace("BASE", Base()).toStdString();
        WriteSettingString("", "server", Base());
    }
    ~TMisbehavingServer() {
        FRelease = true;
        FServer.stop();
        FThread.join();
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }

private:
    httplib::Server FServer;
    std::thread FThread;
    std::atomic<bool> FRelease{false};
    int FPort = 0;
};

class MisbehavingPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteSettingInteger("", "debug", 3);
        WriteSettingString("", "lastnews", "9999"); // no news question in these runs
    }
    void TearDown() override { UIHooks() = TUIHooks(); } // also after a failed check
    bool LogHas(const QString& Text) const { return Env.LogLines().join("\n").contains(Text); }
    TTempEnvironment Env;
};

TEST_F(MisbehavingPeerTest, TricklingFaviconServerNeverHoldsTheShutdown) {
    TMisbehavingServer Server;
    {
        TProgramRun Run;
        ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 30000));
        // A few bytes in: the icon is being read.
        ASSERT_TRUE(WaitUntil([&] { return Server.FaviconBytesSent >= 1; }, 15000));
        QElapsedTimer Timer;
        Timer.start();
        Run.Terminate(SIGTERM);
        ASSERT_TRUE(Run.WaitFinished(15000));
        const qint64 Elapsed = Timer.elapsed();
        std::cout << "SIGTERM to exit with a trickling favicon server: " << Elapsed << " ms" << std::endl;
        EXPECT_LT(Elapsed, 2000);
        EXPECT_EQ(Run.Process().exitCode(), 0);
    }
    EXPECT_EQ(ReadSettingInteger("", "handle", -1), 0);
    EXPECT_FALSE(QFile::exists(Env.InstallFolder() + "icons/7.ico")) << "no half icon is kept";
}

namespace {

int Shell(const QString& Command) {
    return QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), Command});
}

// A network namespace whose name server is on a link where nothing answers: every host name
// lookup in it hangs until the resolver gives up (seconds), and cannot be cancelled.
class TSilentNameServer final {
public:
    TSilentNameServer() {
        const QString Id = QString::number(QCoreApplication::applicationPid() % 100000);
        FNamespace = "qvdns" + Id;
        FLink = "qvd" + Id;
        FUp = Shell(QStringLiteral("mkdir -p /etc/netns/%1 && echo 'nameserver 10.232.0.53' > "
                                   "/etc/netns/%1/resolv.conf && ip netns add %1 && ip netns exec %1 ip link set lo "
                                   "up && ip link add %2a type veth peer name %2b && ip link set %2b netns %1 && ip "
                                   "link set %2a up && ip netns exec %1 ip addr add 10.232.0.1/24 dev %2b && ip netns "
                                   "exec %1 ip link set %2b up")
                        .arg(FNamespace, FLink)) == 0;
    }
    ~TSilentNameServer() {
        Shell(QStringLiteral("ip link del %1a 2>/dev/null; ip netns del %2 2>/dev/null; rm -rf /etc/netns/%2")
                  .arg(FLink, FNamespace));
    }
    bool IsUp() const { return FUp; }
    QString Namespace() const { return FNamespace; }

private:
    QString FNamespace;
    QString FLink;
    bool FUp = false;
};

} // namespace

TEST_F(MisbehavingPeerTest, ANameServerThatNeverAnswersDoesNotHoldTheShutdown) {
    if (::geteuid() != 0 || QProcess::execute("/bin/sh", {"-c", "command -v ip >/dev/null"}) != 0)
        GTEST_SKIP() << "needs root and iproute2 for a network namespace";
    TSilentNameServer Silent;
    ASSERT_TRUE(Silent.IsUp());
    // The stored catalogue names shops whose sites must be looked up; the vendor server is
    // refused at once.
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteFileBytes(Env.InstallFolder() + "quorvantis.xml",
                   "<quorvantis><version>2.2</version><check>2099-01-01</check><shops>"
                   "<shop id=\"1\" name=\"Eins\" site=\"http://www.eins.example\" category=\"A\"/>"
                   "<shop id=\"2\" name=\"Zwei\" site=\"http://www.zwei.example\" category=\"A\"/>"
                   "</shops></quorvantis>");
    QProcess Program;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert("QT_QPA_PLATFORM", "offscreen");
    Program.setProcessEnvironment(Environment);
    // "ip netns exec" runs the program itself in the namespace: the same process.
    Program.start("ip", {"netns", "exec", Silent.Namespace(), ProgramBinary()});
    const auto End = qScopeGuard([&] {
        Program.kill();
        Program.waitForFinished();
    });
    ASSERT_TRUE(Program.waitForStarted());
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 30000));
    // The icon of the first shop is being looked up: Qt's lookup runs in a pooled thread,
    // and stays there for seconds.
    const auto LookupRuns = [&] {
        const QString Tasks = QStringLiteral("/proc/%1/task").arg(Program.processId());
        for (const QString& Task : QDir(Tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (ReadFileBytes(Tasks + "/" + Task + "/comm").startsWith("Thread (pooled)"))
                return true;
        return false;
    };
    ASSERT_TRUE(WaitUntil(LookupRuns, 10000));
    QElapsedTimer Timer;
    Timer.start();
    ::kill(static_cast<pid_t>(Program.processId()), SIGTERM);
    ASSERT_TRUE(Program.waitForFinished(15000));
    const qint64 Elapsed = Timer.elapsed();
    std::cout << "SIGTERM to exit while a name lookup hangs: " << Elapsed << " ms" << std::endl;
    EXPECT_LT(Elapsed, 2000);
    EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Program.exitCode(), 0);
    EXPECT_EQ(ReadSettingInteger("", "handle", -1), 0);
    EXPECT_FALSE(LogHas("Download failed")) << "the lookup was still hanging when the program ended";
}

TEST_F(MisbehavingPeerTest, StalledCatalogueServerDelaysTheStartOnlyUntilItsTimeOut) {
    TMisbehavingServer Server;
    Server.Stall = true;
    WriteFileBytes(Env.InstallFolder() + "quorvantis.xml", Server.Body.c_str());
    TProgramRun Run;
    QElapsedTimer Timer;
    Timer.start();
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 60000));
    const qint64 Elapsed = Timer.elapsed();
    std::cout << "Start to \"Started\" with a stalled catalogue server: " << Elapsed << " ms" << std::endl;
    EXPECT_LT(Elapsed, 45000);
    EXPECT_TRUE(LogHas("|ERROR|GetUpdates: URL=" + Server.Base() + "/version2.xml?ref="));
    EXPECT_TRUE(LogHas("|INFO|Load data from file: 2.2"));
    Run.Terminate(SIGTERM);
    EXPECT_TRUE(Run.WaitFinished(5000));
}

TEST_F(MisbehavingPeerTest, SignalDuringTheStartRequestEndsWithoutPoppingTheMenuUp) {
    TMisbehavingServer Server;
    Server.Stall = true;
    TProgramRun Run({"show"});
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Starting..."));
    QThread::msleep(500);
    Run.Terminate(SIGTERM);
    // A menu opened after the aborted request would wait for a click that never comes.
    ASSERT_TRUE(Run.WaitFinished(10000));
    EXPECT_EQ(Run.Process().exitCode(), 0);
}

TEST_F(MisbehavingPeerTest, ErrorPageInsteadOfTheCatalogueKeepsTheLocalFile) {
    TMisbehavingServer Server;
    const QByteArray Good = QByteArray::fromStdString(Server.Body);
    WriteFileBytes(Env.InstallFolder() + "quorvantis.xml", Good);
    Server.Body = "<html><body>Wartungsarbeiten</body></html>";
    TBrowserRecorder Browser;
    {
        TProgramRun Run;
        ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 30000));
        EXPECT_EQ(ReadFileBytes(Env.InstallFolder() + "quorvantis.xml"), Good);
        // The shops of the kept file are still there for a second start's command.
        EXPECT_EQ(RunProgramToEnd({"alpha"}), 0);
        EXPECT_EQ(Browser.Opened(1), QStringList{Server.Base() + "/shop.php?id=7"});
        Run.Terminate(SIGTERM);
        EXPECT_TRUE(Run.WaitFinished(5000));
    }
    EXPECT_EQ(ReadFileBytes(Env.InstallFolder() + "quorvantis.xml"), Good);
}

TEST_F(MisbehavingPeerTest, CommandWaitsForAnInstanceThatIsStillStarting) {
    TMisbehavingServer Server;
    Server.CatalogueDelayMs = 3000;
    TBrowserRecorder Browser;
    TProgramRun First;
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Starting..."));
    // The lock is held but nobody listens yet: the command must not be dropped.
    EXPECT_EQ(RunProgramToEnd({"ALPHA"}, 40000), 0);
    EXPECT_EQ(Browser.Opened(1), QStringList{Server.Base() + "/shop.php?id=7"});
    EXPECT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 1000));
    First.Terminate(SIGTERM);
    EXPECT_TRUE(First.WaitFinished(5000));
}

TEST_F(MisbehavingPeerTest, SecondStartGivesUpOnAnInstanceThatDoesNotAnswer) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    TProgramRun First;
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started"));
    First.Terminate(SIGSTOP); // holds the lock, its socket accepts, nothing answers
    QElapsedTimer Timer;
    Timer.start();
    const TProgramResult GaveUp = RunProgramCapturing({}, 40000);
    EXPECT_LT(Timer.elapsed(), 30000);
    EXPECT_EQ(GaveUp.ExitCode, 1);
    EXPECT_EQ(GaveUp.ErrorLines, QStringList{"quorvantis: the command \"show\" was not handed over: the running "
                                             "instance did not answer within 10 s"});
    const QStringList Lines = Env.LogLines().filter("SendCommandToFirstInstance");
    ASSERT_EQ(Lines.size(), 1);
    EXPECT_TRUE(Lines.first().contains(
        "|ERROR|SendCommandToFirstInstance: the command \"show\" was not handed over: the running instance did not "
        "answer within 10 s"));
    First.Terminate(SIGCONT);
    First.Terminate(SIGTERM);
    EXPECT_TRUE(First.WaitFinished(5000));
}

// In-process running instance: its menu is open when the command arrives. The
// second start ends while the menu is still open; the shop opens once it closes.
TEST_F(MisbehavingPeerTest, SecondStartEndsWhileTheMenuIsOpenAndIsServedWhenItCloses) {
    TMisbehavingServer Server;
    TBrowserRecorder Browser;
    UIHooks().AskYesNo = [](const QString&, const QString&) { return false; };
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ASSERT_FALSE(Main.GetShops().empty());
    TInstanceGuard Guard; // this process is the running instance
    ASSERT_TRUE(Guard.IsFirstInstance());

    QProcess Second;
    QProcessEnvironment E = QProcessEnvironment::systemEnvironment();
    E.insert("QT_QPA_PLATFORM", "offscreen");
    Second.setProcessEnvironment(E);
    QElapsedTimer Timer;
    QTimer::singleShot(0, [&] {
        Second.start(ProgramBinary(), {"ALPHA"});
        Timer.start();
    });
    // The menu is closed only after the second start has ended (or, if it never does,
    // after a generous while, which then fails the test).
    bool EndedWhileMenuOpen = false;
    bool OpenedWhileMenuOpen = false;
    qint64 EndedAfter = -1;
    QTimer Poll;
    QObject::connect(&Poll, &QTimer::timeout, [&] {
        if (!Timer.isValid())
            return;
        if (Second.state() == QProcess::NotRunning && EndedAfter < 0) {
            EndedAfter = Timer.elapsed();
            EndedWhileMenuOpen = Main.TrayMenu()->isVisible();
            OpenedWhileMenuOpen = !Browser.Opened().isEmpty();
        }
        if (EndedAfter >= 0 || Timer.elapsed() > 20000)
            Main.TrayMenu()->close();
    });
    Poll.start(20);
    Main.ExecuteCommand("show"); // returns when the menu has closed
    Poll.stop();
    std::cout << "Second start to its exit while the menu is open: " << EndedAfter << " ms" << std::endl;
    EXPECT_TRUE(EndedWhileMenuOpen);
    EXPECT_FALSE(OpenedWhileMenuOpen) << "nothing is served while the menu is open";
    EXPECT_EQ(Second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Second.exitCode(), 0);
    EXPECT_TRUE(Second.readAllStandardError().isEmpty());

    // No request ends after this: closing the menu alone must serve the queue.
    EXPECT_TRUE(WaitUntil([&] { return Second.state() == QProcess::NotRunning && !Browser.Opened(0, 0).isEmpty(); }));
    EXPECT_EQ(Browser.Opened(1), QStringList{Server.Base() + "/shop.php?id=7"});
}

} // namespace
