#include "uCommandLine.h"
#include "uConst.h"
#include "uQtDialogs.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uSignalBridge.h"
#include "uSingleInstance.h"
#include "uStartupChecks.h"
#include "uWebModule.h"
#include "ufrmQuorvantis.h"
#include "ufrmSoftwareUpdate.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

#include <malloc.h>

namespace {
QString ProgramFile() {
    // Before the application object exists: the kernel knows the running file.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

// First instance only, before any window exists, after SettingsStoreProblem() has
// written the version. Returns a problem text for the log.
QString InitSettings() {
    QString Problem;
    try {
        if (!SettingsValueExists(QString(), Setting::Install.Name))
            WriteSetting(Setting::Install, DefaultInstallFolder());
        SetCurrentLanguage(ReadSetting(Setting::Language));
    } catch (const std::exception& E) {
        Problem = QStringLiteral("InitSettings: ") + ExceptionMessage(E);
    }
    bool Autorun = Setting::Autorun.Default;
    try {
        Autorun = ReadSetting(Setting::Autorun);
    } catch (const std::exception&) {
    }
    SetAutostart(QString::fromUtf8(ProgramName), ProgramFile(), Autorun);
    return Problem;
}
} // namespace

int main(int argc, char** argv) {
    PrepareWebEngineEnvironment(); // before any thread exists
    // Threads that allocate get heaps of their own, up to eight per core, and each
    // keeps pages after the web engine's threads have gone quiet. Two are plenty for
    // a tray program and keep less.
    mallopt(M_ARENA_MAX, 2);
    if (const std::optional<int> Answered = AnswerInformationOption(argc, argv))
        return *Answered;
    TInstanceGuard Guard;
    if (!Guard.IsFirstInstance()) {
        QCoreApplication App(argc, argv);
        return SendCommandToFirstInstance(App.arguments());
    }
    // Nothing is written before it is clear that the program can run at all.
    QString NoDisplay;
    if (!DisplayAvailable(NoDisplay))
        return ReportMissingDisplay(NoDisplay);
    const QString StoreProblem = SettingsStoreProblem();
    QString Problem = Guard.Problem();
    const QString SettingsProblem = StoreProblem.isEmpty() ? InitSettings() : QString();
    if (!SettingsProblem.isEmpty())
        Problem = Problem.isEmpty() ? SettingsProblem : Problem + QStringLiteral("; ") + SettingsProblem;

    QApplication App(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(ProgramName));
    QApplication::setQuitOnLastWindowClosed(false);
    InstallQtUIHooks();
    if (!StoreProblem.isEmpty())
        return ReportUnusableStore(StoreProblem);

    TSignalBridge Signals;
    TfrmQuorvantis Main(App.arguments(), Problem);
    QObject::connect(&Signals, &TSignalBridge::Received, &Main, &TfrmQuorvantis::RequestShutdown);
    // Once the catalogue is in, the update window opens by itself when this version is
    // below the required one.
    QObject::connect(&Main, &TfrmQuorvantis::Started, &Main, [&Main] {
        if (!Main.QuitRequested())
            CreateSoftwareUpdate(Main.Program());
    });
    if (!Main.QuitRequested())
        App.exec();
    Main.FormDestroy();
    // Everything of ours has ended and is stored (every write is its own transaction, every
    // log line closed). A host name lookup still running for a favicon site behind a silent
    // name server cannot be cancelled, and the application object waits for it when it goes
    // (seconds); the process ends here instead.
    std::fflush(nullptr);
    std::_Exit(0);
}
