#include "../catalogue/FaviconTestServer.h"
#include "TestSupport.h"
#include "uErrors.h"
#include "uFaviconLoader.h"
#include "uIconFiles.h"
#include "uRegistry.h"
#include "uTFaviconThread.h"
#include "uTImageList.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

QRgb CentrePixel(const QIcon& Icon, int Side, qreal Ratio = 1.0) {
    const QImage Image = Icon.pixmap(QSize(Side, Side), Ratio).toImage();
    return Image.pixel(Image.width() / 2, Image.height() / 2);
}

TEST(FaviconFileTest, MultiSizeIcoKeepsEverySizeWithTheDeepestImagePerSize) {
    const QIcon Icon = LoadIconFile(TestDataFile("favicon/multisize.ico"));
    EXPECT_EQ(Icon.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
    EXPECT_EQ(CentrePixel(Icon, 16), qRgb(255, 0, 0)) << "the 32-bit 16x16 wins over the 8-bit one";
    const QPixmap Sharp = Icon.pixmap(QSize(16, 16), 2.0);
    EXPECT_EQ(Sharp.size(), QSize(32, 32)) << "device pixel ratio 2 uses the 32x32 image";
    EXPECT_EQ(Sharp.toImage().pixel(16, 16), qRgb(0, 255, 0));
}

TEST(FaviconFileTest, PngServedAsIcoLoadsByContent) {
    const QIcon Icon = LoadIconFile(TestDataFile("favicon/png_as_ico.ico"));
    EXPECT_EQ(Icon.availableSizes(), QList<QSize>{QSize(32, 32)});
    EXPECT_EQ(CentrePixel(Icon, 32), qRgb(255, 128, 0));
}

TEST(FaviconFileTest, FilesWithoutAnImageFail) {
    TTempEnvironment Env;
    const QString Empty = Env.Root() + "/empty.ico";
    WriteFileBytes(Empty, "");
    for (const QString& File : {TestDataFile("favicon/html_page.ico"), TestDataFile("favicon/truncated.ico"), Empty,
                                Env.Root() + "/missing.ico"})
        EXPECT_THROW(LoadIconFile(File), EQuorvantis) << File.toStdString();
}

class FaviconLoaderTest : public ::testing::Test {
protected:
    TTempEnvironment Env;
    TLogger Logger{TLogger::llError, false, QStringLiteral("Quorvantis")};
    TImageList Images = TImageList::WithFixedPictures();
    TMenuItemManager Links{QStringLiteral("favorites")};
    TShopList Shops;

    void SetUp() override { QDir().mkpath(IconsFolder()); }

    TShopPtr AddShop(int Id, const QString& Site) {
        auto Shop = std::make_shared<TShop>();
        Shop->Id = Id;
        Shop->SetSite(Site);
        Shops.push_back(Shop);
        return Shop;
    }
    void AddLink(const QString& Name, const QString& URL, int Icon = 0) { Links.Save({Name, URL, Icon}); }
    int StoredIcon(const QString& Name) const {
        TURLItem Item{Name, {}, 0};
        Links.Load(Item);
        return Item.Icon;
    }
    static void Copy(const QString& Fixture, const QString& Target) {
        QFile::remove(Target);
        ASSERT_TRUE(QFile::copy(TestDataFile("favicon/" + Fixture), Target));
    }
    QStringList Errors() const {
        QStringList Result;
        for (const QString& Line : Env.LogLines())
            if (Line.contains("|ERROR|"))
                Result << Line.mid(Line.indexOf("|ERROR|") + 7);
        return Result;
    }
    void Fetch() {
        TFaviconThread Thread(FaviconShops(Shops), FaviconLinks(Links), &Logger, GetInstallFolder(), 5000);
        Thread.start();
        ASSERT_TRUE(Thread.wait(60000));
    }
};

TEST_F(FaviconLoaderTest, FetchedIconsReachTheImageListAtTheNextLoadOnePicturePerFile) {
    TFaviconTestServer Server;
    Server.Serve("one", ReadFileBytes(TestDataFile("favicon/multisize.ico")));
    Server.Serve("two", ReadFileBytes(TestDataFile("favicon/png_as_ico.ico")));
    AddShop(1, Server.Site("one"));
    AddShop(2, Server.Site("two"));
    AddShop(3, Server.Site("missing"));
    AddShop(1, Server.Site("one")); // the same shop listed twice: one file, one picture
    Images.SetShopIndex(3, 42);     // left over from an earlier load
    Images.Add(QIcon());            // favicons of an earlier load are dropped

    LoadFavicons(Images, Shops, Links, Logger);
    EXPECT_EQ(Images.Count(), TImageList::FixedCount);
    EXPECT_EQ(Images.ShopIndex(1), 0);
    EXPECT_EQ(Images.ShopIndex(3), 0);

    Fetch();
    EXPECT_EQ(Server.Requests("one"), 1) << "one download per file";
    LoadFavicons(Images, Shops, Links, Logger);
    EXPECT_EQ(Images.ShopIconCount(), 2);
    EXPECT_EQ(Images.Count(), TImageList::FixedCount) << "decoded when a menu entry first needs one";
    EXPECT_EQ(Images.ShopIndex(1), 8);
    EXPECT_EQ(Images.ShopIndex(2), 9);
    EXPECT_EQ(Images.ShopIndex(1), 8);
    EXPECT_EQ(Images.ShopIndex(3), 0);
    EXPECT_EQ(Images.Count(), TImageList::FixedCount + 2);
    // One menu-sized picture per file: the file's own 16x16 (the 32-bit one), or a larger one scaled.
    EXPECT_EQ(Images.Icon(8).availableSizes(), QList<QSize>{QSize(16, 16)});
    EXPECT_EQ(CentrePixel(Images.Icon(8), 16), qRgb(255, 0, 0));
    EXPECT_EQ(Images.Icon(9).availableSizes(), QList<QSize>{QSize(16, 16)});
    EXPECT_EQ(CentrePixel(Images.Icon(9), 16), qRgb(255, 128, 0));
    EXPECT_TRUE(Errors().isEmpty()) << Errors().join('\n').toStdString();

    // Loading again gives the same indexes, not a growing list.
    LoadFavicons(Images, Shops, Links, Logger);
    EXPECT_EQ(Images.ShopIndex(1), 8);
    EXPECT_EQ(Images.ShopIndex(2), 9);
    EXPECT_EQ(Images.Count(), TImageList::FixedCount + 2);
}

TEST_F(FaviconLoaderTest, BrokenFileIsLoggedDeletedAndFetchedAgainAtTheNextRun) {
    TFaviconTestServer Server;
    Server.Serve("shop", ReadFileBytes(TestDataFile("favicon/multisize.ico")));
    AddShop(7, Server.Site("shop"));
    AddShop(8, Server.Site("gone"));
    Copy("html_page.ico", ShopIconFile(7));
    WriteFileBytes(ShopIconFile(8), "");

    // While the broken file is there the thread leaves it alone.
    Fetch();
    EXPECT_EQ(Server.Requests("shop"), 0);

    LoadFavicons(Images, Shops, Links, Logger);
    EXPECT_TRUE(QFileInfo::exists(ShopIconFile(7))) << "read only when a menu entry needs it";
    EXPECT_EQ(Images.ShopIndex(7), 0);
    EXPECT_EQ(Images.ShopIndex(8), 0);
    EXPECT_EQ(Images.ShopIndex(7), 0); // read once
    EXPECT_FALSE(QFileInfo::exists(ShopIconFile(7)));
    EXPECT_FALSE(QFileInfo::exists(ShopIconFile(8)));
    const QStringList Lines = Errors();
    ASSERT_EQ(Lines.size(), 2) << Lines.join('\n').toStdString();
    EXPECT_TRUE(Lines[0].startsWith("LoadFavicon " + ShopIconFile(7) + ": ")) << Lines[0].toStdString();
    EXPECT_TRUE(Lines[1].startsWith("LoadFavicon " + ShopIconFile(8) + ": ")) << Lines[1].toStdString();
    EXPECT_GT(Lines[0].size(), ("LoadFavicon " + ShopIconFile(7) + ": ").size()) << "the reason is named";

    Fetch();
    EXPECT_EQ(Server.Requests("shop"), 1);
    EXPECT_EQ(Server.Requests("gone"), 1); // a 404 now: silent, no file
    LoadFavicons(Images, Shops, Links, Logger);
    EXPECT_EQ(Images.ShopIndex(7), 8);
    EXPECT_EQ(Images.ShopIndex(8), 0);
    EXPECT_EQ(Errors().size(), 2);
}

TEST_F(FaviconLoaderTest, LinksGetTheirIndexStoredAndLoseAStaleOne) {
    AddShop(5, "http://127.0.0.1:1/shop");
    AddShop(6, "http://127.0.0.1:1/six");
    Copy("multisize.ico", ShopIconFile(5));
    Copy("multisize.ico", IconsFolder() + "006.ico"); // no shop's file name
    AddLink("Mine", "http://mine.example", 3);
    AddLink("5", "http://shares.example"); // named like the shop: same file
    AddLink("NoFile", "http://nofile.example", 12);
    AddLink("Broken", "http://broken.example", 11);
    AddLink("../up", "http://up.example");
    Copy("png_as_ico.ico", LinkIconFile("Mine"));
    Copy("truncated.ico", LinkIconFile("Broken"));
    Copy("png_as_ico.ico", LinkIconFile("../up"));
    EXPECT_TRUE(LinkIconFile("../up").startsWith(IconsFolder()));

    LoadFavicons(Images, Shops, Links, Logger);
    // Links are loaded at once, each with its own image, whatever the store's order;
    // shops follow when their entries are made.
    EXPECT_EQ(Images.Icon(StoredIcon("5")).availableSizes().size(), 3u) << "the shop's file";
    const QList<int> Loaded = {StoredIcon("5"), StoredIcon("../up"), StoredIcon("Mine")};
    EXPECT_EQ(QSet<int>(Loaded.begin(), Loaded.end()), (QSet<int>{8, 9, 10}));
    EXPECT_EQ(Images.ShopIndex(5), 11);
    EXPECT_EQ(Images.ShopIndex(6), 0);
    EXPECT_EQ(Images.Icon(StoredIcon("Mine")).availableSizes(), QList<QSize>{QSize(32, 32)});
    EXPECT_EQ(StoredIcon("Broken"), 0);
    EXPECT_EQ(StoredIcon("NoFile"), 0) << "an index from an earlier load would show another site's icon";
    EXPECT_EQ(Images.Count(), 12);
    EXPECT_FALSE(QFileInfo::exists(LinkIconFile("Broken")));
    const QStringList Lines = Errors();
    ASSERT_EQ(Lines.size(), 1);
    EXPECT_TRUE(Lines[0].startsWith("LoadFavicon " + LinkIconFile("Broken") + ": "));

    TURLItem Mine{"Mine", {}, 0};
    Links.Load(Mine);
    EXPECT_EQ(Mine.URL, "http://mine.example") << "saving the index keeps the address";

    const std::vector<TFaviconLink> ForThread = FaviconLinks(Links);
    ASSERT_EQ(ForThread.size(), 5u);
    const auto Shares = std::find_if(ForThread.begin(), ForThread.end(), [](const auto& L) { return L.Name == "5"; });
    ASSERT_NE(Shares, ForThread.end());
    EXPECT_EQ(Shares->URL, "http://shares.example");
}

} // namespace
