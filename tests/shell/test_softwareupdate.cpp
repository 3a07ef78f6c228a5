// The software update window and the installer download against real local servers.
#include "TestSupport.h"
#include "VendorServer.h"
#include "uConst.h"
#include "uRegistry.h"
#include "uUIHooks.h"
#include "uUpdateDownload.h"
#include "ufrmQuorvantis.h"
#include "ufrmSoftwareUpdate.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

namespace {

// Waits (bounded) until File exists and returns its content.
QByteArray WaitForFile(const QString& File, int TimeoutMs = 10000) {
    QElapsedTimer Timer;
    Timer.start();
    while (!QFile::exists(File) && Timer.elapsed() < TimeoutMs)
        QThread::msleep(20);
    QThread::msleep(50); // the writer may still be at it
    return ReadFileBytes(File);
}

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIHooks().ShowWarning = [this](const QString& Caption, const QString& Text) {
            Warnings << Caption + "|" + Text;
        };
        SetCurrentLanguage(0);
        delete ExistingSoftwareUpdate(); // every test starts without the window
    }
    void TearDown() override {
        delete ExistingSoftwareUpdate();
        UIHooks() = TUIHooks();
        SetCurrentLanguage(0);
    }
    // A copy of the sample vendor content whose catalogue gets Edit applied.
    QString Content(const std::function<void(QString&)>& Edit) {
        const QString Folder = Env.Root() + "/content";
        TVendorServerProcess::CopyContent(Folder);
        QString Xml = QString::fromUtf8(ReadFileBytes(Folder + "/version2.xml"));
        Edit(Xml);
        WriteFileBytes(Folder + "/version2.xml", Xml.toUtf8());
        return Folder;
    }
    void UseServer(const TVendorServerProcess& Server) {
        WriteSettingString("", "server", Server.BaseURL());
        WriteSettingInteger("", "debug", 3);
        WriteSettingString("", "lastnews", "9999"); // no news question box
        WriteSettingBool("", "first", false);
    }
    QString UpdateFolder() const { return Env.InstallFolder() + "update/"; }
    // A shell script that records its arguments, padded to Size bytes.
    QByteArray RecordingInstaller(int Size = 0) const {
        QByteArray Script = "#!/bin/sh\necho \"$@\" > '" + Record().toUtf8() + "'\nexit 0\n";
        while (Script.size() < Size)
            Script += "# " + QByteArray(1000, 'x') + "\n";
        return Script;
    }
    QString Record() const { return Env.Root() + "/installer-arguments"; }
    QStringList LogText() const { return Env.LogLines(); }
    bool LogHas(const QString& Tail) const { return Env.HasLogLine(Tail); }

    TTempEnvironment Env;
    QStringList Warnings;
};

} // namespace

TEST_F(UpdateTest, WindowShowsEveryStateInBothLanguagesAndEscapeClosesIt) {
    TVendorServerProcess Server;
    UseServer(Server);
    TfrmQuorvantis Main({"quorvantis"});
    CreateSoftwareUpdate(); // the sample catalogue is current: the window stays hidden
    TfrmSoftwareUpdate* Window = ExistingSoftwareUpdate();
    ASSERT_NE(Window, nullptr);
    EXPECT_FALSE(Window->isVisible());
    QLabel* Title = Child<QLabel>(Window, "labTitle");
    QLabel* Text = Child<QLabel>(Window, "labText");
    QPushButton* Update = Child<QPushButton>(Window, "btnUpdate");
    QProgressBar* Bar = Child<QProgressBar>(Window, "prgDownload");

    const struct {
        UpdateState State;
        bool Force;
        const char* Title;
        const char* Text;
        bool Button;
    } Cases[] = {
        {usUpToDate, false, "Keine neue Version verfügbar.", "Ihre Anwendung ist auf dem aktuellen Stand.", false},
        {usUpToDate, true, "Keine neue Version verfügbar.", "Ihre Anwendung ist auf dem aktuellen Stand.", true},
        {usNewVersion, false, "Neue Version verfügbar.", "Es liegt eine neuere Version", true},
        {usRequiredVersion, false, "Neue Version verfügbar.", "Es liegt eine neuere Version", true},
        {usCheckOutdated, false, "Neue Version verfügbar.", "Es liegt eine neuere Version", true},
        {usError, false, "Fehler bei der Versionskontrolle.", "Bitte wiederholen Sie diesen Vorgang", false},
        {usError, true, "Fehler bei der Versionskontrolle.", "Bitte wiederholen Sie diesen Vorgang", true},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(testing::Message() << int(Case.State) << " force " << Case.Force);
        ShowUpdates(Case.State, Case.Force);
        EXPECT_TRUE(Window->isVisible());
        EXPECT_EQ(Window->windowTitle(), "Software-Update");
        EXPECT_EQ(Title->text(), QString("Quorvantis: ") + Case.Title);
        EXPECT_TRUE(Text->text().startsWith(Case.Text));
        EXPECT_EQ(Update->isVisible(), Case.Button);
        EXPECT_EQ(Bar->isVisible(), Case.Button);
        EXPECT_EQ(Update->text(), "Akt&ualisieren");
    }

    // The language changes while the window is open; the state and flag stay.
    Main.SetLanguage(1);
    EXPECT_EQ(Window->windowTitle(), "Software update");
    EXPECT_EQ(Title->text(), "Quorvantis: An error occurred while checking the new version.");
    EXPECT_EQ(Text->text(), "Please try again, later.");
    EXPECT_EQ(Update->text(), "&Update");
    EXPECT_EQ(Child<QPushButton>(Window, "btnClose")->text(), "Clo&se");
    EXPECT_TRUE(Update->isVisible());

    QTest::keyClick(Window, Qt::Key_Escape);
    EXPECT_FALSE(Window->isVisible());
    Main.SetLanguage(0);
}

TEST_F(UpdateTest, RequiredVersionOpensTheWindowAtStart) {
    TVendorServerProcess Server(Content([](QString& Xml) {
        Xml.replace("<version>2.2<", "<version>3.0<").replace("<requiredversion>2.0<", "<requiredversion>3.0<");
    }));
    UseServer(Server);
    TfrmQuorvantis Main({"quorvantis"});
    CreateSoftwareUpdate();
    TfrmSoftwareUpdate* Window = ExistingSoftwareUpdate();
    ASSERT_NE(Window, nullptr);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_EQ(Window->State(), usRequiredVersion);
    EXPECT_FALSE(Window->ForceButton());
    EXPECT_EQ(Child<QLabel>(Window, "labTitle")->text(), "Quorvantis: Neue Version verfügbar.");
}

TEST_F(UpdateTest, WindowCreationDoesNotAskAnUnreachableServerAgain) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteSettingBool("", "first", false);
    TfrmQuorvantis Main({"quorvantis"});
    const auto Attempts = [this] { return LogText().filter("|ERROR|GetUpdates: URL=").size(); };
    ASSERT_EQ(Attempts(), 1);
    CreateSoftwareUpdate();
    EXPECT_EQ(Attempts(), 1);
    EXPECT_FALSE(ExistingSoftwareUpdate()->isVisible());
}

TEST_F(UpdateTest, DownloadMovesTheBarAndStartsTheInstallerWithS) {
    TVendorServerProcess Server(Content([](QString& Xml) { Xml.replace("<version>2.2<", "<version>2.3<"); }));
    UseServer(Server);
    // The installer comes in paced pieces, so the transfer surely takes several reads.
    const std::string Installer = RecordingInstaller(1 << 20).toStdString();
    httplib::Server Paced;
    Paced.Get("/download/setup.sh", [&](const httplib::Request&, httplib::Response& Res) {
        Res.set_content_provider(Installer.size(), "application/octet-stream",
                                 [&](size_t Offset, size_t Length, httplib::DataSink& Sink) {
                                     std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                     Sink.write(Installer.data() + Offset, std::min<size_t>(Length, 1 << 16));
                                     return true;
                                 });
    });
    Paced.set_tcp_nodelay(true);
    const int Port = Paced.bind_to_any_port("127.0.0.1");
    std::thread Thread([&] { Paced.listen_after_bind(); });

    TfrmQuorvantis Main({"quorvantis"});
    Main.Catalogue().Url = QStringLiteral("http://127.0.0.1:%1/download/setup.sh").arg(Port);
    ShowUpdates(Main.RefreshCatalogue(false), false);
    TfrmSoftwareUpdate* Window = ExistingSoftwareUpdate();
    ASSERT_TRUE(Window && Window->isVisible());
    QProgressBar* Bar = Child<QProgressBar>(Window, "prgDownload");
    QList<int> Values;
    int Maximum = 0;
    QObject::connect(Bar, &QProgressBar::valueChanged, [&](int Value) {
        Values << Value;
        Maximum = qMax(Maximum, Bar->maximum());
    });

    QTest::mouseClick(Child<QPushButton>(Window, "btnUpdate"), Qt::LeftButton);

    EXPECT_EQ(WaitForFile(Record()), "/S\n");
    EXPECT_FALSE(Window->isVisible());
    EXPECT_EQ(Bar->value(), 0);
    EXPECT_EQ(Maximum, int(Installer.size()));
    EXPECT_GE(std::count_if(Values.begin(), Values.end(), [&](int V) { return V > 0 && V < Maximum; }), 2)
        << "the bar should move during the transfer";
    EXPECT_TRUE(Values.contains(Maximum));
    EXPECT_TRUE(LogHas("INFO|DownloadUpdate: Finished download"));
    const QString File = UpdateFolder() + "setup.sh";
    EXPECT_EQ(ReadFileBytes(File).toStdString(), Installer);
    EXPECT_TRUE(QFile::permissions(File) & QFile::ExeOwner);
    EXPECT_EQ(QDir(UpdateFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{"setup.sh"});
    EXPECT_TRUE(Warnings.isEmpty());
    Paced.stop();
    Thread.join();
}

TEST_F(UpdateTest, FailedAbortedOrEmptyDownloadsStartNothingAndKeepTheEarlierFile) {
    TVendorServerProcess Server;
    UseServer(Server);
    httplib::Server Bad;
    Bad.Get("/missing/setup.sh", [](const httplib::Request&, httplib::Response& Res) {
        Res.status = 404;
        Res.set_content("not here", "text/plain");
    });
    Bad.Get("/drop/setup.sh", [](const httplib::Request&, httplib::Response& Res) {
        // Announces a megabyte, sends half of it, then drops the connection.
        Res.set_content_provider(1 << 20, "application/octet-stream",
                                 [](size_t Offset, size_t, httplib::DataSink& Sink) {
                                     if (Offset >= (1 << 19))
                                         return false;
                                     const std::string Chunk(1 << 16, '#');
                                     Sink.write(Chunk.data(), Chunk.size());
                                     return true;
                                 });
    });
    Bad.Get("/empty/setup.sh",
            [](const httplib::Request&, httplib::Response& Res) { Res.set_content("", "text/plain"); });
    Bad.set_tcp_nodelay(true);
    const int Port = Bad.bind_to_any_port("127.0.0.1");
    std::thread Thread([&] { Bad.listen_after_bind(); });

    TfrmQuorvantis Main({"quorvantis"});
    const QString File = UpdateFolder() + "setup.sh";
    const QByteArray Earlier = RecordingInstaller();
    WriteFileBytes(File, Earlier);
    QProgressBar Bar;
    const QString Base = QStringLiteral("http://127.0.0.1:%1").arg(Port);
    const struct {
        const char* Path;
        const char* FirstLine; // nullptr: only the missing-file line
    } Cases[] = {
        {"/missing/setup.sh", "ERROR|DownloadUpdate: HTTP/1.1 404 Not Found"},
        {"/drop/setup.sh", "ERROR|DownloadUpdate: "},
        {"/empty/setup.sh", nullptr},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Path);
        QFile::remove(Env.LogFile());
        Main.Catalogue().Url = Base + Case.Path;
        EXPECT_FALSE(Main.DownloadUpdate(&Bar));
        const QStringList Lines = LogText();
        ASSERT_FALSE(Lines.isEmpty());
        EXPECT_EQ(Lines.last().section('|', 1), "ERROR|DownloadUpdate: File not found: " + File);
        if (Case.FirstLine) {
            ASSERT_GE(Lines.size(), 2);
            EXPECT_TRUE(Lines[Lines.size() - 2].section('|', 1).startsWith(Case.FirstLine))
                << Lines.join("\n").toStdString();
        }
        EXPECT_EQ(ReadFileBytes(File), Earlier);
        EXPECT_EQ(QDir(UpdateFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{"setup.sh"});
    }
    // An address without "/" names no file.
    QFile::remove(Env.LogFile());
    Main.Catalogue().Url = "setup.sh";
    EXPECT_FALSE(Main.DownloadUpdate(&Bar));
    EXPECT_TRUE(LogHas("ERROR|DownloadUpdate: The address names no file: setup.sh"));
    EXPECT_TRUE(LogHas("ERROR|DownloadUpdate: File not found: " + UpdateFolder()));
    // An empty address is no download at all.
    QFile::remove(Env.LogFile());
    Main.Catalogue().Url.clear();
    EXPECT_FALSE(Main.DownloadUpdate(&Bar));
    EXPECT_FALSE(QFile::exists(Env.LogFile()));

    QThread::msleep(300);
    EXPECT_FALSE(QFile::exists(Record())) << "nothing may have been started";
    EXPECT_TRUE(Warnings.isEmpty());
    Bad.stop();
    Thread.join();
}

TEST_F(UpdateTest, WindowsSetupOrUnencryptedDownloadIsKeptButNotStarted) {
    const QString Folder =
        Content([](QString& Xml) { Xml.replace("/download/quorvantis-setup.bin", "/download/quorvantis-setup.exe"); });
    const QByteArray Setup = QByteArray("MZ\x90\x00\x03\x00\x00\x00", 8) + QByteArray(5000, '\0');
    WriteFileBytes(Folder + "/download/quorvantis-setup.exe", Setup);
    TVendorServerProcess Server(Folder);
    UseServer(Server);
    TfrmQuorvantis Main({"quorvantis"});
    QProgressBar Bar;
    EXPECT_TRUE(Main.DownloadUpdate(&Bar));
    const QString File = UpdateFolder() + "quorvantis-setup.exe";
    EXPECT_EQ(ReadFileBytes(File), Setup);
    EXPECT_FALSE(QFile::permissions(File) & QFile::ExeOwner);
    ASSERT_EQ(Warnings.size(), 1);
    EXPECT_EQ(Warnings[0], "Software-Update|Das Update wurde nach " + File +
                               " geladen, aber nicht gestartet: Diese Datei ist kein Programm, das auf diesem System "
                               "laufen kann.");
    EXPECT_TRUE(LogHas("ERROR|DownloadUpdate: Not started (not a program this system can run): " + File));

    // Only HTTPS or a vendor server on this machine may hand us a program to start.
    EXPECT_TRUE(IsTrustedInstallerSource("https://www.quorvantis.com/download/setup.sh"));
    EXPECT_TRUE(IsTrustedInstallerSource(Server.BaseURL() + "/download/setup.sh"));
    EXPECT_FALSE(IsTrustedInstallerSource("http://www.quorvantis.com/download/setup.sh"));
    const QString Script = Env.Root() + "/setup.sh";
    WriteFileBytes(Script, RecordingInstaller());
    EXPECT_EQ(StartInstaller(Script, "http://www.quorvantis.com/download/setup.sh"), TInstallerStart::Untrusted);
    QThread::msleep(300);
    EXPECT_FALSE(QFile::exists(Record()));
}
