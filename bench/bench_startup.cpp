// Whole-process start-up: from fork to "Started" of the real program (empty
// store but the log threshold, offscreen, temporary XDG folders), beside a bare
// QApplication with a tray icon and a menu. Wall time per start, measured by the
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

#include <csignal>

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

// The real program: wait for its "Started" log line, then SIGTERM it.
void BM_ProgramStartToStarted(benchmark::State& State) {
    for (auto _ : State) {
        QTemporaryDir Dir;
        const QProcessEnvironment Env = Environment(Dir);
        // Only what the measurement needs: the DEBUG threshold, and a vendor address on
        // this machine that refuses at once (the real one would be a name lookup that
        // leaves the machine).
        const QString Db = Env.value("XDG_CONFIG_HOME") + "/Quorvantis/registry.db";
        {
            QProcess Init;
            Init.setProcessEnvironment(Env);
            Init.start(BinDir() + "/../quorvantis", {});
            Init.waitForStarted();
            QThread::msleep(300);
            if (Init.processId() > 0) // never pid 0: that is our whole process group
                ::kill(static_cast<pid_t>(Init.processId()), SIGKILL);
            Init.waitForFinished();
        }
        sqlite3* Handle = nullptr;
        sqlite3_open(QFile::encodeName(Db).constData(), &Handle);
        sqlite3_exec(Handle, "DELETE FROM reg_value; INSERT INTO reg_value VALUES(1,'debug','DEBUG',3);", nullptr,
                     nullptr, nullptr);
        sqlite3_exec(Handle, "INSERT INTO reg_value VALUES(1,'server','SERVER','http://127.0.0.1:9');", nullptr,
                     nullptr, nullptr);
        sqlite3_close(Handle);
        const QString Log = Env.value("XDG_DATA_HOME") + "/Quorvantis/Quorvantis.log";
        QFile::remove(Log);

        QProcess P;
        P.setProcessEnvironment(Env);
        QElapsedTimer Timer;
        Timer.start();
        P.start(BinDir() + "/../quorvantis", {});
        P.waitForStarted();
        bool Started = false;
        while (!Started && Timer.elapsed() < 30000) {
            QFile F(Log);
            if (F.open(QIODevice::ReadOnly) && F.readAll().contains("|DEBUG|Started"))
                Started = true;
            else
                QThread::usleep(200);
        }
        State.SetIterationTime(Timer.nsecsElapsed() / 1e9);
        if (P.processId() > 0)
            ::kill(static_cast<pid_t>(P.processId()), SIGTERM);
        P.waitForFinished();
        if (!Started)
            State.SkipWithError("no Started line");
    }
}
BENCHMARK(BM_ProgramStartToStarted)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(10)
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
