// The vendor server path table and every address built from it.
#include "TestSupport.h"
#include "uErrors.h"
#include "uServerPaths.h"
#include "uSettingsKeys.h"
#include "uTUpdateVersion.h"

#include <QSet>
#include <gtest/gtest.h>

TEST(ServerPaths, TableCoversEveryPathOnce) {
    QSet<int> Seen;
    QSet<QString> Patterns;
    for (const TServerPathInfo& Info : ServerPathTable()) {
        EXPECT_FALSE(Seen.contains(int(Info.Path)));
        Seen.insert(int(Info.Path));
        const QString Pattern = QString::fromLatin1(Info.Pattern);
        EXPECT_TRUE(Pattern.isEmpty() ? Info.Path == TServerPath::Home : Pattern.startsWith('/')) << Info.Pattern;
        EXPECT_FALSE(Patterns.contains(Pattern));
        Patterns.insert(Pattern);
        EXPECT_TRUE(Info.SentBy && *Info.SentBy && Info.ReliesOn && *Info.ReliesOn);
        EXPECT_EQ(&ServerPathInfo(Info.Path), &Info);
    }
    EXPECT_EQ(Seen.size(), int(TServerPath::FeedbackSubmit) + 1);
}

TEST(ServerPaths, AddressesFollowTheConfiguredBase) {
    TTempEnvironment Env;
    TShop Shop;
    Shop.Id = 17;
    EXPECT_EQ(Shop.GetShopURL(), QStringLiteral(QUORVANTIS_VENDOR_URL "/shop.php?id=17")); // build default

    WriteSetting(Setting::Server, "http://127.0.0.1:8080/");
    EXPECT_EQ(BuildServerURL(TServerPath::Home), "http://127.0.0.1:8080");
    EXPECT_EQ(Shop.GetShopURL(), "http://127.0.0.1:8080/shop.php?id=17");
    EXPECT_EQ(BuildServerURL(
                  TServerPath::Shop,
                  {{"id", "17"}, {"ref", "5"}, {"check", "2024-05-01"}, {"version", "2.2"}, {"subid", "software"}}),
              "http://127.0.0.1:8080/shop.php?id=17&ref=5&check=2024-05-01&version=2.2&subid=software");
    EXPECT_EQ(BuildServerURL(TServerPath::Version2Xml, {{"ref", "5"}, {"version", "2.2"}}),
              "http://127.0.0.1:8080/version2.xml?ref=5&version=2.2");
    EXPECT_EQ(BuildServerURL(TServerPath::TopVotes, {{"ref", "software"}}),
              "http://127.0.0.1:8080/topvotes.html?ref=software");

    TNewsItem Item;
    Item.Ident = "n2";
    EXPECT_EQ(Item.GetNewsURL(), "http://127.0.0.1:8080/news_n2.html");

    TSearchEngine Engine;
    Engine.Type = "preis&x"; // the engine type goes out as stored
    EXPECT_EQ(Engine.GetSearchURL(QString::fromUtf8("Bücher für 5 €")),
              "http://127.0.0.1:8080/search.php?type=preis&x&search=B%FCcher%20f%FCr%205%20%80");
}

TEST(ServerPaths, QueryKeysMustFollowTheTableOrder) {
    EXPECT_THROW(BuildServerURL(TServerPath::Shop, {{"ref", "5"}}), EQuorvantis);
    EXPECT_THROW(BuildServerURL(TServerPath::Search, {{"search", "x"}, {"type", "y"}}), EQuorvantis);
    EXPECT_THROW(BuildServerURL(TServerPath::News, {{"id", "1"}}), EQuorvantis);
    EXPECT_NO_THROW(BuildServerURL(TServerPath::Banner, {{"search", ""}}));
}
