// The real program binary: start, single instance, hand-off and shutdown.
#include "ProgramRunner.h"
#include "TestSupport.h"
#include "uRegistry.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Refused at once: no catalogue, no network waits.
        WriteSettingString("", "server", "http://127.0.0.1:9");
        WriteSettingInteger("", "debug", 3);
    }
    TTempEnvironment Env;
    QString Log() const { return Env.LogFile(); }
    QString Autostart() const { return Env.ConfigHome() + "/autostart/Quorvantis.desktop"; }
};

TEST_F(ProgramTest, FirstStartInitialisesTheStoreAndKeepsRefAcrossStarts) {
    int Ref = 0;
    {
        TProgramRun Run;
        ASSERT_TRUE(WaitForLogLine(Log(), "|DEBUG|Started"));
        EXPECT_EQ(ReadSettingString("", "version", ""), "2.2");
        EXPECT_EQ(ReadSettingString("", "install", ""), Env.InstallFolder());
        Ref = ReadSettingInteger("", "ref", 0);
        EXPECT_GT(Ref, 0);
        EXPECT_EQ(ReadSettingInteger("", "handle", 0), Run.Pid());
        EXPECT_FALSE(ReadSettingBool("", "first", true));
        // autorun defaults to true: the entry names the running program.
        const QString Entry = QString::fromUtf8(ReadFileBytes(Autostart()));
        EXPECT_TRUE(Entry.contains("Type=Application"));
        EXPECT_TRUE(Entry.contains(QFileInfo(ProgramBinary()).canonicalFilePath()));
        Run.Terminate(SIGTERM);
        ASSERT_TRUE(Run.WaitFinished());
        EXPECT_EQ(Run.Process().exitStatus(), QProcess::NormalExit);
    }
    EXPECT_EQ(ReadSettingInteger("", "handle", -1), 0);
    const QStringList Lines = Env.LogLines();
    ASSERT_GE(Lines.size(), 2);
    EXPECT_TRUE(Lines.first().endsWith("|DEBUG|Starting..."));

    WriteSettingBool("", "autorun", false);
    QFile::remove(Log());
    TProgramRun Second;
    ASSERT_TRUE(WaitForLogLine(Log(), "|DEBUG|Started"));
    EXPECT_EQ(ReadSettingInteger("", "ref", 0), Ref);
    EXPECT_FALSE(QFile::exists(Autostart()));
}

TEST_F(ProgramTest, SecondStartHandsItsCommandOverAndChangesNothingElse) {
    TProgramRun First;
    ASSERT_TRUE(WaitForLogLine(Log(), "|DEBUG|Started"));
    const QByteArray LogBefore = ReadFileBytes(Log());
    const int Handle = ReadSettingInteger("", "handle", 0);

    // An unknown shop name is served (nothing to open) and the sender returns.
    EXPECT_EQ(RunProgramToEnd({"No-Such-SHOP"}), 0);
    EXPECT_EQ(ReadSettingString("", "command", ""), "no-such-shop");
    EXPECT_EQ(ReadSettingInteger("", "handle", 0), Handle);
    EXPECT_EQ(ReadFileBytes(Log()), LogBefore);
    EXPECT_EQ(First.Process().state(), QProcess::Running);
}

TEST_F(ProgramTest, ShowEndsAsSoonAsTheRunningInstanceHasTheCommand) {
    TProgramRun First;
    ASSERT_TRUE(WaitForLogLine(Log(), "|DEBUG|Started"));
    // The menu opens in the first instance and stays open: the sender does not wait for it.
    EXPECT_EQ(RunProgramToEnd({}), 0);
    EXPECT_EQ(ReadSettingString("", "command", ""), "show");
    // Another one while that menu is open is queued there; its sender ends all the same.
    EXPECT_EQ(RunProgramToEnd({"show"}), 0);
    // A shutdown closes the open menu; the queued command does not keep the instance alive.
    First.Terminate(SIGTERM);
    EXPECT_TRUE(First.WaitFinished());
    EXPECT_EQ(ReadSettingInteger("", "handle", -1), 0);
}

TEST_F(ProgramTest, StaleHandleOrMissingListenerEndsASecondStartCleanly) {
    // Another holder of the lock, but no listener behind the stored handle.
    const QString LockFile = Env.RuntimeDir() + "/Quorvantis.lock";
    const int Fd = ::open(QFile::encodeName(LockFile).constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(Fd, 0);
    ASSERT_EQ(::flock(Fd, LOCK_EX | LOCK_NB), 0);
    // It may still be starting, so the second start waits for a listener, but not for ever.
    WriteSettingInteger("", "handle", 999999);
    const TProgramResult GaveUp = RunProgramCapturing({"show"}, 45000);
    EXPECT_EQ(GaveUp.ExitCode, 1);
    EXPECT_EQ(GaveUp.ErrorLines, QStringList{"quorvantis: the command \"show\" was not handed over: "
                                             "the running instance did not listen within 30 s"});
    // A command longer than any message may carry is refused before anything is sent.
    const TProgramResult TooLong = RunProgramCapturing({QString(5000, 'x')});
    EXPECT_EQ(TooLong.ExitCode, 1);
    ASSERT_EQ(TooLong.ErrorLines.size(), 1);
    EXPECT_TRUE(TooLong.ErrorLines.first().endsWith("...\" was not handed over: it is longer than 4096 bytes"));
    ::close(Fd);
    const QStringList Lines = Env.LogLines();
    ASSERT_EQ(Lines.size(), 1);
    EXPECT_TRUE(Lines.first().endsWith("|ERROR|SendCommandToFirstInstance: the command \"show\" was not handed over: "
                                       "the running instance did not listen within 30 s"));
    QFile::remove(Log());
    // The lock holder ends while a second start waits: nobody took the command, and
    // no running instance failed, so nothing is logged.
    const int Fd2 = ::open(QFile::encodeName(LockFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(Fd2, LOCK_EX | LOCK_NB), 0);
    QProcess Waiting;
    Waiting.start(ProgramBinary(), {"kleiderwolke"});
    ASSERT_TRUE(Waiting.waitForStarted());
    QThread::msleep(500);
    ::close(Fd2);
    EXPECT_TRUE(Waiting.waitForFinished(5000));
    EXPECT_EQ(Waiting.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(Waiting.readAllStandardError()),
              "quorvantis: the command \"kleiderwolke\" was not handed over: no instance is running\n");
    EXPECT_FALSE(QFile::exists(Log()));

    // Lock free but a stale handle from a crash: this start is the first instance.
    WriteSettingInteger("", "handle", 999999);
    TProgramRun Run;
    ASSERT_TRUE(WaitForLogLine(Log(), "|DEBUG|Started"));
    EXPECT_EQ(ReadSettingInteger("", "handle", 0), Run.Pid());
}

TEST_F(ProgramTest, CrashedInstanceDoesNotBlockTheNextStart) {
    {
        TProgramRun Crashed;
        ASSERT_TRUE(WaitForLogLine(Log(), "|DEBUG|Started"));
        Crashed.Terminate(SIGKILL);
        Crashed.WaitFinished();
    }
    QFile::remove(Log());
    TProgramRun Next;
    ASSERT_TRUE(WaitForLogLine(Log(), "|DEBUG|Started"));
    // The new instance took over the stale socket and serves hand-offs.
    EXPECT_EQ(RunProgramToEnd({"nothing"}), 0);
    EXPECT_EQ(ReadSettingString("", "command", ""), "nothing");
    for (int Signal : {SIGINT}) {
        Next.Terminate(Signal);
        EXPECT_TRUE(Next.WaitFinished());
    }
    EXPECT_EQ(ReadSettingInteger("", "handle", -1), 0);
}

TEST_F(ProgramTest, BadEnvironmentStillStarts) {
    // No runtime folder: the lock falls back to /tmp, and a log folder that cannot
    // exist (below a regular file) only loses log lines.
    WriteFileBytes(Env.Root() + "/plainfile", "x");
    WriteSettingString("", "install", Env.Root() + "/plainfile/sub/");
    QProcess P;
    QProcessEnvironment E = QProcessEnvironment::systemEnvironment();
    E.insert("QT_QPA_PLATFORM", "offscreen");
    E.insert("XDG_RUNTIME_DIR", Env.Root() + "/does-not-exist");
    P.setProcessEnvironment(E);
    // The fallback lock is machine-wide: any other program run without a runtime
    // folder would hold it. So the program gets an empty /tmp of its own (a private
    // mount namespace); what it needs from the real /tmp (the test's folder, a
    // checkout that lives there) is bound back into it.
    QTemporaryDir Hold("/var/tmp/quorvantis-test-XXXXXX");
    ASSERT_TRUE(Hold.isValid());
    QStringList Keep;
    for (const QString& Path : {Env.Root(), ProgramBinary(), TestDataFile("")}) {
        const QString Real = QFileInfo(Path).canonicalFilePath();
        if (Real.startsWith("/tmp/"))
            Keep << Real.section('/', 2, 2);
    }
    Keep.removeDuplicates();
    const QString Script = "set -e; hold=$1; program=$2; shift 2; mount --bind /tmp \"$hold\"; "
                           "mount -t tmpfs tmpfs /tmp; for top in \"$@\"; do mkdir -p \"/tmp/$top\"; "
                           "mount --bind \"$hold/$top\" \"/tmp/$top\"; done; exec \"$program\"";
    P.start("unshare",
            QStringList{"--mount", "--propagation", "private", "sh", "-c", Script, "sh", Hold.path(), ProgramBinary()} +
                Keep);
    ASSERT_TRUE(P.waitForStarted());
    // It starts (a stored handle shows the running instance) and runs until told to stop.
    EXPECT_TRUE(WaitUntil([&] { return ReadSettingInteger("", "handle", 0) > 0 || P.state() != QProcess::Running; }))
        << P.readAllStandardError().toStdString();
    EXPECT_EQ(P.state(), QProcess::Running);
    ASSERT_TRUE(SignalProcess(P, SIGTERM));
    EXPECT_TRUE(P.waitForFinished(10000));
    EXPECT_EQ(P.exitCode(), 0);
    EXPECT_EQ(ReadSettingInteger("", "handle", -1), 0);
}

} // namespace
