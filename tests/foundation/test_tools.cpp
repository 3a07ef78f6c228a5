#include "TestSupport.h"
#include "uErrors.h"
#include "uSettingsKeys.h"
#include "uTools.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

// Sets (or, with a null value, removes) an environment variable for its lifetime.
class TEnvGuard final {
public:
    TEnvGuard(const char* Name, const QByteArray& Value)
        : FName(Name), FHad(qEnvironmentVariableIsSet(Name)), FSaved(qgetenv(Name)) {
        Value.isNull() ? qunsetenv(Name) : qputenv(Name, Value);
    }
    ~TEnvGuard() { FHad ? qputenv(FName, FSaved) : qunsetenv(FName); }
    TEnvGuard(const TEnvGuard&) = delete;
    TEnvGuard& operator=(const TEnvGuard&) = delete;

private:
    const char* FName;
    bool FHad;
    QByteArray FSaved;
};

// Fresh XDG folders, and a folder of fake desktop tools placed first on PATH:
// a recording xdg-open and an xdg-settings that names no browser unless told.
class ToolsTest : public ::testing::Test {
protected:
    ToolsTest() : FPath("PATH", (Tools() + ":" + qEnvironmentVariable("PATH")).toUtf8()) {
        QDir().mkpath(Tools());
        QFile::link(FXdgOpen.Script(), Tools() + "/xdg-open");
        SetDefaultBrowserId({});
    }

    QString Tools() const { return FEnv.Root() + "/tools"; }
    void SetDefaultBrowserId(const QByteArray& Id) {
        const QString Script = Tools() + "/xdg-settings";
        WriteFileBytes(Script, "#!/bin/sh\n" + (Id.isEmpty() ? "exit 2\n" : "echo '" + Id + "'\n"));
        QFile::setPermissions(Script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    TTempEnvironment FEnv;
    TBrowserRecorder FXdgOpen; // only reached through the "xdg-open" link
    TEnvGuard FPath;
    TEnvGuard FNoBrowser{"BROWSER", QByteArray()};
    // Every shell-active character a shop address could smuggle in; the command creates Marker if run.
    const QString Marker = "/tmp/pwned-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString Hostile =
        "http://127.0.0.1:9/shop.php?id=1&ref=2;echo \"hi\" 'x' $(touch " + Marker + ") `touch " + Marker + "` | > a b";
};

} // namespace

TEST(ReduceBrowserText, QuoteBlankAndWholeRules) {
    const std::pair<const char*, const char*> Cases[] = {
        {"\"/opt/My Browser/browser\" -osint -url \"%1\"", "/opt/My Browser/browser"},
        {"/usr/bin/firefox %u", "/usr/bin/firefox"},
        {"\"/opt/unclosed/browser -new", ""},
        {"\"\"", ""},
        {"firefox", "firefox"},
        {" leading blank", " leading blank"}};
    for (const auto& [Text, Expected] : Cases)
        EXPECT_EQ(ReduceBrowserText(Text), Expected) << Text;
}

TEST_F(ToolsTest, BrowserTextFromTheVariableOrTheDefaultDesktopFile) {
    {
        TEnvGuard Browser("BROWSER", "firefox %s:chromium");
        EXPECT_EQ(DetectBrowserText(), "firefox %s");
    }
    EXPECT_EQ(DetectBrowserText(), ""); // xdg-settings names nothing
    SetDefaultBrowserId("my-browser.desktop");
    EXPECT_EQ(DetectBrowserText(), ""); // named but no such desktop file

    // Found through XDG_DATA_DIRS, with a subfolder id, a second group and field codes.
    const QString SystemDir = FEnv.Root() + "/share";
    TEnvGuard Dirs("XDG_DATA_DIRS", SystemDir.toUtf8());
    WriteFileBytes(SystemDir + "/applications/my/browser.desktop",
                   "[Desktop Entry]\nName=My\nExec=\"/opt/My Browser/run\" --new-window %U\n"
                   "[Desktop Action private]\nExec=/bin/false\n");
    EXPECT_EQ(DetectBrowserText(), "\"/opt/My Browser/run\" --new-window");

    // XDG_DATA_HOME wins over the system folders; "%%" is a literal percent sign.
    WriteFileBytes(FEnv.DataHome() + "/applications/my-browser.desktop",
                   "[Desktop Action x]\nExec=/bin/false\n[Desktop Entry]\nExec = /usr/bin/mine --p=50%% %u\n");
    EXPECT_EQ(DetectBrowserText(), "/usr/bin/mine --p=50%");

    SetDefaultBrowserId("../../etc/passwd.desktop");
    EXPECT_EQ(DetectBrowserText(), "");
}

TEST_F(ToolsTest, OpenURLHandsTheExactAddressToTheBrowserUninterpreted) {
    TBrowserRecorder Browser;
    TEnvGuard List("BROWSER", (Browser.Script() + ":/nonexistent/other").toUtf8()); // the first entry counts
    OpenURL(Hostile);
    OpenURL("--renderer-cmd-prefix=touch /tmp/x"); // looks like an option: refused, never launched
    OpenURL("http://example.invalid/plain");
    const QStringList Opened = Browser.Opened(2);
    EXPECT_EQ(QSet<QString>(Opened.begin(), Opened.end()), (QSet<QString>{Hostile, "http://example.invalid/plain"}))
        << Opened.join('\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(Marker));
    EXPECT_TRUE(FXdgOpen.Opened().isEmpty());
}

// Variables the program sets for its own libraries are not handed to the browser;
// the user's own are, unchanged.
TEST_F(ToolsTest, TheBrowserGetsTheUsersEnvironmentNotTheProgramsOwnVariables) {
    TEnvGuard Users("QV_TEST_USERS_VARIABLE", "mine");
    SetOwnEnvironmentVariable("QV_TEST_USERS_VARIABLE", "program's");
    SetOwnEnvironmentVariable("QV_TEST_OWN_VARIABLE", "1");
    EXPECT_EQ(qgetenv("QV_TEST_OWN_VARIABLE"), "1"); // the program itself sees it
    const QString Script = Tools() + "/env-browser";
    const QString Record = Script + ".record";
    // Written whole, then renamed: the test never reads half a record.
    WriteFileBytes(Script, R"(#!/bin/sh
echo "${QV_TEST_OWN_VARIABLE-unset} ${QV_TEST_USERS_VARIABLE-unset} $1" > "$0.tmp" && mv "$0.tmp" "$0.record"
)");
    QFile::setPermissions(Script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    TEnvGuard Browser("BROWSER", Script.toUtf8());
    OpenURL("http://example.invalid/env");
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(Record); }, 5000));
    EXPECT_EQ(ReadFileBytes(Record), "unset mine http://example.invalid/env\n");
    qunsetenv("QV_TEST_OWN_VARIABLE");
}

TEST_F(ToolsTest, OpenURLFallsBackToXdgOpen) {
    const std::pair<QByteArray, QString> Cases[] = {
        {"/nonexistent/browser --new-tab", "http://example.invalid/missing"},
        {"\"/nonexistent/browser -x", Hostile}, // unclosed quote
        {QByteArray(), "http://example.invalid/none"},
        {"env MOZ_FLAG=1 firefox %s", "http://example.invalid/env"}, // a launcher, not the browser
    };
    int Count = 0;
    for (const auto& [Browser, Address] : Cases) {
        SCOPED_TRACE(Browser.toStdString());
        TEnvGuard Guard("BROWSER", Browser);
        OpenURL(Address);
        ++Count;
        EXPECT_EQ(FXdgOpen.Opened(Count).value(Count - 1), Address);
    }
    EXPECT_FALSE(QFileInfo::exists(Marker));
}

TEST(WindowsVersion, ClassificationTable) {
    struct TCase {
        int Platform, Major, Minor;
        const char* CSD;
        int Expected;
    };
    // clang-format off
    const TCase Cases[] = {
        {1, 4, 0, "", 0}, {1, 4, 10, "", 1}, {1, 4, 10, " B ", 1}, {1, 4, 10, " A ", 2}, {1, 4, 10, "A", 1},
        {1, 4, 10, " a ", 1}, {1, 4, 90, "", 3}, {1, 4, 91, "", -1}, {1, 5, 0, "", -1}, {1, 3, 10, " A ", -1},
        {2, 3, 51, "", 4}, {2, 4, 0, "Service Pack 6", 4}, {2, 5, 0, "", 5}, {2, 5, 1, "Service Pack 3", 6},
        {2, 5, 2, "", 7}, {2, 6, 0, "", 8}, {2, 6, 1, "", 9}, {2, 5, 3, "", 9}, {2, 10, 0, "", 9},
        {0, 3, 10, "", -1}, {3, 5, 1, "", -1}, {-1, 0, 0, "", -1}};
    // clang-format on
    for (const TCase& C : Cases)
        EXPECT_EQ(ClassifyWindowsVersion(C.Platform, C.Major, C.Minor, C.CSD), C.Expected)
            << C.Platform << " " << C.Major << "." << C.Minor << " '" << C.CSD << "'";
    EXPECT_EQ(GetWindowsVersion(), -1);
}

TEST(StringHelpers, EmailAmpersandsAndLineBreaks) {
    for (const char* Good : {"a@b.de", "@.", ".@", "x.y@z", "first.last@example"})
        EXPECT_TRUE(IsValidEmail(Good)) << Good;
    for (const char* Bad : {"", "a@b", "a.b", "@", ".", "name at example dot com"})
        EXPECT_FALSE(IsValidEmail(Bad)) << Bad;

    const std::pair<const char*, const char*> Escaped[] = {
        {"Shop & Co", "Shop && Co"}, {"Shop && Co", "Shop && Co"}, {"&", "&&"}, {"Plain", "Plain"}};
    for (const auto& [Text, Expected] : Escaped)
        EXPECT_EQ(EscapeAmpersands(Text), Expected) << Text;
    EXPECT_EQ(EscapeAmpersands(EscapeAmpersands("A&B&C")), "A&&B&&C");
    const std::pair<const char*, const char*> Unescaped[] = {{"A&&B&C", "A&B&C"}, {"&&&", "&&"}, {"&&&&", "&&"}};
    for (const auto& [Text, Expected] : Unescaped)
        EXPECT_EQ(UnescapeAmpersands(Text), Expected) << Text;

    EXPECT_EQ(ReplaceCRByBlank("a\r\nb\rc\n"), "a \nb c\n");
    EXPECT_EQ(AsciiLower(QString::fromUtf8("SHOW Äpfel-ÜBER Zalando")), QString::fromUtf8("show Äpfel-Über zalando"));
}

TEST_F(ToolsTest, OnlineWithALocalVendorServer) {
    for (const char* Local : {"http://localhost", "http://LocalHost:8080/", "http://127.0.0.1:1234", "http://127.9.8.7",
                              "http://[::1]:80/x"})
        EXPECT_TRUE(IsLoopbackHostURL(Local)) << Local;
    for (const char* Remote : {"http://www.quorvantis.com", "http://127.0.0.1.example.com", "http://localhost.example",
                               "http://10.0.0.1", "", "not a url"})
        EXPECT_FALSE(IsLoopbackHostURL(Remote)) << Remote;
    WriteSetting(Setting::Server, "http://127.0.0.1:65000");
    EXPECT_TRUE(IsOnline());
}

TEST_F(ToolsTest, ABrowserProbeStillRunningAtShutdownIsEndedAndReaped) {
    TEnvGuard NoBrowser("BROWSER", QByteArray());
    const QString PidFile = FEnv.DataHome() + "/probe.pid";
    const QString Script = Tools() + "/xdg-settings";
    WriteFileBytes(Script, ("#!/bin/sh\necho $$ > '" + PidFile + "'\nexec sleep 60\n").toUtf8());
    QFile::setPermissions(Script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    PrimeBrowserDetection();
    ASSERT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return ReadFileBytes(PidFile).trimmed().toInt() > 0;
    }));
    const QString Proc = "/proc/" + QString::fromUtf8(ReadFileBytes(PidFile).trimmed());
    ASSERT_TRUE(QFileInfo::exists(Proc));
    StopBrowserDetection();
    EXPECT_FALSE(QFileInfo::exists(Proc)); // neither running nor left as a zombie
}

TEST_F(ToolsTest, ChoosingAShopNeverWaitsForTheBrowserDetection) {
    // A desktop whose xdg-settings takes its time to answer.
    TBrowserRecorder Detected;
    TEnvGuard NoBrowser("BROWSER", QByteArray()); // the recorder is reached through the desktop file only
    WriteFileBytes(FEnv.DataHome() + "/applications/slow.desktop",
                   ("[Desktop Entry]\nExec=" + Detected.Script() + " %u\n").toUtf8());
    const QString Script = Tools() + "/xdg-settings";
    WriteFileBytes(Script, "#!/bin/sh\nsleep 2\necho slow.desktop\n");
    QFile::setPermissions(Script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QElapsedTimer Timer;
    Timer.start();
    OpenURL("http://example.invalid/first");
    // Not waited for: meanwhile the system's own handling gets the address.
    EXPECT_EQ(FXdgOpen.Opened(1), QStringList{"http://example.invalid/first"});

    // Once the answer is in, it is used without asking again.
    while (Timer.elapsed() < 15000 && Detected.Opened().isEmpty()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (Timer.elapsed() > 3000 && Detected.Opened().isEmpty()) {
            OpenURL("http://example.invalid/second");
            Detected.Opened(1, 2000);
        }
    }
    EXPECT_EQ(Detected.Opened(1), QStringList{"http://example.invalid/second"});
}
