// Catalogue load against the parser floor.
//   ninja -C build-catalogue bench_catalogue && build-catalogue/bench/bench_catalogue
// Load = parse + records + sorted list + categories. Floor = pugixml parsing the
// same bytes and copying the five shop attributes into plain structs. After the
// timings a table gives both measured alternately and their ratio per size, the heap retained by a loaded
// catalogue (mallinfo2) and the peak resident growth during one load (VmHWM
// in a forked child).
#include "uCatalogueDocument.h"
#include "uTUpdateVersion.h"

#include <QByteArray>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <map>
#include <pugixml.hpp>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
struct TPlainShop {
    std::string Name, Site, Category;
    int Id = 0, Ranking = 0;
};

int CategoryCount(int Shops) {
    return Shops <= 1000 ? 60 : Shops <= 10000 ? 200 : 300;
}

// About 190 bytes per shop element, 15 % of names with umlauts, 1-3 category levels.
QByteArray MakeCatalogue(int Shops) {
    std::mt19937 Random(Shops);
    const char* const Words[] = {"Mode",   "Technik", "Garten", "Reisen", "Bücher", "Spiele", "Sport", "Küche",
                                 "Wohnen", "Auto",    "Musik",  "Büro",   "Kinder", "Tiere",  "Foto",  "Uhren"};
    const char* const Plain[] = {"Versand", "Handel", "Markt", "Direkt", "Online", "Shop", "Center", "Welt"};
    const char* const Umlaut[] = {"Läden", "Grüße", "Möbelhaus", "Bäckerei", "Kaufmännisch", "Gärtnerei"};
    auto Pick = [&](int N) { return std::uniform_int_distribution<int>(0, N - 1)(Random); };
    std::vector<std::string> Categories;
    for (int C = 0; C < CategoryCount(Shops); ++C) {
        std::string Path = std::string(Words[C % 16]) + " " + std::to_string(C);
        const int Levels = 1 + C % 3;
        for (int L = 1; L < Levels; ++L)
            Path += std::string("->") + Words[Pick(16)] + " und " + Plain[Pick(8)];
        Categories.push_back(Path);
    }
    std::string Doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<quorvantis>\n  <version>2.2</version>\n"
                      "  <check>2024-05-01</check>\n  <shops>\n";
    for (int I = 0; I < Shops; ++I) {
        const bool WithUmlaut = Pick(100) < 15;
        const std::string Name = std::string(WithUmlaut ? Umlaut[Pick(6)] : Plain[Pick(8)]) + " " + Words[Pick(16)] +
                                 " " + Plain[Pick(8)] + " " + Words[Pick(16)] + " " + std::to_string(Random() % 100000);
        const std::string Slug =
            "shop" + std::to_string(I) + "-" + Plain[Pick(8)] + "-" + Plain[Pick(8)] + "-gmbh-online";
        Doc += "    <shop id=\"" + std::to_string(I + 1) + "\" name=\"" + Name + "\" site=\"http://www." + Slug +
               ".example.de\" category=\"" + Categories[size_t(Pick(int(Categories.size())))] + "\" ranking=\"" +
               std::to_string(Pick(50) == 0 ? Pick(10) + 1 : 1000) + "\"/>\n";
    }
    Doc += "  </shops>\n  <searchengines><search name=\"Preise\" type=\"preis\"/></searchengines>\n</quorvantis>\n";
    return QByteArray::fromStdString(Doc);
}

const QByteArray& Catalogue(int Shops) {
    static std::map<int, QByteArray> Cache;
    auto It = Cache.find(Shops);
    if (It == Cache.end())
        It = Cache.emplace(Shops, MakeCatalogue(Shops)).first;
    return It->second;
}

std::vector<TPlainShop> ParseFloor(const QByteArray& Bytes) {
    pugi::xml_document Doc;
    if (!Doc.load_buffer(Bytes.constData(), size_t(Bytes.size()), CatalogueParseOptions, pugi::encoding_utf8))
        std::abort();
    std::vector<TPlainShop> Shops;
    for (pugi::xml_node Node : Doc.document_element().child("shops").children("shop"))
        Shops.push_back({Node.attribute("name").value(), Node.attribute("site").value(),
                         Node.attribute("category").value(), Node.attribute("id").as_int(),
                         Node.attribute("ranking").as_int(1000)});
    return Shops;
}

void BM_Load(benchmark::State& State) {
    const QByteArray& Bytes = Catalogue(int(State.range(0)));
    for (auto _ : State) {
        auto C = std::make_unique<TUpdateVersion>();
        if (!C->LoadFromStream(Bytes))
            State.SkipWithError("load failed");
        benchmark::DoNotOptimize(C->SortedShops.data());
        State.PauseTiming();
        C.reset();
        State.ResumeTiming();
    }
    State.counters["bytes/shop"] = double(Bytes.size()) / double(State.range(0));
}

void BM_Floor(benchmark::State& State) {
    const QByteArray& Bytes = Catalogue(int(State.range(0)));
    for (auto _ : State) {
        auto Shops = std::make_unique<std::vector<TPlainShop>>(ParseFloor(Bytes));
        benchmark::DoNotOptimize(Shops->data());
        State.PauseTiming();
        Shops.reset();
        State.ResumeTiming();
    }
}

// Ten levels of ten entity references: 10^10 bytes if anything expanded them.
void BM_EntityBomb(benchmark::State& State) {
    QByteArray Bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE q [\n<!ENTITY l0 \"lol\">\n";
    for (int L = 1; L <= 10; ++L) {
        Bomb += "<!ENTITY l" + QByteArray::number(L) + " \"";
        for (int K = 0; K < 10; ++K)
            Bomb += "&l" + QByteArray::number(L - 1) + ";";
        Bomb += "\">\n";
    }
    Bomb += "]>\n<q><url>&l10;</url><shops><shop name=\"&l10;\"/></shops></q>";
    for (auto _ : State) {
        TUpdateVersion C;
        benchmark::DoNotOptimize(C.LoadFromStream(Bomb));
    }
}

BENCHMARK(BM_Floor)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EntityBomb)->Unit(benchmark::kMicrosecond);

long StatusKb(const char* Field) {
    std::ifstream Status("/proc/self/status");
    std::string Line;
    while (std::getline(Status, Line))
        if (Line.rfind(Field, 0) == 0)
            return std::stol(Line.substr(std::string(Field).size()));
    return -1;
}

// Peak resident growth of one call, measured in a child so earlier runs do not mask it.
template <typename F> long PeakGrowthKb(F&& Work) {
    int Pipe[2];
    if (pipe(Pipe) != 0)
        return -1;
    const pid_t Child = fork();
    if (Child == 0) {
        malloc_trim(0);                                // free heap pages go back, so reuse of them shows as growth
        std::ofstream("/proc/self/clear_refs") << "5"; // resets VmHWM to the current RSS
        const long Before = StatusKb("VmRSS:");
        Work();
        const long Growth = StatusKb("VmHWM:") - Before;
        if (write(Pipe[1], &Growth, sizeof Growth) != sizeof Growth)
            _exit(1);
        _exit(0);
    }
    long Growth = -1;
    if (read(Pipe[0], &Growth, sizeof Growth) != sizeof Growth)
        Growth = -1;
    waitpid(Child, nullptr, 0);
    close(Pipe[0]);
    close(Pipe[1]);
    return Growth;
}

// Floor and load alternately, the fastest of Rounds each (wall-clock ms), so both
// see the same conditions on a machine shared with other work.
std::pair<double, double> InterleavedMillis(const QByteArray& Bytes, int Rounds) {
    using Clock = std::chrono::steady_clock;
    double Floor = 1e300, Load = 1e300;
    for (int R = 0; R < Rounds; ++R) {
        auto Start = Clock::now();
        auto Plain = std::make_unique<std::vector<TPlainShop>>(ParseFloor(Bytes));
        Floor = std::min(Floor, std::chrono::duration<double, std::milli>(Clock::now() - Start).count());
        Plain.reset();
        auto C = std::make_unique<TUpdateVersion>();
        Start = Clock::now();
        C->LoadFromStream(Bytes);
        Load = std::min(Load, std::chrono::duration<double, std::milli>(Clock::now() - Start).count());
    }
    return {Floor, Load};
}
} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    std::printf("\nfastest of 15 alternating runs per size\n%8s %10s %10s %7s %9s %16s %13s %14s\n", "shops",
                "floor ms", "load ms", "ratio", "us/shop", "retained B/shop", "peak load MB", "peak floor MB");
    for (const int N : {1000, 10000, 100000}) {
        const QByteArray& Bytes = Catalogue(N);
        const auto [Floor, Load] = InterleavedMillis(Bytes, 15);

        malloc_trim(0);
        const size_t Before = mallinfo2().uordblks;
        auto C = std::make_unique<TUpdateVersion>();
        C->LoadFromStream(Bytes);
        const double Retained = double(mallinfo2().uordblks - Before) / N;
        C.reset();

        const long PeakLoad = PeakGrowthKb([&] {
            TUpdateVersion Loaded;
            Loaded.LoadFromStream(Bytes);
        });
        const long PeakFloor = PeakGrowthKb([&] { benchmark::DoNotOptimize(ParseFloor(Bytes).size()); });
        std::printf("%8d %10.2f %10.2f %7.2f %9.3f %16.0f %13.1f %14.1f\n", N, Floor, Load, Load / Floor,
                    Load * 1000.0 / N, Retained, PeakLoad / 1024.0, PeakFloor / 1024.0);
    }
    std::printf("document: %.0f bytes per shop element on average\n", double(Catalogue(100000).size()) / 100000.0);
    benchmark::Shutdown();
    return 0;
}
