// Favicon loading into the tray image list (the folder listing, then decoding
// every icon with the heap it keeps) and the favicon thread's download rate
// against curl fetching the same files.
#include "uFaviconLoader.h"
#include "uIconFiles.h"
#include "uRegistry.h"
#include "uTFaviconThread.h"
#include "uTImageList.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmapCache>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <malloc.h>
#include <memory>
#include <thread>

namespace {

QByteArray Png(int Side, QRgb Colour) {
    QImage Image(Side, Side, QImage::Format_ARGB32);
    Image.fill(Colour);
    QByteArray Bytes;
    QBuffer Buffer(&Bytes);
    Buffer.open(QIODevice::WriteOnly);
    Image.save(&Buffer, "PNG");
    return Bytes;
}

// 32-bit bitmap entry: header with doubled height, bottom-up BGRA rows, AND mask.
QByteArray Bmp32(int Side, QRgb Colour) {
    QByteArray Out(40, '\0');
    qToLittleEndian<quint32>(40, Out.data());
    qToLittleEndian<qint32>(Side, Out.data() + 4);
    qToLittleEndian<qint32>(Side * 2, Out.data() + 8);
    qToLittleEndian<quint16>(1, Out.data() + 12);
    qToLittleEndian<quint16>(32, Out.data() + 14);
    const char Pixel[4] = {char(qBlue(Colour)), char(qGreen(Colour)), char(qRed(Colour)), char(0xFF)};
    for (int I = 0; I < Side * Side; ++I)
        Out.append(Pixel, 4);
    Out.append(QByteArray(((Side + 31) / 32) * 4 * Side, '\0'));
    return Out;
}

// A typical favicon: 16x16 bitmap and 32x32 PNG of one colour in one ICO.
QByteArray IcoOfColour(QRgb Colour) {
    const QList<QPair<int, QByteArray>> Entries = {{16, Bmp32(16, Colour)}, {32, Png(32, Colour)}};
    QByteArray Out(6 + 16 * Entries.size(), '\0');
    qToLittleEndian<quint16>(1, Out.data() + 2);
    qToLittleEndian<quint16>(Entries.size(), Out.data() + 4);
    quint32 Offset = Out.size();
    for (int I = 0; I < Entries.size(); ++I) {
        char* Entry = Out.data() + 6 + 16 * I;
        Entry[0] = Entry[1] = char(Entries[I].first);
        qToLittleEndian<quint16>(1, Entry + 4);
        qToLittleEndian<quint16>(32, Entry + 6);
        qToLittleEndian<quint32>(Entries[I].second.size(), Entry + 8);
        qToLittleEndian<quint32>(Offset, Entry + 12);
        Offset += Entries[I].second.size();
    }
    for (const auto& Entry : Entries)
        Out += Entry.second;
    return Out;
}

QByteArray TypicalIco() {
    return IcoOfColour(qRgb(200, 30, 30));
}

// A typical favicon in its own colours, so no two files hold the same picture.
QByteArray DistinctIco(int Seed) {
    return IcoOfColour(qRgb(Seed & 0xFF, (Seed >> 8) & 0xFF, (Seed >> 16) & 0xFF));
}

TShopList ShopsWithIconFiles(int ShopCount, bool Distinct) {
    const QByteArray Same = TypicalIco();
    QDir(IconsFolder()).removeRecursively();
    QDir().mkpath(IconsFolder());
    TShopList Shops;
    for (int Id = 1; Id <= ShopCount; ++Id) {
        auto Shop = std::make_shared<TShop>();
        Shop->Id = Id;
        Shops.push_back(Shop);
        QFile File(ShopIconFile(Id));
        File.open(QIODevice::WriteOnly);
        File.write(Distinct ? DistinctIco(Id * 40503) : Same);
    }
    return Shops;
}

// A load: one listing of the icons folder; no file is decoded yet.
void LoadFaviconsThousandShops(benchmark::State& State) {
    const int ShopCount = static_cast<int>(State.range(0));
    const TShopList Shops = ShopsWithIconFiles(ShopCount, false);
    TImageList Images = TImageList::WithFixedPictures();
    TMenuItemManager Links(QStringLiteral("favorites"));
    TLogger Logger(TLogger::llError, true, QStringLiteral("bench"));
    for (auto _ : State) {
        LoadFavicons(Images, Shops, Links, Logger);
        benchmark::DoNotOptimize(Images.Count());
    }
    if (Images.ShopIconCount() != ShopCount)
        State.SkipWithError("not every icon file found");
    State.SetItemsProcessed(State.iterations() * ShopCount);
    QDir(IconsFolder()).removeRecursively();
}
BENCHMARK(LoadFaviconsThousandShops)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Every shop's icon decoded (as when every submenu has been opened): time per
// icon and heap bytes per distinct icon kept in the image list.
void BM_DecodeEveryIcon(benchmark::State& State) {
    const int ShopCount = static_cast<int>(State.range(0));
    const TShopList Shops = ShopsWithIconFiles(ShopCount, true);
    TMenuItemManager Links(QStringLiteral("favorites"));
    TLogger Logger(TLogger::llError, true, QStringLiteral("bench"));
    double Bytes = 0;
    for (auto _ : State) {
        State.PauseTiming();
        auto Images = std::make_unique<TImageList>(TImageList::WithFixedPictures());
        LoadFavicons(*Images, Shops, Links, Logger);
        QPixmapCache::clear(); // whatever it holds then counts in the difference
        malloc_trim(0);
        const struct mallinfo2 Before = mallinfo2();
        State.ResumeTiming();
        for (const TShopPtr& Shop : Shops)
            benchmark::DoNotOptimize(Images->ShopIndex(Shop->Id));
        State.PauseTiming();
        const struct mallinfo2 After = mallinfo2();
        Bytes = static_cast<double>((After.uordblks + After.hblkhd) - (Before.uordblks + Before.hblkhd));
        if (Images->Count() != TImageList::FixedCount + ShopCount)
            State.SkipWithError("not every icon decoded");
        Images.reset();
        State.ResumeTiming();
    }
    State.SetItemsProcessed(State.iterations() * ShopCount);
    State.counters["bytes_per_icon"] = Bytes / ShopCount;
    QDir(IconsFolder()).removeRecursively();
}
BENCHMARK(BM_DecodeEveryIcon)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);

struct TIconServer {
    httplib::Server Server;
    std::thread Listener;
    std::string Ico = TypicalIco().toStdString();
    int Port = 0;
    explicit TIconServer(bool NoDelay) {
        // Without TCP_NODELAY the header and body writes of each answer meet Nagle's
        // algorithm and the client's delayed acknowledgement: tens of milliseconds per
        // icon that no client can avoid.
        Server.set_tcp_nodelay(NoDelay);
        Server.Get(R"(/.*)",
                   [this](const httplib::Request&, httplib::Response& Res) { Res.set_content(Ico, "image/x-icon"); });
        Port = Server.bind_to_any_port("127.0.0.1");
        Listener = std::thread([this] { Server.listen_after_bind(); });
        while (!Server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TIconServer() {
        Server.stop();
        Listener.join();
    }
    QString Site(int Id) const { return QStringLiteral("http://127.0.0.1:%1/shop%2").arg(Port).arg(Id); }
};

void FaviconThreadThroughput(benchmark::State& State) {
    const int ShopCount = static_cast<int>(State.range(0));
    TIconServer Server(State.range(1) != 0);
    std::vector<TFaviconShop> Shops;
    for (int Id = 1; Id <= ShopCount; ++Id)
        Shops.push_back({Id, Server.Site(Id)});
    TLogger Logger(TLogger::llError, true, QStringLiteral("bench"));
    const QString Folder = GetInstallFolder();
    for (auto _ : State) {
        State.PauseTiming();
        QDir(Folder + "icons").removeRecursively();
        State.ResumeTiming();
        TFaviconThread Thread(Shops, {}, &Logger, Folder);
        Thread.start();
        Thread.wait();
    }
    if (QDir(Folder + "icons").entryList(QDir::Files).size() != ShopCount)
        State.SkipWithError("not every icon fetched");
    State.counters["icons/s"] = benchmark::Counter(double(ShopCount), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(FaviconThreadThroughput)->Args({1000, 1})->Args({200, 0})->Unit(benchmark::kMillisecond)->UseRealTime();

// The yardstick: curl fetching the same files one by one into the same folder
// (one process, so it keeps its connection like the thread does).
void CurlOneByOne(benchmark::State& State) {
    const int ShopCount = static_cast<int>(State.range(0));
    TIconServer Server(true);
    const QString Folder = GetInstallFolder() + "curl-icons/";
    QTemporaryDir ConfigDir;
    const QString Config = ConfigDir.path() + "/urls";
    {
        QFile File(Config);
        File.open(QIODevice::WriteOnly);
        for (int Id = 1; Id <= ShopCount; ++Id)
            File.write(QStringLiteral("url = \"%1/favicon.ico\"\noutput = \"%2%3.ico\"\n")
                           .arg(Server.Site(Id), Folder)
                           .arg(Id)
                           .toUtf8());
    }
    for (auto _ : State) {
        State.PauseTiming();
        QDir(Folder).removeRecursively();
        QDir().mkpath(Folder);
        State.ResumeTiming();
        QProcess Curl;
        Curl.start("curl", {"-s", "-K", Config});
        Curl.waitForFinished(-1);
    }
    if (QDir(Folder).entryList(QDir::Files).size() != ShopCount)
        State.SkipWithError("curl did not fetch every icon");
    State.counters["icons/s"] = benchmark::Counter(double(ShopCount), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(CurlOneByOne)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    // Keep the benchmark's settings store, icons and log away from the real home folder.
    QTemporaryDir Home;
    for (const char* Name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
        const QString Folder = Home.path() + "/" + Name;
        QDir().mkpath(Folder);
        qputenv(Name, Folder.toUtf8());
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
