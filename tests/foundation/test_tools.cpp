#include "TestSupport.h"
#include "uErrors.h"
#include "uSettingsKeys.h"
#include "uTools.h"
#include "uUIHooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

// Sets (or, with a null value, removes) an environment variable for its lifetime.
class TEnvGuard final {
public:
    TEnvGuard(const char* Name, const QByteArray& Value) : FName(Name), FHad(qEnvironmentVariableIsSet(Name)) {
        FSaved = qgetenv(Name);
        if (Value.isNull())
            qunsetenv(Name);
        else
            qputenv(Name, Value);
    }
    ~TEnvGuard() {
        if (FHad)
            qputenv(FName, FSaved);
        else
            qunsetenv(FName);
    }
    TEnvGuard(const TEnvGuard&) = delete;
    TEnvGuard& operator=(const TEnvGuard&) = delete;

private:
    const char* FName;
    bool FHad;
    QByteArray FSaved;
};

void WriteScript(const QString& FileName, const QByteArray& Body) {
    WriteFileBytes(FileName, "#!/bin/sh\n" + Body);
    QFile::setPermissions(FileName, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

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
        WriteScript(Tools() + "/xdg-settings", Id.isEmpty() ? "exit 2\n" : "echo '" + Id + "'\n");
    }

    TTempEnvironment FEnv;
    TBrowserRecorder FXdgOpen; // only reached through the "xdg-open" link
    TEnvGuard FPath;
    TEnvGuard FNoBrowser{"BROWSER", QByteArray()};
};

QString HostileAddress(const QString& Marker) {
    return "http://127.0.0.1:9/shop.php?id=1&ref=2;echo \"hi\" 'x' $(touch " + Marker + ") `touch " + Marker +
           "` | > a b";
}

} // namespace

TEST(ReduceBrowserText, QuoteBlankAndWholeRules) {
    EXPECT_EQ(ReduceBrowserText("\"/opt/My Browser/browser\" -osint -url \"%1\""), "/opt/My Browser/browser");
    EXPECT_EQ(ReduceBrowserText("/usr/bin/firefox %u"), "/usr/bin/firefox");
    EXPECT_EQ(ReduceBrowserText("\"/opt/unclosed/browser -new"), "");
    EXPECT_EQ(ReduceBrowserText("\"\""), "");
    EXPECT_EQ(ReduceBrowserText("firefox"), "firefox");
    EXPECT_EQ(ReduceBrowserText(" leading blank"), " leading blank");
    EXPECT_EQ(ReduceBrowserText(""), "");
}

TEST_F(ToolsTest, BrowserVariableUsesItsFirstEntry) {
    TEnvGuard Browser("BROWSER", "firefox %s:chromium");
    EXPECT_EQ(DetectBrowserText(), "firefox %s");
    TEnvGuard Single("BROWSER", "/usr/bin/a");
    EXPECT_EQ(DetectBrowserText(), "/usr/bin/a");
}

TEST_F(ToolsTest, DefaultBrowserDesktopFileExecLine) {
    TEnvGuard Browser("BROWSER", QByteArray());
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
    EXPECT_EQ(ReduceBrowserText(DetectBrowserText()), "/opt/My Browser/run");

    // XDG_DATA_HOME wins over the system folders; "%%" is a literal percent sign.
    WriteFileBytes(FEnv.DataHome() + "/applications/my-browser.desktop",
                   "[Desktop Action x]\nExec=/bin/false\n[Desktop Entry]\nExec = /usr/bin/mine --p=50%% %u\n");
    EXPECT_EQ(DetectBrowserText(), "/usr/bin/mine --p=50%");

    SetDefaultBrowserId("../../etc/passwd.desktop");
    EXPECT_EQ(DetectBrowserText(), "");
}

TEST_F(ToolsTest, OpenURLHandsTheExactAddressToTheBrowserUninterpreted) {
    TBrowserRecorder Browser;
    const QString Marker = "/tmp/pwned-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString Address = HostileAddress(Marker);
    OpenURL(Address);
    OpenURL("http://example.invalid/plain");
    const QStringList Opened = Browser.Opened(2);
    ASSERT_EQ(Opened.size(), 2);
    EXPECT_TRUE(Opened.contains(Address)) << Opened.join('\n').toStdString();
    EXPECT_TRUE(Opened.contains("http://example.invalid/plain"));
    EXPECT_FALSE(QFileInfo::exists(Marker));
    EXPECT_TRUE(FXdgOpen.Opened().isEmpty());
}

TEST_F(ToolsTest, OpenURLUsesTheFirstBrowserOfAList) {
    TBrowserRecorder Browser;
    TEnvGuard List("BROWSER", (Browser.Script() + ":/nonexistent/other").toUtf8());
    OpenURL("http://example.invalid/a");
    EXPECT_EQ(Browser.Opened(1), QStringList{"http://example.invalid/a"});
}

TEST_F(ToolsTest, OpenURLFallsBackToXdgOpen) {
    const QString Marker = "/tmp/pwned-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        TEnvGuard Missing("BROWSER", "/nonexistent/browser --new-tab");
        OpenURL("http://example.invalid/missing");
        EXPECT_EQ(FXdgOpen.Opened(1), QStringList{"http://example.invalid/missing"});
    }
    {
        TEnvGuard Unclosed("BROWSER", "\"/nonexistent/browser -x");
        OpenURL(HostileAddress(Marker));
        EXPECT_EQ(FXdgOpen.Opened(2).value(1), HostileAddress(Marker));
    }
    {
        TEnvGuard None("BROWSER", QByteArray());
        OpenURL("http://example.invalid/none");
        EXPECT_EQ(FXdgOpen.Opened(3).value(2), "http://example.invalid/none");
    }
    EXPECT_FALSE(QFileInfo::exists(Marker));
}

TEST_F(ToolsTest, OpenURLStartsTheDefaultDesktopBrowser) {
    TBrowserRecorder Browser;
    TEnvGuard None("BROWSER", QByteArray());
    SetDefaultBrowserId("recorder.desktop");
    WriteFileBytes(FEnv.DataHome() + "/applications/recorder.desktop",
                   "[Desktop Entry]\nType=Application\nExec=" + Browser.Script().toUtf8() + " %u\n");
    OpenURL("http://example.invalid/desktop?a=1&b=2");
    EXPECT_EQ(Browser.Opened(1), QStringList{"http://example.invalid/desktop?a=1&b=2"});
    EXPECT_TRUE(FXdgOpen.Opened().isEmpty());
}

TEST_F(ToolsTest, OpenURLRefusesAnAddressThatLooksLikeAnOption) {
    TBrowserRecorder Browser;
    OpenURL("--renderer-cmd-prefix=touch /tmp/x");
    OpenURL("http://example.invalid/after");
    // The refused address was never launched, so only the second one is recorded.
    EXPECT_EQ(Browser.Opened(1), QStringList{"http://example.invalid/after"});
    EXPECT_TRUE(FXdgOpen.Opened().isEmpty());
}

TEST(UIHooks, EmptyHooksMeanNoUserInterface) {
    const TUIHooks Saved = UIHooks();
    UIHooks() = TUIHooks{};
    ShowWarning("Caption", "Text");
    EXPECT_FALSE(AskYesNo("Caption", "Question?"));
    EXPECT_FALSE(IsShiftDown());
    UIHooks() = Saved;
}

TEST(UIHooks, ScriptedAnswersReachTheCaller) {
    const TUIHooks Saved = UIHooks();
    QStringList Seen;
    bool Answer = false;
    UIHooks().ShowWarning = [&](const QString& Caption, const QString& Text) { Seen << "W:" + Caption + "|" + Text; };
    UIHooks().AskYesNo = [&](const QString& Caption, const QString& Text) {
        Seen << "Q:" + Caption + "|" + Text;
        return Answer;
    };
    UIHooks().IsShiftDown = [] { return true; };
    ShowWarning("Email Adresse ungültig", "Bitte!");
    EXPECT_FALSE(AskYesNo("Confirm", "Delete?"));
    Answer = true;
    EXPECT_TRUE(AskYesNo("Confirm", "Again?"));
    EXPECT_TRUE(IsShiftDown());
    EXPECT_EQ(Seen, (QStringList{"W:Email Adresse ungültig|Bitte!", "Q:Confirm|Delete?", "Q:Confirm|Again?"}));
    UIHooks() = Saved;
}

TEST(WindowsVersion, ClassificationTable) {
    struct TCase {
        int Platform, Major, Minor;
        const char* CSD;
        int Expected;
    };
    const TCase Cases[] = {
        {1, 4, 0, "", 0},     {1, 4, 10, "", 1},
        {1, 4, 10, " B ", 1}, {1, 4, 10, " A ", 2},
        {1, 4, 10, "A", 1},   {1, 4, 10, " a ", 1},
        {1, 4, 90, "", 3},    {1, 4, 91, "", -1},
        {1, 5, 0, "", -1},    {1, 3, 10, " A ", -1},
        {2, 3, 51, "", 4},    {2, 4, 0, "Service Pack 6", 4},
        {2, 5, 0, "", 5},     {2, 5, 1, "Service Pack 3", 6},
        {2, 5, 2, "", 7},     {2, 6, 0, "", 8},
        {2, 6, 1, "", 9},     {2, 5, 3, "", 9},
        {2, 10, 0, "", 9},    {0, 3, 10, "", -1},
        {3, 5, 1, "", -1},    {-1, 0, 0, "", -1},
    };
    for (const TCase& C : Cases)
        EXPECT_EQ(ClassifyWindowsVersion(C.Platform, C.Major, C.Minor, C.CSD), C.Expected)
            << C.Platform << " " << C.Major << "." << C.Minor << " '" << C.CSD << "'";
    EXPECT_EQ(GetWindowsVersion(), -1);
}

TEST(StringHelpers, ValidEmailNeedsAtSignAndDot) {
    for (const char* Good : {"a@b.de", "@.", ".@", "x.y@z", "first.last@example"})
        EXPECT_TRUE(IsValidEmail(Good)) << Good;
    for (const char* Bad : {"", "a@b", "a.b", "@", ".", "name at example dot com"})
        EXPECT_FALSE(IsValidEmail(Bad)) << Bad;
}

TEST(StringHelpers, AmpersandEscaping) {
    EXPECT_EQ(EscapeAmpersands("Shop & Co"), "Shop && Co");
    EXPECT_EQ(EscapeAmpersands("Shop && Co"), "Shop && Co");
    EXPECT_EQ(EscapeAmpersands(EscapeAmpersands("A&B&C")), "A&&B&&C");
    EXPECT_EQ(EscapeAmpersands("&"), "&&");
    EXPECT_EQ(EscapeAmpersands("Plain"), "Plain");
    EXPECT_EQ(UnescapeAmpersands("A&&B&C"), "A&B&C");
    EXPECT_EQ(UnescapeAmpersands("&&&"), "&&");
    EXPECT_EQ(UnescapeAmpersands("&&&&"), "&&");
}

TEST(StringHelpers, SmallConversions) {
    EXPECT_EQ(ReplaceCRByBlank("a\r\nb\rc\n"), "a \nb c\n");
    EXPECT_EQ(BoolToInt(true), 1);
    EXPECT_EQ(BoolToInt(false), 0);
    EXPECT_EQ(AsciiLower(QString::fromUtf8("SHOW Äpfel-ÜBER Zalando")), QString::fromUtf8("show Äpfel-Über zalando"));
}

TEST_F(ToolsTest, FileSizeOf) {
    EXPECT_EQ(FileSizeOf(FEnv.Root() + "/missing.bin"), 0);
    EXPECT_EQ(FileSizeOf(""), 0);
    WriteFileBytes(FEnv.Root() + "/five.bin", "12345");
    EXPECT_EQ(FileSizeOf(FEnv.Root() + "/five.bin"), 5);
    WriteFileBytes(FEnv.Root() + "/empty.bin", "");
    EXPECT_EQ(FileSizeOf(FEnv.Root() + "/empty.bin"), 0);
    EXPECT_EQ(FileSizeOf(FEnv.Root() + "/five.bin/below"), 0); // a path below a regular file does not exist
    try {
        FileSizeOf(FEnv.Root());
        ADD_FAILURE() << "a folder has no file size";
    } catch (const EQuorvantis& E) {
        EXPECT_TRUE(E.Message().contains(FEnv.Root())) << E.what();
    }
}

TEST(Online, LoopbackVendorHosts) {
    for (const char* Local : {"http://localhost", "http://LocalHost:8080/", "http://127.0.0.1:1234", "http://127.9.8.7",
                              "http://[::1]:80/x"})
        EXPECT_TRUE(IsLoopbackHostURL(Local)) << Local;
    for (const char* Remote : {"http://www.quorvantis.com", "http://127.0.0.1.example.com", "http://localhost.example",
                               "http://10.0.0.1", "", "not a url"})
        EXPECT_FALSE(IsLoopbackHostURL(Remote)) << Remote;
}

TEST_F(ToolsTest, OnlineWithALocalVendorServer) {
    WriteSetting(Setting::Server, "http://127.0.0.1:65000");
    EXPECT_TRUE(IsOnline());
    WriteSetting(Setting::Server, "http://localhost:8080/");
    EXPECT_TRUE(IsOnline());
}
