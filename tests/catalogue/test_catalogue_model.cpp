// Verdicts, record operations and query encoding of the catalogue.
#include "TestSupport.h"
#include "uFormatSettings.h"
#include "uTEbayCategory.h"
#include "uTLogger.h"
#include "uTUpdateVersion.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {
QByteArray Doc(const QByteArray& Body) {
    return "<quorvantis>" + Body + "</quorvantis>";
}

struct TVerdictCase {
    const char* Version;
    const char* Required;
    bool WithCheck;
    UpdateState Expected;
};
} // namespace

TEST(CatalogueVerdicts, UpdateStateFollowsVersionRequiredVersionAndCheckDate) {
    const TVerdictCase Cases[] = {
        {"2.3", nullptr, false, usNewVersion},
        {"2.2", nullptr, false, usCheckOutdated}, // a missing check date counts as outdated
        {"2.2", nullptr, true, usUpToDate},
        {"2.2.0", nullptr, true, usUpToDate},
        {"v2.3", nullptr, true, usNewVersion}, // one leading letter is tolerated
        {"v2.3", "v2.3", true, usNewVersion},  // ... but not in the required version: "v2.3" is 0.3
        {"2.3", "2.3", true, usRequiredVersion},
        {"2.3", "", true, usNewVersion},
        {"2.10", "2.2", true, usNewVersion},
        {"2.1", "2.3", true, usUpToDate}, // the program is newer than the catalogue
        {"", "3.0", true, usError},
    };
    for (const TVerdictCase& C : Cases) {
        TUpdateVersion Catalogue;
        Catalogue.Today = [] { return QDate(2024, 6, 15); };
        QByteArray Body = "<version>" + QByteArray(C.Version) + "</version>";
        if (C.Required)
            Body += "<requiredversion>" + QByteArray(C.Required) + "</requiredversion>";
        if (C.WithCheck)
            Body += "<check>2024-06-01</check>";
        ASSERT_TRUE(Catalogue.LoadFromStream(Doc(Body)));
        EXPECT_EQ(Catalogue.GetUpdateState("2.2"), C.Expected) << C.Version << " / " << (C.Required ? C.Required : "-");
        EXPECT_TRUE(Catalogue.IsEmpty());
    }
    EXPECT_EQ(TUpdateVersion().GetUpdateState("2.2"), usError); // nothing loaded
}

TEST(CatalogueVerdicts, CompareVersionsIsNumericPerComponent) {
    EXPECT_EQ(TUpdateVersion::CompareVersions("2.2", "2.2.0"), 0);
    EXPECT_EQ(TUpdateVersion::CompareVersions("2.10", "2.9"), 1);
    EXPECT_EQ(TUpdateVersion::CompareVersions("3", "2.9.9"), 1);
    EXPECT_EQ(TUpdateVersion::CompareVersions("2.2", "2.2.1"), -1);
    EXPECT_EQ(TUpdateVersion::CompareVersions("2.x", "2.0"), 0); // not a number reads as 0
    EXPECT_EQ(TUpdateVersion::CompareVersions("", ""), 0);
    EXPECT_EQ(TUpdateVersion::CompareVersions("2.2", "v2.3"), 1);
}

TEST(CatalogueVerdicts, CheckDateOutdatedAfterThirtyDays) {
    TUpdateVersion Catalogue;
    Catalogue.Today = [] { return QDate(2024, 3, 31); };
    Catalogue.Check = "2024-03-01"; // exactly 30 days before: still current
    EXPECT_FALSE(Catalogue.IsCheckOutdated());
    Catalogue.Check = "2024-02-29";
    EXPECT_TRUE(Catalogue.IsCheckOutdated());
    Catalogue.Check = "";
    EXPECT_TRUE(Catalogue.IsCheckOutdated());
}

TEST(CatalogueVerdicts, GameActiveThroughItsLastDayWithDebugLineAndIsoLogDates) {
    TTempEnvironment Env;
    TLogger Logger(TLogger::llDebug, false, "Quorvantis");
    TUpdateVersion Catalogue(&Logger);
    Catalogue.Game = "2024-06-30";
    Catalogue.Today = [] { return QDate(2024, 6, 30); };
    EXPECT_TRUE(Catalogue.IsGameActive());
    Catalogue.Today = [] { return QDate(2024, 7, 1); };
    EXPECT_FALSE(Catalogue.IsGameActive());
    Catalogue.Game = "";
    EXPECT_FALSE(Catalogue.IsGameActive());

    EXPECT_EQ(ShortDateFormat(), "yyyy-MM-dd");
    const QStringList Lines = Env.LogLines();
    ASSERT_EQ(Lines.size(), 3);
    EXPECT_TRUE(Lines[0].endsWith("|DEBUG|2024-06-30<=2024-06-30=True")) << Lines[0].toStdString();
    EXPECT_TRUE(Lines[1].endsWith("|DEBUG|2024-07-01<=2024-06-30=False")) << Lines[1].toStdString();
    EXPECT_TRUE(Lines[2].endsWith("|DEBUG|2024-07-01<==False")) << Lines[2].toStdString();
    // The lasting switch of the short date format reaches the log's timestamps.
    EXPECT_TRUE(Lines[2].contains(QRegularExpression("^\\d{4}-\\d{2}-\\d{2}[ |]"))) << Lines[2].toStdString();
}

TEST(CatalogueVerdicts, UpdateFileNameIsLastPathSegment) {
    TUpdateVersion Catalogue;
    Catalogue.Url = "http://dl.example.test/update/QuorvantisSetup23.exe";
    EXPECT_EQ(Catalogue.GetUpdateFileName(), "QuorvantisSetup23.exe");
    Catalogue.Url = "http://dl.example.test/update/";
    EXPECT_EQ(Catalogue.GetUpdateFileName(), "");
    Catalogue.Url = "QuorvantisSetup23.exe"; // no "/" at all: no file name
    EXPECT_EQ(Catalogue.GetUpdateFileName(), "");
    Catalogue.Url = "http://dl.example.test/update/.."; // would name the install folder itself
    EXPECT_EQ(Catalogue.GetUpdateFileName(), "");
}

TEST(CatalogueRecords, ShopOperations) {
    TShop Shop;
    Shop.Id = 42;
    Shop.SetSite("http://shop.example.test/");
    EXPECT_EQ(Shop.GetIconFileName(), "icons/42.ico");
    EXPECT_EQ(Shop.GetFaviconURL(), "http://shop.example.test//favicon.ico"); // plain concatenation
    EXPECT_TRUE(Shop.GetShopURL().endsWith("/shop.php?id=42"));
    Shop.Ranking = 10;
    EXPECT_TRUE(Shop.IsTopShop());
    Shop.Ranking = 11;
    EXPECT_FALSE(Shop.IsTopShop());

    const std::pair<const char*, QStringList> Paths[] = {
        {"A->B", {"A", "B"}},
        {"A->", {"A"}},
        {"->B", {"", "B"}},
        {"A", {"A"}},
        {"", {}},
        {"A->->B", {"A", "", "B"}},
        {"Möbel->Küche->", {"Möbel", "Küche"}},
        {"A-B>C", {"A-B>C"}},
    };
    for (const auto& [Category, Expected] : Paths) {
        Shop.Category = QString::fromUtf8(Category);
        EXPECT_EQ(Shop.GetCategoryPath(), Expected) << Category;
    }
}

TEST(CatalogueRecords, SummaryListsVersionShopsThenEngines) {
    TUpdateVersion Catalogue;
    ASSERT_TRUE(
        Catalogue.LoadFromStream(Doc("<version>2.3</version><searchengines><search name=\"S1\"/></searchengines>"
                                     "<shops><shop name=\"B\"/><shop name=\"A\"/></shops>")));
    EXPECT_EQ(Catalogue.GetSummary(), "2.3, B, A, S1");
    TEbayCategory Ebay; // plain record with defaults
    EXPECT_EQ(Ebay.CategoryId, 0);
}

TEST(URLEncodeTest, EncodesWindows1252BytesOutsideTheUnreservedSet) {
    EXPECT_EQ(URLEncode("abc"), "abc");
    EXPECT_EQ(URLEncode(" "), "%20");
    EXPECT_EQ(URLEncode("~"), "~");
    EXPECT_EQ(URLEncode("+"), "%2B");
    EXPECT_EQ(URLEncode(""), "");
    EXPECT_EQ(URLEncode(QString::fromUtf8("ü")), "%FC");
    EXPECT_EQ(URLEncode(QString::fromUtf8("€")), "%80");
    EXPECT_EQ(URLEncode(QString::fromUtf8("Ä–Ÿ")), "%C4%96%9F");
    EXPECT_EQ(URLEncode(QString::fromUtf8("中")), "%3F");
    EXPECT_EQ(URLEncode(QString::fromUtf8("😀")), "%3F"); // one character, one "?"
    EXPECT_EQ(URLEncode("AZaz09-_.!~*'()"), "AZaz09-_.!~*'()");
    EXPECT_EQ(URLEncode("a&b=c/d?e%f#\"<>"), "a%26b%3Dc%2Fd%3Fe%25f%23%22%3C%3E");
    EXPECT_EQ(URLEncode(QString(QChar(0))), "%00");
    EXPECT_EQ(URLEncode("\x7F"), "%7F");
}

TEST(URLEncodeTest, Windows1252RoundTripOfEveryByte) {
    QByteArray All;
    for (int B = 0; B < 256; ++B)
        All.append(char(B));
    EXPECT_EQ(ToWindows1252(FromWindows1252(All)), All);
    EXPECT_EQ(FromWindows1252("\x80\x8A\x9F\xFC"), QString::fromUtf8("€ŠŸü"));
    EXPECT_EQ(QString::fromUtf8(Windows1252ToUtf8(All.constData(), All.size())), FromWindows1252(All));
}
