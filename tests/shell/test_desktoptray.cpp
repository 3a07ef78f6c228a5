// The tray menu as a desktop panel gets it over the notification-area protocol
// (StatusNotifierItem), with the real program on a real display server.
#include "ProgramRunner.h"
#include "StatusNotifierHost.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uRegistry.h"
#include "uTDBusMenu.h"

#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <csignal>

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
    EXPECT_EQ(CountLeaves(Top), 6);
    const TDBusMenuNode* Mode = Top.Find("Mode");
    ASSERT_NE(Mode, nullptr);
    EXPECT_TRUE(Mode->IsSubmenu());
    EXPECT_TRUE(Mode->Children.isEmpty()) << "a category gets its entries when it opens";

    // Opening a category hands its entries over, announced once per submenu.
    int UpdatesBefore = Host.LayoutUpdates();
    EXPECT_TRUE(Host.AboutToShow(Item, Mode->Id));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Host.LayoutUpdates() > UpdatesBefore; }, 10000));
    const TDBusMenuNode ModeMenu = Host.Layout(Item, Mode->Id, -1);
    EXPECT_EQ(Labels(ModeMenu), (QStringList{"Damen", "Herren", "Schuhe"}));
    const TDBusMenuNode* Shoes = ModeMenu.Find("Schuhe");
    ASSERT_NE(Shoes, nullptr);
    EXPECT_TRUE(Shoes->IsSubmenu());
    EXPECT_TRUE(Shoes->Children.isEmpty());
    // Names exactly as written: no "&" taken as a hotkey.
    const TDBusMenuNode* Auto = Top.Find("Auto & Motorrad");
    ASSERT_NE(Auto, nullptr) << TopLabels.join(", ").toStdString();
    EXPECT_TRUE(Auto->IsSubmenu());

    // Its shops, with their pictures.
    UpdatesBefore = Host.LayoutUpdates();
    EXPECT_TRUE(Host.AboutToShow(Item, Shoes->Id));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Host.LayoutUpdates() > UpdatesBefore; }, 10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(Host.LayoutUpdates(), UpdatesBefore + 1);
    const TDBusMenuNode Opened = Host.Layout(Item, Shoes->Id, 1);
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return Run->Process().state() == QProcess::NotRunning; }, 15000));
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
        EXPECT_TRUE(QTest::qWaitFor([&] { return Host.UpdatedLabels().contains("Settings"); }, 10000));

        EXPECT_EQ(Host.ClickedTogether(Item, {Id, Id + 1000}), QList<int>{Id + 1000}) << Host.LastError().toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return Triggered == 1; }, 10000));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("exported-menu"));
}

// Menu icons go to the panel as PNG of our own making: any reader gets the very
// pixels back, transparency included, plain areas and noise, small and large.
TEST(DesktopMenuIcons, MenuIconPngsDecodeToTheSamePixels) {
    // Noise: no repeats. Bands: runs along a row and rows repeated, also longer
    // than one match can say, and across a 300-pixel row.
    const auto Noise = [](int X, int Y) { return qRgba(X * 7 % 256, Y * 13 % 256, (X + Y) % 256, (X * Y) % 256); };
    const auto Bands = [](int X, int Y) { return X < 5 || Y % 9 == 0 ? qRgba(200, 10, 10, 128) : qRgba(0, 0, 0, 0); };
    for (const QSize Size : {QSize(16, 16), QSize(300, 120), QSize(1, 1)}) {
        for (const bool Plain : {false, true}) {
            QImage Picture(Size, QImage::Format_ARGB32);
            for (int Y = 0; Y < Size.height(); ++Y)
                for (int X = 0; X < Size.width(); ++X)
                    Picture.setPixel(X, Y, Plain ? Bands(X, Y) : Noise(X, Y));
            const QByteArray Png = MenuIconPng(Picture);
            const QImage Back = QImage::fromData(Png, "PNG");
            ASSERT_FALSE(Back.isNull()) << Size.width() << Plain;
            EXPECT_EQ(Back.convertToFormat(QImage::Format_ARGB32), Picture) << Size.width() << Plain;
            if (Plain && Size.width() == 16) {
                EXPECT_LT(Png.size(), 200); // a kilobyte of pixels
            }
        }
    }
}

TEST_F(DesktopTrayTest, OnX11TheIconStillPopsTheDrawnMenuUp) {
    TDisplayServer Xvfb(TDisplayServer::TKind::X11, Env.RuntimeDir());
    if (!Xvfb.IsRunning() || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "no Xvfb or xdotool";
    ASSERT_TRUE(Host.IsReady());
    const QString Item = StartProgram(Xvfb);
    ASSERT_FALSE(Item.isEmpty());
    EXPECT_TRUE(Host.MenuPath(Item).isEmpty()); // nothing handed to the desktop
    EXPECT_TRUE(VisibleWindows(Xvfb.Name()).isEmpty());

    // A left click (Activate) and a right click (ContextMenu) each open our menu.
    for (const bool Left : {true, false}) {
        ASSERT_TRUE(Left ? Host.Activate(Item, 20, 20) : Host.ContextMenu(Item, 20, 20));
        EXPECT_TRUE(QTest::qWaitFor([&] { return VisibleWindows(Xvfb.Name()).size() == 1; }, 10000)) << Left;
        PressEscape(Xvfb.Name());
        EXPECT_TRUE(QTest::qWaitFor([&] { return VisibleWindows(Xvfb.Name()).isEmpty(); }, 10000)) << Left;
    }
    Run->Terminate(SIGTERM); // before the display goes
    ASSERT_TRUE(QTest::qWaitFor([&] { return Run->Process().state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(Run->Process().exitCode(), 0);
}

} // namespace
