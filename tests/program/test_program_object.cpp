// The program object without any widget: requests in the background, the busy
// state, the command queue and shutdown, against a real HTTP server on 127.0.0.1
// whose answers the test releases.
#include "TestSupport.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uTLogger.h"
#include "uTProgram.h"
#include "uUIHooks.h"
#include "uWindows1252.h"

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

// A vendor server that answers at once with a catalogue the test can change, sets a
// session cookie and records every request as it arrived.
class TRecordingServer final {
public:
    struct TSeen {
        std::string Target; // path and query as sent
        httplib::Params Params;
        std::string Cookie;
    };
    TRecordingServer() {
        FServer.Get("/version2.xml", [this](const httplib::Request& Req, httplib::Response& Res) {
            std::lock_guard Lock(FLock);
            Record(Req);
            Res.set_header("Set-Cookie", "session=abc123; Path=/");
            Res.set_content(FBody, "text/xml");
        });
        FServer.Get(R"(/(newsletter|feedback|gewinnspiel)\.php)",
                    [this](const httplib::Request& Req, httplib::Response& Res) {
                        std::lock_guard Lock(FLock);
                        Record(Req);
                        Res.set_content("OK", "text/plain");
                    });
        FPort = StartLoopbackServer(FServer, FThread);
        WriteSettingString("", "server", Base());
    }
    ~TRecordingServer() {
        FServer.stop();
        FThread.join();
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }
    void SetBody(const std::string& Body) {
        std::lock_guard Lock(FLock);
        FBody = Body;
    }
    std::vector<TSeen> Seen() {
        std::lock_guard Lock(FLock);
        return FSeen;
    }

private:
    void Record(const httplib::Request& Req) {
        FSeen.push_back({Req.target, Req.params, Req.get_header_value("Cookie")});
    }
    httplib::Server FServer;
    std::thread FThread;
    int FPort = 0;
    std::mutex FLock;
    std::string FBody = CatalogueXml;
    std::vector<TSeen> FSeen;
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

TEST_F(ProgramObjectTest, AnswersThatAreNoCatalogueAreRefusedAndSubmissionsArriveAsTyped) {
    TRecordingServer Server;
    TProgram Program;
    Program.InitRef();
    const std::string Ref = std::to_string(Program.Ref());
    std::optional<UpdateState> State;
    Program.GetUpdates([&](UpdateState S) { State = S; });
    ASSERT_TRUE(WaitUntil([&] { return State.has_value(); }));
    EXPECT_EQ(*State, usUpToDate);
    ASSERT_EQ(Program.GetShops().size(), 2u);

    // An error page with status 200 keeps the catalogue, and the caller hears of the failure.
    Server.SetBody("<html><body><p>Wartung</p></body></html>");
    State.reset();
    Program.GetUpdates([&](UpdateState S) { State = S; });
    ASSERT_TRUE(WaitUntil([&] { return State.has_value(); }));
    EXPECT_EQ(*State, usError);
    EXPECT_EQ(Program.GetShops().size(), 2u);

    // Each submission carries the session cookie; values arrive exactly as typed, in the
    // server's code page, with "&" and "#" unable to cut the query apart.
    const QString Email = "a&b#c@x.de";
    int Sent = 0;
    auto Count = [&](bool Ok, const QString& Error) {
        EXPECT_TRUE(Ok) << Error.toStdString();
        ++Sent;
    };
    ASSERT_TRUE(
        Program.SendGewinnspiel(Email, "Jürgen Ö", "Groß & Sohn", "Weg #5", "12345", "Köln", "Deutschland", Count));
    ASSERT_TRUE(WaitUntil([&] { return Sent == 1; }));
    ASSERT_TRUE(Program.SendNewsletter(Email, false, Count));
    ASSERT_TRUE(WaitUntil([&] { return Sent == 2; }));
    ASSERT_TRUE(Program.SendFeedback(Email, "Allgemein", "50% mehr € bitte?", Count));
    ASSERT_TRUE(WaitUntil([&] { return Sent == 3; }));

    const auto Seen = Server.Seen();
    ASSERT_EQ(Seen.size(), 5u);
    auto Value = [](const TRecordingServer::TSeen& S, const char* Key) {
        auto It = S.Params.find(Key);
        return It == S.Params.end() ? QString("<missing>") : FromWindows1252(QByteArray::fromStdString(It->second));
    };
    for (size_t I = 1; I < Seen.size(); ++I)
        EXPECT_EQ(Seen[I].Cookie, "session=abc123") << Seen[I].Target;
    EXPECT_EQ(
        Seen[2].Target.rfind("/gewinnspiel.php?ref=" + Ref + "&email=a%26b%23c%40x.de&prename=J%FCrgen%20%D6&", 0), 0u)
        << Seen[2].Target;
    EXPECT_EQ(Value(Seen[2], "email"), Email);
    EXPECT_EQ(Value(Seen[2], "name"), "Groß & Sohn");
    EXPECT_EQ(Value(Seen[2], "street"), "Weg #5");
    EXPECT_EQ(Value(Seen[2], "city"), "Köln");
    EXPECT_EQ(Value(Seen[2], "check"), "2099-01-01");
    EXPECT_EQ(Seen[3].Target,
              "/newsletter.php?ref=" + Ref + "&email=a%26b%23c%40x.de&newsletter=0&check=2099-01-01&version=2.2");
    EXPECT_EQ(Value(Seen[4], "feedback"), "50% mehr € bitte?");
    EXPECT_EQ(Value(Seen[4], "subject"), "Allgemein");
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
