// The catalogue answer as the program hands it over, the local file, start-up
// notices and the news decision. The request itself and the submissions are driven
// through the program object (tests/program).
#include "TestSupport.h"
#include "uCatalogueRefresh.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uTLogger.h"
#include "uTUpdateVersion.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QByteArray Catalogue23 = R"(<?xml version="1.0" encoding="UTF-8"?>
<quorvantis><version>2.3</version><requiredversion>2.0</requiredversion><check>2099-01-01</check>
<shops><shop id="7" name="Gärtner &amp; Co" site="http://g.example" category="Haus->Garten" ranking="3"/></shops>
<news><newsitem ident="n1" title="Neu" date="2026-12-01">Text</newsitem></news></quorvantis>)";

const QString URL = "http://127.0.0.1:1/version2.xml?ref=42&version=2.2";

class RefreshTest : public ::testing::Test {
protected:
    TTempEnvironment Env;
    TLogger Log{3, true, "Quorvantis"};
    TUpdateVersion Catalogue{&Log};
};

TEST_F(RefreshTest, AnswerIsStoredLoadedAndLogged) {
    const TRefreshResult R = HandleCatalogueAnswer(URL, Catalogue23, "", Catalogue, Log);
    EXPECT_TRUE(R.Downloaded);
    EXPECT_EQ(R.State, usNewVersion);
    EXPECT_EQ(ReadFileBytes(CatalogueFileName()), Catalogue23);
    ASSERT_EQ(Catalogue.Shops.size(), 1u);
    EXPECT_EQ(Catalogue.Shops[0]->GetName(), "Gärtner & Co");
    const QStringList Lines = Env.LogLines();
    ASSERT_EQ(Lines.size(), 2);
    EXPECT_TRUE(Lines[0].endsWith("|INFO|GetUpdates: Version=2.2 Server=2.3 Check=2099-01-01 URL=" + URL))
        << Lines[0].toStdString();
    EXPECT_TRUE(Lines[1].endsWith("|DEBUG|2.3, Gärtner & Co")) << Lines[1].toStdString();
}

TEST_F(RefreshTest, FailedRequestKeepsEverythingAndTheFileIsUsedNext) {
    WriteFileBytes(CatalogueFileName(), Catalogue23);
    const TRefreshResult R = HandleCatalogueAnswer(URL, "", "Connection refused", Catalogue, Log);
    EXPECT_FALSE(R.Downloaded);
    EXPECT_EQ(R.State, usError);
    EXPECT_TRUE(Catalogue.IsEmpty());
    EXPECT_EQ(ReadFileBytes(CatalogueFileName()), Catalogue23);

    bool Loaded = false;
    EXPECT_EQ(LoadCatalogueFile(Catalogue, Log, Loaded), usNewVersion);
    EXPECT_TRUE(Loaded);
    const QStringList Lines = Env.LogLines();
    ASSERT_EQ(Lines.size(), 2);
    EXPECT_TRUE(Lines[0].contains("|ERROR|GetUpdates: URL=" + URL + ": Connection refused"));
    EXPECT_TRUE(Lines[1].endsWith("|INFO|Load data from file: 2.3"));
}

TEST_F(RefreshTest, AnswerThatDoesNotParseKeepsFileAndCatalogue) {
    ASSERT_TRUE(HandleCatalogueAnswer(URL, Catalogue23, "", Catalogue, Log).Replaced);
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
        const TRefreshResult R = HandleCatalogueAnswer(URL, Bad, "", Catalogue, Log);
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
    // The catalogue file is a folder: the download is used, the folder stays, one line says why.
    QDir().mkpath(CatalogueFileName());
    TRefreshResult R = HandleCatalogueAnswer(URL, Catalogue23, "", Catalogue, Log);
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
    R = HandleCatalogueAnswer(URL, Catalogue23, "", Fresh, Log);
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

} // namespace
