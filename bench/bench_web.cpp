// The first eBay page shown (web module loaded, engine started, page loaded) in a
// fresh process, beside a minimal QWebEngineView loading the same page in a fresh
// process; and the program's memory before, with and after the eBay window.
// Needs an X display (run under xvfb-run) and the local vendor server.
#include "uRegistry.h"
#include "uTProgram.h"
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

long StatusKiB(const char* Key, const char* File = "/proc/self/status") {
    QFile Status(QString::fromLatin1(File));
    if (!Status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith(Key))
            return Line.mid(qstrlen(Key)).trimmed().split(' ').value(0).toLong();
    return -1;
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

// Child: show the eBay window; reports the time to the loaded page and the
// anonymous and file-backed resident memory before, with the page and after hiding.
int RunEbayChild(int argc, char** argv) {
    QApplication App(argc, argv);
    WriteSettingString(QString(), QStringLiteral("server"), QString::fromLocal8Bit(argv[2]));
    const long Before = StatusKiB("RssAnon:");
    const long BeforeFile = StatusKiB("RssFile:");
    const long BeforePss = StatusKiB("Pss:", "/proc/self/smaps_rollup");
    QElapsedTimer Timer;
    Timer.start();
    TProgram Program;
    ShowEbay(Program);
    QWidget* View = nullptr;
    for (QWidget* Widget : ExistingEbay()->findChildren<QWidget*>())
        if (Widget->inherits("QWebEngineView"))
            View = Widget;
    if (!View)
        return 1;
    qint64 Shown = -1;
    QObject::connect(View, SIGNAL(loadFinished(bool)), &App, SLOT(quit()));
    QTimer::singleShot(60000, &App, &QCoreApplication::quit);
    App.exec();
    Shown = Timer.elapsed();
    const long WithPage = StatusKiB("RssAnon:");
    const long WithPageFile = StatusKiB("RssFile:");
    const long WithPagePss = StatusKiB("Pss:", "/proc/self/smaps_rollup");
    ExistingEbay()->close();
    QElapsedTimer Wait;
    Wait.start();
    while ((PageProcesses() > 0 || Wait.elapsed() < 3000) && Wait.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
    std::printf("%lld %ld %ld %ld %ld %ld %ld %ld %ld %ld\n", static_cast<long long>(Shown), Before, WithPage,
                StatusKiB("RssAnon:"), BeforeFile, WithPageFile, StatusKiB("RssFile:"), BeforePss, WithPagePss,
                StatusKiB("Pss:", "/proc/self/smaps_rollup"));
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
    long Before = 0, Shown = 0, After = 0, BeforeFile = 0, ShownFile = 0, AfterFile = 0;
    long BeforePss = 0, ShownPss = 0, AfterPss = 0;
    for (auto _ : State) {
        QTemporaryDir Home;
        const QList<QByteArray> Out =
            RunChild(QCoreApplication::applicationFilePath(), {QStringLiteral("--ebay-child"), BaseURL}, Home);
        if (Out.size() < 10) {
            State.SkipWithError("child failed");
            return;
        }
        State.SetIterationTime(Out[0].toDouble() / 1000.0);
        Before = Out[1].toLong();
        Shown = Out[2].toLong();
        After = Out[3].toLong();
        BeforeFile = Out[4].toLong();
        ShownFile = Out[5].toLong();
        AfterFile = Out[6].toLong();
        BeforePss = Out[7].toLong();
        ShownPss = Out[8].toLong();
        AfterPss = Out[9].toLong();
    }
    // Private memory (anonymous pages), pages of mapped files (the engine's
    // libraries, which the kernel can drop and read back at any time), and the
    // proportional set size (shared pages divided among the processes sharing them).
    State.counters["anon_start_MiB"] = Before / 1024.0;
    State.counters["anon_page_MiB"] = Shown / 1024.0;
    State.counters["anon_hidden_MiB"] = After / 1024.0;
    State.counters["file_start_MiB"] = BeforeFile / 1024.0;
    State.counters["file_page_MiB"] = ShownFile / 1024.0;
    State.counters["file_hidden_MiB"] = AfterFile / 1024.0;
    State.counters["pss_start_MiB"] = BeforePss / 1024.0;
    State.counters["pss_page_MiB"] = ShownPss / 1024.0;
    State.counters["pss_hidden_MiB"] = AfterPss / 1024.0;
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
