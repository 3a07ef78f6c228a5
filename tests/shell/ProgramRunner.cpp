#include "ProgramRunner.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QThread>

#include <csignal>

QString ProgramBinary() {
    return BuildDir() + "/quorvantis";
}

TProgramRun::TProgramRun(const QStringList& Arguments, const QProcessEnvironment& Extra)
    : FProcess(std::make_unique<QProcess>()) {
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    Env.insert(Extra);
    FProcess->setProcessEnvironment(Env);
    FProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithTheTest(*FProcess);
    FProcess->start(ProgramBinary(), Arguments);
    FProcess->waitForStarted(5000);
}

TProgramRun::~TProgramRun() {
    if (FProcess->state() != QProcess::NotRunning) {
        FProcess->kill();
        FProcess->waitForFinished(5000);
    }
}

bool TProgramRun::WaitFinished(int TimeoutMs) {
    return FProcess->waitForFinished(TimeoutMs);
}

void TProgramRun::Terminate(int Signal) {
    SignalProcess(*FProcess, Signal);
}

bool WaitForLogLine(const QString& LogFile, const QString& Text, int TimeoutMs) {
    QElapsedTimer Timer;
    Timer.start();
    while (Timer.elapsed() < TimeoutMs) {
        const QString Log = QString::fromUtf8(ReadFileBytes(LogFile));
        for (const QString& Line : Log.split("\r\n"))
            if (Line.endsWith(Text))
                return true;
        QThread::msleep(25);
    }
    return false;
}

int RunProgramToEnd(const QStringList& Arguments, int TimeoutMs) {
    TProgramRun Run(Arguments);
    if (!Run.WaitFinished(TimeoutMs))
        return -1;
    return Run.Process().exitCode();
}

TProgramResult RunProgramCapturing(const QStringList& Arguments, int TimeoutMs, const QProcessEnvironment& Extra) {
    QProcess Process;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    Env.insert(Extra);
    Process.setProcessEnvironment(Env);
    EndWithTheTest(Process);
    Process.start(ProgramBinary(), Arguments);
    TProgramResult Result;
    if (!Process.waitForFinished(TimeoutMs)) {
        Process.kill();
        Process.waitForFinished(5000);
    } else if (Process.exitStatus() == QProcess::NormalExit) {
        Result.ExitCode = Process.exitCode();
    }
    Result.Output = QString::fromUtf8(Process.readAllStandardOutput());
    Result.ErrorLines = QString::fromUtf8(Process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    return Result;
}
