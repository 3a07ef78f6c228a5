#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

class QProcess;

std::unique_ptr<QCoreApplication> MakeTestApplication(int& argc, char** argv);

// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_RUNTIME_DIR and XDG_CACHE_HOME
// at fresh temporary folders for its lifetime and restores the previous values.
class TTempEnvironment final {
public:
    TTempEnvironment();
    ~TTempEnvironment();
    TTempEnvironment(const TTempEnvironment&) = delete;
    TTempEnvironment& operator=(const TTempEnvironment&) = delete;

    QString Root() const { return FDir.path(); }
    QString ConfigHome() const { return FDir.path() + "/config"; }
    QString DataHome() const { return FDir.path() + "/data"; }
    QString RuntimeDir() const { return FDir.path() + "/runtime"; }
    QString InstallFolder() const { return DataHome() + "/Quorvantis/"; }
    QString LogFile() const { return InstallFolder() + "Quorvantis.log"; }
    QStringList LogLines() const; // lines of Quorvantis.log without CR LF
    // Whether a line reads Text after its time stamp ("LEVEL|text").
    bool HasLogLine(const QString& Text) const;

private:
    QTemporaryDir FDir;
    QList<QPair<QByteArray, QByteArray>> FSaved;
};

// A real $BROWSER: a shell script that appends each argument it gets as one line
// to a record file. Sets $BROWSER for its lifetime.
class TBrowserRecorder final {
public:
    TBrowserRecorder();
    ~TBrowserRecorder();
    TBrowserRecorder(const TBrowserRecorder&) = delete;
    TBrowserRecorder& operator=(const TBrowserRecorder&) = delete;

    QString Script() const { return FDir.path() + "/browser.sh"; }
    // Addresses opened so far (waits up to TimeoutMs for at least MinCount).
    QStringList Opened(int MinCount = 0, int TimeoutMs = 5000) const;

private:
    QTemporaryDir FDir;
    QByteArray FSaved;
    bool FHadSaved = false;
};

// The child object Name of Window; a missing one fails the test.
template <typename T> T* Child(const QObject* Window, const char* Name) {
    T* Found = Window->findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(Found, nullptr) << Name;
    return Found;
}

QByteArray ReadFileBytes(const QString& FileName);
void WriteFileBytes(const QString& FileName, const QByteArray& Bytes);
QString TestDataFile(const QString& Name); // tests/data/<Name>
QString BuildDir();                        // the CMake build folder
// Sends Signal while the process runs; false when it has ended. Never signals pid
// 0, which would reach the whole process group, the test runner included.
bool SignalProcess(const QProcess& Process, int Signal);

// A child the test starts ends with it, also when the test itself is killed (at its
// time-out), where no destructor runs: the kernel kills it once the starting thread ends.
void EndWithTheTest(QProcess& Process);

// A process of the test's own: stopped (SIGTERM, then killed) when the scope ends.
struct TOwnedProcess {
    TOwnedProcess() { EndWithTheTest(Process); }
    TOwnedProcess(const TOwnedProcess&) = delete;
    TOwnedProcess& operator=(const TOwnedProcess&) = delete;
    QProcess Process;
    ~TOwnedProcess() {
        if (Process.state() == QProcess::NotRunning)
            return;
        Process.terminate();
        if (!Process.waitForFinished(3000))
            Process.kill();
        Process.waitForFinished(3000);
    }
};

// Binds Server to a free port on 127.0.0.1, serves it on Thread and returns the port
// once it accepts (stop() before that would leave the thread listening for ever).
// Throws when it does not start within 10 s. The owner stops and joins it.
int StartLoopbackServer(httplib::Server& Server, std::thread& Thread);

// Runs the event loop until Condition holds; false when TimeoutMs ran out first.
inline bool WaitUntil(const std::function<bool()>& Condition, int TimeoutMs = 30000) {
    QDeadlineTimer Deadline(TimeoutMs);
    while (!Condition()) {
        if (Deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}
