#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

// Runs the real program binary in the current (temporary) environment with the
// offscreen platform.
class TProgramRun final {
public:
    explicit TProgramRun(const QStringList& Arguments = {});
    ~TProgramRun();
    TProgramRun(const TProgramRun&) = delete;
    TProgramRun& operator=(const TProgramRun&) = delete;

    QProcess& Process() { return *FProcess; }
    bool WaitFinished(int TimeoutMs = 10000);
    void Terminate(int Signal);
    qint64 Pid() const { return FProcess->processId(); }

private:
    std::unique_ptr<QProcess> FProcess;
};

QString ProgramBinary();
// Waits until the log holds a line ending in Text (polling the file).
bool WaitForLogLine(const QString& LogFile, const QString& Text, int TimeoutMs = 15000);
// Runs the program to completion and returns its exit code (-1 on time-out).
int RunProgramToEnd(const QStringList& Arguments, int TimeoutMs = 10000);
