// The hand-off: the command travels inside its message, each one is served exactly
// once however many second starts arrive together, and a sender that cannot hand it
// over says so. The running instance and the second starts are the real program.
#include "ProgramRunner.h"
#include "TestSupport.h"
#include "VendorServer.h"
#include "uRegistry.h"
#include "uSingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMap>
#include <QProcess>
#include <QtEndian>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The sample content plus Count shops "Laden001", "Laden002", ... (ids 5001, 5002, ...).
QString ContentWithShops(const QString& Folder, int Count) {
    TVendorServerProcess::CopyContent(Folder);
    QString Shops;
    for (int I = 1; I <= Count; ++I)
        Shops += QStringLiteral("<shop id=\"%1\" name=\"Laden%2\" site=\"{BASE}/sites/laden\" category=\"Sonstiges\"/>")
                     .arg(5000 + I)
                     .arg(I, 3, 10, QLatin1Char('0'));
    QString Xml = QString::fromUtf8(ReadFileBytes(Folder + "/version2.xml"));
    Xml.replace("</shops>", Shops + "</shops>");
    WriteFileBytes(Folder + "/version2.xml", Xml.toUtf8());
    return Folder;
}

// Second starts launched together, each with its own arguments.
class TSecondStarts final {
public:
    explicit TSecondStarts(const QList<QStringList>& ArgumentLists) {
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Env.insert("QT_QPA_PLATFORM", "offscreen");
        for (const QStringList& Arguments : ArgumentLists) {
            auto Process = std::make_unique<QProcess>();
            Process->setProcessEnvironment(Env);
            Process->setStandardOutputFile(QProcess::nullDevice());
            Process->start(ProgramBinary(), Arguments);
            FProcesses.push_back(std::move(Process));
        }
    }
    // Waits for all; returns how many ended with exit code 0 and nothing on stderr.
    int Delivered(int TimeoutMs = 60000) {
        QElapsedTimer Timer;
        Timer.start();
        int Count = 0;
        for (const auto& Process : FProcesses) {
            if (!Process->waitForFinished(static_cast<int>(qMax<qint64>(1, TimeoutMs - Timer.elapsed()))))
                continue;
            const QByteArray Errors = Process->readAllStandardError();
            if (Process->exitStatus() == QProcess::NormalExit && Process->exitCode() == 0 && Errors.isEmpty())
                ++Count;
            else
                std::cout << "gave up: " << Errors.toStdString() << std::endl;
        }
        return Count;
    }

private:
    std::vector<std::unique_ptr<QProcess>> FProcesses;
};

class HandOffTest : public ::testing::Test {
protected:
    void StartInstance(int ExtraShops) {
        Server = std::make_unique<TVendorServerProcess>(ContentWithShops(Env.Root() + "/content", ExtraShops));
        WriteSettingString("", "server", Server->BaseURL());
        WriteSettingInteger("", "debug", 3);
        WriteSettingString("", "lastnews", "9999"); // no news question box
        First = std::make_unique<TProgramRun>();
        ASSERT_TRUE(WaitForLogLine(Env.LogFile(), "|DEBUG|Started", 30000));
    }
    QString ShopURL(int Id) const { return Server->BaseURL() + QStringLiteral("/shop.php?id=%1").arg(Id); }
    // How often each address was opened, after a last command has been served: the
    // running instance serves in order, so everything before it has been started.
    QMap<QString, int> OpenedCounts(int Expected) {
        EXPECT_EQ(RunProgramToEnd({"Tintenklecks"}), 0);
        QMap<QString, int> Counts;
        for (const QString& URL : Browser.Opened(Expected + 1, 30000))
            ++Counts[URL];
        EXPECT_EQ(Counts.take(ShopURL(1063)), 1);
        return Counts;
    }
    void TearDown() override {
        if (First) {
            First->Terminate(SIGTERM);
            EXPECT_TRUE(First->WaitFinished());
        }
        EXPECT_FALSE(Env.LogLines().join("\n").contains("|ERROR|")) << Env.LogLines().join("\n").toStdString();
    }

    TTempEnvironment Env;
    TBrowserRecorder Browser; // before the instance starts: it inherits $BROWSER
    std::unique_ptr<TVendorServerProcess> Server;
    std::unique_ptr<TProgramRun> First;
};

TEST_F(HandOffTest, TwoSecondStartsAtTheSameMomentEachOpenTheirOwnShopOnce) {
    ASSERT_NO_FATAL_FAILURE(StartInstance(0));
    constexpr int Rounds = 50;
    QElapsedTimer Timer;
    Timer.start();
    for (int Round = 1; Round <= Rounds; ++Round) {
        SCOPED_TRACE(Round);
        TSecondStarts Starts({{"KLEIDERWOLKE"}, {"seidenfaden"}});
        ASSERT_EQ(Starts.Delivered(), 2);
        QStringList ThisRound = Browser.Opened(2 * Round, 10000).mid(2 * (Round - 1));
        ThisRound.sort();
        ASSERT_EQ(ThisRound, QStringList({ShopURL(1001), ShopURL(1003)}));
    }
    std::cout << Rounds << " rounds of two simultaneous second starts: " << Timer.elapsed() << " ms" << std::endl;
    EXPECT_EQ(OpenedCounts(2 * Rounds), (QMap<QString, int>{{ShopURL(1001), Rounds}, {ShopURL(1003), Rounds}}));
}

TEST_F(HandOffTest, TwoHundredSecondStartsAtOnceOpenTwoHundredDistinctShops) {
    constexpr int Count = 200;
    ASSERT_NO_FATAL_FAILURE(StartInstance(Count));
    QList<QStringList> Arguments;
    QMap<QString, int> Expected;
    for (int I = 1; I <= Count; ++I) {
        Arguments.append({QStringLiteral("LADEN%1").arg(I, 3, 10, QLatin1Char('0'))});
        Expected.insert(ShopURL(5000 + I), 1);
    }
    QElapsedTimer Timer;
    Timer.start();
    TSecondStarts Starts(Arguments);
    EXPECT_EQ(Starts.Delivered(), Count) << "none gives up";
    std::cout << Count << " simultaneous second starts all ended after " << Timer.elapsed() << " ms" << std::endl;
    EXPECT_EQ(OpenedCounts(Count), Expected);
}

// A sender of our own, byte by byte, against the listener: only a whole, valid
// message is answered and passed on, exactly once.
TEST(HandOffListener, AnswersAndPassesOnOnlyWholeValidMessages) {
    TTempEnvironment Env;
    TCommandListener Listener;
    QString Error;
    ASSERT_TRUE(Listener.Listen(Error)) << Error.toStdString();
    QStringList Received;
    QObject::connect(&Listener, &TCommandListener::CommandReceived,
                     [&](const QString& Command) { Received << Command; });

    // Sends Bytes in pieces of Step bytes; returns what came back before the listener
    // closed the connection (or "open" when it keeps waiting for more).
    const auto Exchange = [](const QByteArray& Bytes, int Step) {
        QLocalSocket Socket;
        Socket.connectToServer(TInstanceGuard::SocketName());
        EXPECT_TRUE(Socket.waitForConnected(5000));
        for (qsizetype At = 0; At < Bytes.size() && Socket.state() == QLocalSocket::ConnectedState; At += Step) {
            Socket.write(Bytes.mid(At, Step));
            Socket.flush();
            QCoreApplication::processEvents(); // the listener reads a piece
        }
        QByteArray Answer;
        QElapsedTimer Timer;
        Timer.start();
        while (Socket.state() == QLocalSocket::ConnectedState && Timer.elapsed() < 2000) {
            QCoreApplication::processEvents();
            Socket.waitForReadyRead(10);
            Answer += Socket.readAll();
        }
        Answer += Socket.readAll();
        return Socket.state() == QLocalSocket::ConnectedState ? QByteArray("open") : Answer;
    };
    const auto Frame = [](quint32 Length, quint32 Message, const QByteArray& Text) {
        QByteArray Bytes(8, '\0');
        qToBigEndian(Length, reinterpret_cast<uchar*>(Bytes.data()));
        qToBigEndian(Message, reinterpret_cast<uchar*>(Bytes.data() + 4));
        return Bytes + Text;
    };
    const QByteArray Name = QString::fromUtf8("sohlenglück").toUtf8();

    EXPECT_EQ(Exchange(Frame(4 + Name.size(), 32772, Name), 1), "R");
    EXPECT_EQ(Exchange(EncodeHandOff(WM_INSTANCECOMMAND, ""), 3), "R");
    EXPECT_EQ(Exchange(EncodeHandOff(WM_INSTANCECOMMAND, QString(MaxCommandBytes, 'a')), 1000), "R");
    EXPECT_EQ(Received, QStringList({QString::fromUtf8("sohlenglück"), "", QString(MaxCommandBytes, 'a')}));
    Received.clear();

    EXPECT_EQ(Exchange(Frame(4 + 4, 32773, "show"), 100), "") << "another message number";
    EXPECT_EQ(Exchange(Frame(4 + 3, 32772,
                             "a\xff"
                             "b"),
                       100),
              "")
        << "not UTF-8";
    EXPECT_EQ(Exchange(Frame(4 + MaxCommandBytes + 1, 32772, "x"), 100), "") << "refused before the text arrives";
    EXPECT_EQ(Exchange(Frame(2, 32772, ""), 100), "") << "shorter than a message number";
    EXPECT_EQ(Exchange(Frame(4 + 4, 32772, "showshow"), 100), "") << "more than the message";
    EXPECT_EQ(Exchange(Frame(4 + 4, 32772, "sh"), 100), "open") << "waits for the rest";
    EXPECT_TRUE(Received.isEmpty());
}

// A listener that takes the connection and drops it without a receipt.
TEST(HandOffSender, SaysSoWhenTheRunningInstanceDropsTheMessage) {
    TTempEnvironment Env;
    WriteSettingInteger("", "debug", 1);
    const int Lock = ::open(QFile::encodeName(Env.RuntimeDir() + "/Quorvantis.lock").constData(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(Lock, LOCK_EX | LOCK_NB), 0);
    QLocalServer Dropper;
    ASSERT_TRUE(Dropper.listen(TInstanceGuard::SocketName()));
    QObject::connect(&Dropper, &QLocalServer::newConnection, [&] {
        while (QLocalSocket* Connection = Dropper.nextPendingConnection()) {
            Connection->waitForReadyRead(1000);
            Connection->abort();
            Connection->deleteLater();
        }
    });
    QProcess Sender;
    Sender.start(ProgramBinary(), {"Kleiderwolke"});
    QElapsedTimer Timer;
    Timer.start();
    while (Sender.state() != QProcess::NotRunning && Timer.elapsed() < 20000) {
        QCoreApplication::processEvents();
        Sender.waitForFinished(10);
    }
    ::close(Lock);
    EXPECT_EQ(Sender.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(Sender.readAllStandardError()),
              "quorvantis: the command \"kleiderwolke\" was not handed over: the running instance closed the "
              "connection without taking it\n");
    const QStringList Lines = Env.LogLines();
    ASSERT_EQ(Lines.size(), 1);
    EXPECT_TRUE(Lines.first().endsWith("|ERROR|SendCommandToFirstInstance: the command \"kleiderwolke\" was not "
                                       "handed over: the running instance closed the connection without taking it"));
}

// Asked for help or the version, the program answers and touches nothing: no
// settings store, autostart entry, log or lock, and no display (there is none here).
TEST(InformationOptions, AnswerWithoutTouchingAnything) {
    TTempEnvironment Env;
    QProcessEnvironment NoDisplay;
    NoDisplay.insert("QT_QPA_PLATFORM", "xcb");
    NoDisplay.insert("DISPLAY", ":97");
    NoDisplay.insert("WAYLAND_DISPLAY", "");
    const TProgramResult Version = RunProgramCapturing({"--version"}, 10000, NoDisplay);
    EXPECT_EQ(Version.ExitCode, 0);
    EXPECT_EQ(Version.Output, "quorvantis 2.2\n");
    EXPECT_TRUE(Version.ErrorLines.isEmpty());
    const TProgramResult Help = RunProgramCapturing({"--help"}, 10000, NoDisplay);
    EXPECT_EQ(Help.ExitCode, 0);
    EXPECT_TRUE(Help.Output.startsWith("Usage: quorvantis [show | SHOP-NAME]\n")) << Help.Output.toStdString();
    EXPECT_TRUE(Help.Output.contains("--version")) << Help.Output.toStdString();
    EXPECT_TRUE(Help.ErrorLines.isEmpty());
    for (const QString& Folder : {Env.ConfigHome(), Env.DataHome(), Env.RuntimeDir()})
        EXPECT_TRUE(QDir(Folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            << Folder.toStdString();
    // The same display makes an ordinary start fail: the answers above never reached it.
    const TProgramResult Start = RunProgramCapturing({}, 10000, NoDisplay);
    EXPECT_NE(Start.ExitCode, 0);
}

} // namespace
