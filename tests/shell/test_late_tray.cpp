// The real program on a real X server whose notification area appears only after
// the program has started, as with autostart before the panel.
#include "ProgramRunner.h"
#include "TestSupport.h"
#include "uRegistry.h"

#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

namespace {

// A process that is stopped (SIGTERM, then killed) when the scope ends.
struct TChild {
    QProcess Process;
    ~TChild() {
        if (Process.state() == QProcess::NotRunning)
            return;
        Process.terminate();
        if (!Process.waitForFinished(3000))
            Process.kill();
        Process.waitForFinished(3000);
    }
};

TEST(LateNotificationArea, StartUpBalloonIsShownOnceTheIconIs) {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() || QStandardPaths::findExecutable("trayer").isEmpty())
        GTEST_SKIP() << "needs Xvfb and trayer";
    TTempEnvironment Env;
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteSettingInteger("", "debug", 3);

    TChild X;
    X.Process.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    ASSERT_TRUE(X.Process.waitForReadyRead(10000));
    const QString Display = ":" + QString::fromLatin1(X.Process.readLine()).trimmed();
    QProcessEnvironment E = QProcessEnvironment::systemEnvironment();
    E.insert("DISPLAY", Display);
    E.insert("QT_QPA_PLATFORM", "xcb");

    TChild Program;
    Program.Process.setProcessEnvironment(E);
    Program.Process.start(ProgramBinary(), {});
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 30000));
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Balloon waits for the notification area", 1000));
    QThread::msleep(1000);

    TChild Panel;
    Panel.Process.setProcessEnvironment(E);
    Panel.Process.start("trayer", {"--edge", "bottom", "--align", "right", "--SetDockType", "true"});
    EXPECT_TRUE(
        WaitForLogLine(Env.LogFile(), "|DEBUG|Balloon shown: Klicken Sie hier, um Quorvantis zu öffnen!", 20000));
    ::kill(static_cast<pid_t>(Program.Process.processId()), SIGTERM);
    EXPECT_TRUE(Program.Process.waitForFinished(5000));
}

} // namespace
