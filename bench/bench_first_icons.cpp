// First start with 1,000 shops: from creating the main window (empty store, no
// stored catalogue, no icon files) until every shop entry of the drawn menu shows
// its favicon, fetched during this very run from a cpp-httplib server on
// 127.0.0.1 that serves the catalogue and one 16x16 picture per shop. Every
// category is opened right after the start, as a user opening the menu would, so
// the icons reach entries that exist already. Reports the time to "Started" and
// to all icons shown (manual time). Run with QT_QPA_PLATFORM=offscreen (set here
// when unset); each run gets fresh temporary XDG folders.
#include "uRegistry.h"
#include "uTImageList.h"
#include "uTTrayMenu.h"
#include "uTURLMenuItem.h"
#include "ufrmQuorvantis.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <map>
#include <memory>
#include <thread>

namespace {

constexpr int ShopCount = 1000;
constexpr int CategoryCount = 20;

// The catalogue and the icons; answers from memory, never waits.
class TServer final {
public:
    TServer() {
        FServer.Get(R"(/.*)", [this](const httplib::Request& Req, httplib::Response& Res) {
            if (Req.path == "/version2.xml") {
                Res.set_content(FCatalogue, "text/xml");
                return;
            }
            const auto Found = FIcons.find(Req.path);
            if (Found == FIcons.end())
                Res.status = 404;
            else
                Res.set_content(Found->second, "image/png");
        });
        FServer.set_tcp_nodelay(true); // small answers must not wait for a delayed ACK
        FPort = FServer.bind_to_any_port("127.0.0.1");
        QByteArray Xml = "<quorvantis><version>2.2</version><check>2099-01-01</check><shops>";
        for (int I = 1; I <= ShopCount; ++I) {
            Xml += QStringLiteral(R"(<shop id="%1" name="Shop %1" category="Kategorie %2" site="%3/s%1"/>)")
                       .arg(I)
                       .arg(I % CategoryCount)
                       .arg(Base())
                       .toUtf8();
            QImage Picture(16, 16, QImage::Format_ARGB32);
            Picture.fill(QColor::fromHsv(I % 360, 200, 100 + I % 150));
            QByteArray Png;
            QBuffer Buffer(&Png);
            Buffer.open(QIODevice::WriteOnly);
            Picture.save(&Buffer, "PNG");
            FIcons["/s" + std::to_string(I) + "/favicon.ico"] = Png.toStdString();
        }
        Xml += "</shops></quorvantis>";
        FCatalogue = Xml.toStdString();
        FThread = std::thread([this] { FServer.listen_after_bind(); });
        while (!FServer.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TServer() {
        FServer.stop();
        FThread.join();
    }
    TServer(const TServer&) = delete;
    TServer& operator=(const TServer&) = delete;

    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }

private:
    httplib::Server FServer;
    std::thread FThread;
    int FPort = 0;
    std::string FCatalogue;
    std::map<std::string, std::string> FIcons;
};

TServer* Server = nullptr;

// Shop entries of the opened categories that show a favicon, and all shop entries.
std::pair<int, int> ShownIcons(QMenu& Menu) {
    int Shown = 0;
    int All = 0;
    for (QAction* Action : Menu.actions()) {
        if (QMenu* Sub = Action->menu()) {
            const auto [S, A] = ShownIcons(*Sub);
            Shown += S;
            All += A;
        } else if (auto* Entry = qobject_cast<TURLMenuItem*>(Action)) {
            ++All;
            Shown += Entry->ImageIndex() >= TImageList::FixedCount ? 1 : 0;
        }
    }
    return {Shown, All};
}

void BM_FirstStartUntilEveryIconIsShown(benchmark::State& State) {
    double Started = 0;
    for (auto _ : State) {
        QTemporaryDir Home;
        for (const char* Name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
            qputenv(Name, (Home.path() + "/" + Name).toLocal8Bit());
        WriteSettingString(QString(), QStringLiteral("server"), Server->Base());
        WriteSettingString(QString(), QStringLiteral("lastnews"), QStringLiteral("9999"));
        QElapsedTimer Clock;
        Clock.start();
        // Wakes the waits below at least every 10 ms; they block in between.
        QTimer Tick;
        Tick.start(10);
        auto Main = std::make_unique<TfrmQuorvantis>(QStringList{QStringLiteral("quorvantis")});
        while (!Main->IsStarted() && Clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        Started += static_cast<double>(Clock.nsecsElapsed()) / 1e9;
        for (QAction* Action : Main->TrayMenu()->actions())
            if (QMenu* Sub = Action->menu())
                Q_EMIT Sub->aboutToShow();
        // Looked at every 10 ms, so the look itself does not compete with the work.
        std::pair<int, int> Count = ShownIcons(*Main->TrayMenu());
        qint64 Looked = Clock.elapsed();
        while (Count.first < ShopCount && Clock.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (Clock.elapsed() - Looked >= 10) {
                Count = ShownIcons(*Main->TrayMenu());
                Looked = Clock.elapsed();
            }
        }
        State.SetIterationTime(static_cast<double>(Clock.nsecsElapsed()) / 1e9);
        if (Count.first < ShopCount || Count.second != ShopCount)
            State.SkipWithError("not every icon was shown");
        Main.reset();
    }
    State.counters["to_started_s"] = benchmark::Counter(Started / static_cast<double>(State.iterations()));
}
BENCHMARK(BM_FirstStartUntilEveryIconIsShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    TServer Vendor;
    Server = &Vendor;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Server = nullptr;
    return 0;
}
