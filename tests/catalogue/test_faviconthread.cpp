#include "FaviconTestServer.h"
#include "TestSupport.h"
#include "uTFaviconThread.h"
#include "uTLogger.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

namespace {

const QByteArray IconBytes("\0\0\1\0fake icon bytes", 20);

class FaviconThreadTest : public ::testing::Test {
protected:
    TTempEnvironment Env;
    TLogger Logger{TLogger::llError, false, QStringLiteral("Quorvantis")};
    TFaviconTestServer Server;

    QString Icons() const { return Env.InstallFolder() + "icons/"; }

    // Runs a thread to its end (the bound only guards against a hang).
    void Run(std::vector<TFaviconShop> Shops, std::vector<TFaviconLink> Links = {}, int ReadTimeoutMs = 5000) {
        TFaviconThread Thread(std::move(Shops), std::move(Links), &Logger, Env.InstallFolder(), ReadTimeoutMs);
        Thread.start();
        ASSERT_TRUE(Thread.wait(60000));
    }

    QStringList Errors() const {
        QStringList Result;
        for (const QString& Line : Env.LogLines()) {
            const int At = Line.indexOf(QStringLiteral("|ERROR|"));
            if (At >= 0)
                Result << Line.mid(At + 7);
        }
        return Result;
    }
};

TEST_F(FaviconThreadTest, FetchesOnlyMissingFilesShopsFirstThenLinks) {
    Server.Serve("s1", IconBytes);
    Server.Serve("s2", "never asked");
    Server.Serve("s3", "never asked");
    Server.Redirect("s4", Server.Site("s1") + "/favicon.ico");
    Server.Serve("mine", "the page's own folder: never asked");
    Server.Serve("", "link icon"); // a link's icon comes from its site's root
    QDir().mkpath(Icons());
    WriteFileBytes(Icons() + "2.ico", "");       // even an empty file counts as present
    WriteFileBytes(Icons() + "3.ico", "<html>"); // and so does a broken one

    Run({{1, Server.Site("s1")}, {2, Server.Site("s2")}, {3, Server.Site("s3")}, {4, Server.Site("s4")}},
        {{"Mine", Server.Site("mine/index.html?aktion=1")}, {"1", Server.Site("never")}});

    EXPECT_EQ(ReadFileBytes(Icons() + "1.ico"), IconBytes);
    EXPECT_EQ(ReadFileBytes(Icons() + "4.ico"), IconBytes) << "redirect followed, target body stored";
    EXPECT_EQ(ReadFileBytes(Icons() + "Mine.ico"), "link icon");
    EXPECT_EQ(ReadFileBytes(Icons() + "2.ico"), "");
    EXPECT_EQ(ReadFileBytes(Icons() + "3.ico"), "<html>");
    EXPECT_EQ(Server.Requests("s2"), 0);
    EXPECT_EQ(Server.Requests("s3"), 0);
    EXPECT_EQ(Server.Requests("never"), 0) << "a link named like a shop id shares the shop's file";
    EXPECT_EQ(Server.Requests("mine"), 0);
    EXPECT_EQ(Server.Requests(""), 1);
    EXPECT_EQ(Server.Header("", "Accept"), "text/html, */*");
    EXPECT_EQ(Server.Header("", "User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(Server.Header("", "Content-Type"), "<none>");
    EXPECT_TRUE(Errors().isEmpty()) << Errors().join('\n').toStdString();

    // A second run finds everything on disk and asks for nothing.
    const int Before = Server.TotalRequests();
    Run({{1, Server.Site("s1")}, {4, Server.Site("s4")}}, {{"Mine", Server.Site("mine")}});
    EXPECT_EQ(Server.TotalRequests(), Before);
}

TEST_F(FaviconThreadTest, OnlyFilesUnderTheExactNameCountAsPresentAndARepeatedShopIsFetchedOnce) {
    for (const char* Site : {"s5", "s6", "s7", "s8", "odd"})
        Server.Serve(Site, IconBytes);
    QDir().mkpath(Icons() + "5.ico");              // a folder is no icon
    WriteFileBytes(Icons() + "6.ico.part", "hal"); // nor is a write cut short
    WriteFileBytes(Icons() + "007.ico", "other");  // nor a name ShopIconFile never writes
    const QString Odd = QStringLiteral("Grüße 50% / \"Ä\" .ico");
    TFaviconThread Names({}, {}, &Logger, Env.InstallFolder());
    WriteFileBytes(Names.LinkFile(Odd), "kept");

    Run({{5, Server.Site("s5")},
         {6, Server.Site("s6")},
         {7, Server.Site("s7")},
         {8, Server.Site("s8")},
         {8, Server.Site("s8")}},
        {{Odd, Server.Site("odd")}, {"8", Server.Site("odd")}});

    EXPECT_TRUE(QFileInfo(Icons() + "5.ico").isDir());
    EXPECT_EQ(Server.Requests("s5"), 1) << "asked, though it cannot be stored under a folder's name";
    EXPECT_EQ(ReadFileBytes(Icons() + "6.ico"), IconBytes);
    EXPECT_EQ(ReadFileBytes(Icons() + "7.ico"), IconBytes);
    EXPECT_EQ(ReadFileBytes(Icons() + "007.ico"), "other");
    EXPECT_EQ(Server.Requests("s8"), 1) << "a shop listed twice is fetched once";
    EXPECT_EQ(ReadFileBytes(Names.LinkFile(Odd)), "kept");
    EXPECT_EQ(Server.Requests(""), 0) << "neither the odd name on disk nor a link named like a fetched shop";
    EXPECT_EQ(Errors().size(), 1) << Errors().join('\n').toStdString(); // the folder in the way
}

TEST_F(FaviconThreadTest, StatusFailuresAreSilentOtherFailuresLoggedOncePerIcon) {
    Server.Serve("e404", "gone", 404);
    Server.Serve("e500", "oops", 500);
    Server.Serve("e403", "no", 403);
    // Over the limit; its size ("1500000") contains "500" but is no status answer.
    Server.Serve("big", QByteArray(1500000, 'x'));
    Server.Serve("ok", IconBytes);
    Server.Serve("", IconBytes);
    const QString Closed = TFaviconTestServer::ClosedSite();

    Run({{1, Server.Site("e404")},
         {2, Server.Site("e500")},
         {3, Server.Site("e403")},
         {5, Closed},
         {6, Server.Site("big")},
         {7, Server.Site("ok")}},
        {{"Down", Closed}, {QString(300, 'n'), Server.Site("ok")}});

    for (const char* Name : {"1.ico", "2.ico", "3.ico", "5.ico", "6.ico", "Down.ico"})
        EXPECT_FALSE(QFileInfo::exists(Icons() + Name)) << Name;
    EXPECT_EQ(ReadFileBytes(Icons() + "7.ico"), IconBytes) << "the client still works after a dropped connection";

    const QStringList Lines = Errors();
    ASSERT_EQ(Lines.size(), 4) << Lines.join('\n').toStdString();
    const QString Refused = "Download failed: URL=" + Closed + "/favicon.ico, File=";
    EXPECT_TRUE(Lines[0].startsWith(Refused + Icons() + "5.ico, Error=")) << Lines[0].toStdString();
    EXPECT_TRUE(Lines[1].startsWith("Download failed: URL=" + Server.Site("big") + "/favicon.ico, File=" + Icons() +
                                    "6.ico, Error="))
        << Lines[1].toStdString();
    EXPECT_TRUE(Lines[2].startsWith(Refused + Icons() + "Down.ico, Error=")) << Lines[2].toStdString();
    // A name too long for a file name fails at writing, after the download.
    EXPECT_TRUE(Lines[3].startsWith("Download failed: URL=" + Server.RootIcon() + ", File=" + Icons() +
                                    QString(300, 'n') + ".ico, Error="))
        << Lines[3].toStdString();
}

TEST_F(FaviconThreadTest, OneKeptConnectionCarriesEveryIconAlsoAfterALoggedFailure) {
    // Links take the icon of their server's root.
    for (const char* Name : {"a", "b", ""})
        Server.Serve(Name, IconBytes);
    // The long name fails at writing, after its download: logged, the connection stays.
    Run({{1, Server.Site("a")}, {2, Server.Site("b")}},
        {{QString(300, 'n'), Server.Site("c")}, {"After", Server.Site("d")}});
    EXPECT_EQ(Errors().size(), 1);
    EXPECT_EQ(ReadFileBytes(Icons() + "After.ico"), IconBytes);
    EXPECT_EQ(Server.TotalRequests(), 4);
    EXPECT_EQ(Server.Connections(), 1);
    // Files are written in place: nothing but the icons is left in the folder.
    EXPECT_EQ(QDir(Icons()).entryList(QDir::Files | QDir::Hidden), (QStringList{"1.ico", "2.ico", "After.ico"}));
}

TEST_F(FaviconThreadTest, WorksOnTheShopsCopiedAtCreation) {
    Server.Serve("a", "A");
    Server.Serve("b", "B");
    Server.Serve("c", "C");
    TShopList Shops;
    for (auto [Id, Site] : {std::pair{1, "a"}, std::pair{2, "b"}}) {
        auto Shop = std::make_shared<TShop>();
        Shop->Id = Id;
        Shop->SetSite(Server.Site(Site));
        Shops.push_back(Shop);
    }
    TFaviconThread Thread(FaviconShops(Shops), {}, &Logger, Env.InstallFolder(), 5000);
    // A catalogue reload replaces the list and edits the shared records meanwhile.
    Shops[0]->SetSite(Server.Site("c"));
    Shops.clear();
    auto Other = std::make_shared<TShop>();
    Other->Id = 3;
    Other->SetSite(Server.Site("c"));
    Shops.push_back(Other);

    Thread.start();
    ASSERT_TRUE(Thread.wait(60000));
    EXPECT_EQ(ReadFileBytes(Icons() + "1.ico"), "A");
    EXPECT_EQ(ReadFileBytes(Icons() + "2.ico"), "B");
    EXPECT_FALSE(QFileInfo::exists(Icons() + "3.ico"));
    EXPECT_EQ(Server.Requests("c"), 0);
}

TEST_F(FaviconThreadTest, StalledServerCostsOneReadTimeoutThenTheRunGoesOn) {
    Server.Stall("slow");
    Server.Serve("next", IconBytes);
    Run({{1, Server.Site("slow")}, {2, Server.Site("next")}}, {}, 1000);

    EXPECT_FALSE(QFileInfo::exists(Icons() + "1.ico"));
    EXPECT_EQ(ReadFileBytes(Icons() + "2.ico"), IconBytes);
    const QStringList Lines = Errors();
    ASSERT_EQ(Lines.size(), 1);
    EXPECT_TRUE(Lines[0].startsWith("Download failed: URL=" + Server.Site("slow") + "/favicon.ico"));
}

TEST_F(FaviconThreadTest, ShutdownDuringAStalledDownloadEndsWithinTheTimeoutAndAsksNothingMore) {
    Server.Stall("slow");
    Server.Serve("next", IconBytes);
    TFaviconThread Thread({{1, Server.Site("slow")}, {2, Server.Site("next")}}, {{"Link", Server.Site("next")}},
                          &Logger, Env.InstallFolder(), 1000);
    Thread.start();
    ASSERT_TRUE(Server.WaitForRequest("slow"));
    Thread.requestInterruption();
    EXPECT_TRUE(Thread.wait(1000 + 2000)) << "the read time-out bounds the shutdown";
    EXPECT_TRUE(Thread.isFinished());
    EXPECT_EQ(Server.Requests("next"), 0);
    EXPECT_TRUE(QDir(Icons()).entryList(QDir::Files | QDir::Hidden).isEmpty()) << "no partial or temporary file";
}

TEST_F(FaviconThreadTest, TricklingServerGetsOneDeadlineForTheWholeIconAndNeverHoldsTheShutdown) {
    Server.Trickle("slow");
    Server.Serve("next", IconBytes);
    QElapsedTimer Timer;
    Timer.start();
    Run({{1, Server.Site("slow")}, {2, Server.Site("next")}}, {}, 1000);
    EXPECT_LT(Timer.elapsed(), 10000) << "bytes keep coming, yet the icon has its deadline";
    EXPECT_FALSE(QFileInfo::exists(Icons() + "1.ico"));
    EXPECT_EQ(ReadFileBytes(Icons() + "2.ico"), IconBytes);
    ASSERT_EQ(Errors().size(), 1);
    EXPECT_TRUE(Errors()[0].contains("Error=Timeout")) << Errors()[0].toStdString();

    // With the full 20 s per icon, a stop request still ends the download in progress at once.
    QFile::remove(Icons() + "2.ico");
    TFaviconThread Thread({{1, Server.Site("slow")}, {2, Server.Site("next")}}, {}, &Logger, Env.InstallFolder());
    Thread.start();
    ASSERT_TRUE(Server.WaitForRequest("slow"));
    QThread::msleep(300); // the scenario: the stop comes while the answer is under way
    Timer.restart();
    Thread.requestInterruption();
    EXPECT_TRUE(Thread.wait(10000));
    EXPECT_LT(Timer.elapsed(), 1500) << "the shutdown waits no longer for it";
    EXPECT_EQ(Server.Requests("next"), 1) << "only the first run asked for it";
    EXPECT_EQ(Errors().size(), 1) << "a stop is no failure worth a line";
}

TEST_F(FaviconThreadTest, HostileLinkNamesNeverWriteOutsideTheIconsFolder) {
    Server.Serve("", IconBytes);
    std::vector<TFaviconLink> Links;
    for (const char* Name : {"../../evil", "a\\b", "/abs", ".hidden", "..", ".", "sub/../../x"})
        Links.push_back({Name, Server.Site("x")});
    Run({}, Links);

    QStringList Outside;
    QDirIterator It(Env.Root(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (It.hasNext()) {
        const QString File = It.next();
        if (!File.startsWith(Icons()) && File != Env.LogFile() && !File.startsWith(Env.ConfigHome()))
            Outside << File;
    }
    EXPECT_TRUE(Outside.isEmpty()) << Outside.join('\n').toStdString();
    const QStringList Written = QDir(Icons()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(Written.size(), 7) << Written.join(' ').toStdString();
    for (const QString& Name : Written) {
        EXPECT_FALSE(Name.startsWith('.')) << Name.toStdString();
        EXPECT_EQ(ReadFileBytes(Icons() + Name), IconBytes);
    }
    EXPECT_TRUE(Errors().isEmpty()) << Errors().join('\n').toStdString();
}

TEST_F(FaviconThreadTest, IconsFolderThatCannotBeCreatedEndsTheRunWithOneLine) {
    QDir().mkpath(Env.InstallFolder());
    WriteFileBytes(Env.InstallFolder() + "icons", "a file where the folder belongs");
    Server.Serve("s", IconBytes);
    Run({{1, Server.Site("s")}});

    EXPECT_EQ(Server.TotalRequests(), 0);
    const QStringList Lines = Errors();
    ASSERT_EQ(Lines.size(), 1);
    EXPECT_TRUE(Lines[0].startsWith("Updating favicons failed: ")) << Lines[0].toStdString();
}

} // namespace
