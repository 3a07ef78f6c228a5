#include "uStartupChecks.h"

#include "uConst.h"
#include "uErrors.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uSignalBridge.h"
#include "uTLogger.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>

namespace {

constexpr int ExitCannotRun = 1;

bool WaylandSocketExists() {
    const QString Name = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (Name.isEmpty())
        return false;
    const QString Path =
        QDir::isAbsolutePath(Name) ? Name : qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + Name;
    return QFileInfo::exists(Path);
}

// ":0", ":0.0", "unix:0" name the local socket; "host:0" a display over the network,
// which only a connection could check: taken on trust.
bool XDisplayExists() {
    const QString Name = qEnvironmentVariable("DISPLAY");
    if (Name.isEmpty())
        return false;
    const qsizetype Colon = Name.lastIndexOf(QLatin1Char(':'));
    if (Colon < 0)
        return false;
    const QString Host = Name.left(Colon);
    if (!Host.isEmpty() && Host != QLatin1String("unix") && !Host.startsWith(QLatin1Char('/')))
        return true;
    if (Host.startsWith(QLatin1Char('/'))) // a socket path (as XQuartz names it)
        return QFileInfo::exists(Name);
    const QString Number = Name.mid(Colon + 1).section(QLatin1Char('.'), 0, 0);
    return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X") + Number);
}

void SayOnStderr(const QString& Text) {
    std::fprintf(stderr, "%s: %s\n", ProgramName, Text.toLocal8Bit().constData());
}

} // namespace

bool DisplayAvailable(QString& Why) {
    const QString Platform = qEnvironmentVariable("QT_QPA_PLATFORM").section(QLatin1Char(':'), 0, 0);
    const bool NeedsServer =
        Platform.isEmpty() || Platform.contains(QLatin1String("xcb")) || Platform.contains(QLatin1String("wayland"));
    if (!NeedsServer || WaylandSocketExists() || XDisplayExists())
        return true;
    Why = QStringLiteral("there is no display to show the tray icon on (DISPLAY=\"%1\", WAYLAND_DISPLAY=\"%2\"); "
                         "start it inside a desktop session")
              .arg(qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"));
    return false;
}

int ReportMissingDisplay(const QString& Why) {
    // Not in the log: finding the log folder opens the store, which would create it.
    SayOnStderr(Why);
    return ExitCannotRun;
}

QString SettingsStoreProblem() {
    try {
        WriteSetting(Setting::Version, QString::fromUtf8(ProgramVersion));
        return {};
    } catch (const std::exception& E) {
        return ExceptionMessage(E);
    }
}

int ReportUnusableStore(const QString& Problem) {
    // First, so that a signal from here on closes the message instead of killing the program.
    TSignalBridge Signals;
    const QString Where = SettingsDatabaseFile();
    const QString Text = QStringLiteral("cannot write the settings store %1: %2; ending").arg(Where, Problem);
    SayOnStderr(Text);
    TLogger(TLogger::llError, true, QString::fromUtf8(ProgramName)).Error(QStringLiteral("Start: ") + Text);
    QMessageBox Box(QMessageBox::Critical, QString::fromUtf8(ProgramName),
                    txtSettingsStoreUnusable().arg(Where, Problem), QMessageBox::Ok);
    Box.setObjectName(QStringLiteral("boxSettingsStoreUnusable"));
    Box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    QObject::connect(&Signals, &TSignalBridge::Received, &Box, &QMessageBox::reject);
    Box.exec();
    return ExitCannotRun;
}
