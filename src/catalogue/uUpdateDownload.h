#pragma once

#include "uTHTTPClient.h"

#include <QList>
#include <QObject>
#include <QSaveFile>
#include <QString>
#include <QUrl>
#include <memory>

// Downloading and starting the program installer that the catalogue names.

// GetInstallFolder() + "update/" + FileName. Throws EQuorvantis when FileName is
// empty (an address without "/" names no file).
QString InstallerFile(const QString& FileName, const QString& URL);

// Why a download did not produce a complete file.
enum class TDownloadFailure {
    None,
    BadAddress,    // not an http/https address with a host
    Status,        // the server answered with an error status
    Connection,    // no connection, or it broke
    Incomplete,    // the body ended before its declared end
    LengthUnknown, // the server announced no length (no Content-Length)
    Protocol,      // too many redirects, or one to an address that is not http/https with a host
    Deadline,      // the whole transfer took too long
    Idle,          // no byte for too long
    TooLarge,      // over the size cap
    Cancelled,     // the user cancelled
    File,          // the file could not be written
};

struct TDownloadLimits {
    qint64 MaxBytes = qint64(512) * 1024 * 1024;
    int DeadlineMs = 15 * 60 * 1000;
    int ReadTimeoutMs = 30000;
    int MaxRedirects = 15;
};

// Downloads one file with the HTTP client straight to disk. The body is streamed into a
// temporary file beside File that replaces File only when the transfer is complete: the
// server announced its length (Content-Length; a chunked body cannot be checked) and that
// much arrived. Anything else fails and leaves an earlier File as it was. A complete file that will not be started
// (no program this system runs, or not every hop was trusted) never replaces an earlier program: it goes to File +
// ".new", and File() says so. Every address asked (redirects included) is recorded, so the caller can judge where the
// bytes came from.
class TUpdateDownload final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TUpdateDownload)
public:
    TUpdateDownload(const QString& URL, const QString& File, const TDownloadLimits& Limits = {},
                    QObject* Parent = nullptr);
    ~TUpdateDownload() override;

    // Starts in the background; Finished follows exactly once (never from inside Start).
    void Start();
    // Ends it as cancelled; the partial file is removed.
    void Cancel();

    bool IsFinished() const { return FFinished; }
    bool Ok() const { return FFinished && FFailure == TDownloadFailure::None; }
    TDownloadFailure Failure() const { return FFailure; }
    // The cause in English, for the log ("HTTP/1.1 404 Not Found", "Connection closed after 10 of 20 bytes").
    QString Error() const { return FError; }
    // The cause in the current language, for the user.
    QString UserError() const;
    QList<QUrl> Hops() const { return FHops; }
    qint64 Received() const { return FReceived; }
    QString File() const { return FFile; }

Q_SIGNALS:
    void Begun(qint64 Expected);
    void Progress(qint64 SoFar, qint64 Expected);
    void Finished();

private:
    void OnBegun(qint64 Expected);
    void OnRequestFinished();
    void Fail(TDownloadFailure Failure, const QString& Error);
    void Succeed();
    void Finish();

    QString FURL;
    QString FFile;
    TDownloadLimits FLimits;
    THTTPClient FClient; // a connection of its own, closed with the download
    QSaveFile FOut;      // File + ".part", open from the final answer's head on; the request writes it
    std::unique_ptr<THTTPRequest> FRequest;
    QList<QUrl> FHops;
    qint64 FDeclared = -1; // Content-Length, -1 when none
    qint64 FReceived = 0;
    int FStatus = 0;
    bool FStarted = false;
    bool FFinished = false;
    TDownloadFailure FFailure = TDownloadFailure::None;
    QString FError;
};

// A native program: an ELF file or a script with a "#!" line. A Windows setup
// file is not.
bool IsRunnableProgram(const QString& File);
// The installer came over HTTPS or from a vendor server on this machine, so it
// cannot have been altered on the way.
bool IsTrustedInstallerSource(const QString& URL);
// The same for every address of a download, redirects included: each was HTTPS or on
// this machine. Empty: not trusted.
bool IsTrustedInstallerPath(const QList<QUrl>& Hops);

enum class TInstallerStart { Started, NotAProgram, Untrusted, StartFailed };

// Makes File executable and starts it detached with the single argument "/S"
// (no shell), when it is a program this system can run and came from a trusted
// source; otherwise the file stays where it is and is not started.
TInstallerStart StartInstaller(const QString& File, const QString& URL);
TInstallerStart StartInstaller(const QString& File, const QList<QUrl>& Hops);

// Why the installer was not started, for the log ("" for Started).
QString InstallerStartReason(TInstallerStart Outcome);
// What the user is told when the installer was downloaded but not started
// ("" for Started).
QString InstallerNotStartedText(TInstallerStart Outcome, const QString& File);

// What a finished program update ended with.
struct TUpdateResult {
    bool Downloaded = false; // a complete file is in place
    bool Cancelled = false;
    QString File;        // the installer file (or where it would have gone)
    QString Error;       // the cause of a failed download, for the log
    QString UserMessage; // what the user is told ("" when the installer started)
    TInstallerStart Start = TInstallerStart::NotAProgram;
};
Q_DECLARE_METATYPE(TUpdateResult)
