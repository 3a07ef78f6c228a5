// The installer download from a loopback server into a file: wall time per download and
// throughput.
#include "uUpdateDownload.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <httplib.h>
#include <string>
#include <thread>

namespace {

httplib::Server GServer;
int GPort = 0;
std::thread GThread;

constexpr size_t BlockSize = 1 << 16;

void StartServer() {
    static const std::string Block(BlockSize, '#');
    // Argument: size in MiB.
    GServer.Get(R"(/sized/(\d+))", [](const httplib::Request& Req, httplib::Response& Res) {
        const size_t Total = std::stoul(Req.matches[1]) << 20;
        Res.set_content_provider(Total, "application/octet-stream",
                                 [Total](size_t Offset, size_t Length, httplib::DataSink& Sink) {
                                     Sink.write(Block.data(), std::min({Length, Block.size(), Total - Offset}));
                                     return true;
                                 });
    });
    GPort = GServer.bind_to_any_port("127.0.0.1");
    GThread = std::thread([] { GServer.listen_after_bind(); });
    while (!GServer.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Download(benchmark::State& State, const char* Kind) {
    QTemporaryDir Folder;
    const QString File = Folder.path() + QStringLiteral("/setup.bin");
    const QString URL = QStringLiteral("http://127.0.0.1:%1/%2/%3").arg(GPort).arg(Kind).arg(State.range(0));
    for (auto _ : State) {
        TUpdateDownload Job(URL, File);
        QEventLoop Loop;
        QObject::connect(&Job, &TUpdateDownload::Finished, &Loop, &QEventLoop::quit);
        Job.Start();
        Loop.exec();
        if (!Job.Ok()) {
            State.SkipWithError(Job.Error().toStdString().c_str());
            break;
        }
        QFile::remove(Job.File());
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * (int64_t(State.range(0)) << 20));
}

void BM_UpdateDownloadSized(benchmark::State& State) {
    Download(State, "sized");
}

BENCHMARK(BM_UpdateDownloadSized)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// The download needs a QCoreApplication, so the usual BENCHMARK_MAIN() is spelled out.
int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    StartServer();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    GServer.stop();
    GThread.join();
    return 0;
}
