// Handing the tray menu to the desktop (StatusNotifierItem with its exported
// menu, the Wayland path): the program's side plus the panel's requests over a
// real session bus. Needs an X display with the xcb platform (Qt offers the
// exported menu there too), for example:
//   xvfb-run -a ./build/bench/bench_desktop_menu
// The bench starts its own dbus-daemon and plays the panel itself: one that takes
// pictures (GNOME's, Xfce's, LXQt's, waybar), or with QV_BENCH_NAMED_ICONS=1 one that
// finds the shared globe by name in the program's icon folder (Plasma).
#include "uPngEncoder.h"
#include "uRegistry.h"
#include "uTDBusMenu.h"
#include "uTDesktopMenu.h"
#include "uTImageList.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"
#include "uTShop.h"
#include "uTTrayIcon.h"
#include "uTTrayMenu.h"
#include "uTrayMenuBuilder.h"

#include <QApplication>
#include <QBuffer>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QString Params = QStringLiteral("&ref=123456&check=2024-05-01&version=2.2&subid=software");

// The notification-area watcher a panel runs; it lives in a thread of its own
// so that the program's blocking questions to it are answered.
class TBenchWatcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ Items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ HostRegistered)
    Q_PROPERTY(int ProtocolVersion READ Version)
public:
    QStringList Items() const {
        QMutexLocker Lock(&FMutex);
        return FItems;
    }
    bool HostRegistered() const { return true; }
    int Version() const { return 0; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& Service) {
        QMutexLocker Lock(&FMutex);
        FItems.append(Service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString&);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex FMutex;
    QStringList FItems;
};

struct TNode {
    int Id = 0;
    QString Label;
    bool Submenu = false;
    int Children = 0;
    QList<TNode> Sub;
};

TNode ReadNode(const QDBusArgument& Argument, bool Deep) {
    TNode Node;
    QVariantMap Properties;
    Argument.beginStructure();
    Argument >> Node.Id >> Properties;
    Node.Label = Properties.value("label").toString();
    Node.Submenu = Properties.value("children-display").toString() == "submenu";
    Argument.beginArray();
    while (!Argument.atEnd()) {
        QDBusVariant Child;
        Argument >> Child;
        const TNode ChildNode = ReadNode(Child.variant().value<QDBusArgument>(), Deep);
        ++Node.Children;
        if (Deep)
            Node.Sub.append(ChildNode);
    }
    Argument.endArray();
    Argument.endStructure();
    return Node;
}

// The panel: asks the program's item for its menu the way a panel does.
class TPanel {
public:
    explicit TPanel(const QString& Address) : FBus(QDBusConnection::connectToBus(Address, "bench-panel")) {
        FWatcher.moveToThread(&FThread);
        FThread.start();
        FBus.registerObject("/StatusNotifierWatcher", &FWatcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
        FBus.registerService("org.kde.StatusNotifierWatcher");
        // The program names icons to the panels it knows to find them: Plasma's
        // watcher runs in kded.
        if (qEnvironmentVariableIntValue("QV_BENCH_NAMED_ICONS") != 0)
            FBus.registerService("org.kde.kded5");
    }
    ~TPanel() {
        FThread.quit();
        FThread.wait();
    }

    bool WaitForItem() {
        for (int I = 0; I < 500 && FWatcher.Items().isEmpty(); ++I) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(10);
        }
        if (FWatcher.Items().isEmpty())
            return false;
        FService = FWatcher.Items().first();
        // Registered by its path: the item is on the program's own connection.
        if (FService.startsWith(QLatin1Char('/')))
            FService = QDBusConnection::sessionBus().baseService();
        return true;
    }

    TNode Layout(int Parent, int Depth, const QString& Path = QStringLiteral("/MenuBar"),
                 const QStringList& Names = {}) {
        const QDBusMessage Reply = Call("GetLayout", {Parent, Depth, Names}, Path);
        if (Reply.type() != QDBusMessage::ReplyMessage)
            return {};
        return ReadNode(Reply.arguments().at(1).value<QDBusArgument>(), true);
    }
    void AboutToShow(int Id) { Call("AboutToShow", {Id}); }

private:
    QDBusMessage Call(const QString& Method, const QVariantList& Arguments,
                      const QString& Path = QStringLiteral("/MenuBar")) {
        QDBusMessage Message = QDBusMessage::createMethodCall(FService, Path, "com.canonical.dbusmenu", Method);
        Message.setArguments(Arguments);
        // The program answers from this very thread: keep its events running.
        return FBus.call(Message, QDBus::BlockWithGui, 60000);
    }

    QDBusConnection FBus;
    QThread FThread;
    TBenchWatcher FWatcher;
    QString FService;
};

TPanel* Panel = nullptr;
TTrayIcon* Tray = nullptr;
TDesktopMenu* Desktop = nullptr;
// Handed over before a measured menu goes.
std::vector<std::unique_ptr<QMenu>> Placeholders;

TShopList MakeShops(int Count, int Categories) {
    TShopList Shops;
    for (int I = 0; I < Count; ++I) {
        auto Shop = std::make_shared<TShop>();
        Shop->Id = I + 1;
        Shop->SetName(QStringLiteral("Shop %1").arg(I, 6, 10, QLatin1Char('0')));
        Shop->Category = QStringLiteral("Kategorie %1").arg(I % Categories, 3, 10, QLatin1Char('0'));
        Shop->Ranking = 1000;
        Shops.push_back(Shop);
    }
    std::stable_sort(Shops.begin(), Shops.end(), [](const TShopPtr& A, const TShopPtr& B) {
        return (A->Category + A->GetName()).toUpper() < (B->Category + B->GetName()).toUpper();
    });
    return Shops;
}

// A favicon of its own for every shop, made in memory: what the desktop gets
// then is one picture per entry, not the globe for all.
QIcon ShopIcon(int32_t Id) {
    QImage Image(16, 16, QImage::Format_ARGB32_Premultiplied);
    Image.fill(QColor::fromRgb(static_cast<QRgb>(Id * 40503u) | 0xFF000000u));
    Image.setPixel(Id % 16, (Id / 16) % 16, 0xFF000000u);
    return QIcon(QPixmap::fromImage(Image));
}

struct TDrawnMenu {
    TImageList Images = TImageList::WithFixedPictures();
    TMenuItemManager Links{QStringLiteral("favorites")};
    TTrayMenu Menu;
    TShopList Shops;
    TDrawnMenu(int Count, int Categories, bool OwnIcons = false) : Shops(MakeShops(Count, Categories)) {
        if (OwnIcons) {
            std::vector<int32_t> Ids;
            for (const TShopPtr& Shop : Shops)
                Ids.push_back(Shop->Id);
            Images.SetShopIconFiles(Ids, &ShopIcon);
        }
        // As the program does with its globe, the picture of every shop without a favicon.
        Tray->NameMenuIcon(Images.Icon(TImageList::GlobeIndex), QStringLiteral("quorvantis-globe"));
        CreateFixedEntries(Menu, Images);
        BuildTrayMenu(Menu, TMenuBuildInput{Shops, Params, Links, Images, {}});
    }
};

// Every submenu of the drawn menu with its entries, as if each had been opened.
void FillAll(QMenu& Menu) {
    for (QAction* Action : Menu.actions()) {
        if (QMenu* Sub = Action->menu()) {
            Q_EMIT Sub->aboutToShow();
            FillAll(*Sub);
        }
    }
}

void Settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// What happens at start and after every rebuild: the mirror is handed over and
// the panel fetches the top level.
void BM_HandMenuToDesktop(benchmark::State& State) {
    TDrawnMenu Drawn(static_cast<int>(State.range(0)), static_cast<int>(State.range(1)));
    int Entries = 0;
    for (auto _ : State) {
        Tray->SetDesktopMenu(Desktop->Mirror(Drawn.Menu));
        Entries = Panel->Layout(0, 1).Children;
        State.PauseTiming();
        Settle();
        State.ResumeTiming();
    }
    State.counters["top_entries"] = Entries;
}

// The first opening of the largest submenu: its entries join and the panel
// fetches them.
void BM_OpenSubmenu(benchmark::State& State) {
    TDrawnMenu Drawn(static_cast<int>(State.range(0)), static_cast<int>(State.range(1)), State.range(2) != 0);
    int Entries = 0;
    qint64 Opening = 0;
    for (auto _ : State) {
        State.PauseTiming();
        Tray->SetDesktopMenu(Desktop->Mirror(Drawn.Menu));
        Settle();
        const int First = Panel->Layout(0, 1).Sub.value(0).Id;
        State.ResumeTiming();
        QElapsedTimer Clock;
        Clock.start();
        Panel->AboutToShow(First);
        Opening += Clock.nsecsElapsed();
        Entries = Panel->Layout(First, 1).Children;
    }
    State.counters["submenu_entries"] = Entries;
    // The share of the program's "about to show" (the entries joining) in the whole.
    State.counters["about_to_show_ms"] = Opening / 1e6 / static_cast<double>(State.iterations());
}

// Entries in the whole tree.
int CountAll(const TNode& Node) {
    int Count = Node.Children;
    for (const TNode& Child : Node.Sub)
        Count += CountAll(Child);
    return Count;
}

// What GNOME's extension reads: the whole tree, each entry's kind only.
const QStringList Kinds{QStringLiteral("type"), QStringLiteral("children-display")};

// GNOME's extension at start and after every rebuild: the mirror is handed
// over and the panel reads the whole tree.
void BM_WholeTreeAtStart(benchmark::State& State) {
    TDrawnMenu Drawn(static_cast<int>(State.range(0)), static_cast<int>(State.range(1)));
    int Entries = 0;
    for (auto _ : State) {
        Tray->SetDesktopMenu(Desktop->Mirror(Drawn.Menu));
        Entries = CountAll(Panel->Layout(0, -1, QStringLiteral("/MenuBar"), Kinds));
        State.PauseTiming();
        Settle();
        State.ResumeTiming();
    }
    State.counters["tree_entries"] = Entries;
}

// GNOME's extension opens the top menu and then the first category: each
// time "about to show" and the whole tree read again.
void BM_WholeTreeFirstOpening(benchmark::State& State) {
    TDrawnMenu Drawn(static_cast<int>(State.range(0)), static_cast<int>(State.range(1)));
    int Entries = 0;
    int Opened = 0;
    for (auto _ : State) {
        State.PauseTiming();
        Tray->SetDesktopMenu(Desktop->Mirror(Drawn.Menu));
        Settle();
        TNode Tree = Panel->Layout(0, -1, QStringLiteral("/MenuBar"), Kinds);
        State.ResumeTiming();
        Panel->AboutToShow(0);
        Tree = Panel->Layout(0, -1, QStringLiteral("/MenuBar"), Kinds);
        const auto First = std::find_if(Tree.Sub.cbegin(), Tree.Sub.cend(), [](const TNode& N) { return N.Submenu; });
        if (First == Tree.Sub.cend()) {
            State.SkipWithError("no category");
            break;
        }
        const int Id = First->Id;
        Panel->AboutToShow(Id);
        Tree = Panel->Layout(0, -1, QStringLiteral("/MenuBar"), Kinds);
        Entries = CountAll(Tree);
        for (const TNode& Sub : Tree.Sub)
            if (Sub.Id == Id)
                Opened = Sub.Children;
        State.PauseTiming();
        Settle();
        State.ResumeTiming();
    }
    State.counters["tree_entries"] = Entries;
    State.counters["category_entries"] = Opened;
}

// Opens every level of Node not opened yet (an unopened one holds its first
// entries only); true if any.
bool OpenUnopened(const TNode& Node, QSet<int>& Done) {
    bool Opened = false;
    for (const TNode& Child : Node.Sub) {
        if (Child.Submenu && !Done.contains(Child.Id)) {
            Done.insert(Child.Id);
            Panel->AboutToShow(Child.Id);
            Opened = true;
        } else {
            Opened = OpenUnopened(Child, Done) || Opened;
        }
    }
    return Opened;
}

// For comparison: the whole drawn tree handed over and fetched in full, as a
// panel that opens every level and then asks for the whole tree does.
void BM_HandWholeTreeAtOnce(benchmark::State& State) {
    const int Count = static_cast<int>(State.range(0));
    const int Categories = static_cast<int>(State.range(1));
    int Top = 0;
    for (auto _ : State) {
        State.PauseTiming();
        auto Drawn = std::make_unique<TDrawnMenu>(Count, Categories);
        FillAll(Drawn->Menu);
        State.ResumeTiming();
        Tray->SetDesktopMenu(&Drawn->Menu);
        TNode Whole = Panel->Layout(0, -1);
        QSet<int> Done;
        while (OpenUnopened(Whole, Done))
            Whole = Panel->Layout(0, -1);
        Top = Whole.Children;
        State.PauseTiming();
        Placeholders.push_back(std::make_unique<QMenu>());
        Tray->SetDesktopMenu(Placeholders.back().get());
        Drawn.reset();
        Settle();
        State.ResumeTiming();
    }
    State.counters["top_entries"] = Top;
}

// A bare answer to the layout request: the same entries as the largest
// submenu, made in advance, with nothing else behind them. What crossing the
// bus costs any program, against which BM_OpenSubmenu's share is the program's.
class TBareLayout final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
public:
    TDBusMenuLayoutItem Answer;

public Q_SLOTS:
    uint GetLayout(int, int, const QStringList&, TDBusMenuLayoutItem& Layout) {
        Layout = Answer;
        return 1;
    }
};

// The second number: 0 no pictures, 1 the globe for all, 2 a favicon of its own each.
void BM_BareLayoutFloor(benchmark::State& State) {
    TBareLayout Bare;
    const QByteArray Globe =
        MenuIconPng(TImageList::WithFixedPictures().Icon(TImageList::GlobeIndex).pixmap(16, 16).toImage());
    for (int I = 0; I < State.range(0); ++I) {
        TDBusMenuLayoutItem Entry;
        Entry.Id = 1000 + I;
        Entry.Properties.insert("label", QStringLiteral("Shop %1").arg(I, 6, 10, QLatin1Char('0')));
        if (State.range(1) == 1)
            Entry.Properties.insert("icon-data", Globe);
        else if (State.range(1) == 2)
            Entry.Properties.insert("icon-data", MenuIconPng(ShopIcon(I + 1).pixmap(16, 16).toImage()));
        Bare.Answer.Children.append(Entry);
    }
    QDBusConnection::sessionBus().registerObject("/BareLayout", &Bare, QDBusConnection::ExportAllSlots);
    int Entries = 0;
    for (auto _ : State)
        Entries = Panel->Layout(0, 1, QStringLiteral("/BareLayout")).Children;
    QDBusConnection::sessionBus().unregisterObject("/BareLayout");
    State.counters["entries"] = Entries;
}

// One 16x16 menu icon made into the PNG the panel gets. The number: 0 the globe,
// 1 a favicon-like picture of one colour and a dot, 2 noise (the worst case),
// 3 the globe through Qt's PNG writer, for comparison.
void BM_MenuIconPng(benchmark::State& State) {
    QImage Image;
    if (State.range(0) == 0) {
        Image = TImageList::WithFixedPictures().Icon(TImageList::GlobeIndex).pixmap(16, 16).toImage();
    } else if (State.range(0) == 1) {
        Image = ShopIcon(4711).pixmap(16, 16).toImage();
    } else if (State.range(0) == 2) {
        Image = QImage(16, 16, QImage::Format_ARGB32);
        for (int Y = 0; Y < 16; ++Y)
            for (int X = 0; X < 16; ++X)
                Image.setPixel(X, Y, qRgba(X * 37 % 256, Y * 91 % 256, (X * Y * 13) % 256, 255 - X * Y));
    }
    if (State.range(0) == 3)
        Image = TImageList::WithFixedPictures().Icon(TImageList::GlobeIndex).pixmap(16, 16).toImage();
    qsizetype Bytes = 0;
    for (auto _ : State) {
        QByteArray Png;
        if (State.range(0) == 3) {
            QBuffer Buffer(&Png);
            Buffer.open(QIODevice::WriteOnly);
            Image.save(&Buffer, "PNG");
        } else {
            Png = MenuIconPng(Image);
        }
        Bytes = Png.size();
        benchmark::DoNotOptimize(Png.constData());
    }
    State.counters["png_bytes"] = static_cast<double>(Bytes);
}

void Sizes(benchmark::internal::Benchmark* B) {
    B->Args({10000, 1})->Args({10000, 200})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_HandMenuToDesktop)->Apply(Sizes);
// Also 100,000 shops in 1,000 categories.
BENCHMARK(BM_WholeTreeAtStart)->Apply(Sizes)->Args({100000, 1000});
BENCHMARK(BM_WholeTreeFirstOpening)->Apply(Sizes)->Args({100000, 1000});
// The third number: 1 when every shop has a favicon of its own.
BENCHMARK(BM_OpenSubmenu)
    ->Args({10000, 1, 0})
    ->Args({10000, 200, 0})
    ->Args({10000, 1, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandWholeTreeAtOnce)->Apply(Sizes);
BENCHMARK(BM_MenuIconPng)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareLayoutFloor)->Args({10000, 0})->Args({10000, 1})->Args({10000, 2})->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "needs an X display: xvfb-run -a %s\n", argv[0]);
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QTemporaryDir Home;
    qputenv("XDG_CONFIG_HOME", (Home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (Home.path() + "/data").toLocal8Bit());
    // The program's icon folder goes there.
    QDir().mkpath(Home.path() + "/runtime");
    QFile::setPermissions(Home.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", (Home.path() + "/runtime").toLocal8Bit());
    QProcess Daemon;
    Daemon.start("dbus-daemon", {"--session", "--nofork", "--nosyslog", "--print-address=1"});
    if (!Daemon.waitForStarted(5000) || !Daemon.waitForReadyRead(10000)) {
        std::fprintf(stderr, "cannot start dbus-daemon\n");
        return 1;
    }
    const QString Address = QString::fromUtf8(Daemon.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", Address.toUtf8());

    int Result = 0;
    {
        QApplication App(argc, argv);
        TPanel ThePanel(Address);
        Panel = &ThePanel;
        TLogger Log(QStringLiteral("Quorvantis"));
        TTrayIcon Icon(TImageList::TrayIcon(), Log);
        TDesktopMenu Mirror;
        Tray = &Icon;
        Desktop = &Mirror;
        Icon.Show();
        if (!ThePanel.WaitForItem()) {
            std::fprintf(stderr, "the tray icon did not register with the watcher\n");
            Result = 1;
        } else {
            benchmark::Initialize(&argc, argv);
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
        }
        Icon.SetDesktopMenu(nullptr);
        Tray = nullptr;
        Panel = nullptr;
    }
    Placeholders.clear();
    Daemon.terminate();
    Daemon.waitForFinished(3000);
    return Result;
}

#include "bench_desktop_menu.moc"
