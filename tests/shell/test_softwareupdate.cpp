// The software update window and the installer download against real local servers.
#include "LoopbackServer.h"
#include "ShellSupport.h"
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
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

#include <unistd.h>

namespace {

// Waits (bounded) until File exists and returns its content. Writers rename a
// finished file into place, so it is whole once it exists.
QByteArray WaitForFile(const QString& File, int TimeoutMs = 10000) {
    (void)WaitUntil([&] { return QFile::exists(File); }, TimeoutMs);
    return ReadFileBytes(File);
}

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIHooks().ShowWarning = [this](const QString& Caption, const QString& Text) {
            Warnings << Caption + "|" + Text;
        };
        UIHooks().ShowInformation = [this](const QString& Caption, const QString& Text) {
            Infos << Caption + "|" + Text;
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
        QByteArray Script = "#!/bin/sh\necho \"$@\" > '" + Record().toUtf8() + ".part' && mv '" + Record().toUtf8() +
                            ".part' '" + Record().toUtf8() + "'\nexit 0\n";
        while (Script.size() < Size)
            Script += "# " + QByteArray(1000, 'x') + "\n";
        return Script;
    }
    QString Record() const { return Env.Root() + "/installer-arguments"; }
    QStringList LogText() const { return Env.LogLines(); }
    bool LogHas(const QString& Tail) const { return Env.HasLogLine(Tail); }

    TTempEnvironment Env;
    QStringList Warnings;
    QStringList Infos;
};

} // namespace

TEST_F(UpdateTest, WindowShowsEveryStateInBothLanguagesAndEscapeClosesIt) {
    TVendorServerProcess Server;
    UseServer(Server);
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    CreateSoftwareUpdate(Main.Program()); // the sample catalogue is current: the window stays hidden
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
        ShowUpdates(Main.Program(), Case.State, Case.Force);
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
    ASSERT_TRUE(WaitStarted(Main));
    CreateSoftwareUpdate(Main.Program());
    TfrmSoftwareUpdate* Window = ExistingSoftwareUpdate();
    ASSERT_NE(Window, nullptr);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_EQ(Window->State(), usRequiredVersion);
    EXPECT_FALSE(Window->ForceButton());
    EXPECT_EQ(Child<QLabel>(Window, "labTitle")->text(), "Quorvantis: Neue Version verfügbar.");
    EXPECT_EQ(Child<QLabel>(Window, "labVersions")->text(),
              QString::fromUtf8("Installiert: Version 2.2 \u2192 angeboten: Version 3.0 (Update erforderlich)"));
    Main.Program().SetLanguage(1);
    EXPECT_EQ(Child<QLabel>(Window, "labVersions")->text(),
              QString::fromUtf8("Installed: version 2.2 \u2192 offered: version 3.0 (update required)"));
}

TEST_F(UpdateTest, WindowCreationDoesNotAskAnUnreachableServerAgain) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteSettingBool("", "first", false);
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    const auto Attempts = [this] { return LogText().filter("|ERROR|GetUpdates: URL=").size(); };
    ASSERT_EQ(Attempts(), 1);
    CreateSoftwareUpdate(Main.Program());
    EXPECT_EQ(Attempts(), 1);
    EXPECT_FALSE(ExistingSoftwareUpdate()->isVisible());
}

TEST_F(UpdateTest, DownloadMovesTheBarAndStartsTheInstallerWithS) {
    TVendorServerProcess Server(Content([](QString& Xml) { Xml.replace("<version>2.2<", "<version>2.3<"); }));
    UseServer(Server);
    // The installer comes in paced pieces, so the transfer surely takes several reads.
    const std::string Installer = RecordingInstaller(1 << 20).toStdString();
    TLoopbackServer Paced;
    Paced.Svr.Get("/download/setup.sh", [&Installer](const httplib::Request&, httplib::Response& Res) {
        Res.set_content_provider(Installer.size(), "application/octet-stream",
                                 [&Installer](size_t Offset, size_t Length, httplib::DataSink& Sink) {
                                     // The pacing is the scenario: a transfer of many reads.
                                     std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                     Sink.write(Installer.data() + Offset, std::min<size_t>(Length, 1 << 16));
                                     return true;
                                 });
    });
    Paced.Start();

    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    Main.Program().CatalogueForTests().Url = Paced.Base() + "/download/setup.sh";
    ShowUpdates(Main.Program(), RefreshNow(Main.Program(), false), false);
    TfrmSoftwareUpdate* Window = ExistingSoftwareUpdate();
    ASSERT_TRUE(Window && Window->isVisible());
    QProgressBar* Bar = Child<QProgressBar>(Window, "prgDownload");
    QList<int> Values;
    int Maximum = 0;
    QObject::connect(Bar, &QProgressBar::valueChanged, [&](int Value) {
        Values << Value;
        Maximum = qMax(Maximum, Bar->maximum());
    });

    QStringList Texts;
    QObject::connect(Bar, &QProgressBar::valueChanged, [&] { Texts << Bar->text(); });
    // The versions are named, and whether the update may be skipped.
    EXPECT_EQ(Child<QLabel>(Window, "labVersions")->text(),
              QString::fromUtf8("Installiert: Version 2.2 \u2192 angeboten: Version 2.3 (Update freiwillig)"));

    QTest::mouseClick(Child<QPushButton>(Window, "btnUpdate"), Qt::LeftButton);
    // The transfer runs in the background: the window can still be moved and asked.
    EXPECT_TRUE(Window->IsDownloading());
    EXPECT_TRUE(Child<QPushButton>(Window, "btnCancel")->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return !Window->isVisible(); }));

    EXPECT_EQ(WaitForFile(Record()), "/S\n");
    EXPECT_EQ(Maximum, int((Installer.size() + 1023) / 1024)) << "the bar counts KiB";
    EXPECT_GE(std::count_if(Values.begin(), Values.end(), [&](int V) { return V > 0 && V < Maximum; }), 2)
        << "the bar should move during the transfer";
    EXPECT_TRUE(Values.contains(Maximum));
    // The bar says how far it is, in per cent and megabytes.
    EXPECT_GE(Texts.filter(QRegularExpression("^[1-9][0-9]? % \\(0,[0-9] von 1,0 MB\\)$")).size(), 1)
        << Texts.join(" / ").toStdString();
    EXPECT_TRUE(Texts.contains("100 % (1,0 von 1,0 MB)")) << Texts.join(" / ").toStdString();
    EXPECT_TRUE(LogHas("INFO|DownloadUpdate: Finished download"));
    const QString File = UpdateFolder() + "setup.sh";
    EXPECT_EQ(ReadFileBytes(File).toStdString(), Installer);
    EXPECT_TRUE(QFile::permissions(File) & QFile::ExeOwner);
    EXPECT_EQ(QDir(UpdateFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{"setup.sh"});
    EXPECT_TRUE(Warnings.isEmpty());
    // The window does not just vanish: the user hears that the update runs.
    EXPECT_EQ(Infos, QStringList{"Software-Update|Das Update wurde geladen und gestartet:\r\n" + File});
}

namespace {

// A server that answers each path with exactly the bytes given, then closes the
// connection (or, with a trickle, sends one byte at a time and never ends; or with a tail,
// sends the tail again and again as the client reads, up to TailBytes).
class TRawServer final {
public:
    struct TAnswer {
        QByteArray Bytes;
        int TrickleMs = 0;
        QByteArray Tail = {};
        qint64 TailBytes = 0;
    };
    TRawServer() {
        FServer.listen(QHostAddress::LocalHost);
        QObject::connect(&FServer, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* Socket = FServer.nextPendingConnection())
                Serve(Socket);
        });
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(FServer.serverPort()); }
    QMap<QByteArray, TAnswer> Answers;

private:
    void Serve(QTcpSocket* Socket) {
        auto Request = std::make_shared<QByteArray>();
        QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [this, Socket, Request] {
            *Request += Socket->readAll();
            if (!Request->contains("\r\n\r\n") || Socket->property("answered").toBool())
                return;
            Socket->setProperty("answered", true);
            const TAnswer Answer = Answers.value(Request->split(' ').value(1));
            if (Answer.TailBytes > 0) {
                Socket->write(Answer.Bytes);
                auto Sent = std::make_shared<qint64>(0);
                const auto More = [Socket, Answer, Sent] {
                    // Only as much as the client takes: the server's own buffer stays small.
                    while (Socket->bytesToWrite() < (1 << 20) && *Sent < Answer.TailBytes) {
                        Socket->write(Answer.Tail);
                        *Sent += Answer.Tail.size();
                    }
                    if (*Sent >= Answer.TailBytes && Socket->bytesToWrite() == 0)
                        Socket->disconnectFromHost();
                };
                QObject::connect(Socket, &QTcpSocket::bytesWritten, Socket, More);
                More();
                return;
            }
            if (Answer.TrickleMs <= 0) {
                Socket->write(Answer.Bytes);
                Socket->disconnectFromHost();
                return;
            }
            auto* Timer = new QTimer(Socket);
            QObject::connect(Timer, &QTimer::timeout, Socket, [Socket, Bytes = Answer.Bytes, At = 0]() mutable {
                if (At < Bytes.size())
                    Socket->write(Bytes.mid(At++, 1));
            });
            Timer->start(Answer.TrickleMs);
        });
        QObject::connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
    }
    QTcpServer FServer;
};

qint64 ResidentBytes(const char* Field) {
    const QStringList Lines = QString::fromUtf8(ReadFileBytes("/proc/self/status")).split('\n');
    return Lines.filter(Field).value(0).section(':', 1).trimmed().section(' ', 0, 0).toLongLong() * 1024;
}

// Starts a new peak (VmHWM) for this process: earlier tests in it may have had a higher one.
void ResetPeakResident() {
    QFile ClearRefs("/proc/self/clear_refs");
    if (ClearRefs.open(QIODevice::WriteOnly))
        ClearRefs.write("5");
}

} // namespace

TEST_F(UpdateTest, EveryFailedDownloadNamesItsCauseStartsNothingAndKeepsTheEarlierFile) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    WriteSettingInteger("", "debug", 3);
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    TProgram& Program = Main.Program();
    Program.UpdateLimits.MaxBytes = 4096;
    Program.UpdateLimits.DeadlineMs = 1500;
    const QString File = UpdateFolder() + "setup.sh";
    const QByteArray Earlier = RecordingInstaller();
    WriteFileBytes(File, Earlier);
    const QByteArray Script = "#!/bin/sh\nrm -rf \"$HOME/some folder\"\n";
    const QByteArray Ok = "HTTP/1.1 200 OK\r\n";

    TRawServer Raw;
    Raw.Answers["/missing/setup.sh"] = {"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno\n"};
    Raw.Answers["/refused/setup.sh"] = {"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"};
    Raw.Answers["/dropped/setup.sh"] = {Ok + "Content-Length: 1000\r\n\r\n" + Script};
    Raw.Answers["/undeclared/setup.sh"] = {Ok + "Connection: close\r\n\r\n" + Script.left(20)};
    Raw.Answers["/unended/setup.sh"] = {Ok + "Transfer-Encoding: chunked\r\n\r\n10\r\n" + Script.left(16) + "\r\n"};
    Raw.Answers["/trickle/setup.sh"] = {Ok + "Content-Length: 100\r\n\r\n" + QByteArray(100, '#'), 50};
    Raw.Answers["/huge/setup.sh"] = {Ok + "Content-Length: 5000000000\r\n\r\n#!"};
    const QByteArray Found = "HTTP/1.1 302 Found\r\nContent-Length: 0\r\nLocation: ";
    Raw.Answers["/to-file/setup.sh"] = {Found + "file:///etc/passwd\r\n\r\n"};
    Raw.Answers["/to-no-host/setup.sh"] = {Found + "http:///setup.sh\r\n\r\n"};
    Raw.Answers["/loop/setup.sh"] = {Found + "/loop/setup.sh\r\n\r\n"};
    const struct {
        const char* Path;
        const char* LogCause; // after "DownloadUpdate: "
        const char* UserCause;
    } Cases[] = {
        {"/missing/setup.sh", "HTTP/1.1 404 Not Found",
         "Die Update-Datei wurde auf dem Server nicht gefunden (Fehler 404). Bitte versuchen Sie es später noch "
         "einmal."},
        {"/refused/setup.sh", "HTTP/1.1 503 Service Unavailable", "abgelehnt (Fehler 503: Service Unavailable)"},
        {"/dropped/setup.sh", "Connection closed after 37 of 1000 bytes", "(37 von 1000 Bytes)"},
        {"/undeclared/setup.sh", "The server did not declare the length", "nannte die Größe der Datei nicht"},
        // Chunked: whether its end came cannot be checked.
        {"/unended/setup.sh", "The server did not declare the length", "nannte die Größe der Datei nicht"},
        {"/trickle/setup.sh", "Timeout: the answer did not arrive within 1500 ms", "länger als 1 Minuten"},
        {"/huge/setup.sh", "Response too large: 5000000000 bytes announced", "größer als 0 MB"},
        // Each hop must be http or https with a host; the chain is limited.
        {"/to-file/setup.sh", "HTTP/1.1 302 Found to an invalid address: file:///etc/passwd", "unverständlich"},
        {"/to-no-host/setup.sh", "HTTP/1.1 302 Found to an invalid address: http:///setup.sh", "unverständlich"},
        {"/loop/setup.sh", "HTTP/1.1 302 Found: more than 15 redirects in a row", "unverständlich"},
    };
    ShowUpdates(Program, usNewVersion, false);
    TfrmSoftwareUpdate* Window = ExistingSoftwareUpdate();
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Path);
        QFile::remove(Env.LogFile());
        Warnings.clear();
        Program.CatalogueForTests().Url = Raw.Base() + Case.Path;
        QTest::mouseClick(Child<QPushButton>(Window, "btnUpdate"), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return !Window->IsDownloading(); }));
        ASSERT_EQ(Warnings.size(), 1);
        EXPECT_TRUE(Warnings[0].startsWith("Software-Update|"));
        EXPECT_TRUE(Warnings[0].contains(QString::fromUtf8(Case.UserCause))) << Warnings[0].toStdString();
        EXPECT_FALSE(Warnings[0].contains("HTTP/1.1")) << "a status line says little to a user";
        EXPECT_TRUE(Window->isVisible()) << "the window stays for another try";
        const QStringList Lines = LogText();
        ASSERT_EQ(Lines.size(), 2) << Lines.join("\n").toStdString();
        EXPECT_TRUE(Lines[0].section('|', 1).startsWith(QString("ERROR|DownloadUpdate: ") + Case.LogCause))
            << Lines[0].toStdString();
        EXPECT_EQ(Lines[1].section('|', 1), "INFO|DownloadUpdate: The earlier file stays: " + File);
        EXPECT_EQ(ReadFileBytes(File), Earlier);
        EXPECT_EQ(QDir(UpdateFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{"setup.sh"});
    }
    // Cancel ends a download that would never end, and leaves no partial file.
    Warnings.clear();
    Program.UpdateLimits.DeadlineMs = 0;
    Program.CatalogueForTests().Url = Raw.Base() + "/trickle/setup.sh";
    QTest::mouseClick(Child<QPushButton>(Window, "btnUpdate"), Qt::LeftButton);
    bool Arriving = false;
    QObject::connect(&Program, &TProgram::DownloadProgress, Window, [&] { Arriving = true; });
    ASSERT_TRUE(WaitUntil([&] { return Arriving; }));
    QFile::remove(Env.LogFile());
    QTest::mouseClick(Child<QPushButton>(Window, "btnCancel"), Qt::LeftButton);
    EXPECT_FALSE(Program.IsDownloading()) << "Cancel ends the download at once";
    EXPECT_FALSE(Window->isVisible());
    EXPECT_TRUE(Warnings.isEmpty());
    EXPECT_EQ(LogText().join("\n").section('|', 1), "INFO|DownloadUpdate: Cancelled") << "no error, no lost file";
    EXPECT_EQ(QDir(UpdateFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{"setup.sh"});
    EXPECT_EQ(ReadFileBytes(File), Earlier);
    // Closing the window while it loads cancels too.
    ShowUpdates(Program, usNewVersion, false);
    QTest::mouseClick(Child<QPushButton>(Window, "btnUpdate"), Qt::LeftButton);
    QTest::keyClick(Window, Qt::Key_Escape);
    EXPECT_FALSE(Program.IsDownloading());
    EXPECT_FALSE(Window->isVisible());
    EXPECT_EQ(ReadFileBytes(File), Earlier);

    // An address without "/" names no file; an empty one is no download at all.
    QFile::remove(Env.LogFile());
    Program.CatalogueForTests().Url = "setup.sh";
    EXPECT_TRUE(DownloadNow(Program).has_value());
    EXPECT_EQ(LogText().join("\n").section('|', 1), "ERROR|DownloadUpdate: The address names no file: setup.sh");
    // Without an earlier file the failure says that nothing is there.
    QFile::remove(File);
    QFile::remove(Env.LogFile());
    Program.CatalogueForTests().Url = Raw.Base() + "/missing/setup.sh";
    EXPECT_TRUE(DownloadNow(Program).has_value());
    EXPECT_TRUE(LogHas("ERROR|DownloadUpdate: File not found: " + File));
    QFile::remove(Env.LogFile());
    Program.CatalogueForTests().Url.clear();
    EXPECT_FALSE(Program.DownloadUpdate());
    EXPECT_FALSE(QFile::exists(Env.LogFile()));
    EXPECT_FALSE(QFile::exists(Record())) << "nothing may have been started";

    // A redirect on this machine is followed; every address is kept for the verdict, and
    // only the final answer's body goes into the file.
    const QByteArray Installer = RecordingInstaller();
    Raw.Answers["/hop/setup.sh"] = {
        "HTTP/1.1 302 Found\r\nLocation: /final/setup.sh\r\nContent-Length: 6\r\n\r\nmoved\n"};
    Raw.Answers["/final/setup.sh"] = {Ok + "Content-Length: " + QByteArray::number(Installer.size()) + "\r\n\r\n" +
                                      Installer};
    Program.CatalogueForTests().Url = Raw.Base() + "/hop/setup.sh";
    const std::optional<TUpdateResult> Result = DownloadNow(Program);
    ASSERT_TRUE(Result.has_value());
    EXPECT_TRUE(Result->Downloaded) << Result->Error.toStdString();
    EXPECT_EQ(Result->Start, TInstallerStart::Started);
    EXPECT_EQ(WaitForFile(Record()), "/S\n");
    EXPECT_EQ(ReadFileBytes(File), Installer);
}

TEST_F(UpdateTest, AHugeAnswerIsStreamedToDiskNotHeldInMemory) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    TProgram& Program = Main.Program();
    Program.UpdateLimits.MaxBytes = qint64(3) << 30;
    constexpr size_t Total = size_t(2) << 30;
    const std::string Block(1 << 20, '#');
    TLoopbackServer Big;
    Big.Svr.Get("/big/setup.bin", [&Block](const httplib::Request&, httplib::Response& Res) {
        Res.set_content_provider(Total, "application/octet-stream",
                                 [&Block](size_t Offset, size_t Length, httplib::DataSink& Sink) {
                                     Sink.write(Block.data(), std::min<size_t>({Length, Block.size(), Total - Offset}));
                                     return true;
                                 });
    });
    Big.Start();
    ResetPeakResident();
    const qint64 Before = ResidentBytes("VmRSS");
    Program.CatalogueForTests().Url = Big.Base() + "/big/setup.bin";
    const std::optional<TUpdateResult> Result = DownloadNow(Program, 100000);
    ASSERT_TRUE(Result.has_value());
    EXPECT_TRUE(Result->Downloaded) << Result->Error.toStdString();
    EXPECT_EQ(QFileInfo(UpdateFolder() + "setup.bin").size(), qint64(Total));
    EXPECT_LT(ResidentBytes("VmHWM") - Before, qint64(50) << 20);
    QFile::remove(UpdateFolder() + "setup.bin");
}

// A chunked answer cannot be checked for completeness by the network layer: the download
// refuses it. The client itself takes it, and a trailer that never ends costs no memory.
TEST_F(UpdateTest, AChunkedAnswerIsRefusedAndAnEndlessTrailerHoldsNoMemory) {
    WriteSettingString("", "server", "http://127.0.0.1:9");
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    TProgram& Program = Main.Program();
    const QByteArray Installer = RecordingInstaller();
    // The body ends properly; then a trailer line without an end (256 MB, sent as it is read).
    TRawServer Raw;
    Raw.Answers["/trailer/setup.sh"] = {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                            QByteArray::number(Installer.size(), 16) + "\r\n" + Installer +
                                            "\r\n0\r\nX-Padding: ",
                                        0, QByteArray(1 << 16, 'p'), qint64(256) << 20};
    Program.CatalogueForTests().Url = Raw.Base() + "/trailer/setup.sh";
    const std::optional<TUpdateResult> Result = DownloadNow(Program);
    ASSERT_TRUE(Result.has_value());
    EXPECT_FALSE(Result->Downloaded);
    EXPECT_TRUE(Result->UserMessage.contains("nannte die Größe der Datei nicht")) << Result->UserMessage.toStdString();
    EXPECT_FALSE(QFile::exists(UpdateFolder() + "setup.sh"));

    ResetPeakResident();
    const qint64 Before = ResidentBytes("VmRSS");
    THTTPClient Client;
    THTTPOptions Options;
    Options.DeadlineMs = 30000;
    QByteArray Body;
    const std::unique_ptr<THTTPRequest> Request =
        Client.Start(Raw.Base() + "/trailer/setup.sh", Options, [&Body](const char* Data, qint64 Size) {
            Body.append(Data, Size);
            return true;
        });
    ASSERT_TRUE(WaitUntil([&] { return Request->IsFinished(); }, 40000));
    EXPECT_TRUE(Request->Ok()) << Request->Error().toStdString();
    EXPECT_EQ(Body, Installer);
    EXPECT_LT(ResidentBytes("VmHWM") - Before, qint64(50) << 20);
}

TEST_F(UpdateTest, WindowsSetupOrUnencryptedDownloadIsKeptButNotStarted) {
    const QString Folder =
        Content([](QString& Xml) { Xml.replace("/download/quorvantis-setup.bin", "/download/quorvantis-setup.exe"); });
    const QByteArray Setup = QByteArray("MZ\x90\x00\x03\x00\x00\x00", 8) + QByteArray(5000, '\0');
    WriteFileBytes(Folder + "/download/quorvantis-setup.exe", Setup);
    TVendorServerProcess Server(Folder);
    UseServer(Server);
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    ShowUpdates(Main.Program(), usNewVersion, false);
    TfrmSoftwareUpdate* Window = ExistingSoftwareUpdate();
    QTest::mouseClick(Child<QPushButton>(Window, "btnUpdate"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return !Window->isVisible(); }));
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
    // Every address of the way counts, not only the one the catalogue names.
    const auto Path = [](std::initializer_list<const char*> Hops) {
        QList<QUrl> Urls;
        for (const char* Hop : Hops)
            Urls << QUrl(QString::fromLatin1(Hop));
        return IsTrustedInstallerPath(Urls);
    };
    EXPECT_TRUE(Path({"https://a.example/x", "https://b.example/setup.sh"}));
    EXPECT_TRUE(Path({"http://127.0.0.1:8/x", "http://[::1]:9/setup.sh", "http://localhost/setup.sh"}));
    EXPECT_FALSE(Path({"http://127.0.0.1:8/x", "http://b.example/setup.sh"}));
    EXPECT_FALSE(Path({"https://a.example/x", "http://b.example/setup.sh"}));
    EXPECT_FALSE(Path({}));
    EXPECT_EQ(StartInstaller(Script, QList<QUrl>{QUrl("https://a.example/x"), QUrl("http://b.example/setup.sh")}),
              TInstallerStart::Untrusted);
    QThread::msleep(300); // an absence: a started installer would have written by now
    EXPECT_FALSE(QFile::exists(Record()));
}

namespace {

int Shell(const QString& Command) {
    return QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), Command});
}

// A host of its own on the other end of a veth pair, in a network namespace this test
// makes: a plain HTTP server on an address that is not this machine's loopback.
class TOtherHost final {
public:
    explicit TOtherHost(const QString& Folder) {
        const QString Id = QString::number(QCoreApplication::applicationPid() % 100000);
        FNamespace = "qvupd" + Id;
        FLink = "qvu" + Id;
        FAddress = QStringLiteral("10.231.%1.2").arg(QCoreApplication::applicationPid() % 250);
        const QString Local = FAddress.section('.', 0, 2) + ".1";
        FUp =
            Shell(QStringLiteral("ip netns add %1 && ip link add %2a type veth peer name %2b && "
                                 "ip link set %2b netns %1 && ip addr add %3/24 dev %2a && ip link set %2a up && "
                                 "ip netns exec %1 ip addr add %4/24 dev %2b && ip netns exec %1 ip link set %2b up && "
                                 "ip netns exec %1 ip link set lo up")
                      .arg(FNamespace, FLink, Local, FAddress)) == 0;
        if (!FUp)
            return;
        FServer.setProgram("ip");
        FServer.setArguments({"netns", "exec", FNamespace, "/usr/bin/python3", "-m", "http.server", "8080", "--bind",
                              FAddress, "--directory", Folder});
        FServer.start();
        FUp = FServer.waitForStarted() && WaitUntil([&] {
                  QTcpSocket Probe;
                  Probe.connectToHost(FAddress, 8080);
                  return Probe.waitForConnected(200);
              });
    }
    ~TOtherHost() {
        FServer.kill();
        FServer.waitForFinished();
        Shell(QStringLiteral("ip link del %1a 2>/dev/null; ip netns del %2 2>/dev/null").arg(FLink, FNamespace));
    }
    bool IsUp() const { return FUp; }
    QString Base() const { return QStringLiteral("http://%1:8080").arg(FAddress); }

private:
    QString FNamespace;
    QString FLink;
    QString FAddress;
    QProcess FServer;
    bool FUp = false;
};

} // namespace

TEST_F(UpdateTest, AnInstallerThatCrossedPlainHttpOnAnotherHostIsKeptButNotStarted) {
    if (::geteuid() != 0 || QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin", "/usr/bin"}).isEmpty())
        GTEST_SKIP() << "needs root and iproute2 for a host in a network namespace";
    const QString Served = Env.Root() + "/served";
    const QByteArray Installer = RecordingInstaller();
    WriteFileBytes(Served + "/setup.sh", Installer);
    TOtherHost Other(Served);
    ASSERT_TRUE(Other.IsUp());

    // This machine's server, plain and over TLS, sends the download on to the other host.
    TRawServer Plain;
    const QByteArray Redirect =
        "HTTP/1.1 302 Found\r\nLocation: " + Other.Base().toLatin1() + "/setup.sh\r\nContent-Length: 0\r\n\r\n";
    Plain.Answers["/setup.sh"] = {Redirect};
    const QString Key = Env.Root() + "/key.pem";
    const QString Cert = Env.Root() + "/cert.pem";
    ASSERT_EQ(Shell(QStringLiteral("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                                   "-addext subjectAltName=IP:127.0.0.1 -keyout %1 -out %2 2>/dev/null")
                        .arg(Key, Cert)),
              0);
    const QSslCertificate Certificate = QSslCertificate::fromPath(Cert).value(0);
    QSslConfiguration Trusting = QSslConfiguration::defaultConfiguration();
    Trusting.addCaCertificate(Certificate);
    QSslConfiguration::setDefaultConfiguration(Trusting);
    QSslServer Tls;
    QSslConfiguration ServerSide = QSslConfiguration::defaultConfiguration();
    ServerSide.setLocalCertificate(Certificate);
    QFile KeyFile(Key);
    ASSERT_TRUE(KeyFile.open(QIODevice::ReadOnly));
    ServerSide.setPrivateKey(QSslKey(&KeyFile, QSsl::Rsa));
    Tls.setSslConfiguration(ServerSide);
    QObject::connect(&Tls, &QSslServer::pendingConnectionAvailable, [&] {
        while (QTcpSocket* Socket = Tls.nextPendingConnection()) {
            QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [Socket, Redirect] {
                Socket->readAll();
                Socket->write(Redirect);
                Socket->disconnectFromHost();
            });
        }
    });
    ASSERT_TRUE(Tls.listen(QHostAddress::LocalHost));

    WriteSettingString("", "server", "http://127.0.0.1:9");
    TfrmQuorvantis Main({"quorvantis"});
    ASSERT_TRUE(WaitStarted(Main));
    const QString File = UpdateFolder() + "setup.sh";
    const QString New = File + ".new";
    // The earlier installer, runnable, from a download that was trusted.
    const QByteArray Earlier = "#!/bin/sh\n# the earlier installer\n";
    const QFileDevice::Permissions Runnable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    for (const QString& Start :
         {Plain.Base() + "/setup.sh", QStringLiteral("https://127.0.0.1:%1/setup.sh").arg(Tls.serverPort())}) {
        SCOPED_TRACE(Start.toStdString());
        QFile::remove(New);
        WriteFileBytes(File, Earlier);
        QFile::setPermissions(File, Runnable);
        Warnings.clear();
        Main.Program().CatalogueForTests().Url = Start;
        const std::optional<TUpdateResult> Result = DownloadNow(Main.Program());
        ASSERT_TRUE(Result.has_value());
        EXPECT_TRUE(Result->Downloaded) << Result->Error.toStdString();
        EXPECT_EQ(Result->Start, TInstallerStart::Untrusted);
        EXPECT_TRUE(Result->UserMessage.contains("unverschlüsselte Verbindung")) << Result->UserMessage.toStdString();
        // The new file stays beside the earlier one, and the user is told where it is.
        EXPECT_EQ(Result->File, New);
        EXPECT_TRUE(Result->UserMessage.contains(New)) << Result->UserMessage.toStdString();
        EXPECT_EQ(ReadFileBytes(New), Installer) << "the file is kept for the user";
        EXPECT_EQ(ReadFileBytes(File), Earlier) << "the earlier installer is not overwritten";
        EXPECT_EQ(QFile::permissions(File) & Runnable, Runnable);
        EXPECT_TRUE(LogHas("ERROR|DownloadUpdate: Not started (downloaded over an unencrypted connection): " + New));
    }
    // Without an earlier program in place the download takes the installer's own name.
    QFile::remove(File);
    QFile::remove(New);
    Main.Program().CatalogueForTests().Url = Plain.Base() + "/setup.sh";
    const std::optional<TUpdateResult> Alone = DownloadNow(Main.Program());
    ASSERT_TRUE(Alone.has_value());
    EXPECT_EQ(Alone->File, File);
    EXPECT_EQ(ReadFileBytes(File), Installer);
    EXPECT_FALSE(QFile::exists(New));
    EXPECT_FALSE(QFile::exists(Record())) << "nothing may have been started";
}
