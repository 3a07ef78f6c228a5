// One live state, many views: the program object against a real HTTP server on
// 127.0.0.1 that serves the catalogue and the favicons (either held back until
// released), the real main window and its drawn menu, and the menu as a desktop
// panel reads it over D-Bus.
#include "ShellSupport.h"
#include "StatusNotifierHost.h"
#include "TestSupport.h"
#include "uAccessKeys.h"
#include "uConst.h"
#include "uFaviconLoader.h"
#include "uIconFiles.h"
#include "uRegistry.h"
#include "uTDBusMenu.h"
#include "uTDesktopMenu.h"
#include "uTImageList.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"
#include "uTTrayMenu.h"
#include "uTURLMenuItem.h"
#include "uTrayMenuBuilder.h"
#include "uUIHooks.h"
#include "ufrmQuorvantis.h"
#include "ufrmSearch.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Serves "/version2.xml" and "/<site>/favicon.ico"; each kind can be held back
// until released. The destructor releases everything and joins the server thread.
class TStateServer final {
public:
    TStateServer() {
        FServer.Get(R"(/.*)", [this](const httplib::Request& Req, httplib::Response& Res) { Handle(Req, Res); });
        FPort = StartLoopbackServer(FServer, FThread);
    }
    ~TStateServer() {
        {
            std::lock_guard Lock(FMutex);
            FHoldCatalogue = FHoldIcons = false;
            FStopping = true;
        }
        FChanged.notify_all();
        FServer.stop();
        FThread.join();
    }
    TStateServer(const TStateServer&) = delete;
    TStateServer& operator=(const TStateServer&) = delete;

    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }
    void SetCatalogue(const QByteArray& Body) {
        std::lock_guard Lock(FMutex);
        FCatalogue = Body;
    }
    void SetIcon(const QString& Site, const QByteArray& Body) {
        std::lock_guard Lock(FMutex);
        // "": the server's own icon, where personal links take theirs from.
        FIcons[Site.isEmpty() ? std::string("/favicon.ico") : "/" + Site.toStdString() + "/favicon.ico"] = Body;
    }
    void Hold(bool Catalogue, bool Icons) {
        {
            std::lock_guard Lock(FMutex);
            FHoldCatalogue = Catalogue;
            FHoldIcons = Icons;
        }
        FChanged.notify_all();
    }

private:
    void Handle(const httplib::Request& Req, httplib::Response& Res) {
        std::unique_lock Lock(FMutex);
        const bool IsCatalogue = Req.path == "/version2.xml";
        FChanged.wait(Lock, [&] { return FStopping || !(IsCatalogue ? FHoldCatalogue : FHoldIcons); });
        if (IsCatalogue) {
            Res.set_content(FCatalogue.toStdString(), "text/xml");
            return;
        }
        const auto Found = FIcons.find(Req.path);
        if (Found == FIcons.end()) {
            Res.status = 404;
            return;
        }
        Res.set_content(Found->second.toStdString(), "image/x-icon");
    }

    httplib::Server FServer;
    std::thread FThread;
    int FPort = 0;
    std::mutex FMutex;
    std::condition_variable FChanged;
    QByteArray FCatalogue;
    std::map<std::string, QByteArray> FIcons;
    bool FHoldCatalogue = false;
    bool FHoldIcons = false;
    bool FStopping = false;
};

QByteArray Catalogue(const QString& Shops) {
    return ("<quorvantis><version>2.2</version><check>2026-12-01</check>" + Shops + "</quorvantis>").toUtf8();
}

QAction* EntryNamed(QMenu& Menu, const QString& Text) {
    for (QAction* Action : Menu.actions())
        if (ShownCaption(Action->text()) == Text)
            return Action;
    return nullptr;
}

QImage Pixels(const QIcon& Icon) {
    return Icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

class StateTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteSettingString("", "server", Server.Base());
        WriteSettingString("", "lastnews", "9999");
        WriteSettingBool("", "first", false);
        WriteSettingInteger("", "debug", 3);
        UIHooks().AskYesNo = [](const QString&, const QString&) { return false; };
    }
    void TearDown() override { UIHooks() = TUIHooks(); }

    TTempEnvironment Env;
    TStateServer Server;
};

TEST_F(StateTest, StoredShopsShowAtOnceWhileTheServerStallsAndItsAnswerReplacesThem) {
    const QString Stored = Env.InstallFolder() + "quorvantis.xml";
    WriteFileBytes(Stored, Catalogue(R"(<shops><shop id="1" name="Lokal" category="Alt"/></shops>)"));
    Server.Hold(true, false);
    {
        TfrmQuorvantis Main({"quorvantis"});
        // The request is still out, and the stored shops are in the menu already.
        EXPECT_FALSE(Main.IsStarted());
        EXPECT_TRUE(Main.Program().IsRefreshing());
        QAction* Old = EntryNamed(*Main.TrayMenu(), "Alt");
        ASSERT_NE(Old, nullptr);
        ASSERT_NE(Old->menu(), nullptr);
        Q_EMIT Old->menu()->aboutToShow();
        EXPECT_NE(EntryNamed(*Old->menu(), "Lokal"), nullptr);

        // The search window, open meanwhile, finds the stored shops and follows the answer.
        ShowSearch(Main.Program());
        TfrmSearch* Search = ExistingSearch();
        ASSERT_NE(Search, nullptr);
        auto* Text = Search->findChild<QLineEdit*>("edtSearch");
        auto* Results = Search->findChild<QListView*>("listResult");
        ASSERT_TRUE(Text != nullptr && Results != nullptr);
        Text->setText("e"); // "Lokal" has none, "Neu" has one
        Search->btnSearchClick();
        EXPECT_EQ(Results->model()->rowCount(), 0);
        Text->setText("l");
        Search->btnSearchClick();
        EXPECT_EQ(Results->model()->rowCount(), 1);

        const QByteArray Fresh = Catalogue(R"(<shops><shop id="2" name="Neu" category="Frisch"/></shops>)");
        Server.SetCatalogue(Fresh);
        Server.Hold(false, false);
        ASSERT_TRUE(WaitStarted(Main));
        EXPECT_EQ(Results->model()->rowCount(), 0); // "l": no shop of the new catalogue
        delete Search;
        EXPECT_NE(EntryNamed(*Main.TrayMenu(), "Frisch"), nullptr);
        EXPECT_EQ(EntryNamed(*Main.TrayMenu(), "Alt"), nullptr);
        EXPECT_EQ(ReadFileBytes(Stored), Fresh);
    }

    // A first start with neither a stored catalogue nor an answer yet says that shops are coming.
    QFile::remove(Stored);
    Server.Hold(true, false);
    TfrmQuorvantis Main({"quorvantis"});
    const QAction* First = Main.TrayMenu()->actions().value(0);
    ASSERT_NE(First, nullptr);
    EXPECT_EQ(First->text(), txtMenuLoadingShops.In(0));
    EXPECT_FALSE(First->isEnabled());
    EXPECT_EQ(Main.TrayMenu()->actions().size(), 9);
}

TEST_F(StateTest, AnswersWithoutShopsKeepTheCatalogueItsFileAndTheMenu) {
    const QByteArray Good = Catalogue(R"(<shops><shop id="1" name="Alpha" category="Mode"/></shops>)");
    Server.SetCatalogue(Good);
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ASSERT_EQ(Main.GetShops().size(), 1u);
    const QString Stored = Env.InstallFolder() + "quorvantis.xml";
    ASSERT_EQ(ReadFileBytes(Stored), Good);
    int Replaced = 0;
    QObject::connect(&Main.Program(), &TProgram::CatalogueReplaced, [&Replaced] { ++Replaced; });
    const int Builds = Main.MenuBuilds();

    const QList<QByteArray> Refused = {
        "<error><version>1.0</version><message>Service temporarily unavailable</message></error>",
        "<quorvantis><version>2.3</version><check>2026-12-02</check></quorvantis>",
        "<quorvantis><version>2.3</version><check>2026-12-02</check><shops/></quorvantis>",
        "<html><body>Bad gateway</body></html>"};
    for (const QByteArray& Body : Refused) {
        const int InfoLines = Env.LogLines().filter("|INFO|GetUpdates: Version=").size();
        Server.SetCatalogue(Body);
        EXPECT_EQ(RefreshNow(Main.Program(), true), usError) << Body.toStdString();
        EXPECT_EQ(ReadFileBytes(Stored), Good) << Body.toStdString();
        EXPECT_EQ(Main.GetShops().size(), 1u);
        EXPECT_EQ(Main.Program().Catalogue().Version, "2.2");
        EXPECT_FALSE(Main.Program().LastRefreshError().isEmpty());
        EXPECT_EQ(Env.LogLines().filter("|INFO|GetUpdates: Version=").size(), InfoLines) << Body.toStdString();
    }
    EXPECT_EQ(Replaced, 0);
    EXPECT_EQ(Main.MenuBuilds(), Builds);
    EXPECT_NE(EntryNamed(*Main.TrayMenu(), "Mode"), nullptr);
    const QStringList Lines = Env.LogLines();
    EXPECT_EQ(Lines.filter("lists no shops; the catalogue is kept").size(), 3) << Lines.join('\n').toStdString();
    EXPECT_EQ(Lines.filter("|ERROR|GetUpdates: URL=").size(), 4);

    // A catalogue with shops is taken again.
    Server.SetCatalogue(Good);
    EXPECT_EQ(RefreshNow(Main.Program(), true), usUpToDate);
    EXPECT_EQ(Replaced, 1);
    EXPECT_TRUE(Main.Program().LastRefreshError().isEmpty());
}

TEST_F(StateTest, FaviconsFetchedDuringTheSessionAppearInTheirEntriesWithoutARebuild) {
    const QByteArray Icon = ReadFileBytes(TestDataFile("favicon/multisize.ico"));
    Server.SetCatalogue(Catalogue(QStringLiteral(R"(<shops><shop id="1" name="Alpha" category="Mode" site="%1/a"/>)"
                                                 R"(<shop id="2" name="Beta" category="Mode" site="%1/b"/>)"
                                                 R"(<shop id="3" name="Solo" site="%1/s"/></shops>)")
                                      .arg(Server.Base())));
    for (const char* Site : {"a", "b", "s", ""})
        Server.SetIcon(Site, Icon);
    WriteSettingString("favorites\\Wetter", "url", Server.Base() + "/w/heute");
    Server.Hold(false, true); // the icons wait until the menu has been opened
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));

    QAction* Mode = EntryNamed(*Main.TrayMenu(), "Mode");
    ASSERT_TRUE(Mode != nullptr && Mode->menu() != nullptr);
    Q_EMIT Mode->menu()->aboutToShow(); // opened before its icons arrive
    auto* Alpha = qobject_cast<TURLMenuItem*>(EntryNamed(*Mode->menu(), "Alpha"));
    auto* Solo = qobject_cast<TURLMenuItem*>(EntryNamed(*Main.TrayMenu(), "Solo"));
    QAction* LinksEntry = EntryNamed(*Main.TrayMenu(), "Eigene Links");
    ASSERT_TRUE(Alpha != nullptr && Solo != nullptr && LinksEntry != nullptr && LinksEntry->menu() != nullptr);
    auto* Link = qobject_cast<TURLMenuItem*>(EntryNamed(*LinksEntry->menu(), "Wetter"));
    ASSERT_NE(Link, nullptr);
    const QImage Globe = Pixels(Main.Images().Icon(TImageList::GlobeIndex));
    EXPECT_EQ(Pixels(Alpha->icon()), Globe);
    EXPECT_EQ(Pixels(Link->icon()), Globe);
    const int Builds = Main.MenuBuilds();

    Server.Hold(false, false);
    const QImage Expected = Pixels(LoadMenuIcon(TestDataFile("favicon/multisize.ico"), 16));
    ASSERT_NE(Expected, Globe);
    EXPECT_TRUE(WaitUntil([&] { return Pixels(Alpha->icon()) == Expected; }));
    EXPECT_TRUE(WaitUntil([&] { return Pixels(Solo->icon()) == Expected; }));
    EXPECT_TRUE(WaitUntil([&] { return Pixels(Link->icon()) == Expected; }));
    EXPECT_GE(Alpha->ImageIndex(), TImageList::FixedCount);
    // The same entries, changed in place; the stored icon number follows the link's picture.
    EXPECT_EQ(Main.MenuBuilds(), Builds);
    EXPECT_EQ(ReadSettingInteger("favorites\\Wetter", "icon", 0), Link->ImageIndex());
    // A level opened only now shows its icon too.
    Q_EMIT Mode->menu()->aboutToShow();
    auto* Beta = qobject_cast<TURLMenuItem*>(EntryNamed(*Mode->menu(), "Beta"));
    ASSERT_NE(Beta, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(ShopIconFile(2)); }));

    // A link added later in the session gets its icon in this session too.
    const QString Other = Server.Base().replace("127.0.0.1", "localhost");
    ASSERT_TRUE(Main.Program().AddLink({"Später", Other + "/spaeter", 0}));
    auto LinkIcon = [&Main](const QString& Name) {
        QAction* Links = EntryNamed(*Main.TrayMenu(), "Eigene Links");
        QAction* Entry = Links != nullptr && Links->menu() != nullptr ? EntryNamed(*Links->menu(), Name) : nullptr;
        return Entry != nullptr ? Pixels(Entry->icon()) : QImage();
    };
    EXPECT_EQ(LinkIcon("Später"), Globe);
    EXPECT_TRUE(WaitUntil([&] { return LinkIcon("Später") == Expected; }));
    EXPECT_TRUE(Env.LogLines().filter("|ERROR|").isEmpty()) << Env.LogLines().join('\n').toStdString();
}

// The desktop's copy of the menu learns of an arrived favicon by the ids of the
// entries that show it, without a new layout.
TEST_F(StateTest, AnArrivedFaviconReachesTheExportedMenuByItsEntryIds) {
    TPrivateSessionBus Bus;
    if (!Bus.IsRunning())
        GTEST_SKIP() << "no dbus-daemon";
    TStatusNotifierHost Host{Bus.Address()};
    ASSERT_TRUE(Host.IsReady());
    QDBusConnection Connection = QDBusConnection::connectToBus(Bus.Address(), QStringLiteral("state-menu"));
    {
        TUpdateVersion Shops;
        ASSERT_TRUE(Shops.LoadFromStream(Catalogue(R"(<shops><shop id="1" name="Alpha" category="Mode"/>)"
                                                   R"(<shop id="2" name="Beta" category="Mode"/></shops>)")));
        TMenuItemManager Links(QStringLiteral("favorites"));
        Links.Save({"Wetter", "http://127.0.0.1:9/wetter", 0});
        TLogger Log(QStringLiteral("Quorvantis"));
        TTrayMenu Menu;
        TImageList Images = TImageList::WithFixedPictures();
        CreateFixedEntries(Menu, Images);
        LoadFavicons(Images, Shops.Shops, Links.LoadAll(), Log);
        const std::shared_ptr<TBuiltMenu> Built =
            BuildTrayMenu(Menu, TMenuBuildInput{Shops.SortedShops, QString(), Links, Images, {}});
        TDesktopMenu Desktop;
        TDBusMenuExporter Exporter(Connection);
        ASSERT_TRUE(Exporter.IsRegistered());
        Exporter.SetMenu(Desktop.Mirror(Menu));
        const QString Item = Connection.baseService() + TDBusMenuExporter::ObjectPath;

        const TDBusMenuNode Top = Host.Layout(Item, 0, -1);
        const TDBusMenuNode* Mode = Top.Find("Mode");
        ASSERT_NE(Mode, nullptr) << Host.LastError().toStdString();
        const int Before = Host.LayoutUpdates();
        EXPECT_TRUE(Host.AboutToShow(Item, Mode->Id));
        EXPECT_TRUE(WaitUntil([&] { return Host.LayoutUpdates() > Before; }, 10000));
        const TDBusMenuNode Opened = Host.Layout(Item, Mode->Id, 1);
        const TDBusMenuNode* Alpha = Opened.Find("Alpha");
        const TDBusMenuNode* Links0 = Top.Find("Eigene Links");
        ASSERT_TRUE(Alpha != nullptr && Links0 != nullptr);
        const QByteArray GlobePng = Alpha->Properties.value("icon-data").toByteArray();
        ASSERT_FALSE(GlobePng.isEmpty());
        const int Revisions = Host.LayoutUpdates();

        // Alpha's icon arrives: the panel hears of Alpha alone, and reads the new picture.
        QDir().mkpath(IconsFolder());
        ASSERT_TRUE(QFile::copy(TestDataFile("favicon/multisize.ico"), ShopIconFile(1)));
        Images.AddShopIconFile(1);
        Built->ShopIconChanged(1);
        ASSERT_TRUE(WaitUntil([&] { return Host.UpdatedLabels().contains("Alpha"); }, 10000));
        EXPECT_FALSE(Host.UpdatedLabels().contains("Beta"));
        const QByteArray Png = Host.EntryProperty(Item, Alpha->Id, "icon-data").toByteArray();
        EXPECT_NE(Png, GlobePng);
        EXPECT_EQ(QImage::fromData(Png, "PNG").convertToFormat(QImage::Format_ARGB32),
                  Pixels(LoadMenuIcon(ShopIconFile(1), 16)));
        EXPECT_EQ(Host.EntryProperty(Item, Opened.Find("Beta")->Id, "icon-data").toByteArray(), GlobePng);
        EXPECT_EQ(Host.LayoutUpdates(), Revisions); // no new layout for a picture

        // A link's icon: its entry is announced the same way.
        EXPECT_TRUE(Host.AboutToShow(Item, Links0->Id));
        ASSERT_NE(Host.Layout(Item, Links0->Id, 1).Find("Wetter"), nullptr);
        ASSERT_TRUE(QFile::copy(TestDataFile("favicon/multisize.ico"), LinkIconFile("Wetter")));
        Built->LinkIconChanged("Wetter", LoadLinkIcon(Images, "Wetter", Log));
        EXPECT_TRUE(WaitUntil([&] { return Host.UpdatedLabels().contains("Wetter"); }, 10000));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("state-menu"));
}

} // namespace
