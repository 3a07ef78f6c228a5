// The real program on a real X server whose notification area appears only after
// the program has started, as with autostart before the panel.
#include "ProgramRunner.h"
#include "TestSupport.h"
#include "uRegistry.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace {

QString XdoTool(const QProcessEnvironment& Env, const QStringList& Arguments) {
    QProcess Tool;
    Tool.setProcessEnvironment(Env);
    Tool.start("xdotool", Arguments);
    Tool.waitForFinished(5000);
    return QString::fromUtf8(Tool.readAllStandardOutput()).trimmed();
}

// The program's visible windows, each as "id widthxheight".
QStringList VisibleWindows(const QProcessEnvironment& Env) {
    QStringList Windows;
    for (const QString& Id :
         XdoTool(Env, {"search", "--onlyvisible", "--classname", "quorvantis"}).split('\n', Qt::SkipEmptyParts))
        Windows << Id + ' ' + XdoTool(Env, {"getwindowgeometry", Id}).section("Geometry: ", 1).trimmed();
    return Windows;
}

TEST(LateNotificationArea, StartUpBalloonIsShownOnceTheIconIsAndClickingTheIconOpensOneMenu) {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() || QStandardPaths::findExecutable("trayer").isEmpty() ||
        QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs Xvfb, trayer and xdotool";
    TTempEnvironment Env;
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteSettingInteger("", "debug", 3);

    TOwnedProcess X;
    X.Process.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    ASSERT_TRUE(X.Process.waitForReadyRead(10000));
    const QString Display = ":" + QString::fromLatin1(X.Process.readLine()).trimmed();
    QProcessEnvironment E = QProcessEnvironment::systemEnvironment();
    E.insert("DISPLAY", Display);
    E.insert("QT_QPA_PLATFORM", "xcb");

    TOwnedProcess Program;
    Program.Process.setProcessEnvironment(E);
    Program.Process.start(ProgramBinary(), {});
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 30000));
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Balloon waits for the notification area", 1000));
    QThread::msleep(1000); // the scenario: the panel comes a second after the program

    TOwnedProcess Panel;
    Panel.Process.setProcessEnvironment(E);
    Panel.Process.start("trayer", {"--edge", "bottom", "--align", "right", "--SetDockType", "true"});
    EXPECT_TRUE(
        WaitForLogLine(Env.LogFile(), "|DEBUG|Balloon shown: Klicken Sie hier, um Quorvantis zu öffnen!", 20000));

    // A click on the icon while the balloon shows opens the menu once: Escape
    // closes it for good. The icon is the small window, the balloon the other one.
    {
        QStringList Windows;
        ASSERT_TRUE(WaitUntil([&] { return (Windows = VisibleWindows(E)).size() == 2; }, 10000))
            << Windows.join(", ").toStdString();
        std::sort(Windows.begin(), Windows.end(), [](const QString& A, const QString& B) {
            return A.section(' ', 1).section('x', 0, 0).toInt() < B.section(' ', 1).section('x', 0, 0).toInt();
        });
        const QString Icon = Windows.first().section(' ', 0, 0);
        const QString Balloon = Windows.last().section(' ', 0, 0);
        XdoTool(E, {"mousemove", "--window", Icon, "5", "5", "click", "1"});
        ASSERT_TRUE(WaitUntil(
            [&] {
                Windows = VisibleWindows(E);
                return Windows.size() == 2 && std::none_of(Windows.cbegin(), Windows.cend(), [&](const QString& W) {
                           return W.startsWith(Balloon + ' ');
                       }); // menu open, balloon gone
            },
            10000))
            << Windows.join(", ").toStdString();
        XdoTool(E, {"key", "Escape"});
        EXPECT_TRUE(WaitUntil([&] { return VisibleWindows(E).size() == 1; }, 10000));
        QTest::qWait(1500); // an absence: a menu opened a second time would show by now
        EXPECT_EQ(VisibleWindows(E).size(), 1) << VisibleWindows(E).join(", ").toStdString();
    }
    ASSERT_TRUE(SignalProcess(Program.Process, SIGTERM));
    EXPECT_TRUE(Program.Process.waitForFinished(5000));
}

} // namespace
