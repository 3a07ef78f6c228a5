// The tray menu as a desktop panel gets it over the notification-area protocol
// (StatusNotifierItem), with the real program on a real display server.
#include "ProgramRunner.h"
#include "StatusNotifierHost.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uRegistry.h"
#include "uTDBusMenu.h"
#include "uTMenuListing.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <utility>
#include <vector>

namespace {

QStringList Labels(const TDBusMenuNode& Node) {
    QStringList Result;
    for (const TDBusMenuNode& Child : Node.Children)
        Result << (Child.IsSeparator() ? QStringLiteral("---") : Child.ShownLabel());
    return Result;
}

// Entries that are neither submenus nor separators, in the whole tree.
int CountLeaves(const TDBusMenuNode& Node) {
    int Count = 0;
    for (const TDBusMenuNode& Child : Node.Children)
        Count += Child.IsSubmenu() ? CountLeaves(Child) : (Child.IsSeparator() ? 0 : 1);
    return Count;
}

// Submenus in the tree that came without entries, by label.
QStringList EmptySubmenus(const TDBusMenuNode& Node) {
    QStringList Empty;
    for (const TDBusMenuNode& Child : Node.Children) {
        if (Child.IsSubmenu() && Child.Children.isEmpty())
            Empty << Child.Label();
        Empty << EmptySubmenus(Child);
    }
    return Empty;
}

// The way GNOME's AppIndicator extension reads a menu: the whole tree with only
// each entry's kind, the other properties of new entries by group, and a fresh
// whole tree after every announced change. A submenu opens only if it has
// entries (GNOME Shell's submenu refuses to open empty); "opened" and
// AboutToShow go out only for a submenu that did open.
class TGnomeLikePanel {
public:
    TGnomeLikePanel(TStatusNotifierHost& Host, QString Item) : FHost(Host), FItem(std::move(Item)) {}

    // Opens the top menu and then each submenu of Path in turn; the last one's
    // entries, empty (with Failure saying why) when one could not be opened.
    TDBusMenuNode Open(const QStringList& Path, QString& Failure) {
        Read();
        TDBusMenuNode Node = FTree;
        Show(0);
        Node = FTree;
        QList<int> Ids;
        for (const QString& Label : Path) {
            const TDBusMenuNode* Sub = Node.Find(Label);
            if (Sub == nullptr) {
                Failure = QStringLiteral("no entry ") + Label + QStringLiteral(" among ") + Labels(Node).join(", ");
                return {};
            }
            if (Sub->Children.isEmpty()) {
                Failure = Label + QStringLiteral(" is empty: GNOME Shell cannot open it");
                return {};
            }
            Ids << Sub->Id;
            Show(Sub->Id);
            Node = Follow(Ids);
        }
        return Node;
    }

private:
    void Read() {
        FTree = FHost.Layout(FItem, 0, -1, nullptr, {QStringLiteral("type"), QStringLiteral("children-display")});
        QList<int> New;
        Collect(FTree, New);
        const QHash<int, QVariantMap> Properties = FHost.GroupProperties(FItem, New);
        for (auto It = Properties.cbegin(); It != Properties.cend(); ++It)
            FLabels.insert(It.key(), It.value().value(QStringLiteral("label")).toString());
        Label(FTree);
    }
    void Collect(const TDBusMenuNode& Node, QList<int>& New) const {
        for (const TDBusMenuNode& Child : Node.Children) {
            if (!FLabels.contains(Child.Id))
                New << Child.Id;
            Collect(Child, New);
        }
    }
    void Label(TDBusMenuNode& Node) const {
        for (TDBusMenuNode& Child : Node.Children) {
            Child.Properties.insert(QStringLiteral("label"), FLabels.value(Child.Id));
            Label(Child);
        }
    }
    void Show(int Id) {
        const int Before = FHost.LayoutUpdates();
        FHost.Opened(FItem, Id);
        // The answer "changed", or an announcement, brings a fresh read.
        if (FHost.AboutToShowAnswer(FItem, Id) == 1 || WaitUntil([&] { return FHost.LayoutUpdates() > Before; }, 200))
            Read();
    }
    TDBusMenuNode Follow(const QList<int>& Ids) const {
        TDBusMenuNode Node = FTree;
        for (const int Id : Ids) {
            const auto Found = std::find_if(Node.Children.cbegin(), Node.Children.cend(),
                                            [Id](const TDBusMenuNode& Child) { return Child.Id == Id; });
            if (Found == Node.Children.cend())
                return {};
            Node = *Found;
        }
        return Node;
    }

    TStatusNotifierHost& FHost;
    const QString FItem;
    TDBusMenuNode FTree;
    QHash<int, QString> FLabels;
};

// Visible windows of the program on an X display (xdotool), empty without xdotool.
QStringList VisibleWindows(const QString& Display) {
    QProcess Search;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("DISPLAY", Display);
    Search.setProcessEnvironment(Env);
    Search.start("xdotool", {"search", "--onlyvisible", "--classname", "quorvantis"});
    Search.waitForFinished(5000);
    return QString::fromUtf8(Search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

void PressEscape(const QString& Display) {
    QProcess Key;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("DISPLAY", Display);
    Key.setProcessEnvironment(Env);
    Key.start("xdotool", {"key", "Escape"});
    Key.waitForFinished(5000);
}

class DesktopTrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Bus.IsRunning())
            GTEST_SKIP() << "no dbus-daemon";
        WriteSettingString("", "server", Server.BaseURL());
        WriteSettingString("", "lastnews", "9999"); // no news question box
        WriteSettingInteger("", "debug", 3);
        WriteSettingString("favorites\\Mein_Laden & Co", "url", "http://127.0.0.1:9/mein-laden");
    }

    QProcessEnvironment ProgramEnvironment(const TDisplayServer& Display) const {
        QProcessEnvironment Extra;
        Extra.insert("DBUS_SESSION_BUS_ADDRESS", Bus.Address());
        Extra.insert("QT_QPA_PLATFORM", Display.Platform());
        Extra.insert(Display.Variable(), Display.Name());
        return Extra;
    }

    // Starts the program on Display and waits for its item and the end of its start.
    QString StartProgram(const TDisplayServer& Display) {
        Run = std::make_unique<TProgramRun>(QStringList{}, ProgramEnvironment(Display));
        const QString Item = Host.WaitForItem();
        if (Item.isEmpty() || !WaitForLogLine(Env.LogFile(), "|DEBUG|Started"))
            return {};
        return Item;
    }

    TTempEnvironment Env;
    TPrivateSessionBus Bus;
    TVendorServerProcess Server;
    TBrowserRecorder Browser;
    TStatusNotifierHost Host{Bus.Address()};
    std::unique_ptr<TProgramRun> Run;
};

TEST_F(DesktopTrayTest, OnWaylandTheDesktopGetsTheMenuAndEachSubmenuWhenItOpens) {
    TDisplayServer Weston(TDisplayServer::TKind::Wayland, Env.RuntimeDir());
    if (!Weston.IsRunning())
        GTEST_SKIP() << "no weston";
    ASSERT_TRUE(Host.IsReady());
    // "_" in a name is no access key for the desktop: exported as "__", shown as written.
    WriteSettingString("favorites\\a_b", "url", "http://127.0.0.1:9/a_b");
    const QString Item = StartProgram(Weston);
    ASSERT_FALSE(Item.isEmpty());
    ASSERT_FALSE(Host.MenuPath(Item).isEmpty());

    // The whole tree as it stands: categories, links and fixed entries, no shop yet.
    const TDBusMenuNode Top = Host.Layout(Item, 0, -1);
    const QStringList TopLabels = Labels(Top);
    ASSERT_GE(TopLabels.size(), 10) << Host.LastError().toStdString();
    EXPECT_EQ(TopLabels.mid(0, 2), (QStringList{"Eigene Links", "---"}));
    EXPECT_EQ(TopLabels.mid(TopLabels.size() - 8), (QStringList{"---", "Style Voting", "eBay Galerie", "Suchen",
                                                                "Einstellungen", "Info", "---", "Beenden"}));
    // Every entry carries its access key to the desktop, "_" before the letter.
    for (const TDBusMenuNode& Entry : Top.Children)
        EXPECT_TRUE(Entry.IsSeparator() || Entry.Label() != Entry.ShownLabel()) << Entry.Label().toStdString();
    EXPECT_EQ(Top.Find("Beenden")->Label(), "_Beenden");
    // No submenu is empty (a panel may open only one with entries), yet each
    // category holds only its first entry until it opens.
    EXPECT_EQ(EmptySubmenus(Top), QStringList()) << "every submenu has an entry";
    const TDBusMenuNode* Mode = Top.Find("Mode");
    ASSERT_NE(Mode, nullptr);
    EXPECT_TRUE(Mode->IsSubmenu());
    EXPECT_EQ(Labels(*Mode), QStringList{"Damen"});
    EXPECT_LE(CountLeaves(Top), 30);

    // Opening a category hands its entries over, and its submenus get their
    // shops before they show, each announced on its own: a panel that reads one
    // level at a time fetches them before it places them.
    int UpdatesBefore = Host.LayoutUpdates();
    EXPECT_TRUE(Host.AboutToShow(Item, Mode->Id));
    EXPECT_TRUE(WaitUntil([&] { return Host.LayoutUpdates() > UpdatesBefore; }, 10000));
    const TDBusMenuNode ModeMenu = Host.Layout(Item, Mode->Id, 1);
    EXPECT_EQ(Labels(ModeMenu), (QStringList{"Damen", "Herren", "Schuhe"}));
    const TDBusMenuNode* Shoes = ModeMenu.Find("Schuhe");
    ASSERT_NE(Shoes, nullptr);
    EXPECT_TRUE(Shoes->IsSubmenu());
    EXPECT_TRUE(WaitUntil([&] { return Host.UpdatedParents().contains(Shoes->Id); }, 10000));
    EXPECT_TRUE(Host.UpdatedParents().contains(ModeMenu.Find("Damen")->Id));
    // Names exactly as written: no "&" taken as a hotkey.
    const TDBusMenuNode* Auto = Top.Find("Auto & Motorrad");
    ASSERT_NE(Auto, nullptr) << TopLabels.join(", ").toStdString();
    EXPECT_TRUE(Auto->IsSubmenu());

    // Its shops, with their pictures, before it is shown; showing it changes nothing.
    const TDBusMenuNode Opened = Host.Layout(Item, Shoes->Id, 1);
    EXPECT_EQ(Host.AboutToShowAnswer(Item, Shoes->Id), 0);
    EXPECT_EQ(Labels(Opened), (QStringList{QString::fromUtf8("Absatzkönig"), "Schnürsenkel-Express",
                                           QString::fromUtf8("Sohlenglück")}));
    const TDBusMenuNode* Shop = Opened.Find(QString::fromUtf8("Sohlenglück"));
    ASSERT_NE(Shop, nullptr);
    ASSERT_TRUE(Shop->HasIcon());
    EXPECT_EQ(QImage::fromData(Shop->Properties.value("icon-data").toByteArray(), "PNG").size(), QSize(16, 16));
    // An entry's properties one by one, as panels ask for updates; an id nobody
    // was given has none, and the panel hears so at once instead of waiting.
    EXPECT_EQ(Host.EntryProperty(Item, Shop->Id, "label").toString().remove(QLatin1Char('_')),
              QString::fromUtf8("Sohlenglück"));
    EXPECT_EQ(Host.EntryProperty(Item, Shop->Id, "icon-data").toByteArray(),
              Shop->Properties.value("icon-data").toByteArray());
    EXPECT_FALSE(Host.EntryProperty(Item, Shop->Id + 100000, "label").isValid());
    EXPECT_TRUE(Host.LastError().contains("org.freedesktop.DBus.Error.InvalidArgs")) << Host.LastError().toStdString();

    ASSERT_TRUE(Host.Clicked(Item, Shop->Id));
    const QStringList Opens = Browser.Opened(1);
    ASSERT_EQ(Opens.size(), 1);
    const QUrl Address(Opens.first());
    EXPECT_EQ(Address.path(), "/shop.php");
    const QUrlQuery Query(Address);
    for (const char* Key : {"id", "ref", "check", "version", "subid"})
        EXPECT_TRUE(Query.hasQueryItem(Key)) << Key;
    EXPECT_EQ(Opens.first(),
              Server.BaseURL() + QStringLiteral("/shop.php?id=1007&ref=%1&check=2026-12-01&version=2.2&subid=software")
                                     .arg(ReadSettingInteger("", "ref", 0)));
    // Events sent as a group reach the shop too; only the id nobody was given comes back.
    EXPECT_EQ(Host.ClickedTogether(Item, {Shop->Id, Shop->Id + 100000}), QList<int>{Shop->Id + 100000})
        << Host.LastError().toStdString();
    EXPECT_EQ(Browser.Opened(2).value(1), Opens.first());

    // A panel that asks for a submenu's layout without announcing it first gets
    // its entries all the same.
    const TDBusMenuNode* Men = ModeMenu.Find("Herren");
    ASSERT_NE(Men, nullptr);
    EXPECT_TRUE(Labels(Host.Layout(Item, Men->Id, 1)).contains(QString::fromUtf8("Hosenträger & Co.")));

    // Personal links and the fixed entries work from the desktop's menu too.
    const TDBusMenuNode* Links = Top.Find("Eigene Links");
    ASSERT_NE(Links, nullptr);
    EXPECT_TRUE(Host.AboutToShow(Item, Links->Id));
    const TDBusMenuNode LinkMenu = Host.Layout(Item, Links->Id, 1);
    // A link's name as written: dbusmenu doubles "_", which the panel shows as one.
    EXPECT_EQ(Labels(LinkMenu), (QStringList{"a__b", "Mein__Laden & Co", "---", "Neuer Link..."}));
    ASSERT_TRUE(Host.Clicked(Item, LinkMenu.Find("Mein__Laden & Co")->Id));
    EXPECT_EQ(Browser.Opened(3).value(2), "http://127.0.0.1:9/mein-laden");
    ASSERT_TRUE(Host.Clicked(Item, LinkMenu.Find("a__b")->Id));
    EXPECT_EQ(Browser.Opened(4).value(3), "http://127.0.0.1:9/a_b");

    // A left click the panel reports as Activate opens the menu window; the panel
    // gets its answer at once, and "Beenden" still ends the program meanwhile.
    ASSERT_TRUE(Host.Activate(Item, 5, 5));
    ASSERT_TRUE(Host.Clicked(Item, Top.Find("_Beenden")->Id));
    // The panel keeps answering while the program ends.
    ASSERT_TRUE(WaitUntil([&] { return Run->Process().state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(Run->Process().exitCode(), 0);
    EXPECT_EQ(ReadSettingInteger("", "handle", -1), 0);
}

// What a panel relies on beyond the layout: a re-labelled entry is announced
// with its new label, and events can come as a group.
TEST(ExportedMenu, ChangedEntriesAndGroupedEventsReachTheProgram) {
    TPrivateSessionBus Bus;
    if (!Bus.IsRunning())
        GTEST_SKIP() << "no dbus-daemon";
    TStatusNotifierHost Host{Bus.Address()};
    ASSERT_TRUE(Host.IsReady());
    QDBusConnection Connection = QDBusConnection::connectToBus(Bus.Address(), QStringLiteral("exported-menu"));
    {
        TDBusMenuExporter Exporter(Connection);
        ASSERT_TRUE(Exporter.IsRegistered());
        QMenu Menu;
        QAction* Settings = Menu.addAction(QStringLiteral("Einstellungen"));
        int Triggered = 0;
        QObject::connect(Settings, &QAction::triggered, [&Triggered] { ++Triggered; });
        Exporter.SetMenu(&Menu);
        const QString Item = Connection.baseService() + TDBusMenuExporter::ObjectPath;
        const TDBusMenuNode Top = Host.Layout(Item, 0, 1);
        ASSERT_NE(Top.Find("Einstellungen"), nullptr) << Host.LastError().toStdString();
        const int Id = Top.Find("Einstellungen")->Id;

        Settings->setText(QStringLiteral("Settings"));
        EXPECT_TRUE(WaitUntil([&] { return Host.UpdatedLabels().contains("Settings"); }, 10000));

        EXPECT_EQ(Host.ClickedTogether(Item, {Id, Id + 1000}), QList<int>{Id + 1000}) << Host.LastError().toStdString();
        EXPECT_TRUE(WaitUntil([&] { return Triggered == 1; }, 10000));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("exported-menu"));
}

// A submenu that lists Count shops, as a category of the tray menu does.
class TListedCategory final : public QMenu, public TMenuListing {
public:
    TListedCategory(const QString& Title, qsizetype Count) : FCount(Count) { setTitle(Title); }
    bool HasListing() const override { return true; }
    qsizetype ListingCount() const override { return FCount; }
    TEntry ListingEntry(qsizetype Index) override { return {QStringLiteral("Shop %1").arg(Index), {}, nullptr}; }
    void ChooseListed(qsizetype) override {}

private:
    qsizetype FCount;
};

// Shops in the whole tree of an exported menu, by category title.
QHash<QString, int> ShopsPerCategory(const TDBusMenuNode& Top) {
    QHash<QString, int> Shops;
    for (const TDBusMenuNode& Category : Top.Children)
        Shops.insert(Category.Label(), static_cast<int>(Category.Children.size()));
    return Shops;
}

// Opening a level of 1,000 categories hands over what shows first, not every
// category's first screenful: small categories in full (they never grow when
// they open), a large one a screenful, within one budget for the level, the
// rest their first shop, so none is empty for a panel that reads the whole tree.
TEST(ExportedMenu, OpeningALevelOfManyCategoriesHandsOverABoundedShareAndNoneEmpty) {
    TPrivateSessionBus Bus;
    if (!Bus.IsRunning())
        GTEST_SKIP() << "no dbus-daemon";
    TStatusNotifierHost Host{Bus.Address()};
    ASSERT_TRUE(Host.IsReady());
    QDBusConnection Connection = QDBusConnection::connectToBus(Bus.Address(), QStringLiteral("exported-levels"));
    {
        TDBusMenuExporter Exporter(Connection);
        ASSERT_TRUE(Exporter.IsRegistered());
        QMenu Menu;
        std::vector<std::unique_ptr<TListedCategory>> Categories;
        Categories.push_back(std::make_unique<TListedCategory>(QStringLiteral("Big"), 10000));
        for (int I = 1; I < 1000; ++I)
            Categories.push_back(std::make_unique<TListedCategory>(QStringLiteral("C%1").arg(I), 100));
        for (const auto& Category : Categories)
            Menu.addMenu(Category.get());
        Exporter.SetMenu(&Menu);
        const QString Item = Connection.baseService() + TDBusMenuExporter::ObjectPath;
        const QStringList Kinds{QStringLiteral("label"), QStringLiteral("children-display")};

        QHash<QString, int> Shops = ShopsPerCategory(Host.Layout(Item, 0, -1, nullptr, Kinds));
        ASSERT_EQ(Shops.size(), 1000) << Host.LastError().toStdString();
        EXPECT_EQ(Shops.value("Big"), 1);
        EXPECT_EQ(Shops.value("C999"), 1);

        for (int Opening = 0; Opening < 2; ++Opening) {
            Host.AboutToShow(Item, 0);
            Shops = ShopsPerCategory(Host.Layout(Item, 0, -1, nullptr, Kinds));
            int Total = 0;
            int Complete = 0;
            for (auto It = Shops.cbegin(); It != Shops.cend(); ++It) {
                EXPECT_GE(It.value(), 1) << It.key().toStdString();
                Total += It.value();
                Complete += It.value() == 100 ? 1 : 0;
            }
            EXPECT_EQ(Shops.value("Big"), 40) << "a screenful";
            EXPECT_EQ(Shops.value("C1"), 100) << "a small category in full";
            EXPECT_EQ(Shops.value("C999"), 1);
            // The budget is the same at every opening: opening again brings no more.
            EXPECT_LE(Total, 4000 + 1000);
            EXPECT_GE(Complete, 30);
        }
        // A category beyond the budget gets all its shops when it opens itself.
        const TDBusMenuNode Top = Host.Layout(Item, 0, 1, nullptr, Kinds);
        const TDBusMenuNode* Last = Top.Find("C999");
        ASSERT_NE(Last, nullptr);
        EXPECT_TRUE(Host.AboutToShow(Item, Last->Id));
        EXPECT_EQ(Host.Layout(Item, Last->Id, 1, nullptr, Kinds).Children.size(), 100);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("exported-levels"));
}

TEST_F(DesktopTrayTest, OnX11TheIconStillPopsTheDrawnMenuUp) {
    TDisplayServer Xvfb(TDisplayServer::TKind::X11, Env.RuntimeDir());
    if (!Xvfb.IsRunning() || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "no Xvfb or xdotool";
    ASSERT_TRUE(Host.IsReady());
    const QString Item = StartProgram(Xvfb);
    ASSERT_FALSE(Item.isEmpty());
    EXPECT_TRUE(VisibleWindows(Xvfb.Name()).isEmpty());

    // The panel gets the menu too (GNOME, Xfce and LXQt draw it on a right
    // click), and reaches a shop the way GNOME's extension asks.
    ASSERT_FALSE(Host.MenuPath(Item).isEmpty());
    TGnomeLikePanel Gnome(Host, Item);
    QString Failure;
    const TDBusMenuNode Shoes = Gnome.Open({"Mode", "Schuhe"}, Failure);
    ASSERT_TRUE(Failure.isEmpty()) << Failure.toStdString();
    EXPECT_EQ(Labels(Shoes), (QStringList{QString::fromUtf8("Absatzkönig"), "Schnürsenkel-Express",
                                          QString::fromUtf8("Sohlenglück")}));
    const TDBusMenuNode* Shop = Shoes.Find(QString::fromUtf8("Sohlenglück"));
    ASSERT_NE(Shop, nullptr);
    ASSERT_TRUE(Host.Clicked(Item, Shop->Id));
    const QStringList Opens = Browser.Opened(1);
    ASSERT_EQ(Opens.size(), 1);
    EXPECT_TRUE(Opens.first().startsWith(Server.BaseURL() + QStringLiteral("/shop.php?id=1007&")))
        << Opens.first().toStdString();
    // Each category opens that way, also one opened second.
    const TDBusMenuNode Women = Gnome.Open({"Mode", "Damen"}, Failure);
    ASSERT_TRUE(Failure.isEmpty()) << Failure.toStdString();
    EXPECT_FALSE(Women.Children.isEmpty());
    EXPECT_TRUE(VisibleWindows(Xvfb.Name()).isEmpty()); // none of it opened our drawn menu

    // A left click (Activate) and a right click (ContextMenu) each open our menu.
    for (const bool Left : {true, false}) {
        ASSERT_TRUE(Left ? Host.Activate(Item, 20, 20) : Host.ContextMenu(Item, 20, 20));
        EXPECT_TRUE(WaitUntil([&] { return VisibleWindows(Xvfb.Name()).size() == 1; }, 10000)) << Left;
        PressEscape(Xvfb.Name());
        EXPECT_TRUE(WaitUntil([&] { return VisibleWindows(Xvfb.Name()).isEmpty(); }, 10000)) << Left;
    }
    Run->Terminate(SIGTERM); // before the display goes
    ASSERT_TRUE(WaitUntil([&] { return Run->Process().state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(Run->Process().exitCode(), 0);
}

} // namespace

namespace {

QString RunOnBus(const QString& Address, const QString& Program, const QStringList& Arguments) {
    QProcess Tool;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("DBUS_SESSION_BUS_ADDRESS", Address);
    Tool.setProcessEnvironment(Env);
    Tool.start(Program, Arguments);
    Tool.waitForFinished(10000);
    return QString::fromUtf8(Tool.readAllStandardOutput()).trimmed();
}

// The start-up notice when no notification service runs yet: one that appears
// later on its own gets it once, one that D-Bus starts on demand (Xfce at
// login) gets it at once. Real dunst on a real X server plays the service.
TEST(DesktopNotices, TheStartUpNoticeReachesALateServiceAndOneStartedOnDemand) {
    if (QStandardPaths::findExecutable("dunst").isEmpty() || QStandardPaths::findExecutable("dunstctl").isEmpty())
        GTEST_SKIP() << "needs dunst";
    TTempEnvironment Env;
    TDisplayServer Xvfb(TDisplayServer::TKind::X11, Env.RuntimeDir());
    if (!Xvfb.IsRunning())
        GTEST_SKIP() << "no Xvfb";
    const QString Services = Env.Root() + "/services";
    ASSERT_TRUE(QDir().mkpath(Services));
    QProcessEnvironment ServiceEnv;
    ServiceEnv.insert("DISPLAY", Xvfb.Name());
    TPrivateSessionBus Bus(Services, ServiceEnv);
    ASSERT_TRUE(Bus.IsRunning());
    const QString Notifications = QStringLiteral("org.freedesktop.Notifications");
    // Whichever dunst the bus started goes with the test.
    const std::unique_ptr<TPrivateSessionBus, void (*)(TPrivateSessionBus*)> StopStarted(
        &Bus, [](TPrivateSessionBus* Started) { Started->StopOwner(QStringLiteral("org.freedesktop.Notifications")); });
    TStatusNotifierHost Host(Bus.Address());
    ASSERT_TRUE(Host.IsReady());
    TVendorServerProcess Server;
    WriteSettingString("", "server", Server.BaseURL());
    WriteSettingString("", "lastnews", "9999");
    WriteSettingInteger("", "debug", 3);
    QProcessEnvironment ProgramEnv;
    ProgramEnv.insert("DBUS_SESSION_BUS_ADDRESS", Bus.Address());
    ProgramEnv.insert("QT_QPA_PLATFORM", "xcb");
    ProgramEnv.insert("DISPLAY", Xvfb.Name());
    const auto Log = [&Env] { return Env.LogLines().join('\n'); };
    const auto Displayed = [&Bus] { return RunOnBus(Bus.Address(), "dunstctl", {"count", "displayed"}); };
    const QString Notice = QString::fromUtf8("Klicken Sie hier, um Quorvantis zu öffnen!");

    {
        // No service, none to start: the notice waits and goes out once dunst runs.
        TProgramRun Run({}, ProgramEnv);
        ASSERT_FALSE(Host.WaitForItem().isEmpty());
        ASSERT_TRUE(WaitUntil(
            [&] {
                return Log().contains("|INFO|No notification service yet: the notice is shown once one starts: " +
                                      Notice);
            },
            15000))
            << Log().toStdString();
        EXPECT_FALSE(Log().contains("|DEBUG|Notification "));
        TOwnedProcess Dunst;
        QProcessEnvironment DunstEnv = QProcessEnvironment::systemEnvironment();
        DunstEnv.insert("DBUS_SESSION_BUS_ADDRESS", Bus.Address());
        DunstEnv.insert("DISPLAY", Xvfb.Name());
        Dunst.Process.setProcessEnvironment(DunstEnv);
        Dunst.Process.start("dunst", QStringList{});
        ASSERT_TRUE(WaitUntil([&] { return Displayed() == "1"; }, 15000)) << Log().toStdString();
        EXPECT_TRUE(Log().contains("|INFO|A notification service appeared: the waiting notice is shown"));
        EXPECT_EQ(Env.LogLines().filter(QRegularExpression("\\|DEBUG\\|Notification \\d+ sent$")).size(), 1);
        // Clicking it opens our menu.
        RunOnBus(Bus.Address(), "dunstctl", {"action", "0"});
        EXPECT_TRUE(
            WaitUntil([&] { return Log().contains("|DEBUG|Menu asked for by a click on our notification"); }, 10000));
        Run.Terminate(SIGTERM);
        EXPECT_TRUE(Run.WaitFinished(15000));
    }
    ASSERT_TRUE(WaitUntil([&] { return Bus.OwnerPid(Notifications) == 0; }, 10000));

    // Now the bus knows how to start dunst: the first notice starts it.
    QFile Service(Services + "/org.freedesktop.Notifications.service");
    const QString Starter = Env.Root() + "/start-dunst";
    {
        QFile Script(Starter);
        ASSERT_TRUE(Script.open(QIODevice::WriteOnly));
        Script.write("#!/bin/sh\nexport DBUS_SESSION_BUS_ADDRESS=\"$DBUS_STARTER_ADDRESS\"\nexec dunst\n");
        Script.close();
        Script.setPermissions(Script.permissions() | QFileDevice::ExeOwner);
    }
    ASSERT_TRUE(Service.open(QIODevice::WriteOnly));
    Service.write(("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=" + Starter + "\n").toUtf8());
    Service.close();
    RunOnBus(Bus.Address(), "dbus-send",
             {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
              "org.freedesktop.DBus.ReloadConfig"});
    WriteSettingBool("", "first", true);
    TProgramRun Run({}, ProgramEnv);
    ASSERT_TRUE(WaitUntil(
        [&] { return Log().contains("|DEBUG|The notification service is started on demand for the notice"); }, 15000))
        << Log().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return Displayed() == "1"; }, 15000));
    EXPECT_GT(Bus.OwnerPid(Notifications), 0);
    EXPECT_EQ(Env.LogLines().filter(QRegularExpression("\\|DEBUG\\|Notification \\d+ sent$")).size(), 2);
    EXPECT_EQ(Env.LogLines().filter("No notification service yet").size(), 1);
    Run.Terminate(SIGTERM);
    EXPECT_TRUE(Run.WaitFinished(15000));
}

} // namespace
