// Catalogue refresh, local file, start-up notices, news decision and submissions
// against a real HTTP server on 127.0.0.1.
#include "TestSupport.h"
#include "uCatalogueRefresh.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uServerSubmissions.h"
#include "uTHTTPClient.h"
#include "uTLogger.h"
#include "uTUpdateVersion.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

namespace {

const QByteArray Catalogue23 = R"(<?xml version="1.0" encoding="UTF-8"?>
<quorvantis><version>2.3</version><requiredversion>2.0</requiredversion><check>2099-01-01</check>
<shops><shop id="7" name="Gärtner &amp; Co" site="http://g.example" category="Haus->Garten" ranking="3"/></shops>
<news><newsitem ident="n1" title="Neu" date="2026-12-01">Text</newsitem></news></quorvantis>)";

// A small vendor server: serves a settable catalogue, records every request.
class TTestServer {
public:
    TTestServer() {
        FServer.Get("/version2.xml", [this](const httplib::Request& Req, httplib::Response& Res) {
            Record(Req);
            std::lock_guard L(FLock);
            Res.set_header("Set-Cookie", "session=abc123; Path=/");
            Res.set_content(FBody.toStdString(), "text/xml");
        });
        FServer.Get(R"(/(newsletter|feedback|gewinnspiel)\.php)",
                    [this](const httplib::Request& Req, httplib::Response& Res) {
                        Record(Req);
                        Res.set_content("OK", "text/plain");
                    });
        FPort = StartLoopbackServer(FServer, FThread);
        WriteSettingString("", "server", Base());
    }
    ~TTestServer() {
        FServer.stop();
        FThread.join();
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }
    void SetBody(const QByteArray& Body) {
        std::lock_guard L(FLock);
        FBody = Body;
    }
    struct TSeen {
        std::string Target; // path and query as sent
        httplib::Params Params;
        std::string Cookie;
    };
    std::vector<TSeen> Seen() {
        std::lock_guard L(FLock);
        return FSeen;
    }

private:
    void Record(const httplib::Request& Req) {
        std::lock_guard L(FLock);
        FSeen.push_back({Req.target, Req.params, Req.get_header_value("Cookie")});
    }
    httplib::Server FServer;
    int FPort = 0;
    std::thread FThread;
    std::mutex FLock;
    QByteArray FBody = Catalogue23;
    std::vector<TSeen> FSeen;
};

class RefreshTest : public ::testing::Test {
protected:
    TTempEnvironment Env;
    TLogger Log{3, true, "Quorvantis"};
    TUpdateVersion Catalogue{&Log};
    THTTPClient Client;
};

TEST_F(RefreshTest, DownloadStoresLoadsAndLogs) {
    TTestServer Server;
    const TRefreshResult R = DownloadCatalogue(Client, Catalogue, Log, 42);
    EXPECT_TRUE(R.Downloaded);
    EXPECT_EQ(R.State, usNewVersion);
    ASSERT_EQ(Server.Seen().size(), 1u);
    EXPECT_EQ(Server.Seen()[0].Target, "/version2.xml?ref=42&version=2.2");
    EXPECT_EQ(ReadFileBytes(CatalogueFileName()), Catalogue23);
    ASSERT_EQ(Catalogue.Shops.size(), 1u);
    EXPECT_EQ(Catalogue.Shops[0]->GetName(), "Gärtner & Co");
    const QStringList Lines = Env.LogLines();
    ASSERT_EQ(Lines.size(), 2);
    EXPECT_TRUE(Lines[0].endsWith("|INFO|GetUpdates: Version=2.2 Server=2.3 Check=2099-01-01 URL=" + Server.Base() +
                                  "/version2.xml?ref=42&version=2.2"))
        << Lines[0].toStdString();
    EXPECT_TRUE(Lines[1].endsWith("|DEBUG|2.3, Gärtner & Co")) << Lines[1].toStdString();
}

TEST_F(RefreshTest, UnreachableServerKeepsEverythingAndTheFileIsUsedNext) {
    WriteFileBytes(CatalogueFileName(), Catalogue23);
    WriteSettingString("", "server", "http://127.0.0.1:9");
    const TRefreshResult R = DownloadCatalogue(Client, Catalogue, Log, 5);
    EXPECT_FALSE(R.Downloaded);
    EXPECT_EQ(R.State, usError);
    EXPECT_TRUE(Catalogue.IsEmpty());
    EXPECT_EQ(ReadFileBytes(CatalogueFileName()), Catalogue23);

    bool Loaded = false;
    EXPECT_EQ(LoadCatalogueFile(Catalogue, Log, Loaded), usNewVersion);
    EXPECT_TRUE(Loaded);
    const QStringList Lines = Env.LogLines();
    ASSERT_EQ(Lines.size(), 2);
    EXPECT_TRUE(Lines[0].contains("|ERROR|GetUpdates: URL=http://127.0.0.1:9/version2.xml?ref=5&version=2.2: "));
    EXPECT_TRUE(Lines[1].endsWith("|INFO|Load data from file: 2.3"));
}

TEST_F(RefreshTest, AnswerThatDoesNotParseKeepsFileAndCatalogue) {
    TTestServer Server;
    ASSERT_TRUE(DownloadCatalogue(Client, Catalogue, Log, 1).Downloaded);
    // Error pages (also well-formed ones), an empty body and a cut-off document, all with status 200.
    // Other well-formed documents are no catalogue either: a feed, an error document, a bare root.
    for (const QByteArray& Bad :
         {QByteArray("<html><body><p>Wartung<br></body></html>"),
          QByteArray("<html><body><p>Wartung</p></body></html>"), QByteArray(),
          Catalogue23.left(Catalogue23.size() / 2),
          QByteArray("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>News</title>"
                     "<item><title>x</title></item></channel></rss>"),
          QByteArray("<error><code>503</code><message>Wartung</message></error>"), QByteArray("<quorvantis/>")}) {
        SCOPED_TRACE(Bad.toStdString());
        Server.SetBody(Bad);
        const TRefreshResult R = DownloadCatalogue(Client, Catalogue, Log, 1);
        EXPECT_TRUE(R.Downloaded);
        EXPECT_FALSE(R.Replaced);
        // A failure, not the old verdict told as the new one, and no INFO line claims a catalogue.
        EXPECT_EQ(R.State, usError);
        EXPECT_FALSE(R.Error.isEmpty());
        EXPECT_EQ(ReadFileBytes(CatalogueFileName()), Catalogue23);
        EXPECT_EQ(Catalogue.Shops.size(), 1u);
        const QStringList Lines = Env.LogLines();
        ASSERT_GE(Lines.size(), 2);
        EXPECT_TRUE(Lines[Lines.size() - 2].contains("|ERROR|"));
        EXPECT_TRUE(Lines.last().contains("|ERROR|GetUpdates: URL=")) << Lines.last().toStdString();
    }
    // No temporary file is left behind, and the next offline start still finds every shop.
    EXPECT_EQ(QDir(Env.InstallFolder()).entryList(QDir::Files | QDir::Hidden).filter("quorvantis").size(), 1);
    TUpdateVersion Offline(&Log);
    bool Loaded = false;
    EXPECT_EQ(LoadCatalogueFile(Offline, Log, Loaded), usNewVersion);
    EXPECT_EQ(Offline.Shops.size(), 1u);
}

TEST_F(RefreshTest, AGoodAnswerThatCannotBeStoredIsUsedAndTheLogSaysWhy) {
    TTestServer Server;
    // The catalogue file is a folder: the download is used, the folder stays, one line says why.
    QDir().mkpath(CatalogueFileName());
    TRefreshResult R = DownloadCatalogue(Client, Catalogue, Log, 1);
    EXPECT_TRUE(R.Downloaded);
    EXPECT_EQ(R.State, usNewVersion);
    EXPECT_EQ(Catalogue.Shops.size(), 1u);
    EXPECT_TRUE(QFileInfo(CatalogueFileName()).isDir());
    QStringList Errors = Env.LogLines().filter("|ERROR|");
    ASSERT_EQ(Errors.size(), 1) << Errors.join('\n').toStdString();
    EXPECT_TRUE(Errors[0].endsWith("|ERROR|GetUpdates: the catalogue is used but not stored: " + CatalogueFileName() +
                                   " is a folder, not a file"))
        << Errors[0].toStdString();
    // The next offline start says why it finds no catalogue.
    TUpdateVersion Offline(&Log);
    bool Loaded = true;
    EXPECT_EQ(LoadCatalogueFile(Offline, Log, Loaded), 0);
    EXPECT_FALSE(Loaded);
    EXPECT_TRUE(
        Env.LogLines().last().endsWith("|ERROR|LoadVersionFile: " + CatalogueFileName() + " is a folder, not a file"));

    // An install folder below a file: used all the same.
    WriteFileBytes(Env.Root() + "/file", "x");
    WriteSettingString("", "install", Env.Root() + "/file/below/");
    TUpdateVersion Fresh(&Log);
    R = DownloadCatalogue(Client, Fresh, Log, 1);
    EXPECT_TRUE(R.Downloaded);
    EXPECT_EQ(Fresh.Shops.size(), 1u);
}

TEST_F(RefreshTest, MissingLocalFileIsSilent) {
    bool Loaded = true;
    EXPECT_EQ(LoadCatalogueFile(Catalogue, Log, Loaded), 0);
    EXPECT_FALSE(Loaded);
    EXPECT_FALSE(QFile::exists(Env.LogFile()));
}

TEST(StartupNotice, FirstStartWinsThenTheVerdictSpeaks) {
    SetCurrentLanguage(1);
    EXPECT_EQ(StartupBalloonText(usNewVersion, true), "Click here to open Quorvantis!");
    EXPECT_EQ(StartupBalloonText(usNewVersion, false), txtNotUpToDateBalloon.In(1));
    EXPECT_EQ(StartupBalloonText(usRequiredVersion, false), txtNotUpToDateBalloon.In(1));
    EXPECT_EQ(StartupBalloonText(usCheckOutdated, false), txtCheckOutdatedBalloon.In(1));
    EXPECT_EQ(StartupBalloonText(usError, false),
              "An error occurred while checking the new version.\r\n\r\nPlease try again, later.");
    EXPECT_EQ(StartupBalloonText(usUpToDate, false), "");
    EXPECT_EQ(StartupBalloonText(7, false), "");
    SetCurrentLanguage(0);
}

TEST(NewsOffer, OnlyANewerFirstItemIsOffered) {
    TUpdateVersion C;
    EXPECT_EQ(NewsItemToOffer(C, ""), nullptr);
    auto Item = std::make_shared<TNewsItem>();
    Item->Date = "2026-12-01";
    Item->Text = "Teaser";
    C.NewsItems.push_back(Item);
    EXPECT_EQ(NewsItemToOffer(C, ""), Item);
    EXPECT_EQ(NewsItemToOffer(C, "2026-11-30"), Item);
    EXPECT_EQ(NewsItemToOffer(C, "2026-12-01"), nullptr);
    EXPECT_EQ(NewsItemToOffer(C, "2026-12-02"), nullptr);
    // A longer string with the same beginning counts as newer.
    EXPECT_EQ(NewsItemToOffer(C, "2026-12-0"), Item);
    EXPECT_EQ(NewsQuestionText(*Item), "Teaser\r\n\r\nWollen Sie den kompletten Artikel lesen?");
}

class SubmissionTest : public RefreshTest {};

TEST_F(SubmissionTest, FieldsArriveExactlyAsTypedAndTheCookieComesAlong) {
    TTestServer Server;
    DownloadCatalogue(Client, Catalogue, Log, 77); // sets the cookie and the check value
    const QString Email = "a&b#c@x.de";
    ASSERT_TRUE(::SendToServer(Client, GewinnspielURL(77, Email, "Jürgen Ö", "Groß & Sohn", "Weg #5", "12345", "Köln",
                                                      "Deutschland", Catalogue.Check)));
    ASSERT_TRUE(::SendToServer(Client, NewsletterURL(77, Email, false, Catalogue.Check)));
    ASSERT_TRUE(::SendToServer(Client, FeedbackURL(77, Email, "Allgemein", "50% mehr € bitte?", "")));
    const auto Seen = Server.Seen();
    ASSERT_EQ(Seen.size(), 4u);
    auto Value = [](const TTestServer::TSeen& S, const char* Key) {
        auto It = S.Params.find(Key);
        return It == S.Params.end() ? QString("<missing>") : FromWindows1252(QByteArray::fromStdString(It->second));
    };
    EXPECT_EQ(Seen[1].Cookie, "session=abc123");
    EXPECT_EQ(Value(Seen[1], "email"), Email);
    EXPECT_EQ(Value(Seen[1], "prename"), "Jürgen Ö");
    EXPECT_EQ(Value(Seen[1], "name"), "Groß & Sohn");
    EXPECT_EQ(Value(Seen[1], "street"), "Weg #5");
    EXPECT_EQ(Value(Seen[1], "city"), "Köln");
    EXPECT_EQ(Value(Seen[1], "check"), "2099-01-01");
    EXPECT_EQ(Value(Seen[1], "version"), "2.2");
    EXPECT_EQ(Seen[1].Target.rfind("/gewinnspiel.php?ref=77&email=a%26b%23c%40x.de&prename=J%FCrgen%20%D6&", 0), 0u)
        << Seen[1].Target;
    EXPECT_EQ(Value(Seen[2], "newsletter"), "0");
    EXPECT_EQ(Seen[2].Target,
              "/newsletter.php?ref=77&email=a%26b%23c%40x.de&newsletter=0&check=2099-01-01&version=2.2");
    EXPECT_EQ(Value(Seen[3], "feedback"), "50% mehr € bitte?");
    EXPECT_EQ(Value(Seen[3], "check"), "");
}

TEST_F(SubmissionTest, FailureOpensTheExactAddressInTheBrowser) {
    TBrowserRecorder Browser;
    WriteSettingString("", "server", "http://127.0.0.1:9");
    const QString URL = NewsletterURL(3, "x@y.z", true, "2026-01-01");
    EXPECT_EQ(URL, "http://127.0.0.1:9/newsletter.php?ref=3&email=x%40y.z&newsletter=1&check=2026-01-01&version=2.2");
    EXPECT_FALSE(::SendToServer(Client, URL));
    EXPECT_EQ(Browser.Opened(1), QStringList{URL});

    TTestServer Server; // 404 for an unknown path: the same fallback
    const QString Missing = Server.Base() + "/nothing.php?ref=3";
    EXPECT_FALSE(::SendToServer(Client, Missing));
    EXPECT_EQ(Browser.Opened(2).value(1), Missing);
}

} // namespace
