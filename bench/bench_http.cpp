// What the blocking HTTP client costs over reading the same bytes from a plain socket.
#include "uTHTTPClient.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

httplib::Server GServer;
int GPort = 0;
std::thread GThread;

std::string MakeCatalogue(int Shops) {
    std::string Xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quorvantis><version>2.2</version><shops>\n";
    for (int I = 0; I < Shops; ++I)
        Xml += "<shop id=\"" + std::to_string(1000 + I) + "\" name=\"Shop Nummer " + std::to_string(I) +
               "\" site=\"http://127.0.0.1/sites/shop-" + std::to_string(I) + "\" category=\"Kategorie " +
               std::to_string(I % 40) + "->Unterkategorie " + std::to_string(I % 7) + "\" ranking=\"" +
               std::to_string(I % 100) + "\"/>\n";
    return Xml + "</shops></quorvantis>\n";
}

const std::string& Body(const std::string& Name) {
    static const std::string Small(100, 's');
    static const std::string Mega(1 << 20, 'm');
    static const std::string Catalogue = MakeCatalogue(10000);
    return Name == "small" ? Small : Name == "1mb" ? Mega : Catalogue;
}

void StartServer() {
    GServer.set_tcp_nodelay(true);
    GServer.set_keep_alive_max_count(1000000);
    for (const char* Name : {"small", "1mb", "catalogue"}) {
        const std::string Path = std::string("/") + Name;
        GServer.Get(
            Path, [Name](const httplib::Request&, httplib::Response& Res) { Res.set_content(Body(Name), "text/xml"); });
    }
    GPort = GServer.bind_to_any_port("127.0.0.1");
    GThread = std::thread([] { GServer.listen_after_bind(); });
    while (!GServer.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// One GET over a fresh connection, reading headers and body until the server closes.
size_t RawGet(const std::string& Path) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_port = htons(uint16_t(GPort));
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int One = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0) {
        ::close(Fd);
        return 0;
    }
    const std::string Request =
        "GET " + Path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\nConnection: close\r\n\r\n";
    ::send(Fd, Request.data(), Request.size(), 0);
    static thread_local std::string Buffer(1 << 16, '\0');
    size_t Total = 0;
    for (ssize_t N; (N = ::recv(Fd, Buffer.data(), Buffer.size(), 0)) > 0;)
        Total += size_t(N);
    ::close(Fd);
    return Total;
}

const char* const Names[] = {"small", "1mb", "catalogue"};

void BM_RawSocket(benchmark::State& State) {
    const std::string Path = std::string("/") + Names[State.range(0)];
    for (auto _ : State)
        benchmark::DoNotOptimize(RawGet(Path));
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Body(Names[State.range(0)]).size()));
    State.SetLabel(Names[State.range(0)]);
}

// The client as the program uses it: one instance, kept connection.
void BM_THTTPClientKeptConnection(benchmark::State& State) {
    THTTPClient Client;
    const QString URL = QStringLiteral("http://127.0.0.1:%1/%2").arg(GPort).arg(Names[State.range(0)]);
    for (auto _ : State)
        benchmark::DoNotOptimize(Client.Get(URL));
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Body(Names[State.range(0)]).size()));
    State.SetLabel(Names[State.range(0)]);
}

// A fresh connection per request, like the raw socket (and like the catalogue refresh, which disconnects).
void BM_THTTPClientNewConnection(benchmark::State& State) {
    THTTPClient Client;
    const QString URL = QStringLiteral("http://127.0.0.1:%1/%2").arg(GPort).arg(Names[State.range(0)]);
    for (auto _ : State) {
        benchmark::DoNotOptimize(Client.Get(URL));
        Client.Disconnect();
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Body(Names[State.range(0)]).size()));
    State.SetLabel(Names[State.range(0)]);
}

// With the transfer events wired up, as during the installer download.
void BM_THTTPClientWithProgress(benchmark::State& State) {
    THTTPClient Client;
    qint64 Last = 0;
    Client.OnWorkBegin = [&](qint64) { Last = 0; };
    Client.OnWork = [&](qint64 SoFar) { Last = SoFar; };
    Client.OnWorkEnd = [&] { benchmark::DoNotOptimize(Last); };
    const QString URL = QStringLiteral("http://127.0.0.1:%1/1mb").arg(GPort);
    for (auto _ : State)
        benchmark::DoNotOptimize(Client.Get(URL));
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Body("1mb").size()));
}

BENCHMARK(BM_RawSocket)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_THTTPClientKeptConnection)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_THTTPClientNewConnection)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_THTTPClientWithProgress)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

// The client needs a QCoreApplication, so the usual BENCHMARK_MAIN() is spelled out.
int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    StartServer();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    GServer.stop();
    GThread.join();
    return 0;
}
