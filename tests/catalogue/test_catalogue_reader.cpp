// The catalogue document reader: text elements, lists, encodings, bad documents.
#include "TestSupport.h"
#include "uTLogger.h"
#include "uTUpdateVersion.h"

#include <QDir>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <malloc.h>

namespace {
QByteArray Doc(const QByteArray& Body) {
    return "<?xml version=\"1.0\"?>\n<q>" + Body + "</q>";
}

QByteArray Sample() {
    return ReadFileBytes(TestDataFile("catalogue/catalogue-utf8.xml"));
}

QStringList Names(const TShopList& Shops) {
    QStringList Result;
    for (const TShopPtr& Shop : Shops)
        Result << Shop->GetName();
    return Result;
}

// Everything a load may change, records by identity.
struct TSnapshot {
    TShopList Shops, Sorted;
    TSearchEngineList Engines;
    TNewsItemList News;
    QStringList Categories;
    QStringList Texts;
    explicit TSnapshot(const TUpdateVersion& C)
        : Shops(C.Shops), Sorted(C.SortedShops), Engines(C.SearchEngines), News(C.NewsItems),
          Categories(C.Categories), Texts{C.Check, C.Url, C.Version, C.RequiredVersion, C.Game} {}
    bool operator==(const TSnapshot&) const = default;
};
} // namespace

TEST(CatalogueReader, ReadsTheSampleCatalogue) {
    TUpdateVersion C;
    ASSERT_TRUE(C.LoadFromStream(Sample()));
    EXPECT_EQ(C.Version, "2.3");
    EXPECT_EQ(C.RequiredVersion, "2.0");
    EXPECT_EQ(C.Url, "http://downloads.example.test/update/QuorvantisSetup23.exe");
    EXPECT_EQ(C.Check, "2024-05-01");
    EXPECT_EQ(C.Game, "2024-06-30");
    ASSERT_EQ(C.Shops.size(), 6u);
    EXPECT_EQ(Names(C.Shops),
              QStringList({"Bücherstube", "Möbel & Mehr", "Alles für 5 €", "amazon", "Ärztebedarf", "Straßenmode"}));
    const TShop& First = *C.Shops[0];
    EXPECT_EQ(First.Id, 17);
    EXPECT_EQ(First.GetSite(), "http://buecher.example.test");
    EXPECT_EQ(First.Category, "Bücher");
    EXPECT_EQ(First.Ranking, 3);
    EXPECT_EQ(C.Shops[2]->Ranking, 1000); // no ranking attribute
    EXPECT_FALSE(C.Shops[2]->IsTopShop());
    EXPECT_TRUE(C.Shops[3]->IsTopShop()); // ranking 10
    EXPECT_EQ(C.Shops[5]->Id, 0);         // id "x1" is not a number
    EXPECT_EQ(C.Shops[5]->GetIconFileName(), "icons/0.ico");
    EXPECT_EQ(C.Shops[5]->Ranking, 1000); // ranking "elf"
    // Byte-wise on ASCII-upper-cased category + name; "Ä" is not a letter a-z and sorts after "W".
    EXPECT_EQ(Names(C.SortedShops),
              QStringList({"amazon", "Bücherstube", "Alles für 5 €", "Straßenmode", "Möbel & Mehr", "Ärztebedarf"}));
    EXPECT_EQ(C.Categories, QStringList({"Ärzte", "Bücher", "Elektronik->Computer", "Mode->Damen", "Wohnen->Möbel"}));
    ASSERT_EQ(C.SearchEngines.size(), 2u);
    EXPECT_EQ(C.SearchEngines[1]->Name, "Bücher");
    EXPECT_EQ(C.SearchEngines[1]->Type, "buch");
    ASSERT_EQ(C.NewsItems.size(), 2u);
    EXPECT_EQ(C.NewsItems[0]->Ident, "n2");
    EXPECT_EQ(C.NewsItems[0]->Title, "Neue Shops für Sie");
    EXPECT_EQ(C.NewsItems[0]->Date, "2024-05-02");
    EXPECT_EQ(C.NewsItems[0]->Text, "Jetzt 5 € sparen – Größen & Maße");
}

TEST(CatalogueReader, EveryEncodingGivesIdenticalRecords) {
    TUpdateVersion Reference;
    ASSERT_TRUE(Reference.LoadFromStream(Sample()));
    for (const char* File : {"catalogue-latin1.xml", "catalogue-cp1252.xml", "catalogue-utf16.xml"}) {
        TUpdateVersion C;
        ASSERT_TRUE(C.LoadFromStream(ReadFileBytes(TestDataFile(QString("catalogue/") + File)))) << File;
        EXPECT_EQ(C.GetSummary(), Reference.GetSummary()) << File;
        EXPECT_EQ(Names(C.SortedShops), Names(Reference.SortedShops)) << File;
        EXPECT_EQ(C.Categories, Reference.Categories) << File;
        EXPECT_EQ(C.NewsItems[0]->Text, Reference.NewsItems[0]->Text) << File;
        EXPECT_EQ(C.NewsItems[1]->Title, Reference.NewsItems[1]->Title) << File;
        for (size_t I = 0; I < C.Shops.size(); ++I)
            EXPECT_EQ(C.Shops[I]->Category, Reference.Shops[I]->Category) << File;
    }
    // A UTF-8 byte-order mark and a declaration in another case are fine too.
    TUpdateVersion Bom;
    ASSERT_TRUE(Bom.LoadFromStream("\xEF\xBB\xBF" + Sample()));
    EXPECT_EQ(Bom.GetSummary(), Reference.GetSummary());
    TUpdateVersion Lower;
    ASSERT_TRUE(
        Lower.LoadFromStream("<?xml version='1.0' encoding='Windows-1252'?><q><version>\x80\xFC</version></q>"));
    EXPECT_EQ(Lower.Version, "€ü");
}

TEST(CatalogueReader, TextElementCountsOnlyAsOnePlainTextNode) {
    TUpdateVersion C;
    ASSERT_TRUE(C.LoadFromStream(Doc("<url><![CDATA[http://x/a.exe]]></url>"         // CDATA
                                     "<version>2.3<!-- note --></version>"           // text + comment
                                     "<requiredversion><v>2.0</v></requiredversion>" // child element
                                     "<check></check>"                               // empty
                                     "<game>  2024-06-30 </game>"                    // kept as written
                                     "<?version 9.9?><version>8.8</version>")));     // only the first element counts
    EXPECT_EQ(C.Url, "");
    EXPECT_EQ(C.Version, "");
    EXPECT_EQ(C.RequiredVersion, "");
    EXPECT_EQ(C.Check, "");
    EXPECT_EQ(C.Game, "  2024-06-30 ");
    ASSERT_TRUE(C.LoadFromStream(Doc("<Version>1</Version><version>\n  <!-- c -->\n</version><check> \n</check>"
                                     "<url>a&amp;b&#x41;</url>")));
    EXPECT_EQ(C.Version, ""); // names are case-sensitive; a comment alone is no text
    EXPECT_EQ(C.Check, "");   // whitespace-only text is no node
    EXPECT_EQ(C.Url, "a&bA");
}

TEST(CatalogueReader, ShopsAttributesDefaultsAndCaseVariants) {
    TUpdateVersion C;
    ASSERT_TRUE(C.LoadFromStream(Doc("<shops><!-- c --><shop/><Shop name=\"no\"/><other name=\"no\"/>"
                                     "<shop id=\"7\" name=\"ebay\" category=\"Mode\" ranking=\"11\"/>"
                                     "<shop id=\" 3\" name=\"EBAY\" category=\"MODE\" ranking=\"-4\"/>"
                                     "<shop id=\"2147483648\" name=\"Ebay\" category=\"mode\" ranking=\"+10\"/>"
                                     "<shop id=\"0x10\" name=\"z\" category=\"Mode\"/>"
                                     "text<?shop x?></shops>")));
    ASSERT_EQ(C.Shops.size(), 5u);
    const TShop& Empty = *C.Shops[0];
    EXPECT_EQ(Empty.Id, 0);
    EXPECT_EQ(Empty.Ranking, 1000);
    EXPECT_TRUE(Empty.GetName().isEmpty() && Empty.GetSite().isEmpty() && Empty.Category.isEmpty());
    EXPECT_EQ(C.Shops[1]->Ranking, 11);
    EXPECT_EQ(C.Shops[2]->Id, 0); // leading blank
    EXPECT_EQ(C.Shops[2]->Ranking, -4);
    EXPECT_EQ(C.Shops[3]->Id, 0); // out of range
    EXPECT_EQ(C.Shops[3]->Ranking, 10);
    EXPECT_EQ(C.Shops[4]->Id, 0); // hexadecimal is not decimal
    // Same key MODE+EBAY three times: the one read last comes first.
    EXPECT_EQ(Names(C.SortedShops), QStringList({"", "Ebay", "EBAY", "ebay", "z"}));
    EXPECT_EQ(C.Categories, QStringList({"", "Mode"})); // first written form of the case variants
}

TEST(CatalogueReader, NewsItemsNeedANonEmptyPlainBody) {
    TUpdateVersion C;
    ASSERT_TRUE(C.LoadFromStream(Doc("<news><newsitem ident=\"a\" date=\"2024-06-01\"/>"
                                     "<newsitem ident=\"b\"> </newsitem>"
                                     "<newsitem ident=\"c\"><b>x</b></newsitem>"
                                     "<newsitem ident=\"d\"><![CDATA[x]]></newsitem>"
                                     "<newsitem ident=\"e\" date=\"2024-05-01\">Neu</newsitem>"
                                     "<item ident=\"f\">x</item><newsitem>Ohne Attribute</newsitem></news>")));
    ASSERT_EQ(C.NewsItems.size(), 2u);
    EXPECT_EQ(C.NewsItems[0]->Ident, "e"); // the first usable item becomes the newest
    EXPECT_EQ(C.NewsItems[0]->Text, "Neu");
    EXPECT_EQ(C.NewsItems[1]->Ident, "");
    EXPECT_EQ(C.NewsItems[1]->Title, "");
}

TEST(CatalogueReader, SecondSmallerLoadReplacesEverythingWhileOldRecordsStayValid) {
    TUpdateVersion C;
    ASSERT_TRUE(C.LoadFromStream(Sample()));
    TShopPtr Held = C.SortedShops[0]; // e.g. a window still showing it
    std::weak_ptr<TShop> Dropped = C.Shops[1];
    ASSERT_TRUE(
        C.LoadFromStream(Doc("<version>2.4</version><shops><shop id=\"1\" name=\"Neu\" category=\"X\"/></shops>")));
    EXPECT_EQ(Names(C.Shops), QStringList({"Neu"}));
    EXPECT_EQ(Names(C.SortedShops), QStringList({"Neu"}));
    EXPECT_EQ(C.Categories, QStringList({"X"}));
    EXPECT_TRUE(C.SearchEngines.empty());
    EXPECT_TRUE(C.NewsItems.empty());
    EXPECT_EQ(C.Url, "");
    EXPECT_EQ(C.Check, "");
    EXPECT_EQ(C.Game, "");
    EXPECT_EQ(C.RequiredVersion, "");
    EXPECT_EQ(Held->GetName(), "amazon"); // still valid
    EXPECT_FALSE(Dropped.expired());      // the records of one load go together
    Held.reset();
    EXPECT_TRUE(Dropped.expired()); // and nothing nobody holds is kept

    ASSERT_TRUE(C.LoadFromStream(Doc("<version>2.5</version>"))); // no shops element at all
    EXPECT_TRUE(C.IsEmpty());
    EXPECT_TRUE(C.SortedShops.empty() && C.Categories.isEmpty());
}

TEST(CatalogueReader, HeldRecordReadsTheSameAfterAReloadAndTheCatalogueAreGone) {
    const QByteArray Name = "Müller & Söhne";
    const QByteArray Site = "http://www.müller-söhne.example.test/größen?für=€";
    TShopPtr Held;
    std::weak_ptr<TShop> Neighbour;
    {
        TUpdateVersion C;
        ASSERT_TRUE(C.LoadFromStream(Doc("<shops><shop id=\"31\" name=\"Zweiter\" category=\"Möbel\"/>"
                                         "<shop id=\"30\" name=\"Müller &amp; Söhne\" site=\"" +
                                         Site + "\" category=\"Möbel\" ranking=\"7\"/></shops>")));
        ASSERT_EQ(C.Shops.size(), 2u);
        Held = C.SortedShops[0];
        Neighbour = C.Shops[0];
        ASSERT_TRUE(C.LoadFromStream(
            Doc("<shops><shop id=\"1\" name=\"Müller\" site=\"http://x.test\" category=\"Möbel\"/></shops>")));
        ASSERT_EQ(Names(C.Shops), QStringList({"Müller"}));
    }
    EXPECT_EQ(Held->NameUtf8(), Name); // the parser's bytes, unchanged
    EXPECT_EQ(Held->GetName(), QString::fromUtf8(Name));
    EXPECT_EQ(Held->GetName().size(), 14);
    EXPECT_EQ(Held->SiteUtf8(), Site);
    EXPECT_EQ(Held->GetFaviconURL(), QString::fromUtf8(Site) + "/favicon.ico");
    EXPECT_EQ(Held->Category, "Möbel");
    EXPECT_EQ(Held->Id, 30);
    EXPECT_EQ(Held->Ranking, 7);
    ASSERT_FALSE(Neighbour.expired()); // the held record keeps its whole load
    EXPECT_EQ(Neighbour.lock()->GetName(), "Zweiter");
    Held.reset();
    EXPECT_TRUE(Neighbour.expired());

    TShop Edited; // a record filled by hand stores the same bytes
    Edited.SetName(QString::fromUtf8(Name));
    Edited.SetSite(QString::fromUtf8(Site));
    EXPECT_EQ(Edited.NameUtf8(), Name);
    EXPECT_EQ(Edited.SiteUtf8(), Site);
}

TEST(CatalogueReader, DocumentThatDoesNotParseChangesNothingAndLogsOnce) {
    TTempEnvironment Env;
    TLogger Logger(TLogger::llError, false, "Quorvantis");
    TUpdateVersion C(&Logger);
    ASSERT_TRUE(C.LoadFromStream(Sample()));
    const TSnapshot Before(C);
    const QByteArray Whole = Sample();
    const std::pair<const char*, QByteArray> Bad[] = {
        {"not XML", "Dies ist kein Katalog."},
        {"empty", ""},
        {"truncated", Whole.left(Whole.size() / 2)},
        {"HTML page", "<html>\r\n<head><title>404 Not Found</title></head>\r\n<body>\r\n<center><h1>404 Not Found"
                      "</h1></center>\r\n<hr><center>nginx</center>\r\n</body>\r\n</html>\r\n"},
        {"unsupported encoding", "<?xml version=\"1.0\" encoding=\"KOI8-R\"?><q><version>3.0</version></q>"},
        {"Latin-1 bytes in UTF-8", "<?xml version=\"1.0\"?><q><version>3.0</version><url>B\xFC"
                                   "cher</url></q>"},
        {"only a comment", "<!-- nothing -->"},
    };
    int Count = 0;
    for (const auto& [What, Bytes] : Bad) {
        EXPECT_FALSE(C.LoadFromStream(Bytes)) << What;
        EXPECT_TRUE(TSnapshot(C) == Before) << What;
        const QStringList Lines = Env.LogLines();
        ASSERT_EQ(Lines.size(), ++Count) << What;
        EXPECT_TRUE(Lines.last().contains("|ERROR|")) << Lines.last().toStdString();
    }
    const QStringList Lines = Env.LogLines();
    EXPECT_TRUE(Lines[1].endsWith("|ERROR|No document element found at offset 0")) << Lines[1].toStdString();
    EXPECT_TRUE(Lines[4].endsWith("|ERROR|Unsupported document encoding \"koi8-r\"")) << Lines[4].toStdString();
    EXPECT_TRUE(Lines[5].endsWith("|ERROR|Invalid UTF-8 byte sequence at offset 52")) << Lines[5].toStdString();
    EXPECT_TRUE(Lines[3].contains("at offset")) << Lines[3].toStdString();
}

TEST(CatalogueReader, EntitiesAreNeverFetchedNorExpanded) {
    QTcpServer Listener; // an external entity pointing here must not connect
    ASSERT_TRUE(Listener.listen(QHostAddress::LocalHost));
    const QByteArray Address = "http://127.0.0.1:" + QByteArray::number(Listener.serverPort()) + "/entity";
    TUpdateVersion C;
    ASSERT_TRUE(C.LoadFromStream("<?xml version=\"1.0\"?>\n<!DOCTYPE q [\n<!ENTITY net SYSTEM \"" + Address +
                                 "\">\n<!ENTITY file SYSTEM \"file:///etc/passwd\">\n]>\n"
                                 "<q><url>&net;</url><check>&file;</check><version>2.3</version></q>"));
    EXPECT_EQ(C.Version, "2.3");
    EXPECT_EQ(C.Url, "&net;");
    EXPECT_EQ(C.Check, "&file;");
    EXPECT_FALSE(Listener.waitForNewConnection(200));

    // Ten levels of ten references would be 10^10 bytes if expanded.
    QByteArray Bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE q [\n<!ENTITY l0 \"lol\">\n";
    for (int L = 1; L <= 10; ++L) {
        Bomb += "<!ENTITY l" + QByteArray::number(L) + " \"";
        for (int K = 0; K < 10; ++K)
            Bomb += "&l" + QByteArray::number(L - 1) + ";";
        Bomb += "\">\n";
    }
    Bomb += "]>\n<q><url>&l10;</url><shops><shop name=\"&l10;\" category=\"&l9;\"/></shops></q>";
    const size_t HeapBefore = mallinfo2().uordblks;
    ASSERT_TRUE(C.LoadFromStream(Bomb));
    EXPECT_LT(mallinfo2().uordblks, HeapBefore + 1024 * 1024);
    EXPECT_EQ(C.Url, "&l10;");
    ASSERT_EQ(C.Shops.size(), 1u);
    EXPECT_EQ(C.Shops[0]->GetName(), "&l10;");
}

TEST(CatalogueReader, FuzzCorpusReplays) {
    const QDir Corpus(TestDataFile("../../fuzz/corpus"));
    const QStringList Files = Corpus.entryList(QDir::Files);
    ASSERT_FALSE(Files.isEmpty());
    for (const QString& File : Files) {
        TUpdateVersion C;
        C.Today = [] { return QDate(2024, 6, 1); };
        const bool Loaded = C.LoadFromStream(ReadFileBytes(Corpus.filePath(File)));
        EXPECT_EQ(C.SortedShops.size(), C.Shops.size()) << File.toStdString();
        if (Loaded)
            C.GetUpdateState("2.2");
    }
}
