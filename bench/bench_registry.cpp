// Costs of the settings store and the log: a read and a write on the thread's kept
// connection, reads inside one read transaction, a read that has to open the
// database first, enumerating keys, and one log line.
#include "uRegistry.h"
#include "uTLogger.h"

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

// Every benchmark works in its own temporary config and data folders.
class TBenchEnvironment final {
public:
    TBenchEnvironment() {
        qputenv("XDG_CONFIG_HOME", (FDir.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (FDir.path() + "/data").toUtf8());
        for (int I = 0; I < 50; ++I) {
            WriteSettingString(QStringLiteral("favorites\\Shop %1").arg(I), "url", "http://shop.example/");
            WriteSettingInteger(QStringLiteral("favorites\\Shop %1").arg(I), "icon", I);
        }
        WriteSettingInteger("", "debug", 1);
    }
    QString Path() const { return FDir.path(); }

private:
    QTemporaryDir FDir;
};

void BM_ReadString(benchmark::State& State) {
    TBenchEnvironment Env;
    for (auto _ : State)
        benchmark::DoNotOptimize(ReadSettingString("favorites\\Shop 7", "url", QString()));
}
BENCHMARK(BM_ReadString);

void BM_ReadInteger(benchmark::State& State) {
    TBenchEnvironment Env;
    for (auto _ : State)
        benchmark::DoNotOptimize(ReadSettingInteger("", "debug", 1));
}
BENCHMARK(BM_ReadInteger);

void BM_ReadMissingValue(benchmark::State& State) {
    TBenchEnvironment Env;
    for (auto _ : State)
        benchmark::DoNotOptimize(ReadSettingBool("categories\\Mode->Schuhe", "Shop X", true));
}
BENCHMARK(BM_ReadMissingValue);

void BM_ReadInsideTransaction(benchmark::State& State) {
    TBenchEnvironment Env;
    TSettingsReadTransaction Transaction;
    for (auto _ : State)
        benchmark::DoNotOptimize(ReadSettingString("favorites\\Shop 7", "url", QString()));
}
BENCHMARK(BM_ReadInsideTransaction);

// What a menu build does: one transaction around all link reads.
void BM_MenuLinksInOneTransaction(benchmark::State& State) {
    TBenchEnvironment Env;
    for (auto _ : State) {
        TSettingsReadTransaction Transaction;
        for (const QString& Name : GetSettingsKeyNames("favorites")) {
            benchmark::DoNotOptimize(ReadSettingString("favorites\\" + Name, "url", QString()));
            benchmark::DoNotOptimize(ReadSettingInteger("favorites\\" + Name, "icon", 0));
        }
    }
    State.SetItemsProcessed(State.iterations() * 101);
}
BENCHMARK(BM_MenuLinksInOneTransaction);

void BM_WriteInteger(benchmark::State& State) {
    TBenchEnvironment Env;
    int I = 0;
    for (auto _ : State)
        WriteSettingInteger("", "handle", ++I);
}
BENCHMARK(BM_WriteInteger);

void BM_WriteNewLinkAndDelete(benchmark::State& State) {
    TBenchEnvironment Env;
    for (auto _ : State) {
        WriteSettingString("favorites\\Bench Link", "url", "http://bench.example/");
        DeleteSettingsKey("favorites\\Bench Link");
    }
}
BENCHMARK(BM_WriteNewLinkAndDelete);

// Switching between two config folders forces every read to close the kept
// connection and open (and check) the other database: open+read+close.
void BM_OpenReadClose(benchmark::State& State) {
    TBenchEnvironment First;
    const QByteArray FirstConfig = qgetenv("XDG_CONFIG_HOME");
    TBenchEnvironment Second;
    const QByteArray SecondConfig = qgetenv("XDG_CONFIG_HOME");
    bool Flip = false;
    for (auto _ : State) {
        Flip = !Flip;
        qputenv("XDG_CONFIG_HOME", Flip ? FirstConfig : SecondConfig);
        benchmark::DoNotOptimize(ReadSettingString("favorites\\Shop 7", "url", QString()));
    }
}
BENCHMARK(BM_OpenReadClose);

void BM_LogLine(benchmark::State& State) {
    TBenchEnvironment Env;
    TLogger Logger(TLogger::llError, false, "Bench");
    for (auto _ : State)
        Logger.Error("LoadFavicon /tmp/icons/17.ico: the file is not an icon");
}
BENCHMARK(BM_LogLine);

void BM_LogLineFiltered(benchmark::State& State) {
    TBenchEnvironment Env;
    TLogger Logger(TLogger::llError, false, "Bench");
    for (auto _ : State)
        Logger.Debug("not written");
}
BENCHMARK(BM_LogLineFiltered);

} // namespace

BENCHMARK_MAIN();
