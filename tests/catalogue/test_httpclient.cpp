#include "uTHTTPClient.h"

#include <QThread>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>
#include <thread>

namespace {

// A cpp-httplib server on 127.0.0.1 and a free port, running on its own thread.
class TTestServer final {
public:
    httplib::Server Svr;

    TTestServer() = default;
    ~TTestServer() { Stop(); }
    TTestServer(const TTestServer&) = delete;
    TTestServer& operator=(const TTestServer&) = delete;

    void Start() {
        FPort = Svr.bind_to_any_port("127.0.0.1");
        ASSERT_GT(FPort, 0);
        FThread = std::thread([this] { Svr.listen_after_bind(); });
        while (!Svr.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
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
        Server.Svr.Get(R"(/r/(\d+))", [](const httplib::Request& Req, httplib::Response& Res) {
            const int N = std::stoi(Req.matches[1]);
            if (N == 0)
                Res.set_content("end of chain", "text/plain");
            else
                Res.set_redirect("/r/" + std::to_string(N - 1)); // relative, 302
        });
        Server.Svr.Get("/setcookie", [](const httplib::Request&, httplib::Response& Res) {
            Res.set_header("Set-Cookie", "session=abc123; Path=/");
            Res.set_content("set", "text/plain");
        });
        Server.Svr.Get("/redirect-with-cookie", [](const httplib::Request&, httplib::Response& Res) {
            Res.set_header("Set-Cookie", "hop=yes; Path=/");
            Res.set_redirect("/echo/cookie", 301);
        });
        Server.Svr.Get("/echo/cookie", [](const httplib::Request& Req, httplib::Response& Res) {
            Res.set_content(Req.get_header_value("Cookie"), "text/plain");
        });
        Server.Svr.Get("/capture.*", [this](const httplib::Request& Req, httplib::Response& Res) {
            std::lock_guard<std::mutex> Lock(Mutex);
            Target = Req.target;
            Version = Req.version;
            Headers = Req.headers;
            RemotePorts.push_back(Req.remote_port);
            Res.set_content("captured", "text/plain");
        });
    }

    // Tests add their own routes first: routes cannot change while the server runs.
    TTestServer Server;
    std::mutex Mutex;
    std::string Target, Version;
    httplib::Headers Headers;
    std::vector<int> RemotePorts;
};

} // namespace

TEST_F(HTTPClientTest, FollowsFifteenRedirectsAndFailsOnTheSixteenth) {
    Server.Start();
    THTTPClient Client;
    EXPECT_EQ(Str(Client.Get(Server.URL("/r/15"))), "end of chain");

    int Status = 0;
    const QString Message = FailureOf(Client, Server.URL("/r/16"), &Status);
    EXPECT_TRUE(Message.startsWith("HTTP/1.1 302 Found")) << Message.toStdString();
    EXPECT_TRUE(Message.contains("15")) << Message.toStdString();
    EXPECT_EQ(Status, 302);

    // The same client still works after the failure.
    EXPECT_EQ(Str(Client.Get(Server.URL("/r/1"))), "end of chain");
}

TEST_F(HTTPClientTest, RedirectNotFollowedWhenSwitchedOffFailsWithItsStatusLine) {
    Server.Start();
    THTTPClient::TOptions Options;
    Options.FollowRedirects = false;
    THTTPClient Client(Options);
    EXPECT_EQ(FailureOf(Client, Server.URL("/r/1")), "HTTP/1.1 302 Found");
}

TEST_F(HTTPClientTest, ErrorStatusFailsWithTheStatusLine) {
    Server.Svr.Get("/boom", [](const httplib::Request&, httplib::Response& Res) {
        Res.status = 500;
        Res.set_content("server side trouble", "text/plain");
    });
    Server.Svr.Get("/to-missing", [](const httplib::Request&, httplib::Response& Res) { Res.set_redirect("/gone"); });
    Server.Start();
    THTTPClient Client;
    int Status = 0;
    EXPECT_EQ(FailureOf(Client, Server.URL("/missing"), &Status), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(Status, 404);
    EXPECT_EQ(FailureOf(Client, Server.URL("/boom"), &Status), "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(Status, 500);
    // A redirect onto a missing page reports the final answer.
    EXPECT_EQ(FailureOf(Client, Server.URL("/to-missing")), "HTTP/1.1 404 Not Found");
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

TEST_F(HTTPClientTest, SendsTheFixedHeadersOverHTTP11) {
    Server.Start();
    THTTPClient Main;
    Main.Get(Server.URL("/capture"));
    {
        std::lock_guard<std::mutex> Lock(Mutex);
        EXPECT_EQ(Version, "HTTP/1.1");
        auto Header = [&](const char* Name) {
            auto It = Headers.find(Name);
            return It == Headers.end() ? std::string("<absent>") : It->second;
        };
        EXPECT_EQ(Header("Accept"), "text/html, */*");
        EXPECT_EQ(Header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
        EXPECT_EQ(Header("Content-Type"), "text/html");
        EXPECT_EQ(Header("Host"), "127.0.0.1:" + std::to_string(Server.Port()));
        EXPECT_EQ(Header("Accept-Encoding"), "identity");
    }
    THTTPClient::TOptions Options;
    Options.SendContentType = false;
    THTTPClient Favicons(Options);
    Favicons.Get(Server.URL("/capture"));
    std::lock_guard<std::mutex> Lock(Mutex);
    EXPECT_EQ(Headers.count("Content-Type"), 0u);
    EXPECT_EQ(Headers.find("User-Agent")->second, "Mozilla/3.0 (compatible; Indy Library)");
}

TEST_F(HTTPClientTest, SendsPathAndQueryExactlyAsBuilt) {
    Server.Start();
    THTTPClient Client;
    const char* Targets[] = {
        "/capture/gewinnspiel.php?ref=42&email=a+b@x.de&prename=J%FCrgen%20M&city=K%F6ln&check=2026-12-01&version=2.2",
        "/capture/p%FC%20x/?search=%2B%26%3D%25&x=!~*'()-_.&e=a&b",
        "/capture/search.php?type=web&search=%80uro%20%22quoted%22",
    };
    for (const char* Expected : Targets) {
        Client.Get(Server.URL(QString::fromLatin1(Expected)));
        std::lock_guard<std::mutex> Lock(Mutex);
        EXPECT_EQ(Target, Expected);
    }
    // A "#" is data here (an unencoded e-mail address), never a fragment to cut off.
    Client.Get(Server.URL("/capture?email=a#b@x.de&version=2.2"));
    std::lock_guard<std::mutex> Lock(Mutex);
    EXPECT_EQ(Target, "/capture?email=a%23b@x.de&version=2.2");
}

TEST_F(HTTPClientTest, ReportsOneTransferWithAnnouncedLengthAndRunningTotals) {
    const std::string Big(300000, 'x');
    Server.Svr.Get("/big",
                   [&](const httplib::Request&, httplib::Response& Res) { Res.set_content(Big, "text/plain"); });
    Server.Svr.Get("/to-big", [](const httplib::Request&, httplib::Response& Res) { Res.set_redirect("/big"); });
    Server.Svr.Get("/chunked", [](const httplib::Request&, httplib::Response& Res) {
        Res.set_chunked_content_provider("text/plain", [](size_t Offset, httplib::DataSink& Sink) {
            if (Offset < 5000) {
                const std::string Part(1000, 'c');
                Sink.write(Part.data(), Part.size());
            } else {
                Sink.done();
            }
            return true;
        });
    });

    Server.Start();
    THTTPClient Client;
    std::vector<qint64> Begins, Works;
    int Ends = 0;
    Client.OnWorkBegin = [&](qint64 Expected) { Begins.push_back(Expected); };
    Client.OnWork = [&](qint64 SoFar) { Works.push_back(SoFar); };
    Client.OnWorkEnd = [&] { ++Ends; };

    EXPECT_EQ(Client.Get(Server.URL("/to-big")).size(), qsizetype(Big.size()));
    ASSERT_EQ(Begins, std::vector<qint64>{qint64(Big.size())});
    EXPECT_EQ(Ends, 1);
    ASSERT_FALSE(Works.empty());
    EXPECT_TRUE(std::is_sorted(Works.begin(), Works.end()));
    EXPECT_EQ(Works.back(), qint64(Big.size()));

    Begins.clear();
    Works.clear();
    Ends = 0;
    EXPECT_EQ(Client.Get(Server.URL("/chunked")).size(), 5000);
    EXPECT_EQ(Begins, std::vector<qint64>{0}); // no announced length
    EXPECT_EQ(Ends, 1);
    EXPECT_EQ(Works.back(), 5000);

    // A failed request that got an answer still ends its transfer; one that got none raises nothing.
    Begins.clear();
    Ends = 0;
    FailureOf(Client, Server.URL("/missing"));
    EXPECT_EQ(Begins.size(), 1u);
    EXPECT_EQ(Ends, 1);
    const int Port = Server.Port();
    Client.Disconnect(); // otherwise the server waits for the kept connection to time out
    Server.Stop();
    Begins.clear();
    Ends = 0;
    FailureOf(Client, QStringLiteral("http://127.0.0.1:%1/big").arg(Port));
    EXPECT_TRUE(Begins.empty());
    EXPECT_EQ(Ends, 0);
}

TEST_F(HTTPClientTest, AbortFromAProgressHandlerEndsTheRequest) {
    const std::string Big(2000000, 'x');
    Server.Svr.Get("/big",
                   [&](const httplib::Request&, httplib::Response& Res) { Res.set_content(Big, "text/plain"); });
    Server.Start();
    THTTPClient Client;
    Client.OnWork = [&](qint64) { Client.Abort(); };
    EXPECT_EQ(FailureOf(Client, Server.URL("/big")), "Request aborted");
    Client.OnWork = nullptr;
    EXPECT_EQ(Client.Get(Server.URL("/big")).size(), qsizetype(Big.size()));

    // An exception thrown by a handler reaches the caller instead of being lost inside the event loop.
    Client.OnWorkBegin = [](qint64) { throw EQuorvantis("handler failed"); };
    try {
        Client.Get(Server.URL("/big"));
        ADD_FAILURE() << "no exception";
    } catch (const EQuorvantis& E) {
        EXPECT_EQ(E.Message(), "handler failed");
    }
    EXPECT_FALSE(Client.IsBusy());
}

TEST_F(HTTPClientTest, RefusedConnectionAndBadAddressFailClearly) {
    Server.Start();
    const int Port = Server.Port();
    Server.Stop();
    THTTPClient Client;
    int Status = -1;
    const QString Message = FailureOf(Client, QStringLiteral("http://127.0.0.1:%1/version2.xml").arg(Port), &Status);
    EXPECT_TRUE(Message.contains("refused", Qt::CaseInsensitive)) << Message.toStdString();
    EXPECT_EQ(Status, 0);
    EXPECT_TRUE(FailureOf(Client, "not an address").startsWith("Invalid address"));
    EXPECT_TRUE(FailureOf(Client, "ftp://127.0.0.1/x").startsWith("Invalid address"));
}

TEST_F(HTTPClientTest, StalledServerFailsWithReadTimeoutAndLargeBodiesAreRefused) {
    std::atomic<bool> Release{false};
    Server.Svr.Get("/stall", [&](const httplib::Request&, httplib::Response& Res) {
        while (!Release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Res.set_content("late", "text/plain");
    });
    Server.Svr.Get("/big", [](const httplib::Request&, httplib::Response& Res) {
        Res.set_content(std::string(10000, 'b'), "text/plain");
    });
    Server.Start();
    THTTPClient::TOptions Options;
    Options.ReadTimeoutMs = 200;
    Options.MaxBodyBytes = 5000;
    THTTPClient Client(Options);
    const QString Message = FailureOf(Client, Server.URL("/stall"));
    Release = true;
    EXPECT_TRUE(Message.startsWith("Read timeout")) << Message.toStdString();
    EXPECT_TRUE(FailureOf(Client, Server.URL("/big")).startsWith("Response too large"));
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

TEST_F(HTTPClientTest, DisconnectDropsTheKeptConnection) {
    Server.Start();
    THTTPClient Client;
    Client.Get(Server.URL("/capture/1"));
    Client.Get(Server.URL("/capture/2"));
    Client.Disconnect();
    Client.Get(Server.URL("/capture/3"));
    std::lock_guard<std::mutex> Lock(Mutex);
    ASSERT_EQ(RemotePorts.size(), 3u);
    EXPECT_EQ(RemotePorts[0], RemotePorts[1]); // kept alive
    EXPECT_NE(RemotePorts[1], RemotePorts[2]); // a new connection after Disconnect
}

TEST_F(HTTPClientTest, GetTextDecodesTheNamedCharset) {
    Server.Svr.Get("/latin1", [](const httplib::Request&, httplib::Response& Res) {
        Res.set_content("Gr\xFC\xDF", "text/html; charset=ISO-8859-1");
    });
    Server.Svr.Get("/utf8", [](const httplib::Request&, httplib::Response& Res) {
        Res.set_content("Gr\xC3\xBC\xC3\x9F", "text/plain");
    });
    Server.Start();
    THTTPClient Client;
    EXPECT_EQ(Client.GetText(Server.URL("/latin1")), QString::fromUtf8("Grüß"));
    EXPECT_EQ(Client.GetText(Server.URL("/utf8")), QString::fromUtf8("Grüß"));
}
