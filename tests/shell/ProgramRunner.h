#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <memory>

// Runs the real program binary in the current (temporary) environment with the
// offscreen platform.
class TProgramRun final {
public:
    // Extra: variables set on top of the current environment (QT_QPA_PLATFORM among them).
    explicit TProgramRun(const QStringList& Arguments = {}, const QProcessEnvironment& Extra = {});
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

struct TProgramResult {
    int ExitCode = -1; // -1: did not end in time (it is killed)
    QString Output;
    QStringList ErrorLines; // stderr, split into lines
};
// Runs the program to completion and collects what it printed.
TProgramResult RunProgramCapturing(const QStringList& Arguments, int TimeoutMs = 10000,
                                   const QProcessEnvironment& Extra = {});
