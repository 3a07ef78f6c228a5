#include "uUpdateDownload.h"

#include "uConst.h"
#include "uErrors.h"
#include "uRegistry.h"
#include "uTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QSaveFile>

#include <cstdio>

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

const TLangText txtFailNotFound{
    {"Die Update-Datei wurde auf dem Server nicht gefunden (Fehler 404). Bitte versuchen Sie es später noch einmal.",
     "The update file was not found on the server (error 404). Please try again later."}};
const TLangText txtFailStatus{{"Der Server hat die Anfrage abgelehnt (Fehler %1: %2). Bitte versuchen Sie es später "
                               "noch einmal.",
                               "The server refused the request (error %1: %2). Please try again later."}};
const TLangText txtFailConnection{
    {"Die Verbindung zum Server ist gescheitert (%1).", "The connection to the server failed (%1)."}};
const TLangText txtFailIncomplete{{"Die Verbindung brach ab, bevor die Datei vollständig war (%1 von %2 Bytes).",
                                   "The connection was lost before the file was complete (%1 of %2 bytes)."}};
const TLangText txtFailLengthUnknown{
    {"Der Server nannte die Größe der Datei nicht, daher lässt sich nicht prüfen, ob sie vollständig ist.",
     "The server did not state the size of the file, so it cannot be checked for completeness."}};
const TLangText txtFailProtocol{
    {"Die Antwort des Servers war unverständlich (%1).", "The server's answer could not be read (%1)."}};
const TLangText txtFailDeadline{
    {"Das Laden dauerte länger als %1 Minuten.", "The download took longer than %1 minutes."}};
const TLangText txtFailIdle{
    {"Der Server schickte %1 Sekunden lang keine Daten.", "The server sent no data for %1 seconds."}};
const TLangText txtFailTooLarge{{"Die Datei ist größer als %1 MB.", "The file is larger than %1 MB."}};
const TLangText txtFailCancelled{{"Das Laden wurde abgebrochen.", "The download was cancelled."}};
const TLangText txtFailFile{{"Die Datei konnte nicht gespeichert werden (%1).", "The file could not be saved (%1)."}};
const TLangText txtFailAddress{{"Die Adresse des Updates ist ungültig: %1", "The update's address is not valid: %1"}};

bool IsLoopbackUrl(const QUrl& Url) {
    const QString Host = Url.host();
    if (Host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress Address(Host);
    return !Address.isNull() && Address.isLoopback();
}

bool IsRunnableHead(const QByteArray& Head) {
    return Head.startsWith(QByteArrayLiteral("\x7f"
                                             "ELF")) ||
           Head.startsWith("#!");
}

} // namespace

QString InstallerFile(const QString& FileName, const QString& URL) {
    if (FileName.isEmpty())
        throw EQuorvantis(QStringLiteral("The address names no file: ") + URL);
    return GetInstallFolder() + QStringLiteral("update/") + FileName;
}

// ---- the download ------------------------------------------------------------------------

TUpdateDownload::TUpdateDownload(const QString& URL, const QString& File, const TDownloadLimits& Limits,
                                 QObject* Parent)
    : QObject(Parent), FURL(URL), FFile(File), FLimits(Limits), FOut(File + QStringLiteral(".part")) {
    // Not the installer itself: only a complete file is moved to its place.
    FOut.setDirectWriteFallback(false);
}

// An uncommitted temporary file goes with FOut.
TUpdateDownload::~TUpdateDownload() = default;

void TUpdateDownload::Start() {
    if (FStarted || FFinished)
        return;
    FStarted = true;
    THTTPOptions Options;
    Options.SendContentType = false;
    Options.ReadTimeoutMs = FLimits.ReadTimeoutMs;
    Options.DeadlineMs = FLimits.DeadlineMs;
    Options.MaxBodyBytes = FLimits.MaxBytes;
    Options.MaxRedirects = FLimits.MaxRedirects;
    Options.RequireContentLength = true;
    // The file is opened once the final answer's head has come, before any of its body.
    FRequest = FClient.Start(FURL, Options, FOut);
    connect(FRequest.get(), &THTTPRequest::Begun, this, &TUpdateDownload::OnBegun);
    connect(FRequest.get(), &THTTPRequest::Progress, this, [this](qint64 SoFar) {
        FReceived = SoFar;
        Q_EMIT Progress(FReceived, qMax<qint64>(FDeclared, 0));
    });
    connect(FRequest.get(), &THTTPRequest::Finished, this, &TUpdateDownload::OnRequestFinished);
}

void TUpdateDownload::Cancel() {
    Fail(TDownloadFailure::Cancelled, QStringLiteral("Cancelled by the user"));
}

void TUpdateDownload::OnBegun(qint64 Expected) {
    if (FFinished)
        return;
    FDeclared = Expected > 0 ? Expected : -1;
    if (!QDir().mkpath(QFileInfo(FFile).absolutePath()))
        return Fail(TDownloadFailure::File, QStringLiteral("Cannot create the folder of ") + FFile);
    if (!FOut.open(QIODevice::WriteOnly))
        return Fail(TDownloadFailure::File,
                    QStringLiteral("Cannot write ") + FFile + QStringLiteral(": ") + FOut.errorString());
    Q_EMIT Begun(qMax<qint64>(FDeclared, 0));
}

void TUpdateDownload::OnRequestFinished() {
    if (FFinished)
        return;
    FHops = FRequest->Hops();
    FStatus = FRequest->Status();
    const QString Error = FRequest->Error();
    switch (FRequest->Failure()) {
    case THTTPFailure::None:
        return Succeed();
    case THTTPFailure::BadAddress:
        return Fail(TDownloadFailure::BadAddress, Error);
    case THTTPFailure::Status:
        return Fail(TDownloadFailure::Status, Error);
    case THTTPFailure::Redirect:
        return Fail(TDownloadFailure::Protocol, Error);
    case THTTPFailure::Connection:
        return Fail(TDownloadFailure::Connection, Error);
    case THTTPFailure::Incomplete:
        return Fail(TDownloadFailure::Incomplete, Error);
    case THTTPFailure::LengthUnknown:
        return Fail(TDownloadFailure::LengthUnknown, Error);
    case THTTPFailure::Deadline:
        return Fail(TDownloadFailure::Deadline, Error);
    case THTTPFailure::ReadTimeout:
        return Fail(TDownloadFailure::Idle, Error);
    case THTTPFailure::TooLarge:
        return Fail(TDownloadFailure::TooLarge, Error);
    case THTTPFailure::Aborted:
        return Fail(TDownloadFailure::Cancelled, Error);
    case THTTPFailure::Sink:
        return Fail(TDownloadFailure::File,
                    QStringLiteral("Cannot write ") + FFile + QStringLiteral(": ") + FOut.errorString());
    }
    Fail(TDownloadFailure::Connection, Error);
}

void TUpdateDownload::Fail(TDownloadFailure Failure, const QString& Error) {
    if (FFinished)
        return;
    FFailure = Failure;
    FError = Error;
    if (FOut.isOpen())
        FOut.cancelWriting();
    Finish();
}

void TUpdateDownload::Succeed() {
    if (FFinished)
        return;
    if (!FOut.isOpen())
        return Fail(TDownloadFailure::File, QStringLiteral("Cannot write ") + FFile + QStringLiteral(": no file"));
    if (!FOut.commit())
        return Fail(TDownloadFailure::File,
                    QStringLiteral("Cannot write ") + FFile + QStringLiteral(": ") + FOut.errorString());
    // The complete file replaces the earlier one, unless it will not be started (no program
    // this system can run, or it came over plain HTTP from another machine) while the earlier
    // one is a program: then the new one stays beside it, and the earlier one as it was.
    const QString Part = FFile + QStringLiteral(".part");
    QFile New(Part);
    const QByteArray Head = New.open(QIODevice::ReadOnly) ? New.read(4) : QByteArray();
    New.close();
    const bool WillStart = IsRunnableHead(Head) && IsTrustedInstallerPath(FHops);
    QString Target = FFile;
    if (!WillStart && IsRunnableProgram(FFile))
        Target = FFile + QStringLiteral(".new");
    if (::rename(QFile::encodeName(Part).constData(), QFile::encodeName(Target).constData()) != 0) {
        const QString Why = QString::fromLocal8Bit(strerror(errno));
        QFile::remove(Part);
        return Fail(TDownloadFailure::File, QStringLiteral("Cannot write ") + Target + QStringLiteral(": ") + Why);
    }
    FFile = Target;
    Finish();
}

void TUpdateDownload::Finish() {
    FFinished = true;
    if (FRequest) {
        // It may be the sender of the signal being handled.
        FRequest->disconnect(this);
        FRequest->Abort();
        FRequest.release()->deleteLater();
    }
    Q_EMIT Finished();
}

QString TUpdateDownload::UserError() const {
    switch (FFailure) {
    case TDownloadFailure::None:
        return {};
    case TDownloadFailure::BadAddress:
        return txtFailAddress().arg(FURL);
    case TDownloadFailure::Status:
        // The status line itself says little to a user; the reason phrase stays as a clue.
        return FStatus == 404 ? txtFailNotFound()
                              : txtFailStatus().arg(FStatus).arg(FError.section(QLatin1Char(' '), 2).trimmed());
    case TDownloadFailure::Connection:
        return txtFailConnection().arg(FError);
    case TDownloadFailure::Incomplete:
        return FDeclared >= 0 ? txtFailIncomplete().arg(FReceived).arg(FDeclared)
                              : txtFailIncomplete().arg(FReceived).arg(QStringLiteral("?"));
    case TDownloadFailure::LengthUnknown:
        return txtFailLengthUnknown();
    case TDownloadFailure::Protocol:
        // A status line says little to a user.
        return txtFailProtocol().arg(FError.startsWith(QLatin1String("HTTP/1.1 ")) ? FError.mid(9) : FError);
    case TDownloadFailure::Deadline:
        return txtFailDeadline().arg(qMax(1, FLimits.DeadlineMs / 60000));
    case TDownloadFailure::Idle:
        return txtFailIdle().arg(FLimits.ReadTimeoutMs / 1000);
    case TDownloadFailure::TooLarge:
        return txtFailTooLarge().arg(FLimits.MaxBytes / (1024 * 1024));
    case TDownloadFailure::Cancelled:
        return txtFailCancelled();
    case TDownloadFailure::File:
        return txtFailFile().arg(FError);
    }
    return FError;
}

// ---- starting it ---------------------------------------------------------------------------

bool IsRunnableProgram(const QString& File) {
    QFile In(File);
    if (!In.open(QIODevice::ReadOnly))
        return false;
    return IsRunnableHead(In.read(4));
}

bool IsTrustedInstallerSource(const QString& URL) {
    return IsTrustedInstallerPath({QUrl(URL)});
}

bool IsTrustedInstallerPath(const QList<QUrl>& Hops) {
    if (Hops.isEmpty())
        return false;
    for (const QUrl& Hop : Hops)
        if (Hop.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0 && !IsLoopbackUrl(Hop))
            return false;
    return true;
}

TInstallerStart StartInstaller(const QString& File, const QString& URL) {
    return StartInstaller(File, QList<QUrl>{QUrl(URL)});
}

TInstallerStart StartInstaller(const QString& File, const QList<QUrl>& Hops) {
    if (!IsRunnableProgram(File))
        return TInstallerStart::NotAProgram;
    if (!IsTrustedInstallerPath(Hops))
        return TInstallerStart::Untrusted;
    QFile::setPermissions(File, QFile::permissions(File) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    if (!StartDetachedProgram(File, {QStringLiteral("/S")}, QFileInfo(File).absolutePath()))
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
