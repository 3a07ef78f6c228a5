// The real program read through the desktop's accessibility bus (AT-SPI), as a
// screen reader reads it: atspi_check.py opens every window and checks every
// control in it. Runs under a private session bus (dbus-run-session) on a virtual
// X display, with the program pointed at the local vendor server.
#include "ProgramRunner.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uRegistry.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>

namespace {

constexpr int CheckDeadlineMs = 300000;

// Another build of the program may be measured the same way (QV_CHECKED_PROGRAM).
QString CheckedProgram() {
    const QString Other = qEnvironmentVariable("QV_CHECKED_PROGRAM");
    return Other.isEmpty() ? ProgramBinary() : Other;
}

class AccessibilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "needs a session bus (run it through CTest)";
        ASSERT_TRUE(QFileInfo::exists("/usr/bin/python3"));
        Server = std::make_unique<TVendorServerProcess>();
        WriteSettingString("", "server", Server->BaseURL());
        WriteSettingString("", "lastnews", "9999");
        WriteSettingBool("", "first", false);
        WriteSettingInteger("", "debug", 3);
        // A personal link: the links list, its menu and the question before deleting are checked too.
        WriteSettingString("favorites\\Wetterbericht", "url", Server->BaseURL() + "/index.html");
        Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        Environment.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    void TearDown() override {
        if (Program.state() == QProcess::Running) {
            SignalProcess(Program, SIGTERM);
            EXPECT_TRUE(Program.waitForFinished(30000));
        }
        if (Weston.state() == QProcess::Running) {
            Weston.terminate();
            Weston.waitForFinished(10000);
        }
    }
    void StartProgram() {
        Program.setProcessEnvironment(Environment);
        Program.setProcessChannelMode(QProcess::ForwardedChannels);
        Program.start(CheckedProgram(), {});
        ASSERT_TRUE(Program.waitForStarted());
        ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 60000));
    }
    // Runs the checker, shows what it checked, and returns its exit code.
    int Check(const QStringList& Extra) {
        const QUrl Base(Server->BaseURL());
        QProcess Checker;
        Checker.setProcessEnvironment(Environment);
        Checker.setProcessChannelMode(QProcess::MergedChannels);
        Checker.start("/usr/bin/python3",
                      QStringList{QStringLiteral(QUORVANTIS_SOURCE_DIR "/tests/accessibility/atspi_check.py"),
                                  "--program", CheckedProgram(), "--pid", QString::number(Program.processId()),
                                  "--website", Base.host() + ":" + QString::number(Base.port())} +
                          Extra);
        if (!Checker.waitForStarted())
            return -1;
        QDeadlineTimer Deadline(CheckDeadlineMs);
        while (Checker.state() != QProcess::NotRunning && !Deadline.hasExpired())
            if (Checker.waitForReadyRead(1000))
                std::cout << Checker.readAll().constData() << std::flush;
        if (Checker.state() != QProcess::NotRunning && !Checker.waitForFinished(5000)) {
            Checker.kill();
            return -1;
        }
        const QByteArray Rest = Checker.readAll();
        std::cout << Rest.constData() << std::flush;
        return Checker.exitStatus() == QProcess::NormalExit ? Checker.exitCode() : -1;
    }

    TTempEnvironment Env;
    TBrowserRecorder Browser;
    std::unique_ptr<TVendorServerProcess> Server;
    QProcessEnvironment Environment;
    QProcess Program;
    QProcess Weston;
};

TEST_F(AccessibilityTest, EveryWindowOnX11IsNamedLabelledAndUsableByKeyboard) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display (run it through CTest)";
    ASSERT_FALSE(QStandardPaths::findExecutable("xdotool").isEmpty());
    Environment.insert("QT_QPA_PLATFORM", "xcb");
    StartProgram();
    EXPECT_EQ(Check({}), 0) << "see the checked controls above";
}

TEST_F(AccessibilityTest, EveryWindowInEnglishHasItsOwnAccessKeys) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display (run it through CTest)";
    WriteSettingInteger("", "language", 1);
    Environment.insert("QT_QPA_PLATFORM", "xcb");
    StartProgram();
    EXPECT_EQ(Check({"--language", "en"}), 0) << "see the checked controls above";
}

TEST_F(AccessibilityTest, TheShowWindowOnWaylandExposesItsEntries) {
    const QString Compositor = QStandardPaths::findExecutable("weston");
    if (Compositor.isEmpty())
        GTEST_SKIP() << "no weston";
    const QString Socket = QStringLiteral("qv-a11y-%1").arg(QCoreApplication::applicationPid());
    QProcessEnvironment CompositorEnvironment = Environment;
    CompositorEnvironment.insert("XDG_RUNTIME_DIR", Env.RuntimeDir());
    Weston.setProcessEnvironment(CompositorEnvironment);
    Weston.setProcessChannelMode(QProcess::MergedChannels);
    Weston.start(Compositor, {"--backend=headless-backend.so", "--socket=" + Socket, "--idle-time=0",
                              "--shell=desktop-shell.so", "--no-config"});
    ASSERT_TRUE(Weston.waitForStarted());
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(Env.RuntimeDir() + "/" + Socket); }, 15000))
        << Weston.readAll().constData();

    Environment.insert("XDG_RUNTIME_DIR", Env.RuntimeDir());
    Environment.insert("WAYLAND_DISPLAY", Socket);
    Environment.insert("QT_QPA_PLATFORM", "wayland");
    Environment.remove("DISPLAY");
    StartProgram();
    EXPECT_EQ(Check({"--menu-window"}), 0) << "see the checked entries above";
}

} // namespace
