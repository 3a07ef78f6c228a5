// The program object without any widget: requests in the background, the busy
// state, the command queue and shutdown, against a real HTTP server on 127.0.0.1
// whose answers the test releases.
#include "TestSupport.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uTLogger.h"
#include "uTProgram.h"
#include "uUIHooks.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace {

const char* const CatalogueXml =
    R"(<quorvantis><version>2.2</version><requiredversion>2.0</requiredversion><check>2099-01-01</check>)"
    R"(<shops><shop id="5" name="Zauberladen" category="Mode"/><shop id="6" name="Kleiderwolke" category="Mode"/>)"
    R"(</shops></quorvantis>)";

// A vendor server whose answers wait until the test lets them go.
class THeldServer final {
public:
    THeldServer() {
        auto Held = [this](const char* Body) {
            return [this, Body](const httplib::Request&, httplib::Response& Res) {
                std::unique_lock Lock(FLock);
                ++FArrived;
                FChanged.notify_all();
                FChanged.wait(Lock, [this] { return FReleased || FStopping; });
                Res.set_content(Body, "text/xml");
            };
        };
        FServer.Get("/version2.xml", Held(CatalogueXml));
        FServer.Get("/feedback.php", Held("OK"));
        FServer.Get("/newsletter.php", Held("OK"));
        FPort = StartLoopbackServer(FServer, FThread);
        WriteSettingString("", "server", Base());
    }
    ~THeldServer() {
        {
            std::lock_guard Lock(FLock);
            FStopping = true;
        }
        FChanged.notify_all();
        FServer.stop();
        FThread.join();
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }
    int Arrived() {
        std::lock_guard Lock(FLock);
        return FArrived;
    }
    void Release() {
        {
            std::lock_guard Lock(FLock);
            FReleased = true;
        }
        FChanged.notify_all();
    }

private:
    httplib::Server FServer;
    std::thread FThread;
    int FPort = 0;
    std::mutex FLock;
    std::condition_variable FChanged;
    int FArrived = 0;
    bool FReleased = false;
    bool FStopping = false;
};

class ProgramObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteSettingString("", "lastnews", "9999");
        WriteSettingInteger("", "debug", 3);
        UIHooks().AskYesNo = [this](const QString&, const QString&) {
            ++Questions;
            return false;
        };
    }
    void TearDown() override { UIHooks() = TUIHooks(); }
    TTempEnvironment Env;
    int Questions = 0;
};

TEST_F(ProgramObjectTest, RefreshRunsInTheBackgroundAndJoinsARefreshThatRuns) {
    THeldServer Server;
    TProgram Program;
    Program.InitRef();
    QList<bool> Busy;
    int Replaced = 0;
    QObject::connect(&Program, &TProgram::BusyChanged, [&](bool B) { Busy << B; });
    QObject::connect(&Program, &TProgram::CatalogueReplaced, [&] {
        ++Replaced;
        EXPECT_EQ(Program.GetShops().size(), 2u) << "the catalogue is in before anyone is told";
    });
    QList<UpdateState> States;
    Program.RefreshCatalogue(true, [&](UpdateState S) { States << S; });
    Program.RefreshCatalogue(true, [&](UpdateState S) { States << S; });
    // The caller got control back at once; the loop keeps running while the server waits.
    EXPECT_TRUE(Program.IsRefreshing());
    EXPECT_TRUE(Program.IsBusy());
    ASSERT_TRUE(WaitUntil([&] { return Server.Arrived() == 1; }));
    bool TimerRan = false;
    QTimer::singleShot(0, [&] { TimerRan = true; });
    ASSERT_TRUE(WaitUntil([&] { return TimerRan; }));
    EXPECT_TRUE(States.isEmpty());

    Server.Release();
    ASSERT_TRUE(WaitUntil([&] { return States.size() == 2; }));
    EXPECT_EQ(States, QList<UpdateState>({usUpToDate, usUpToDate}));
    EXPECT_EQ(Server.Arrived(), 1) << "never two catalogue requests at once";
    EXPECT_EQ(Replaced, 1);
    EXPECT_EQ(Busy, QList<bool>({true, false}));
    EXPECT_FALSE(Program.IsBusy());
    EXPECT_TRUE(Env.HasLogLine("INFO|GetUpdates: Version=2.2 Server=2.2 Check=2099-01-01 URL=" + Server.Base() +
                               "/version2.xml?ref=" + QString::number(Program.Ref()) + "&version=2.2"));

    // Without force and with a catalogue loaded: the verdict only, no request.
    Program.RefreshCatalogue(false, [&](UpdateState S) { States << S; });
    EXPECT_FALSE(Program.IsRefreshing());
    ASSERT_TRUE(WaitUntil([&] { return States.size() == 3; }));
    EXPECT_EQ(Server.Arrived(), 1);
}

TEST_F(ProgramObjectTest, CommandsWaitForWhatTheyNeedAndAreServedOnceInOrder) {
    THeldServer Server;
    TProgram Program;
    QStringList Served;
    QObject::connect(&Program, &TProgram::CommandReceived, [&](const QString& C) { Served << C; });
    Program.GetUpdates();
    ASSERT_TRUE(WaitUntil([&] { return Server.Arrived() == 1; }));

    // "show" needs nothing from the server; a shop name needs the catalogue on its way.
    Program.QueueCommand("SHOW");
    ASSERT_TRUE(WaitUntil([&] { return Served.size() == 1; }));
    Program.QueueCommand("Zauberladen");
    Program.QueueCommand("show");
    QCoreApplication::processEvents();
    EXPECT_EQ(Served, QStringList{"show"});
    EXPECT_EQ(Program.PendingCommands(), 2);

    // The answer arrives while the user has the menu open: still nothing is served.
    Program.BeginUserWait();
    Server.Release();
    ASSERT_TRUE(WaitUntil([&] { return !Program.IsRefreshing(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(Served, QStringList{"show"});
    Program.EndUserWait();
    ASSERT_TRUE(WaitUntil([&] { return Served.size() == 3; }));
    EXPECT_EQ(Served, QStringList({"show", "zauberladen", "show"}));
    EXPECT_EQ(Program.PendingCommands(), 0);
}

TEST_F(ProgramObjectTest, OneSubmissionAtATimeAndAFailedOneGoesToTheBrowser) {
    THeldServer Server;
    TBrowserRecorder Browser;
    TProgram Program;
    Program.InitRef();
    std::optional<bool> First;
    EXPECT_TRUE(Program.SendFeedback("a@b.de", "Lob", "Gut", [&](bool Sent, const QString&) { First = Sent; }));
    EXPECT_TRUE(Program.IsSubmitting());
    EXPECT_FALSE(
        Program.SendNewsletter("a@b.de", true, [](bool, const QString&) { ADD_FAILURE() << "refused at once"; }));
    ASSERT_TRUE(WaitUntil([&] { return Server.Arrived() == 1; }));
    Server.Release();
    ASSERT_TRUE(WaitUntil([&] { return First.has_value(); }));
    EXPECT_TRUE(*First);
    EXPECT_FALSE(Program.IsSubmitting());

    // The server is gone: the address goes to the browser instead, the caller hears false
    // with the cause, and the log says where it failed without the user's data.
    WriteSettingString("", "server", "http://127.0.0.1:9");
    std::optional<bool> Second;
    QString Cause;
    EXPECT_TRUE(Program.SendNewsletter("a@b.de", false, [&](bool Sent, const QString& Error) {
        Second = Sent;
        Cause = Error;
    }));
    ASSERT_TRUE(WaitUntil([&] { return Second.has_value(); }));
    EXPECT_FALSE(*Second);
    EXPECT_TRUE(Cause.contains("refused", Qt::CaseInsensitive)) << Cause.toStdString();
    const QStringList Opened = Browser.Opened(1);
    ASSERT_EQ(Opened.size(), 1);
    EXPECT_TRUE(Opened[0].startsWith("http://127.0.0.1:9/newsletter.php?ref=")) << Opened[0].toStdString();
    EXPECT_TRUE(Env.HasLogLine("ERROR|SendNewsletter: http://127.0.0.1:9/newsletter.php: " + Cause))
        << Env.LogLines().join("\n").toStdString();
    EXPECT_FALSE(Env.LogLines().join("\n").contains("a@b.de"));
}

TEST_F(ProgramObjectTest, ShutdownEndsARequestThatWouldNeverEnd) {
    THeldServer Server; // never released
    TProgram Program;
    std::optional<UpdateState> State;
    Program.GetUpdates([&](UpdateState S) { State = S; });
    ASSERT_TRUE(WaitUntil([&] { return Server.Arrived() == 1; }));
    Program.Shutdown();
    EXPECT_TRUE(State.has_value()) << "the waiter hears of the end at once";
    EXPECT_EQ(State.value_or(0), usError);
    EXPECT_FALSE(Program.IsBusy());
    EXPECT_TRUE(Env.HasLogLine("ERROR|GetUpdates: URL=" + Server.Base() +
                               "/version2.xml?ref=0&version=2.2: " + "Request aborted"));
    // Nothing new starts once it is shutting down.
    EXPECT_FALSE(Program.SendFeedback("a@b.de", "x", "y", {}));
    EXPECT_FALSE(Program.DownloadUpdate());
}

} // namespace
