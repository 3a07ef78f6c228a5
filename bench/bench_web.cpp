// The first eBay page shown (web module loaded, engine started, page loaded) in a
// fresh process, beside a minimal QWebEngineView loading the same page in a fresh
// process; and the program's memory before, with and after the eBay window.
// Needs an X display (run under xvfb-run) and the local vendor server.
#include "uRegistry.h"
#include "uTProgram.h"
#include "uWebModule.h"
#include "ufrmEbay.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

QString BaseURL;

// A "Key:   123 kB" line of a /proc file, in KiB.
long ProcKiB(const QByteArray& Text, const char* Key) {
    for (const QByteArray& Line : Text.split('\n'))
        if (Line.startsWith(Key))
            return Line.mid(qstrlen(Key)).trimmed().split(' ').value(0).toLong();
    return -1;
}

QByteArray ReadProc(const char* File) {
    QFile Proc(QString::fromLatin1(File));
    return Proc.open(QIODevice::ReadOnly) ? Proc.readAll() : QByteArray();
}

// Private written KiB of the mappings whose path contains Part ("[heap]" for the heap).
long PrivateKiBOf(const QByteArray& Smaps, const QByteArray& Part) {
    long Sum = 0;
    bool Matching = false;
    for (const QByteArray& Line : Smaps.split('\n')) {
        const qsizetype Space = Line.indexOf(' ');
        if (Space <= 0)
            continue;
        if (Line.at(Space - 1) != ':') { // "start-end perms offset dev inode path"
            Matching = Line.contains(Part);
            continue;
        }
        if (Matching && Line.startsWith("Private_Dirty:"))
            Sum += Line.mid(14).trimmed().split(' ').value(0).toLong();
    }
    return Sum;
}

// One moment of the child's memory, in KiB: private (the written pages only this
// process holds, which only its end gives back; private clean pages are file pages
// the kernel may drop at any time, and whether a library's page is private depends
// on what else runs), proportional (shared pages divided among their users), file
// pages resident, and the private written pages of the engine's core library and
// of the heap.
struct TMemory {
    long Private, Pss, File, EngineLibrary, Heap;
};

TMemory Measure(const char* Phase) {
    const QByteArray Rollup = ReadProc("/proc/self/smaps_rollup");
    const QByteArray Smaps = ReadProc("/proc/self/smaps");
    // QV_BENCH_SMAPS_DIR=<folder>: each moment's /proc/self/smaps, to see where it went.
    if (const QString Folder = qEnvironmentVariable("QV_BENCH_SMAPS_DIR"); !Folder.isEmpty()) {
        QFile Copy(Folder + u'/' + QString::fromLatin1(Phase) + QStringLiteral(".smaps"));
        if (Copy.open(QIODevice::WriteOnly))
            Copy.write(Smaps);
    }
    return {ProcKiB(Rollup, "Private_Dirty:"), ProcKiB(Rollup, "Pss:"),
            ProcKiB(ReadProc("/proc/self/status"), "RssFile:"), PrivateKiBOf(Smaps, "libQt6WebEngineCore"),
            PrivateKiBOf(Smaps, "[heap]")};
}

int PageProcesses() {
    // Grandchildren: the render processes the engine's zygote forks.
    const qint64 Self = QCoreApplication::applicationPid();
    QHash<qint64, qint64> Parent;
    for (const QString& Entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool Number = false;
        const qint64 Pid = Entry.toLongLong(&Number);
        QFile Stat(QStringLiteral("/proc/") + Entry + QStringLiteral("/stat"));
        if (!Number || !Stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray Text = Stat.readAll();
        Parent.insert(Pid, Text.mid(Text.lastIndexOf(')') + 2).split(' ').value(1).toLongLong());
    }
    int Count = 0;
    for (auto It = Parent.cbegin(); It != Parent.cend(); ++It)
        Count += Parent.value(It.value()) == Self ? 1 : 0;
    return Count;
}

void Settle(int Ms) {
    QElapsedTimer Wait;
    Wait.start();
    while (Wait.elapsed() < Ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
}

// Child: show the eBay window; prints the time to the loaded page, then the memory
// (see TMemory) before the window was first shown, with its page, and after hiding.
int RunEbayChild(int argc, char** argv) {
    PrepareWebEngineEnvironment();
    QApplication App(argc, argv);
    WriteSettingString(QString(), QStringLiteral("server"), QString::fromLocal8Bit(argv[2]));
    TProgram Program;
    Settle(500);
    const TMemory Before = Measure("start");
    QElapsedTimer Timer;
    Timer.start();
    ShowEbay(Program);
    QWidget* View = nullptr;
    for (QWidget* Widget : ExistingEbay()->findChildren<QWidget*>())
        if (Widget->inherits("QWebEngineView"))
            View = Widget;
    if (!View)
        return 1;
    QObject::connect(View, SIGNAL(loadFinished(bool)), &App, SLOT(quit()));
    QTimer::singleShot(60000, &App, &QCoreApplication::quit);
    App.exec();
    const qint64 Shown = Timer.elapsed();
    const TMemory WithPage = Measure("page");
    ExistingEbay()->close();
    // The page processes end, then the window hands back the engine's memory.
    QElapsedTimer Wait;
    Wait.start();
    while (PageProcesses() > 0 && Wait.elapsed() < 30000)
        Settle(50);
    Settle(3000);
    const TMemory Hidden = Measure("hidden");
    if (const QString Folder = qEnvironmentVariable("QV_BENCH_SMAPS_DIR"); !Folder.isEmpty()) {
        QFile List(Folder + QStringLiteral("/engine-files"));
        if (List.open(QIODevice::WriteOnly))
            List.write(WebEngineFiles().join('\n') + '\n');
    }
    std::printf("%lld", static_cast<long long>(Shown));
    for (const TMemory& Memory : {Before, WithPage, Hidden})
        std::printf(" %ld %ld %ld %ld %ld", Memory.Private, Memory.Pss, Memory.File, Memory.EngineLibrary, Memory.Heap);
    std::printf("\n");
    std::fflush(stdout);
    if (argc > 3 && qstrcmp(argv[3], "--hold") == 0)
        QThread::sleep(20); // time to look at /proc/<pid>/smaps
    return 0;
}

QList<QByteArray> RunChild(const QString& Program, const QStringList& Arguments, const QTemporaryDir& Home) {
    QProcess Child;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    for (const char* Name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        Env.insert(QString::fromLatin1(Name), Home.path() + u'/' + QString::fromLatin1(Name));
    Env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    Child.setProcessEnvironment(Env);
    Child.start(Program, Arguments);
    Child.waitForFinished(90000);
    return Child.readAllStandardOutput().trimmed().split(' ');
}

void BM_FirstEbayPageShown(benchmark::State& State) {
    QList<QByteArray> Out;
    for (auto _ : State) {
        QTemporaryDir Home;
        Out = RunChild(QCoreApplication::applicationFilePath(), {QStringLiteral("--ebay-child"), BaseURL}, Home);
        if (Out.size() < 16) {
            State.SkipWithError("child failed");
            return;
        }
        State.SetIterationTime(Out[0].toDouble() / 1000.0);
    }
    const auto MiB = [&Out](int Index) { return Out.value(Index).toLong() / 1024.0; };
    // Before the window was first shown, with its page, after hiding it; and what
    // hiding left behind (hidden minus before).
    int Index = 1;
    for (const char* Phase : {"start", "page", "hidden"})
        for (const char* Kind : {"private", "pss", "file", "engine_lib", "heap"})
            State.counters[std::string(Kind) + '_' + Phase + "_MiB"] = MiB(Index++);
    State.counters["private_kept_MiB"] = MiB(11) - MiB(1);
    State.counters["pss_kept_MiB"] = MiB(12) - MiB(2);
}
BENCHMARK(BM_FirstEbayPageShown)->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

void BM_MinimalWebEngineView(benchmark::State& State) {
    for (auto _ : State) {
        QTemporaryDir Home;
        const QList<QByteArray> Out =
            RunChild(QCoreApplication::applicationDirPath() + QStringLiteral("/minimal_webview"),
                     {BaseURL + QStringLiteral("/banner.html?search=Zara&category=11450")}, Home);
        if (Out.size() < 2) {
            State.SkipWithError("child failed");
            return;
        }
        State.SetIterationTime(Out[0].toDouble() / 1000.0);
    }
}
BENCHMARK(BM_MinimalWebEngineView)->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && qstrcmp(argv[1], "--ebay-child") == 0)
        return RunEbayChild(argc, argv);
    QCoreApplication App(argc, argv);
    QTemporaryDir Content;
    QProcess Server;
    Server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/quorvantis-vendor-server"),
                 {QStringLiteral("--content"), QStringLiteral(QUORVANTIS_SOURCE_DIR "/resources/vendor"),
                  QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--records"),
                  Content.path() + QStringLiteral("/records.jsonl")});
    Server.waitForReadyRead(10000);
    BaseURL = QString::fromLatin1(Server.readLine().trimmed()).section(u' ', -1);
    if (!BaseURL.startsWith(QStringLiteral("http://"))) {
        std::fprintf(stderr, "vendor server did not start\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Server.terminate();
    Server.waitForFinished();
    return 0;
}
