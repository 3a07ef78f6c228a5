// The real program where it cannot run as it should: no display, a settings store
// it cannot write, a vendor answer that is no catalogue, a catalogue file that is a
// folder. It says what is wrong and never half-starts.
#include "ProgramRunner.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uRegistry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>

namespace {

class StartupFaultTest : public ::testing::Test {
protected:
    // Starts the program with Changes applied to the environment; stderr is kept.
    void Start(const std::function<void(QProcessEnvironment&)>& Changes) {
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert("QT_QPA_PLATFORM", "offscreen");
        Changes(Environment);
        Program.setProcessEnvironment(Environment);
        Program.setProcessChannelMode(QProcess::SeparateChannels);
        Program.start(ProgramBinary(), {});
        ASSERT_TRUE(Program.waitForStarted(5000));
    }
    QString Stderr() { return QString::fromLocal8Bit(Program.readAllStandardError()); }
    QStringList Errors() const { return Env.LogLines().filter("|ERROR|"); }
    QString Autostart() const { return Env.ConfigHome() + "/autostart/Quorvantis.desktop"; }
    void TearDown() override {
        if (Program.state() != QProcess::NotRunning) {
            Program.kill();
            Program.waitForFinished(5000);
        }
    }

    TTempEnvironment Env;
    QProcess Program;
};

TEST_F(StartupFaultTest, WithoutADisplayItSaysSoBeforeWritingStoreOrAutostart) {
    // No display at all, and an X display named that does not exist.
    for (const QString& Display : {QString(), QString(":97")}) {
        SCOPED_TRACE(Display.toStdString());
        Start([&](QProcessEnvironment& E) {
            E.remove("QT_QPA_PLATFORM");
            E.remove("WAYLAND_DISPLAY");
            E.remove("DISPLAY");
            if (!Display.isEmpty())
                E.insert("DISPLAY", Display);
        });
        ASSERT_TRUE(Program.waitForFinished(30000));
        EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(Program.exitCode(), 1);
        const QString Said = Stderr();
        EXPECT_TRUE(Said.contains("there is no display to show the tray icon on")) << Said.toStdString();
        EXPECT_FALSE(QFile::exists(SettingsDatabaseFile()));
        EXPECT_FALSE(QFile::exists(Autostart()));
        EXPECT_FALSE(QFile::exists(Env.ConfigHome() + "/Quorvantis")) << "nothing written at all";
    }
}

TEST_F(StartupFaultTest, AStoreThatCannotBeWrittenIsNamedToTheUserAndTheProgramEnds) {
    // registry.db is a folder; then the config folder lies below a regular file.
    const QString Below = Env.Root() + "/plain-file";
    WriteFileBytes(Below, "not a folder");
    for (const bool FolderAsFile : {true, false}) {
        SCOPED_TRACE(FolderAsFile ? "registry.db is a folder" : "config folder below a file");
        QString Store = SettingsDatabaseFile();
        if (FolderAsFile)
            QDir().mkpath(Store);
        else
            Store = Below + "/config/Quorvantis/registry.db";
        Start([&](QProcessEnvironment& E) {
            if (!FolderAsFile)
                E.insert("XDG_CONFIG_HOME", Below + "/config");
        });
        ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "; ending")) << Env.LogLines().join('\n').toStdString();
        const QStringList Lines = Errors();
        ASSERT_EQ(Lines.size(), 1) << Lines.join('\n').toStdString();
        EXPECT_TRUE(Lines[0].contains("|ERROR|Start: cannot write the settings store " + Store + ": "))
            << Lines[0].toStdString();
        EXPECT_FALSE(Env.HasLogLine("DEBUG|Started"));
        EXPECT_FALSE(QFile::exists(Autostart()));
        // The message waits for the user; a signal ends it like a click on Ok.
        EXPECT_EQ(Program.state(), QProcess::Running);
        ASSERT_TRUE(SignalProcess(Program, SIGTERM));
        ASSERT_TRUE(Program.waitForFinished(10000));
        EXPECT_EQ(Program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(Program.exitCode(), 1);
        EXPECT_TRUE(Stderr().contains("cannot write the settings store " + Store));
        QFile::remove(Env.LogFile());
    }
}

// A good catalogue file from an earlier start, and a server that answers otherwise.
class CatalogueFaultTest : public StartupFaultTest {
protected:
    void Serve(const QByteArray& Answer) {
        const QString Content = Env.Root() + "/content";
        TVendorServerProcess::CopyContent(Content);
        WriteFileBytes(Content + "/version2.xml", Answer);
        Server = std::make_unique<TVendorServerProcess>(Content);
        WriteSettingString("", "server", Server->BaseURL());
        WriteSettingInteger("", "debug", 3);
        WriteSettingBool("", "first", false);
        WriteSettingString("", "lastnews", "9999");
        WriteSettingString("", "install", Env.InstallFolder());
        QDir().mkpath(Env.InstallFolder());
    }
    std::unique_ptr<TVendorServerProcess> Server;
};

// One shop on the vendor server, so its favicon comes from there.
QByteArray GoodCatalogue(const QString& Base) {
    return "<?xml version=\"1.0\"?><quorvantis><version>2.2</version><check>2099-01-01</check><shops>"
           "<shop id=\"1\" name=\"Alt\" category=\"Mode\" site=\"" +
           Base.toUtf8() + "/sites/absatzkoenig\"/></shops></quorvantis>";
}

TEST_F(CatalogueFaultTest, AWellFormedAnswerThatIsNoCatalogueKeepsFileAndMenu) {
    for (const QByteArray& Answer :
         {QByteArray("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Neu</title></channel></rss>"),
          QByteArray("<error><code>503</code></error>"), QByteArray("<quorvantis/>")}) {
        SCOPED_TRACE(Answer.toStdString());
        Serve(Answer);
        const QByteArray Good = GoodCatalogue(Server->BaseURL());
        WriteFileBytes(Env.InstallFolder() + "quorvantis.xml", Good);
        Start([](QProcessEnvironment&) {});
        ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started"));
        EXPECT_EQ(ReadFileBytes(Env.InstallFolder() + "quorvantis.xml"), Good);
        // Why it is none, then the refresh's failure: no INFO line claims a catalogue.
        ASSERT_EQ(Errors().size(), 2) << Env.LogLines().join('\n').toStdString();
        EXPECT_TRUE(Errors()[0].contains("|ERROR|Not a catalogue document: the root element <"))
            << Errors()[0].toStdString();
        EXPECT_TRUE(Errors()[1].contains("|ERROR|GetUpdates: URL=")) << Errors()[1].toStdString();
        EXPECT_FALSE(Env.HasLogLine("INFO|GetUpdates: Version="));
        EXPECT_TRUE(Env.HasLogLine("INFO|Load data from file: 2.2")) << "the shops of the kept file";
        ASSERT_TRUE(SignalProcess(Program, SIGTERM));
        ASSERT_TRUE(Program.waitForFinished(10000));
        Server.reset();
        QFile::remove(Env.LogFile());
    }
}

TEST_F(CatalogueFaultTest, AGoodAnswerIsUsedWhenTheCatalogueFileIsAFolderAndTheLogSaysWhy) {
    Serve(GoodCatalogue("{BASE}")); // the server puts its address there
    QDir().mkpath(Env.InstallFolder() + "quorvantis.xml");
    Start([](QProcessEnvironment&) {});
    ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started"));
    // The stored catalogue is looked for first, then the answer is used.
    ASSERT_EQ(Errors().size(), 2) << Env.LogLines().join('\n').toStdString();
    EXPECT_TRUE(Errors()[0].endsWith("|ERROR|LoadVersionFile: " + Env.InstallFolder() +
                                     "quorvantis.xml is a folder, not a file"))
        << Errors()[0].toStdString();
    EXPECT_TRUE(Errors()[1].endsWith("|ERROR|GetUpdates: the catalogue is used but not stored: " + Env.InstallFolder() +
                                     "quorvantis.xml is a folder, not a file"))
        << Errors()[1].toStdString();
    EXPECT_FALSE(Env.HasLogLine("INFO|Load data from file: 2.2"));
    EXPECT_TRUE(Env.LogLines().filter("|INFO|GetUpdates: Version=2.2 Server=2.2").size() == 1);
    EXPECT_TRUE(QFileInfo(Env.InstallFolder() + "quorvantis.xml").isDir());
    ASSERT_TRUE(SignalProcess(Program, SIGTERM));
    ASSERT_TRUE(Program.waitForFinished(10000));
}

} // namespace
