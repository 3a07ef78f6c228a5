#include "TestSupport.h"
#include "uTHTTPClient.h"

#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>
#include <thread>

namespace {

using THandler = httplib::Server::Handler;
using httplib::Request;
using httplib::Response;

// A cpp-httplib server on 127.0.0.1 and a free port, running on its own thread.
class TTestServer final {
public:
    httplib::Server Svr;

    ~TTestServer() { Stop(); }

    void Start() { FPort = StartLoopbackServer(Svr, FThread); }
    void Stop() {
        Svr.stop();
        if (FThread.joinable())
            FThread.join();
    }
    int Port() const { return FPort; }
    QString URL(const QString& Target) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(FPort).arg(Target); }

private:
    int FPort = 0;
    std::thread FThread;
};

std::string Str(const QByteArray& Bytes) {
    return Bytes.toStdString();
}

THandler Content(const std::string& Body, const char* Type = "text/plain") {
    return [Body, Type](const Request&, Response& Res) { Res.set_content(Body, Type); };
}

// The address of a port nobody listens on any more.
QString RefusingURL() {
    TTestServer Closed;
    Closed.Start();
    return Closed.URL("/big");
}

QString FailureOf(THTTPClient& Client, const QString& URL, int* Status = nullptr) {
    try {
        Client.Get(URL);
    } catch (const EHTTPError& E) {
        if (Status)
            *Status = E.Status();
        return E.Message();
    }
    return QStringLiteral("<no failure>");
}

class HTTPClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        Server.Svr.Get(R"(/r/(\d+))", [](const Request& Req, Response& Res) {
            const int N = std::stoi(Req.matches[1]);
            if (N == 0)
                Res.set_content("end of chain", "text/plain");
            else
                Res.set_redirect("/r/" + std::to_string(N - 1)); // relative, 302
        });
        Server.Svr.Get("/setcookie",
                       [](const Request&, Response& Res) { Res.set_header("Set-Cookie", "session=abc123; Path=/"); });
        Server.Svr.Get("/redirect-with-cookie", [](const Request&, Response& Res) {
            Res.set_header("Set-Cookie", "hop=yes; Path=/");
            Res.set_redirect("/echo/cookie", 301);
        });
        Server.Svr.Get("/echo/cookie", [](const Request& Req, Response& Res) {
            Res.set_content(Req.get_header_value("Cookie"), "text/plain");
        });
        Server.Svr.Get("/capture.*", [this](const Request& Req, Response& Res) {
            std::lock_guard<std::mutex> Lock(Mutex);
            Target = Req.target;
            Version = Req.version;
            Headers = Req.headers;
            RemotePorts.push_back(Req.remote_port);
            Res.set_content("captured", "text/plain");
        });
        Server.Svr.Get("/boom", [](const Request&, Response& Res) { Res.status = 500; });
        Server.Svr.Get("/to-missing", [](const Request&, Response& Res) { Res.set_redirect("/gone"); });
        Server.Svr.Get("/big", Content(std::string(300000, 'x')));
        Server.Svr.Get("/to-big", [](const Request&, Response& Res) { Res.set_redirect("/big"); });
    }

    ~HTTPClientTest() override {
        Release();
        Server.Stop(); // before the members its handlers use are gone
    }

    // Lets held handlers answer; the destructor releases them on every exit path.
    void Release() {
        {
            std::lock_guard<std::mutex> Lock(Mutex);
            Released = true;
        }
        ReleasedChanged.notify_all();
    }
    // Holds a handler until Release (bounded, so a lost release cannot hang the server).
    void WaitForRelease() {
        std::unique_lock<std::mutex> Lock(Mutex);
        ReleasedChanged.wait_for(Lock, std::chrono::seconds(30), [this] { return Released; });
    }

    std::mutex Mutex;
    std::condition_variable ReleasedChanged;
    bool Released = false;
    std::string Target, Version;
    httplib::Headers Headers;
    std::vector<int> RemotePorts;
    // Tests add their own routes first: routes cannot change while the server runs.
    TTestServer Server;
};

} // namespace

TEST_F(HTTPClientTest, FailuresCarryTheStatusLineOrTheCause) {
    // Announces a megabyte, sends half of it, then closes the connection.
    Server.Svr.Get("/truncated", [](const Request&, Response& Res) {
        Res.set_content_provider(1 << 20, "text/plain", [](size_t Offset, size_t, httplib::DataSink& Sink) {
            const std::string Chunk(1 << 16, 't');
            return Offset < (1 << 19) && Sink.write(Chunk.data(), Chunk.size());
        });
    });
    Server.Start();
    THTTPClient Client;
    EXPECT_EQ(Str(Client.Get(Server.URL("/r/15"))), "end of chain");
    const struct {
        const char* Target;
        const char* Message;
        int Status;
    } Cases[] = {{"/r/16", "HTTP/1.1 302 Found", 302}, // the sixteenth redirect
                 {"/missing", "HTTP/1.1 404 Not Found", 404},
                 {"/boom", "HTTP/1.1 500 Internal Server Error", 500},
                 {"/to-missing", "HTTP/1.1 404 Not Found", 404}}; // the final answer counts
    for (const auto& C : Cases) {
        int Status = 0;
        const QString Message = FailureOf(Client, Server.URL(C.Target), &Status);
        EXPECT_TRUE(Message.startsWith(C.Message)) << Message.toStdString();
        EXPECT_EQ(Status, C.Status) << C.Target;
    }
    EXPECT_TRUE(FailureOf(Client, Server.URL("/r/16")).contains("15"));
    for (int I = 0; I < 10; ++I) { // the network layer misses the early close only now and then
        int Status = -1;
        EXPECT_NE(FailureOf(Client, Server.URL("/truncated"), &Status), "<no failure>");
        EXPECT_EQ(Status, 0);
    }
    EXPECT_EQ(Str(Client.Get(Server.URL("/r/1"))), "end of chain"); // still usable after failures
    THTTPClient::TOptions NoRedirects;
    NoRedirects.FollowRedirects = false;
    THTTPClient Stubborn(NoRedirects);
    EXPECT_EQ(FailureOf(Stubborn, Server.URL("/r/1")), "HTTP/1.1 302 Found");

    int Status = -1;
    const QString Refused = FailureOf(Client, RefusingURL(), &Status);
    EXPECT_TRUE(Refused.contains("refused", Qt::CaseInsensitive)) << Refused.toStdString();
    EXPECT_EQ(Status, 0);
    for (const char* Bad : {"not an address", "ftp://127.0.0.1/x"})
        EXPECT_TRUE(FailureOf(Client, Bad).startsWith("Invalid address")) << Bad;
}

TEST_F(HTTPClientTest, CookiesAreKeptPerClientForItsLifetime) {
    Server.Start();
    THTTPClient Client;
    Client.Get(Server.URL("/setcookie"));
    EXPECT_EQ(Str(Client.Get(Server.URL("/echo/cookie"))), "session=abc123");
    Client.Disconnect(); // dropping the connection keeps the cookies
    EXPECT_EQ(Str(Client.Get(Server.URL("/echo/cookie"))), "session=abc123");

    THTTPClient Other;
    EXPECT_EQ(Str(Other.Get(Server.URL("/echo/cookie"))), "");
    // A cookie set by a redirect answer already travels with the followed request.
    EXPECT_EQ(Str(Other.Get(Server.URL("/redirect-with-cookie"))), "hop=yes");
}

TEST_F(HTTPClientTest, SendsTheFixedHeadersOverOneKeptConnection) {
    Server.Start();
    THTTPClient::TOptions NoContentType;
    NoContentType.SendContentType = false; // as the favicon loader asks
    THTTPClient Main, Favicons(NoContentType);
    for (THTTPClient* Client : {&Main, &Favicons}) {
        Client->Get(Server.URL("/capture"));
        std::lock_guard<std::mutex> Lock(Mutex);
        auto Header = [&](const char* Name) { return Headers.count(Name) ? Headers.find(Name)->second : "<absent>"; };
        EXPECT_EQ(Version, "HTTP/1.1");
        EXPECT_EQ(Header("Accept"), "text/html, */*");
        EXPECT_EQ(Header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
        EXPECT_EQ(Header("Content-Type"), Client == &Main ? "text/html" : "<absent>");
        EXPECT_EQ(Header("Host"), "127.0.0.1:" + std::to_string(Server.Port()));
        EXPECT_EQ(Header("Accept-Encoding"), "identity");
    }
    Main.Get(Server.URL("/capture"));
    Main.Disconnect();
    Main.Get(Server.URL("/capture"));
    std::lock_guard<std::mutex> Lock(Mutex);
    ASSERT_EQ(RemotePorts.size(), 4u);
    EXPECT_EQ(RemotePorts[0], RemotePorts[2]); // kept alive
    EXPECT_NE(RemotePorts[2], RemotePorts[3]); // a new connection after Disconnect
}

TEST_F(HTTPClientTest, SendsPathAndQueryExactlyAsBuilt) {
    Server.Start();
    THTTPClient Client;
    const std::pair<const char*, const char*> Cases[] = {
        {"/capture/gewinnspiel.php?ref=42&email=a+b@x.de&prename=J%FCrgen%20M&city=K%F6ln&check=2026-12-01&version=2.2",
         nullptr},
        {"/capture/p%FC%20x/?search=%2B%26%3D%25&x=!~*'()-_.&e=a&b", nullptr},
        {"/capture/search.php?type=web&search=%80uro%20%22quoted%22", nullptr},
        // A "#" is data here (an unencoded e-mail address), never a fragment to cut off.
        {"/capture?email=a#b@x.de&version=2.2", "/capture?email=a%23b@x.de&version=2.2"},
    };
    for (const auto& [Sent, Received] : Cases) {
        Client.Get(Server.URL(QString::fromLatin1(Sent)));
        std::lock_guard<std::mutex> Lock(Mutex);
        EXPECT_EQ(Target, Received ? Received : Sent);
    }
}

TEST_F(HTTPClientTest, ReportsOneTransferWithAnnouncedLengthAndRunningTotals) {
    Server.Start();
    THTTPClient Client;
    std::vector<qint64> Begins, Works;
    int Ends = 0;
    Client.OnWorkBegin = [&](qint64 Expected) { Begins.push_back(Expected); };
    Client.OnWork = [&](qint64 SoFar) { Works.push_back(SoFar); };
    Client.OnWorkEnd = [&] { ++Ends; };
    auto Fetch = [&](const QString& URL) {
        Begins.clear();
        Works.clear();
        Ends = 0;
        return Client.Get(URL).size();
    };
    EXPECT_EQ(Fetch(Server.URL("/to-big")), 300000);
    EXPECT_EQ(Begins, std::vector<qint64>{300000});
    ASSERT_FALSE(Works.empty());
    EXPECT_TRUE(std::is_sorted(Works.begin(), Works.end()));
    EXPECT_EQ(Works.back(), 300000);
    EXPECT_EQ(Ends, 1);
    // A failed request that got an answer still ends its transfer; one that got none raises nothing.
    EXPECT_THROW(Fetch(Server.URL("/missing")), EHTTPError);
    EXPECT_EQ(Begins.size(), 1u);
    EXPECT_EQ(Ends, 1);
    EXPECT_THROW(Fetch(RefusingURL()), EHTTPError);
    EXPECT_TRUE(Begins.empty());
    EXPECT_EQ(Ends, 0);
}

TEST_F(HTTPClientTest, AbortAndHandlerExceptionsEndTheRequest) {
    Server.Start();
    THTTPClient Client;
    Client.OnWork = [&](qint64) { Client.Abort(); };
    EXPECT_EQ(FailureOf(Client, Server.URL("/big")), "Request aborted");
    // An exception thrown by a handler reaches the caller instead of being lost inside the event loop.
    Client.OnWork = nullptr;
    Client.OnWorkBegin = [](qint64) { throw ESettingsError("handler failed"); }; // a type no transfer throws
    EXPECT_THROW(Client.Get(Server.URL("/big")), ESettingsError);
    EXPECT_FALSE(Client.IsBusy());
}

TEST_F(HTTPClientTest, StalledServerFailsWithReadTimeoutAndLargeBodiesAreRefused) {
    Server.Svr.Get("/stall", [this](const Request&, Response& Res) {
        WaitForRelease();
        Res.set_content("late", "text/plain");
    });
    Server.Svr.Get("/10k", Content(std::string(10000, 'b')));
    Server.Start();
    THTTPClient::TOptions Options;
    Options.ReadTimeoutMs = 200;
    Options.MaxBodyBytes = 5000;
    THTTPClient Client(Options);
    const QString Message = FailureOf(Client, Server.URL("/stall"));
    Release();
    EXPECT_TRUE(Message.startsWith("Read timeout")) << Message.toStdString();
    EXPECT_TRUE(FailureOf(Client, Server.URL("/10k")).startsWith("Response too large"));
    EXPECT_EQ(Str(Client.Get(Server.URL("/r/0"))), "end of chain");
}

TEST_F(HTTPClientTest, WorksFromAWorkerThreadWithoutItsOwnEventLoop) {
    Server.Start();
    QByteArray Body;
    QString Failure;
    std::unique_ptr<QThread> Worker(QThread::create([&] {
        THTTPClient Client;
        Body = Client.Get(Server.URL("/r/3"));
        Failure = FailureOf(Client, Server.URL("/missing"));
    }));
    Worker->start();
    ASSERT_TRUE(Worker->wait(60000));
    EXPECT_EQ(Str(Body), "end of chain");
    EXPECT_EQ(Failure, "HTTP/1.1 404 Not Found");
}

TEST_F(HTTPClientTest, ASinkTakesOnlyTheFinalBodyWithinItsCapAndCanStopTheRequest) {
    // A redirect and an error page carry bodies of their own; neither may reach the sink.
    Server.Svr.Get("/moved", [](const Request&, Response& Res) {
        Res.set_redirect("/big");
        Res.set_content("moved", "text/plain");
    });
    Server.Svr.Get("/gone-with-page", [](const Request&, Response& Res) {
        Res.status = 404;
        Res.set_content("no such page", "text/plain");
    });
    Server.Svr.Get("/chunked", [](const Request&, Response& Res) {
        Res.set_chunked_content_provider("text/plain", [](size_t Offset, httplib::DataSink& Sink) {
            if (Offset >= 40000)
                Sink.done();
            else
                Sink.write(std::string(10000, 'c').data(), 10000);
            return true;
        });
    });
    Server.Start();
    THTTPClient Client;
    struct TRun {
        THTTPFailure Failure;
        QByteArray Body;
        qint64 LastProgress = -1;
        QString Error;
    };
    const auto Run = [&](const QString& Target, const THTTPOptions& Options, qint64 RefuseAfter = -1) {
        TRun Out;
        const std::unique_ptr<THTTPRequest> Request =
            Client.Start(Server.URL(Target), Options, [&Out, RefuseAfter](const char* Data, qint64 Size) {
                if (RefuseAfter >= 0 && Out.Body.size() + Size > RefuseAfter)
                    return false;
                Out.Body.append(Data, Size);
                return true;
            });
        QObject::connect(Request.get(), &THTTPRequest::Progress, [&Out](qint64 SoFar) { Out.LastProgress = SoFar; });
        EXPECT_TRUE(WaitUntil([&] { return Request->IsFinished(); }));
        EXPECT_TRUE(Request->Body().isEmpty()) << "a streamed body is not kept";
        Out.Failure = Request->Failure();
        Out.Error = Request->Error();
        return Out;
    };
    const THTTPOptions Plain;
    TRun Moved = Run("/moved", Plain);
    EXPECT_EQ(Moved.Failure, THTTPFailure::None) << Moved.Error.toStdString();
    EXPECT_EQ(Moved.Body, QByteArray(300000, 'x'));
    EXPECT_EQ(Moved.LastProgress, 300000);
    TRun Gone = Run("/gone-with-page", Plain);
    EXPECT_EQ(Gone.Failure, THTTPFailure::Status);
    EXPECT_EQ(Gone.Error, "HTTP/1.1 404 Not Found");
    EXPECT_TRUE(Gone.Body.isEmpty());
    EXPECT_EQ(Run("/chunked", Plain).Body, QByteArray(40000, 'c'));

    // Without an announced length the cap is checked piece by piece, before the sink writes.
    THTTPOptions Capped;
    Capped.MaxBodyBytes = 25000;
    TRun Over = Run("/chunked", Capped);
    EXPECT_EQ(Over.Failure, THTTPFailure::TooLarge);
    EXPECT_LE(Over.Body.size(), 25000);
    THTTPOptions Strict;
    Strict.RequireContentLength = true;
    EXPECT_EQ(Run("/chunked", Strict).Failure, THTTPFailure::LengthUnknown);
    EXPECT_EQ(Run("/big", Strict).Body.size(), 300000);

    // A sink that cannot take more (a full disk) ends the request.
    TRun Refused = Run("/big", Plain, 1000);
    EXPECT_EQ(Refused.Failure, THTTPFailure::Sink);
    EXPECT_LE(Refused.Body.size(), 1000);
}
