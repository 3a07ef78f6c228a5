#include "uTools.h"

#include "uConst.h"
#include "uErrors.h"
#include "uSettingsKeys.h"
#include "uUIHooks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

namespace {

// xdg-settings is a shell script that may probe the desktop; never let it stall a click.
constexpr int XdgSettingsTimeoutMs = 5000;

QString EnvOr(const char* Name, const QString& Default) {
    const QString Value = qEnvironmentVariable(Name);
    return Value.isEmpty() ? Default : Value;
}

// Data folders searched for applications/*.desktop, most specific first.
QStringList ApplicationFolders() {
    QStringList Folders;
    Folders << EnvOr("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share"));
    Folders << EnvOr("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share")).split(':', Qt::SkipEmptyParts);
    for (QString& Folder : Folders)
        Folder += QStringLiteral("/applications/");
    return Folders;
}

// A desktop file id "a-b.desktop" may also live as "a/b.desktop".
QStringList DesktopFileCandidates(const QString& Id) {
    QStringList Names{Id};
    for (qsizetype I = Id.indexOf('-'); I >= 0; I = Id.indexOf('-', I + 1)) {
        QString Name = Id;
        Name[I] = '/';
        Names << Name;
    }
    return Names;
}

// Resolves the string-level escapes of a desktop file value.
QString UnescapeDesktopValue(const QString& Value) {
    QString Result;
    for (qsizetype I = 0; I < Value.size(); ++I) {
        if (Value[I] != '\\' || I + 1 == Value.size()) {
            Result += Value[I];
            continue;
        }
        const QChar Next = Value[++I];
        if (Next == 's')
            Result += ' ';
        else if (Next == 'n')
            Result += '\n';
        else if (Next == 't')
            Result += '\t';
        else if (Next == 'r')
            Result += '\r';
        else if (Next == '\\')
            Result += '\\';
        else
            Result += QLatin1Char('\\') + Next; // argument-level escape, kept for the command line
    }
    return Result;
}

// Drops the field codes (%u, %U, %f, ...) of an Exec line; "%%" is a literal "%".
QString DropFieldCodes(const QString& Exec) {
    QString Result;
    for (qsizetype I = 0; I < Exec.size(); ++I) {
        if (Exec[I] != '%') {
            Result += Exec[I];
        } else if (I + 1 < Exec.size()) {
            if (Exec[I + 1] == '%')
                Result += '%';
            ++I;
        }
    }
    return Result.trimmed();
}

// The Exec value of the [Desktop Entry] group, empty when there is none.
QString ReadDesktopExec(const QString& FileName) {
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool InEntry = false;
    while (!File.atEnd()) {
        const QString Line = QString::fromUtf8(File.readLine()).trimmed();
        if (Line.startsWith('[')) {
            InEntry = Line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!InEntry)
            continue;
        const qsizetype Eq = Line.indexOf('=');
        if (Eq > 0 && Line.left(Eq).trimmed() == QLatin1String("Exec"))
            return DropFieldCodes(UnescapeDesktopValue(Line.mid(Eq + 1).trimmed()));
    }
    return {};
}

QString DefaultBrowserDesktopId() {
    QProcess Process;
    Process.setProgram(QStringLiteral("xdg-settings"));
    Process.setArguments({QStringLiteral("get"), QStringLiteral("default-web-browser")});
    Process.setStandardInputFile(QProcess::nullDevice());
    Process.start();
    if (!Process.waitForStarted(XdgSettingsTimeoutMs))
        return {};
    if (!Process.waitForFinished(XdgSettingsTimeoutMs)) {
        Process.kill();
        Process.waitForFinished();
        return {};
    }
    if (Process.exitStatus() != QProcess::NormalExit || Process.exitCode() != 0)
        return {};
    return QString::fromUtf8(Process.readAllStandardOutput()).trimmed();
}

void OpenWithSystem(const QString& URL) {
    try {
        if (!StartDetachedProgram(QStringLiteral("xdg-open"), {URL}))
            qWarning("OpenURL: xdg-open could not be started");
    } catch (...) {
        // Opening an address never reports a failure to the caller.
    }
}

} // namespace

namespace {

QString BrowserFromVariable() {
    return qEnvironmentVariable("BROWSER").section(':', 0, 0);
}

// The desktop file that a desktop id names, empty when none.
QString DesktopFileOf(const QString& Id) {
    // Only a plain desktop file id is looked up, never a path the tool might print.
    if (!Id.endsWith(QLatin1String(".desktop")) || Id.contains('/') || Id.contains(QLatin1String("..")))
        return {};
    for (const QString& Folder : ApplicationFolders()) {
        for (const QString& Name : DesktopFileCandidates(Id)) {
            const QString FileName = Folder + Name;
            if (QFileInfo(FileName).isFile())
                return FileName;
        }
    }
    return {};
}

// Where the user's choice of default browser is kept, and when it was last changed:
// a change of either voids an earlier answer.
struct TChoiceStamp {
    QString File;
    QDateTime Changed;
    bool operator==(const TChoiceStamp&) const = default;
};

TChoiceStamp ChoiceStamp() {
    const QString File =
        EnvOr("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config")) + QStringLiteral("/mimeapps.list");
    return {File, QFileInfo(File).lastModified()};
}

// xdg-settings runs at most once per run and never on a click: it is started in the
// background, and until it has answered the address goes to xdg-open, which finds
// the same browser. The answer holds while the user's choice and the desktop file stay.
class TBrowserDetector final {
public:
    static TBrowserDetector& Instance() {
        static TBrowserDetector Detector;
        return Detector;
    }

    // The browser text now, or empty while the detection runs.
    QString Current() {
        if (FKnown && ChoiceStamp() == FStamp && (FDesktopFile.isEmpty() || QFileInfo(FDesktopFile).isFile()))
            return FDesktopFile.isEmpty() ? QString() : ReadDesktopExec(FDesktopFile);
        Start();
        return {};
    }

    void Start() {
        const TChoiceStamp Stamp = ChoiceStamp();
        if (FProcess && FAskedFor == Stamp)
            return;
        // Asked for a choice that is no longer the user's: its answer would be stale.
        Stop();
        FKnown = false;
        FAskedFor = Stamp;
        FProcess = new QProcess(QCoreApplication::instance());
        FProcess->setProgram(QStringLiteral("xdg-settings"));
        FProcess->setArguments({QStringLiteral("get"), QStringLiteral("default-web-browser")});
        FProcess->setStandardInputFile(QProcess::nullDevice());
        QObject::connect(FProcess, &QProcess::finished, FProcess, [this](int Code, QProcess::ExitStatus Status) {
            const QString Id = QString::fromUtf8(FProcess->readAllStandardOutput()).trimmed();
            FDesktopFile = Status == QProcess::NormalExit && Code == 0 ? DesktopFileOf(Id) : QString();
            FKnown = true;
            FStamp = FAskedFor;
            Done();
        });
        QObject::connect(FProcess, &QProcess::errorOccurred, FProcess, [this](QProcess::ProcessError Error) {
            if (Error != QProcess::FailedToStart)
                return; // a crash or kill also ends in finished
            FDesktopFile.clear();
            FKnown = true;
            FStamp = FAskedFor;
            Done();
        });
        QTimer::singleShot(2 * XdgSettingsTimeoutMs, FProcess, [Process = FProcess] { Process->kill(); });
        FProcess->start();
    }

    // Ends a probe still running, and reaps it, so that none outlives the program.
    void Stop() {
        if (!FProcess)
            return;
        FProcess->disconnect();
        FProcess->kill();
        FProcess->waitForFinished(1000);
        FProcess->deleteLater();
        FProcess = nullptr;
        FKnown = false;
    }

private:
    void Done() {
        FProcess->deleteLater();
        FProcess = nullptr;
    }

    QProcess* FProcess = nullptr;
    bool FKnown = false;
    QString FDesktopFile;
    TChoiceStamp FStamp;    // the choice the answer belongs to
    TChoiceStamp FAskedFor; // the choice the running xdg-settings was asked for
};

bool OnApplicationThread() {
    const QCoreApplication* App = QCoreApplication::instance();
    return App && QThread::currentThread() == App->thread();
}

} // namespace

QString DetectBrowserText() {
    const QString First = BrowserFromVariable();
    if (!First.isEmpty())
        return First;
    const QString FileName = DesktopFileOf(DefaultBrowserDesktopId());
    return FileName.isEmpty() ? QString() : ReadDesktopExec(FileName);
}

void PrimeBrowserDetection() {
    if (OnApplicationThread() && BrowserFromVariable().isEmpty())
        TBrowserDetector::Instance().Start();
}

void StopBrowserDetection() {
    if (OnApplicationThread())
        TBrowserDetector::Instance().Stop();
}

QString ReduceBrowserText(const QString& Text) {
    if (Text.startsWith('"')) {
        const qsizetype Close = Text.indexOf('"', 1);
        return Close < 0 ? QString() : Text.mid(1, Close - 1);
    }
    const qsizetype Blank = Text.indexOf(' ');
    if (Blank > 0)
        return Text.left(Blank);
    return Text;
}

namespace {
// Launchers that need the rest of their command line ("env VAR=1 browser %u",
// "flatpak run org.example.Browser %u"): given only the address they start but open
// nothing, so the system's own handling of the address does the job instead.
bool IsLauncher(const QString& Program) {
    static const QStringList Launchers{"env", "flatpak", "snap", "gtk-launch", "sh", "bash", "dbus-launch"};
    return Launchers.contains(QFileInfo(Program).fileName());
}
} // namespace

QString AddressProblem(const QString& URL) {
    // An address that starts with "-" would reach the browser or xdg-open as an
    // option (some browsers take options that run commands); no address looks like that.
    if (URL.trimmed().startsWith('-'))
        return txtAddressStartsWithDash();
    return {};
}

bool MayLeaveForBrowser(const QString& URL) {
    if (URL.size() > MaxLeavingAddressLength || !AddressProblem(URL).isEmpty())
        return false;
    const QString Scheme = QUrl(URL).scheme().toLower();
    return Scheme == QLatin1String("http") || Scheme == QLatin1String("https") || Scheme == QLatin1String("mailto");
}

namespace {
QStringList OwnVariables;
}

void SetOwnEnvironmentVariable(const char* Name, const QByteArray& Value) {
    if (qEnvironmentVariableIsSet(Name))
        return; // the user's value stays, and is the user's to pass on
    qputenv(Name, Value);
    OwnVariables << QString::fromLatin1(Name);
}

bool StartDetachedProgram(const QString& Program, const QStringList& Arguments, const QString& Folder) {
    QProcess Process;
    Process.setProgram(Program);
    Process.setArguments(Arguments);
    Process.setWorkingDirectory(Folder);
    if (!OwnVariables.isEmpty()) {
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        for (const QString& Name : OwnVariables)
            Environment.remove(Name);
        Process.setProcessEnvironment(Environment);
    }
    return Process.startDetached();
}

void OpenURL(const QString& URL) {
    if (!AddressProblem(URL).isEmpty()) {
        qWarning("OpenURL: refused an address that starts with \"-\"");
        return;
    }
    try {
        QString Text = BrowserFromVariable();
        if (Text.isEmpty())
            Text = OnApplicationThread() ? TBrowserDetector::Instance().Current() : DetectBrowserText();
        const QString Program = ReduceBrowserText(Text);
        // One argument and no shell: nothing in the address is interpreted.
        if (!Program.isEmpty() && !IsLauncher(Program) && StartDetachedProgram(Program, {URL}))
            return;
    } catch (...) {
        // Fall through to the system's own handling of the address.
    }
    OpenWithSystem(URL);
}

void ShowWarning(const QString& Caption, const QString& Text) {
    if (const auto& Hook = UIHooks().ShowWarning)
        Hook(Caption, Text);
}

void ShowInformation(const QString& Caption, const QString& Text) {
    if (const auto& Hook = UIHooks().ShowInformation)
        Hook(Caption, Text);
}

bool AskYesNo(const QString& Caption, const QString& Text) {
    const auto& Hook = UIHooks().AskYesNo;
    return Hook ? Hook(Caption, Text) : false;
}

bool IsShiftDown() {
    const auto& Hook = UIHooks().IsShiftDown;
    return Hook ? Hook() : false;
}

int ClassifyWindowsVersion(int PlatformId, int Major, int Minor, const QString& CSDVersion) {
    constexpr int Win32Windows = 1;
    constexpr int Win32NT = 2;
    if (PlatformId == Win32Windows) {
        if (Major != 4)
            return -1;
        switch (Minor) {
        case 0:
            return 0;
        case 10:
            return CSDVersion.size() >= 2 && CSDVersion[1] == 'A' ? 2 : 1;
        case 90:
            return 3;
        default:
            return -1;
        }
    }
    if (PlatformId == Win32NT) {
        if (Major <= 4)
            return 4;
        if (Major == 5 && Minor >= 0 && Minor <= 2)
            return 5 + Minor;
        if (Major == 6 && Minor == 0)
            return 8;
        return 9;
    }
    return -1;
}

int GetWindowsVersion() {
    return -1;
}

bool IsValidEmail(const QString& Text) {
    return Text.contains('@') && Text.contains('.');
}

bool IsLoopbackHostURL(const QString& URL) {
    const QString Host = QUrl(URL).host();
    if (Host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress Address(Host);
    return !Address.isNull() && Address.isLoopback();
}

bool IsOnline() {
    try {
        if (IsLoopbackHostURL(GetServerBaseURL()))
            return true;
    } catch (const std::exception& E) {
        qWarning("IsOnline: %s", E.what());
    }
    const auto Interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& Interface : Interfaces) {
        const auto Flags = Interface.flags();
        if (Flags.testFlag(QNetworkInterface::IsLoopBack) || !Flags.testFlag(QNetworkInterface::IsUp) ||
            !Flags.testFlag(QNetworkInterface::IsRunning))
            continue;
        if (!Interface.addressEntries().isEmpty())
            return true;
    }
    return false;
}

qint64 FileSizeOf(const QString& FileName) {
    const QFileInfo Info(FileName);
    if (FileName.isEmpty() || !Info.exists())
        return 0;
    if (Info.isDir())
        throw EQuorvantis(QStringLiteral("FileSizeOf: %1 is a folder, not a file").arg(FileName));
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        throw EQuorvantis(QStringLiteral("FileSizeOf: cannot open %1: %2").arg(FileName, File.errorString()));
    return File.size();
}

QString UnescapeAmpersands(const QString& Text) {
    QString Result = Text;
    return Result.replace(QLatin1String("&&"), QLatin1String("&"));
}

QString EscapeAmpersands(const QString& Text) {
    return UnescapeAmpersands(Text).replace(QLatin1String("&"), QLatin1String("&&"));
}

QString MenuCaption(const QString& Name) {
    if (Name.size() <= MaxMenuCaptionLength)
        return EscapeAmpersands(Name);
    const qsizetype Tail = MaxMenuCaptionLength / 3;
    qsizetype Head = MaxMenuCaptionLength - Tail - 1;
    qsizetype TailStart = Name.size() - Tail;
    // Never cut a surrogate pair in two.
    if (Name.at(Head - 1).isHighSurrogate())
        --Head;
    if (Name.at(TailStart).isLowSurrogate())
        ++TailStart;
    return EscapeAmpersands(Name.left(Head) + QChar(0x2026) + Name.mid(TailStart));
}

QString ReplaceCRByBlank(const QString& Text) {
    QString Result = Text;
    return Result.replace('\r', ' ');
}

int BoolToInt(bool B) {
    return B ? 1 : 0;
}

QString AsciiLower(const QString& Text) {
    QString Result = Text;
    for (QChar& C : Result) {
        if (C >= 'A' && C <= 'Z')
            C = QChar(C.unicode() + ('a' - 'A'));
    }
    return Result;
}
