// Whole-process start-up: from fork to "Started" of the real program (empty
// store but the log threshold, offscreen, temporary XDG folders), beside a bare
// QApplication with a tray icon and a menu; and second starts with a large
// catalogue (and its icons) on disk, with the memory at "Started". Wall time per start, measured by the
// benchmark's manual timer.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <unistd.h>

namespace {

QString BinDir() {
    return QCoreApplication::applicationDirPath();
}

QProcessEnvironment Environment(const QTemporaryDir& Dir) {
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const char* Name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"}) {
        const QString Path = Dir.path() + "/" + Name;
        QDir().mkpath(Path);
        Env.insert(Name, Path);
    }
    return Env;
}

// Starts the program once so that it creates its settings store, waits until the
// store holds the program's own key, then ends it and writes only what a
// measurement needs: the DEBUG threshold, and a vendor address on this machine
// that refuses at once (the real one would be a name lookup that leaves it).
bool PrepareStore(const QProcessEnvironment& Env, const char* ExtraSql = "") {
    const QString Db = Env.value("XDG_CONFIG_HOME") + "/Quorvantis/registry.db";
    auto HasProgramKey = [&] {
        sqlite3* Handle = nullptr;
        bool Found = false;
        if (QFile::exists(Db) &&
            sqlite3_open_v2(QFile::encodeName(Db).constData(), &Handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(Handle, 1000);
            sqlite3_stmt* S = nullptr;
            Found = sqlite3_prepare_v2(Handle, "SELECT 1 FROM reg_key WHERE id = 1", -1, &S, nullptr) == SQLITE_OK &&
                    sqlite3_step(S) == SQLITE_ROW;
            sqlite3_finalize(S);
        }
        sqlite3_close(Handle);
        return Found;
    };
    {
        QProcess Init;
        Init.setProcessEnvironment(Env);
        Init.start(BinDir() + "/../quorvantis", {});
        Init.waitForStarted();
        QElapsedTimer Waited;
        Waited.start();
        while (!HasProgramKey() && Waited.elapsed() < 10000)
            QThread::msleep(5);
        if (Init.processId() > 0) // never pid 0: that is our whole process group
            ::kill(static_cast<pid_t>(Init.processId()), SIGKILL);
        Init.waitForFinished();
    }
    sqlite3* Handle = nullptr;
    sqlite3_open(QFile::encodeName(Db).constData(), &Handle);
    const QByteArray Sql = QByteArray("DELETE FROM reg_value; INSERT INTO reg_value VALUES(1,'debug','DEBUG',3);"
                                      "INSERT INTO reg_value VALUES(1,'server','SERVER','http://127.0.0.1:9');") +
                           ExtraSql;
    const bool Written = sqlite3_exec(Handle, Sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(Handle);
    return Written;
}

// Starts the program and polls its log for the "Started" line; the time it took,
// or a negative number when it never came within LimitMs.
double SecondsToStarted(QProcess& P, const QProcessEnvironment& Env, const QString& Log, int LimitMs) {
    QFile::remove(Log);
    P.setProcessEnvironment(Env);
    QElapsedTimer Timer;
    Timer.start();
    P.start(BinDir() + "/../quorvantis", {});
    P.waitForStarted();
    while (Timer.elapsed() < LimitMs) {
        QFile F(Log);
        if (F.open(QIODevice::ReadOnly) && F.readAll().contains("|DEBUG|Started"))
            return Timer.nsecsElapsed() / 1e9;
        QThread::usleep(200);
    }
    return -1;
}

void EndProgram(QProcess& P) {
    if (P.processId() > 0)
        ::kill(static_cast<pid_t>(P.processId()), SIGTERM);
    P.waitForFinished();
}

// The real program: wait for its "Started" log line, then SIGTERM it.
void BM_ProgramStartToStarted(benchmark::State& State) {
    for (auto _ : State) {
        QTemporaryDir Dir;
        const QProcessEnvironment Env = Environment(Dir);
        if (!PrepareStore(Env)) {
            State.SkipWithError("the settings store could not be prepared");
            break;
        }
        QProcess P;
        const double Seconds =
            SecondsToStarted(P, Env, Env.value("XDG_DATA_HOME") + "/Quorvantis/Quorvantis.log", 30000);
        State.SetIterationTime(std::max(Seconds, 0.0));
        EndProgram(P);
        if (Seconds < 0)
            State.SkipWithError("no Started line");
    }
}
BENCHMARK(BM_ProgramStartToStarted)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// Quitting: from SIGTERM (the same orderly shutdown as "Beenden") to the end of the process,
// with the catalogue and its icon thread running.
void BM_ProgramQuit(benchmark::State& State) {
    for (auto _ : State) {
        QTemporaryDir Dir;
        const QProcessEnvironment Env = Environment(Dir);
        if (!PrepareStore(Env)) {
            State.SkipWithError("the settings store could not be prepared");
            break;
        }
        QProcess P;
        if (SecondsToStarted(P, Env, Env.value("XDG_DATA_HOME") + "/Quorvantis/Quorvantis.log", 30000) < 0) {
            EndProgram(P);
            State.SkipWithError("no Started line");
            break;
        }
        QElapsedTimer Timer;
        Timer.start();
        EndProgram(P);
        State.SetIterationTime(Timer.nsecsElapsed() / 1e9);
    }
}
BENCHMARK(BM_ProgramQuit)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// The same while the icon of a shop is being looked up behind a name server that never answers
// (a network namespace whose resolver sits on a silent link; needs root and iproute2).
void BM_ProgramQuitWhileANameLookupHangs(benchmark::State& State) {
    const QString Namespace = "qvbench" + QString::number(::getpid());
    const auto Shell = [](const QString& Command) { return QProcess::execute("/bin/sh", {"-c", Command}); };
    if (::geteuid() != 0 ||
        Shell(QStringLiteral("mkdir -p /etc/netns/%1 && echo 'nameserver 10.233.0.53' > /etc/netns/%1/resolv.conf && "
                             "ip netns add %1 && ip netns exec %1 ip link set lo up && ip link add %1a type veth peer "
                             "name %1b && ip link set %1b netns %1 && ip link set %1a up && ip netns exec %1 ip addr "
                             "add 10.233.0.1/24 dev %1b && ip netns exec %1 ip link set %1b up")
                  .arg(Namespace)) != 0) {
        State.SkipWithError("needs root and iproute2");
        Shell(QStringLiteral("ip link del %1a; ip netns del %1; rm -rf /etc/netns/%1 2>/dev/null").arg(Namespace));
        return;
    }
    for (auto _ : State) {
        QTemporaryDir Dir;
        QProcessEnvironment Env = Environment(Dir);
        const QString Folder = Env.value("XDG_DATA_HOME") + "/Quorvantis/";
        QDir().mkpath(Folder);
        QFile Catalogue(Folder + "quorvantis.xml");
        if (!PrepareStore(Env) || !Catalogue.open(QIODevice::WriteOnly) ||
            Catalogue.write("<q><version>2.2</version><check>2099-01-01</check><shops><shop id=\"1\" name=\"A\" "
                            "site=\"http://www.a.example\" category=\"K\"/></shops></q>") < 0) {
            State.SkipWithError("the store could not be prepared");
            break;
        }
        Catalogue.close();
        QProcess P;
        P.setProcessEnvironment(Env);
        P.start("ip", {"netns", "exec", Namespace, BinDir() + "/../quorvantis"});
        P.waitForStarted();
        // The lookup runs in Qt's pooled thread: wait until it is there.
        QElapsedTimer Waited;
        Waited.start();
        bool Looking = false;
        while (!Looking && Waited.elapsed() < 20000) {
            const QString Tasks = QStringLiteral("/proc/%1/task").arg(P.processId());
            for (const QString& Task : QDir(Tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QFile Name(Tasks + "/" + Task + "/comm");
                Looking = Looking || (Name.open(QIODevice::ReadOnly) && Name.readAll().startsWith("Thread (pooled)"));
            }
            QThread::msleep(5);
        }
        QElapsedTimer Timer;
        Timer.start();
        EndProgram(P);
        State.SetIterationTime(Timer.nsecsElapsed() / 1e9);
        if (!Looking) {
            State.SkipWithError("no name lookup started");
            break;
        }
    }
    Shell(QStringLiteral("ip link del %1a; ip netns del %1; rm -rf /etc/netns/%1").arg(Namespace));
}
BENCHMARK(BM_ProgramQuitWhileANameLookupHangs)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// A catalogue of Shops shops in 300 categories (two levels), as the vendor sends it.
QByteArray GeneratedCatalogue(int Shops) {
    QByteArray Xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<q><version>2.2</version><check>2099-01-01</check>"
                     "<shops>\n";
    for (int I = 0; I < Shops; ++I) {
        const int Category = I % 300;
        Xml += "<shop id=\"" + QByteArray::number(I + 1) + "\" name=\"H\xC3\xA4ndler " + QByteArray::number(I) +
               "\" site=\"http://127.0.0.1:9/s" + QByteArray::number(I) + "\" category=\"Bereich " +
               QByteArray::number(Category % 20) + "->Gruppe " + QByteArray::number(Category) + "\" ranking=\"" +
               QByteArray::number(I % 50) + "\"/>\n";
    }
    return Xml + "</shops></q>\n";
}

// A 16x16 32-bit ICO of one colour: every shop its own picture.
QByteArray DistinctIco(int Seed) {
    QByteArray Ico(6 + 16 + 40, '\0');
    Ico[2] = 1;
    Ico[4] = 1;
    Ico[6] = Ico[7] = 16;
    Ico[10] = 1;
    Ico[12] = 32;
    const quint32 Size = 40 + 16 * 16 * 4 + 16 * 4;
    std::memcpy(Ico.data() + 14, &Size, 4);
    const quint32 Offset = 22;
    std::memcpy(Ico.data() + 18, &Offset, 4);
    char* Header = Ico.data() + 22;
    const qint32 Values[3] = {40, 16, 32};
    std::memcpy(Header, Values, 12);
    Header[12] = 1;
    Header[14] = 32;
    const char Pixel[4] = {char(Seed & 0xFF), char((Seed >> 8) & 0xFF), char((Seed >> 16) & 0xFF), char(0xFF)};
    for (int P = 0; P < 16 * 16; ++P)
        Ico.append(Pixel, 4);
    return Ico + QByteArray(16 * 4, '\0');
}

// Resident and private kilobytes of a process.
std::pair<double, double> MemoryKB(qint64 Pid) {
    QFile Rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(Pid));
    double Rss = 0;
    double Private = 0;
    if (!Rollup.open(QIODevice::ReadOnly))
        return {0, 0};
    for (const QByteArray& Line : Rollup.readAll().split('\n')) {
        const QList<QByteArray> Parts = Line.simplified().split(' ');
        if (Parts.size() < 2)
            continue;
        if (Parts[0] == "Rss:")
            Rss = Parts[1].toDouble();
        else if (Parts[0] == "Private_Clean:" || Parts[0] == "Private_Dirty:")
            Private += Parts[1].toDouble();
    }
    return {Rss, Private};
}

// CPU milliseconds a process has used so far (user + system): on a loaded
// machine a steadier measure than the wall time.
double CpuMs(qint64 Pid) {
    QFile Stat(QStringLiteral("/proc/%1/stat").arg(Pid));
    if (!Stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray Text = Stat.readAll();
    // Fields after the command name in parentheses; utime and stime are the 14th and 15th.
    const QList<QByteArray> Fields = Text.mid(Text.lastIndexOf(')') + 2).split(' ');
    if (Fields.size() < 13)
        return 0;
    const double Ticks = Fields[11].toDouble() + Fields[12].toDouble();
    return Ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// One prepared home per size: the store (a vendor address that refuses at once,
// so the catalogue file is what loads), the catalogue file and, when asked, an
// icon file for every shop. Every start after the first is a second start.
struct TPreparedHome {
    QTemporaryDir Dir;
    QProcessEnvironment Env;
    QString Log;
};

TPreparedHome& PreparedHome(int Shops, bool Icons) {
    static std::map<std::pair<int, bool>, std::unique_ptr<TPreparedHome>> Homes;
    std::unique_ptr<TPreparedHome>& Home = Homes[{Shops, Icons}];
    if (Home)
        return *Home;
    Home = std::make_unique<TPreparedHome>();
    Home->Env = Environment(Home->Dir);
    const QString Install = Home->Env.value("XDG_DATA_HOME") + "/Quorvantis/";
    Home->Log = Install + "Quorvantis.log";
    PrepareStore(Home->Env, "INSERT INTO reg_value VALUES(1,'first','FIRST',0);");
    QDir().mkpath(Install + "icons");
    QFile Catalogue(Install + "quorvantis.xml");
    Catalogue.open(QIODevice::WriteOnly);
    Catalogue.write(GeneratedCatalogue(Shops));
    Catalogue.close();
    for (int Id = 1; Icons && Id <= Shops; ++Id) {
        QFile Icon(Install + "icons/" + QString::number(Id) + ".ico");
        Icon.open(QIODevice::WriteOnly);
        Icon.write(DistinctIco(Id * 2654435761u >> 8));
    }
    return *Home;
}

// The real program with a catalogue of range(0) shops on disk (and an icon file
// per shop when range(1) is 1): time to "Started" and the memory at that moment.
void BM_StartWithCatalogue(benchmark::State& State) {
    TPreparedHome& Home = PreparedHome(static_cast<int>(State.range(0)), State.range(1) != 0);
    double Rss = 0;
    double Private = 0;
    double Cpu = 0;
    for (auto _ : State) {
        QProcess P;
        const double Seconds = SecondsToStarted(P, Home.Env, Home.Log, 60000);
        State.SetIterationTime(std::max(Seconds, 0.0));
        std::tie(Rss, Private) = MemoryKB(P.processId());
        Cpu = CpuMs(P.processId());
        EndProgram(P);
        if (Seconds < 0)
            State.SkipWithError("no Started line");
    }
    State.counters["resident_MB"] = Rss / 1024;
    State.counters["private_MB"] = Private / 1024;
    State.counters["cpu_ms"] = Cpu;
}
BENCHMARK(BM_StartWithCatalogue)
    ->Args({1000, 0})
    ->Args({10000, 0})
    ->Args({100000, 0})
    ->Args({1000, 1})
    ->Args({10000, 1})
    ->Args({100000, 1})
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

void BM_BareTrayApplication(benchmark::State& State) {
    for (auto _ : State) {
        QTemporaryDir Dir;
        QProcess P;
        P.setProcessEnvironment(Environment(Dir));
        QElapsedTimer Timer;
        Timer.start();
        P.start(BinDir() + "/bench_bare_tray", {"--stay"});
        P.waitForStarted();
        while (!P.canReadLine() && Timer.elapsed() < 30000)
            P.waitForReadyRead(1);
        State.SetIterationTime(Timer.nsecsElapsed() / 1e9);
        P.kill();
        P.waitForFinished();
    }
}
BENCHMARK(BM_BareTrayApplication)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
