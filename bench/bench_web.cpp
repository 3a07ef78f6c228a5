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
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

QString BaseURL;
QString RequestLog; // the vendor server's, one line per request

// One moment of a process's memory, in KiB: private (the written pages only this
// process holds, which only its end gives back; private clean pages are file pages
// the kernel may drop at any time, and whether a library's page is private depends
// on what else runs), proportional (shared pages divided among their users), file
// pages resident, and the private written pages of the engine's core library and
// of the heap.
struct TMemory {
    long Private = 0, Pss = 0, File = 0, EngineLibrary = 0, Heap = 0;
};

// The value of a "Key:   123 kB" line, in KiB.
long LineKiB(const char* Line, const char* Key) {
    const size_t Length = std::strlen(Key);
    return std::strncmp(Line, Key, Length) == 0 ? std::atol(Line + Length) : 0;
}

// Reads /proc/<Pid>/ line by line into a fixed buffer: measuring the process
// itself must not grow its heap. Optionally copies smaps to CopyTo.
TMemory Measure(qint64 Pid, const QString& CopyTo = QString()) {
    TMemory Memory;
    const QByteArray Proc = "/proc/" + QByteArray::number(Pid) + '/';
    char Line[1024];
    if (std::FILE* Rollup = std::fopen(Proc + "smaps_rollup", "r")) {
        while (std::fgets(Line, sizeof Line, Rollup)) {
            Memory.Private += LineKiB(Line, "Private_Dirty:");
            Memory.Pss += LineKiB(Line, "Pss:");
        }
        std::fclose(Rollup);
    }
    if (std::FILE* Status = std::fopen(Proc + "status", "r")) {
        while (std::fgets(Line, sizeof Line, Status))
            Memory.File += LineKiB(Line, "RssFile:");
        std::fclose(Status);
    }
    std::FILE* Copy = CopyTo.isEmpty() ? nullptr : std::fopen(QFile::encodeName(CopyTo), "w");
    if (std::FILE* Smaps = std::fopen(Proc + "smaps", "r")) {
        long* Counted = nullptr;
        while (std::fgets(Line, sizeof Line, Smaps)) {
            if (Copy)
                std::fputs(Line, Copy);
            const char* Space = std::strchr(Line, ' ');
            if (Space && Space > Line && Space[-1] != ':') // "start-end perms offset dev inode path"
                Counted = std::strstr(Line, "libQt6WebEngineCore") ? &Memory.EngineLibrary
                          : std::strstr(Line, "[heap]")            ? &Memory.Heap
                                                                   : nullptr;
            else if (Counted)
                *Counted += LineKiB(Line, "Private_Dirty:");
        }
        std::fclose(Smaps);
    }
    if (Copy)
        std::fclose(Copy);
    return Memory;
}

// QV_BENCH_SMAPS_DIR=<folder>: each moment's smaps, to see where the memory went.
QString SmapsCopy(const char* Moment) {
    const QString Folder = qEnvironmentVariable("QV_BENCH_SMAPS_DIR");
    return Folder.isEmpty() ? QString() : Folder + u'/' + QString::fromLatin1(Moment) + QStringLiteral(".smaps");
}

void PrintMemory(const TMemory& Memory) {
    std::printf(" %ld %ld %ld %ld %ld", Memory.Private, Memory.Pss, Memory.File, Memory.EngineLibrary, Memory.Heap);
}

// Each moment's memory (Out[1..], five values each); what hiding left behind is
// hidden minus start, and for the program also hidden minus its state after the
// menu that opens the window was shown once (the menu's own first use aside).
void MemoryCounters(benchmark::State& State, const QList<QByteArray>& Out, const QList<const char*>& Moments) {
    const auto MiB = [&Out](qsizetype Index) { return Out.value(Index).toLong() / 1024.0; };
    qsizetype Index = 1;
    QHash<QByteArray, qsizetype> First;
    for (const char* Moment : Moments) {
        First.insert(Moment, Index);
        for (const char* Kind : {"private", "pss", "file", "engine_lib", "heap"})
            State.counters[std::string(Kind) + '_' + Moment + "_MiB"] = MiB(Index++);
    }
    State.counters["private_kept_MiB"] = MiB(First["hidden"]) - MiB(First["start"]);
    State.counters["pss_kept_MiB"] = MiB(First["hidden"] + 1) - MiB(First["start"] + 1);
    if (First.contains("menu"))
        State.counters["private_kept_after_menu_MiB"] = MiB(First["hidden"]) - MiB(First["menu"]);
}

int PageProcesses(qint64 Self = QCoreApplication::applicationPid()) {
    // Grandchildren: the render processes the engine's zygote forks.
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
    const TMemory Before = Measure(QCoreApplication::applicationPid(), SmapsCopy("start"));
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
    const TMemory WithPage = Measure(QCoreApplication::applicationPid(), SmapsCopy("page"));
    ExistingEbay()->close();
    // The page processes end, then the window hands back the engine's memory.
    QElapsedTimer Wait;
    Wait.start();
    while (PageProcesses() > 0 && Wait.elapsed() < 30000)
        Settle(50);
    Settle(3000);
    const TMemory Hidden = Measure(QCoreApplication::applicationPid(), SmapsCopy("hidden"));
    if (const QString Folder = qEnvironmentVariable("QV_BENCH_SMAPS_DIR"); !Folder.isEmpty()) {
        QFile List(Folder + QStringLiteral("/engine-files"));
        if (List.open(QIODevice::WriteOnly))
            List.write(WebEngineFiles().join('\n') + '\n');
    }
    std::printf("%lld", static_cast<long long>(Shown));
    for (const TMemory& Memory : {Before, WithPage, Hidden})
        PrintMemory(Memory);
    std::printf("\n");
    std::fflush(stdout);
    if (argc > 3 && qstrcmp(argv[3], "--hold") == 0)
        QThread::sleep(20); // time to look at /proc/<pid>/smaps
    return 0;
}

// Child: the settings of a program run against the vendor server, with its log in Install.
int WriteProgramSettings(char** argv) {
    int Count = 1;
    QCoreApplication App(Count, argv);
    WriteSettingString(QString(), QStringLiteral("server"), QString::fromLocal8Bit(argv[2]));
    WriteSettingString(QString(), QStringLiteral("install"), QString::fromLocal8Bit(argv[3]));
    WriteSettingString(QString(), QStringLiteral("lastnews"), QStringLiteral("9999"));
    WriteSettingBool(QString(), QStringLiteral("first"), false);
    WriteSettingInteger(QString(), QStringLiteral("debug"), 3);
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
    MemoryCounters(State, Out, {"start", "page", "hidden"});
}
BENCHMARK(BM_FirstEbayPageShown)->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs) {
    QElapsedTimer Timer;
    Timer.start();
    while (!Condition()) {
        if (Timer.elapsed() > TimeoutMs)
            return false;
        QThread::msleep(100);
    }
    return true;
}

// Runs xdotool; true when it succeeded.
bool XDoTool(const QStringList& Arguments, int TimeoutMs = 10000) {
    QProcess Tool;
    Tool.start(QStringLiteral("xdotool"), Arguments);
    if (!Tool.waitForFinished(TimeoutMs)) {
        Tool.kill();
        Tool.waitForFinished();
        return false;
    }
    return Tool.exitStatus() == QProcess::NormalExit && Tool.exitCode() == 0;
}

// The real program on the X display: its memory once started, with the eBay window
// opened from its menu ("show", then "e") and its page loaded, and after Escape
// closed the window. Measured from outside, so the measuring costs it nothing.
void BM_ProgramEbayWindowMemory(benchmark::State& State) {
    QList<QByteArray> Out;
    for (auto _ : State) {
        QTemporaryDir Home;
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        for (const char* Name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            Env.insert(QString::fromLatin1(Name), Home.path() + u'/' + QString::fromLatin1(Name));
        Env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        const QString Install = Home.path() + QStringLiteral("/install/");
        QDir().mkpath(Install);
        QProcess Settings;
        Settings.setProcessEnvironment(Env);
        Settings.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--settings-child"), BaseURL, Install});
        Settings.waitForFinished(30000);

        const QString ProgramFile = QCoreApplication::applicationDirPath() + QStringLiteral("/quorvantis");
        QProcess Program;
        Program.setProcessEnvironment(Env);
        Program.setStandardOutputFile(QProcess::nullDevice());
        Program.setStandardErrorFile(QProcess::nullDevice());
        Program.start(ProgramFile, {});
        const auto LogHas = [&](const char* Text) {
            QFile Log(Install + QStringLiteral("Quorvantis.log"));
            return Log.open(QIODevice::ReadOnly) && Log.readAll().contains(Text);
        };
        const auto Banners = [] {
            QFile Records(RequestLog);
            return Records.open(QIODevice::ReadOnly) ? Records.readAll().count("/banner.html") : 0;
        };
        const qsizetype BannersBefore = Banners();
        const char* Failed = nullptr;
        const auto Step = [&Failed](bool Done, const char* What) {
            if (!Done && !Failed)
                Failed = What;
            return !Failed;
        };
        Step(WaitFor([&] { return LogHas("|DEBUG|Started"); }, 60000), "the program did not start");
        QThread::sleep(3); // the program settles after its start (icons, first timers)
        const TMemory Before = Measure(Program.processId(), SmapsCopy("program-start"));
        // No notification area here: "show" pops the menu up, "e" picks "&eBay Galerie".
        const QStringList Menu{QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--class"),
                               QStringLiteral("quorvantis")};
        const auto PressInMenu = [&](const QString& Key) {
            QProcess Show;
            Show.setProcessEnvironment(Env);
            Show.start(ProgramFile, {QStringLiteral("show")});
            const bool Shown = WaitFor([&] { return XDoTool(Menu); }, 5000);
            if (Shown)
                XDoTool({QStringLiteral("key"), Key});
            Show.waitForFinished(5000);
            return Shown;
        };
        Step(!Failed && WaitFor([&] { return PressInMenu(QStringLiteral("Escape")); }, 30000) &&
                 WaitFor([&] { return !XDoTool(Menu); }, 10000),
             "the menu did not open and close");
        QThread::sleep(2);
        const TMemory AfterMenu = Measure(Program.processId(), SmapsCopy("program-menu"));
        const auto OpenEbay = [&] {
            PressInMenu(QStringLiteral("e"));
            return WaitFor([&] { return Banners() > BannersBefore; }, 5000);
        };
        Step(!Failed && WaitFor(OpenEbay, 60000), "the eBay page was not requested");
        QThread::sleep(2); // the page drawn
        const TMemory WithPage = Measure(Program.processId(), SmapsCopy("program-page"));
        const QStringList Window{QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                 QStringLiteral("^eBay Galerie$")};
        const auto CloseWindow = [&] {
            return XDoTool(Window + QStringList{QStringLiteral("key"), QStringLiteral("--window"), QStringLiteral("%1"),
                                                QStringLiteral("Escape")});
        };
        Step(!Failed && WaitFor(CloseWindow, 20000), "no eBay window to close");
        const auto Closed = [&] { return !XDoTool(Window) && PageProcesses(Program.processId()) == 0; };
        Step(!Failed && WaitFor(Closed, 30000), "the eBay window did not close");
        QThread::sleep(5); // the window hands the engine's memory back 2 s after it closed
        const TMemory Hidden = Measure(Program.processId(), SmapsCopy("program-hidden"));
        Program.terminate();
        Program.waitForFinished(30000);
        if (Failed) {
            State.SkipWithError(Failed);
            return;
        }
        Out = {QByteArray()};
        for (const TMemory& Memory : {Before, AfterMenu, WithPage, Hidden})
            for (long Value : {Memory.Private, Memory.Pss, Memory.File, Memory.EngineLibrary, Memory.Heap})
                Out.append(QByteArray::number(static_cast<qlonglong>(Value)));
    }
    MemoryCounters(State, Out, {"start", "menu", "page", "hidden"});
}
BENCHMARK(BM_ProgramEbayWindowMemory)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

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
    if (argc >= 4 && qstrcmp(argv[1], "--settings-child") == 0)
        return WriteProgramSettings(argv);
    QCoreApplication App(argc, argv);
    QTemporaryDir Content;
    QProcess Server;
    RequestLog = Content.path() + QStringLiteral("/requests.log");
    Server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/quorvantis-vendor-server"),
                 {QStringLiteral("--content"), QStringLiteral(QUORVANTIS_SOURCE_DIR "/resources/vendor"),
                  QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--records"),
                  Content.path() + QStringLiteral("/records.jsonl"), QStringLiteral("--request-log"), RequestLog});
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
