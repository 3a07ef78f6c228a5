#include "uUpdateDownload.h"

#include "uConst.h"
#include "uErrors.h"
#include "uRegistry.h"
#include "uTHTTPClient.h"
#include "uTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QUrl>

namespace {

const TLangText txtInstallerNotAProgram{
    {"Das Update wurde nach %1 geladen, aber nicht gestartet: Diese Datei ist kein Programm, das auf diesem "
     "System laufen kann.",
     "The update was saved to %1 but not started: this file is not a program this system can run."}};
const TLangText txtInstallerUntrusted{
    {"Das Update wurde nach %1 geladen, aber nicht gestartet, weil es über eine unverschlüsselte Verbindung kam. "
     "Prüfen Sie die Datei, bevor Sie sie selbst starten.",
     "The update was saved to %1 but not started because it came over an unencrypted connection. Check the file "
     "before you start it yourself."}};
const TLangText txtInstallerStartFailed{{"Das Update wurde nach %1 geladen, konnte aber nicht gestartet werden.",
                                         "The update was saved to %1 but could not be started."}};

} // namespace

QString InstallerFile(const QString& FileName, const QString& URL) {
    if (FileName.isEmpty())
        throw EQuorvantis(QStringLiteral("The address names no file: ") + URL);
    return GetInstallFolder() + QStringLiteral("update/") + FileName;
}

qint64 DownloadToFile(THTTPClient& Client, const QString& URL, const QString& File) {
    const QByteArray Body = Client.Get(URL);
    if (!QDir().mkpath(QFileInfo(File).absolutePath()))
        throw EQuorvantis(QStringLiteral("Cannot create the folder of ") + File);
    if (Body.isEmpty())
        return 0;
    QSaveFile Out(File);
    if (!Out.open(QIODevice::WriteOnly))
        throw EQuorvantis(QStringLiteral("Cannot write ") + File + QStringLiteral(": ") + Out.errorString());
    if (Out.write(Body) != Body.size() || !Out.commit())
        throw EQuorvantis(QStringLiteral("Cannot write ") + File + QStringLiteral(": ") + Out.errorString());
    return Body.size();
}

bool IsRunnableProgram(const QString& File) {
    QFile In(File);
    if (!In.open(QIODevice::ReadOnly))
        return false;
    const QByteArray Head = In.read(4);
    return Head == QByteArrayLiteral("\x7f"
                                     "ELF") ||
           Head.startsWith("#!");
}

bool IsTrustedInstallerSource(const QString& URL) {
    const QUrl Url(URL);
    return Url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 || IsLoopbackHostURL(URL);
}

TInstallerStart StartInstaller(const QString& File, const QString& URL) {
    if (!IsRunnableProgram(File))
        return TInstallerStart::NotAProgram;
    if (!IsTrustedInstallerSource(URL))
        return TInstallerStart::Untrusted;
    QFile::setPermissions(File, QFile::permissions(File) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    if (!QProcess::startDetached(File, {QStringLiteral("/S")}, QFileInfo(File).absolutePath()))
        return TInstallerStart::StartFailed;
    return TInstallerStart::Started;
}

QString InstallerStartReason(TInstallerStart Outcome) {
    switch (Outcome) {
    case TInstallerStart::NotAProgram:
        return QStringLiteral("not a program this system can run");
    case TInstallerStart::Untrusted:
        return QStringLiteral("downloaded over an unencrypted connection");
    case TInstallerStart::StartFailed:
        return QStringLiteral("the system cannot start it");
    case TInstallerStart::Started:
        break;
    }
    return {};
}

QString InstallerNotStartedText(TInstallerStart Outcome, const QString& File) {
    switch (Outcome) {
    case TInstallerStart::NotAProgram:
        return txtInstallerNotAProgram().arg(File);
    case TInstallerStart::Untrusted:
        return txtInstallerUntrusted().arg(File);
    case TInstallerStart::StartFailed:
        return txtInstallerStartFailed().arg(File);
    case TInstallerStart::Started:
        break;
    }
    return {};
}
