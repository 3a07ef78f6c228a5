// A whole catalogue refresh of the main window (download, store, parse, favicons,
// menu rebuild) against a local HTTP server: the sample catalogue and a generated
// 10,000-shop catalogue.
#include "uBuildPaths.h"
#include "uRegistry.h"
#include "ufrmQuorvantis.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

std::string SampleCatalogue(const QString& Base) {
    QFile F(QStringLiteral(QUORVANTIS_SOURCE_RESOURCES) + "/vendor/version2.xml");
    F.open(QIODevice::ReadOnly);
    return QString::fromUtf8(F.readAll()).replace("{BASE}", Base).toStdString();
}

std::string GeneratedCatalogue(int Shops, const QString& Base) {
    std::string Xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<q><version>2.2</version><check>2099-01-01</check><shops>";
    for (int I = 0; I < Shops; ++I) {
        const int Cat = I % 200;
        Xml += "<shop id=\"" + std::to_string(I + 1) + "\" name=\"Händler " + std::to_string(I) + "\" site=\"" +
               Base.toStdString() + "/sites/s" + std::to_string(I) + "\" category=\"Bereich " +
               std::to_string(Cat % 20) + "->Gruppe " + std::to_string(Cat) + "\" ranking=\"" + std::to_string(I % 50) +
               "\"/>\n";
    }
    return Xml + "</shops></q>";
}

struct TServer {
    httplib::Server Http;
    std::thread Thread;
    std::string Body;
    QString Base;
    std::atomic<std::chrono::steady_clock::time_point> AnswerSent{};
    TServer() {
        Http.Get("/version2.xml",
                 [this](const httplib::Request&, httplib::Response& Res) { Res.set_content(Body, "text/xml"); });
        // Called once the answer is written: from here on the time is the program's.
        Http.set_logger([this](const httplib::Request& Req, const httplib::Response&) {
            if (Req.path == "/version2.xml")
                AnswerSent = std::chrono::steady_clock::now();
        });
        Http.set_tcp_nodelay(true);
        const int Port = Http.bind_to_any_port("127.0.0.1");
        Base = QStringLiteral("http://127.0.0.1:%1").arg(Port);
        Thread = std::thread([this] { Http.listen_after_bind(); });
        while (!Http.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TServer() {
        Http.stop();
        Thread.join();
    }
};

void RunRefresh(benchmark::State& State, bool Sample) {
    QTemporaryDir Dir;
    for (const char* Name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
        qputenv(Name, (Dir.path() + "/" + Name).toUtf8());
    TServer Server;
    Server.Body = Sample ? SampleCatalogue(Server.Base) : GeneratedCatalogue(10000, Server.Base);
    WriteSettingString("", "server", Server.Base);
    WriteSettingString("", "lastnews", "9999");
    WriteSettingBool("", "first", false);
    TfrmQuorvantis Main({"quorvantis"});
    while (!Main.IsStarted())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    // From the request to the rebuilt menu: the answer handled on the user's thread.
    // "from_answer_ms" leaves the server and the transfer out: from the answer
    // written to the menu ready (median of the repetitions).
    std::vector<double> FromAnswer;
    for (auto _ : State) {
        bool Done = false;
        Main.Program().GetUpdates([&](UpdateState) { Done = true; });
        while (!Done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        FromAnswer.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Server.AnswerSent.load())
                .count());
    }
    std::sort(FromAnswer.begin(), FromAnswer.end());
    State.counters["from_answer_ms"] = FromAnswer.empty() ? 0.0 : FromAnswer[FromAnswer.size() / 2];
    State.counters["shops"] = static_cast<double>(Main.GetShops().size());
    State.counters["bytes"] = static_cast<double>(Server.Body.size());
}

void BM_GetUpdatesSample(benchmark::State& State) {
    RunRefresh(State, true);
}
void BM_GetUpdates10000(benchmark::State& State) {
    RunRefresh(State, false);
}
BENCHMARK(BM_GetUpdatesSample)
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetUpdates10000)
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
