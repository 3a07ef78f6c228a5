#include "TestSupport.h"

#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <stdexcept>

#include <signal.h>
#include <sys/prctl.h>

namespace {
const char* const EnvNames[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"};
}

TTempEnvironment::TTempEnvironment() {
    if (!FDir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    for (const char* Name : EnvNames)
        FSaved.append({Name, qEnvironmentVariableIsSet(Name) ? qgetenv(Name) : QByteArray()});
    QDir().mkpath(ConfigHome());
    QDir().mkpath(DataHome());
    QDir().mkpath(RuntimeDir());
    QDir().mkpath(Root() + "/cache");
    QFile::setPermissions(RuntimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", Root().toUtf8());
    qputenv("XDG_CONFIG_HOME", ConfigHome().toUtf8());
    qputenv("XDG_DATA_HOME", DataHome().toUtf8());
    qputenv("XDG_RUNTIME_DIR", RuntimeDir().toUtf8());
    qputenv("XDG_CACHE_HOME", (Root() + "/cache").toUtf8());
}

TTempEnvironment::~TTempEnvironment() {
    for (const auto& [Name, Value] : FSaved) {
        if (Value.isNull())
            qunsetenv(Name.constData());
        else
            qputenv(Name.constData(), Value);
    }
}

bool TTempEnvironment::HasLogLine(const QString& Text) const {
    for (const QString& Line : LogLines())
        if (Line.section('|', 1) == Text)
            return true;
    return false;
}

QStringList TTempEnvironment::LogLines() const {
    const QString Text = QString::fromUtf8(ReadFileBytes(LogFile()));
    QStringList Lines = Text.split(QStringLiteral("\r\n"));
    if (!Lines.isEmpty() && Lines.last().isEmpty())
        Lines.removeLast();
    return Lines;
}

TBrowserRecorder::TBrowserRecorder() {
    FHadSaved = qEnvironmentVariableIsSet("BROWSER");
    FSaved = qgetenv("BROWSER");
    const QString Record = FDir.path() + "/opened.txt";
    // printf keeps the argument byte for byte; nothing in it is interpreted.
    WriteFileBytes(Script(),
                   "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + Record.toUtf8() + "'; done\n");
    QFile::setPermissions(Script(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("BROWSER", Script().toUtf8());
}

TBrowserRecorder::~TBrowserRecorder() {
    if (FHadSaved)
        qputenv("BROWSER", FSaved);
    else
        qunsetenv("BROWSER");
}

QStringList TBrowserRecorder::Opened(int MinCount, int TimeoutMs) const {
    QElapsedTimer Timer;
    Timer.start();
    QStringList Lines;
    for (;;) {
        Lines = QString::fromUtf8(ReadFileBytes(FDir.path() + "/opened.txt")).split('\n', Qt::SkipEmptyParts);
        if (Lines.size() >= MinCount || Timer.elapsed() > TimeoutMs)
            break;
        QThread::msleep(20);
    }
    return Lines;
}

QByteArray ReadFileBytes(const QString& FileName) {
    QFile F(FileName);
    if (!F.open(QIODevice::ReadOnly))
        return {};
    return F.readAll();
}

void WriteFileBytes(const QString& FileName, const QByteArray& Bytes) {
    QDir().mkpath(QFileInfo(FileName).absolutePath());
    QFile F(FileName);
    if (!F.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + FileName.toStdString());
    F.write(Bytes);
}

QString TestDataFile(const QString& Name) {
    return QStringLiteral(QUORVANTIS_TEST_DATA) + "/" + Name;
}
QString BuildDir() {
    return QStringLiteral(QUORVANTIS_BINARY_DIR);
}

void EndWithTheTest(QProcess& Process) {
    Process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

bool SignalProcess(const QProcess& Process, int Signal) {
    const qint64 Pid = Process.processId();
    return Process.state() == QProcess::Running && Pid > 0 && ::kill(static_cast<pid_t>(Pid), Signal) == 0;
}

int StartLoopbackServer(httplib::Server& Server, std::thread& Thread) {
    Server.set_tcp_nodelay(true); // small answers must not wait for a delayed ACK
    const int Port = Server.bind_to_any_port("127.0.0.1");
    if (Port <= 0)
        throw std::runtime_error("no free port on 127.0.0.1");
    Thread = std::thread([&Server] { Server.listen_after_bind(); });
    QDeadlineTimer Deadline(10000);
    while (!Server.is_running()) {
        if (Deadline.hasExpired()) {
            Server.stop();
            Thread.detach(); // listen_after_bind never began; nothing to join
            throw std::runtime_error("the test server did not start");
        }
        std::this_thread::yield();
    }
    return Port;
}
