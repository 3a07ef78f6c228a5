// From a tray click ("show") to the menu on screen with 10,000 shops, with and
// without a catalogue request running in the background (a server that holds its
// answer). The menu is closed as soon as it is shown.
#include "uRegistry.h"
#include "uTTrayMenu.h"
#include "ufrmQuorvantis.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <atomic>
#include <thread>

namespace {

QByteArray GeneratedCatalogue(int Count) {
    QByteArray Xml = "<quorvantis><version>2.2</version><check>2099-01-01</check><shops>";
    for (int I = 0; I < Count; ++I)
        Xml += QStringLiteral("<shop id=\"%1\" name=\"Shop %1\" category=\"Kategorie %2->Unter %3\"/>")
                   .arg(I + 1)
                   .arg(I % 200)
                   .arg(I % 7)
                   .toUtf8();
    return Xml + "</shops></quorvantis>";
}

// Shows the menu the way a tray click does and measures until its window is shown.
class TShownProbe final : public QObject {
public:
    QElapsedTimer Timer;
    qint64 Elapsed = -1;
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::Show && Elapsed < 0) {
            Elapsed = Timer.nsecsElapsed();
            QTimer::singleShot(0, static_cast<QWidget*>(Watched), &QWidget::close);
        }
        return false;
    }
};

void Measure(benchmark::State& State, TfrmQuorvantis& Main) {
    TShownProbe Probe;
    Main.TrayMenu()->installEventFilter(&Probe);
    for (auto _ : State) {
        Probe.Elapsed = -1;
        Probe.Timer.start();
        Main.ExecuteCommand(QStringLiteral("show")); // returns when the menu has closed
        State.SetIterationTime(double(Probe.Elapsed) / 1e9);
    }
    Main.TrayMenu()->removeEventFilter(&Probe);
}

void BM_ShowMenu10000Shops(benchmark::State& State) {
    const bool RequestRunning = State.range(0) != 0;
    QTemporaryDir Dir;
    for (const char* Name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
        qputenv(Name, (Dir.path() + "/" + Name).toUtf8());
    // A server that takes the request and answers only when the bench ends.
    httplib::Server Held;
    std::atomic<bool> Release{false};
    Held.Get("/version2.xml", [&](const httplib::Request&, httplib::Response& Res) {
        while (!Release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Res.set_content("<error/>", "text/xml");
    });
    const int Port = Held.bind_to_any_port("127.0.0.1");
    std::thread Thread([&] { Held.listen_after_bind(); });
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteSettingString("", "lastnews", "9999");
    WriteSettingBool("", "first", false);
    const QString Install = QString::fromUtf8(qgetenv("XDG_DATA_HOME")) + "/Quorvantis/";
    QDir().mkpath(Install);
    QFile File(Install + "quorvantis.xml");
    File.open(QIODevice::WriteOnly);
    File.write(GeneratedCatalogue(10000));
    File.close();
    {
        TfrmQuorvantis Main({"quorvantis"});
        while (!Main.IsStarted())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (RequestRunning) {
            WriteSettingString("", "server", QStringLiteral("http://127.0.0.1:%1").arg(Port));
            Main.Program().GetUpdates();
        }
        Measure(State, Main);
        State.counters["shops"] = double(Main.GetShops().size());
        State.counters["request_running"] = Main.Program().IsRefreshing() ? 1 : 0;
        Release = true;
    }
    Held.stop();
    Thread.join();
}
BENCHMARK(BM_ShowMenu10000Shops)->Arg(0)->Arg(1)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
