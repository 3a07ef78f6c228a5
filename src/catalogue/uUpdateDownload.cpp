#include "uUpdateDownload.h"

#include "uConst.h"
#include "uErrors.h"
#include "uRegistry.h"
#include "uTools.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QProcess>
#include <QSaveFile>
#include <QSslSocket>

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
const TLangText txtFailOverlong{{"Der Server schickte mehr Daten, als er angekündigt hatte (%1 Bytes).",
                                 "The server sent more data than it announced (%1 bytes)."}};
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

constexpr qint64 MaxHeadBytes = 64 * 1024;
// After the declared end, a server told "Connection: close" closes at once; bytes that
// still arrive meanwhile mean the length was wrong.
constexpr int TailWaitMs = 1000;

bool IsRedirectStatus(int Status) {
    return Status == 301 || Status == 302 || Status == 303 || Status == 307 || Status == 308;
}

bool IsWebScheme(const QUrl& Url) {
    return Url.scheme() == QLatin1String("http") || Url.scheme() == QLatin1String("https");
}

QUrl RequestUrl(const QString& URL) {
    QByteArray Bytes = URL.trimmed().toUtf8();
    Bytes.replace('#', "%23");
    return QUrl::fromEncoded(Bytes, QUrl::TolerantMode);
}

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
    : QObject(Parent), FURL(URL), FFile(File), FLimits(Limits), FUrl(RequestUrl(URL)) {
    FDeadlineTimer.setSingleShot(true);
    connect(&FDeadlineTimer, &QTimer::timeout, this, [this] {
        Fail(TDownloadFailure::Deadline,
             QStringLiteral("Timeout: the download did not end within %1 s").arg(FLimits.DeadlineMs / 1000));
    });
    FIdleTimer.setSingleShot(true);
    connect(&FIdleTimer, &QTimer::timeout, this, [this] {
        Fail(TDownloadFailure::Idle,
             QStringLiteral("Read timeout: no data from the server for %1 ms").arg(FLimits.ReadTimeoutMs));
    });
    FTailTimer.setSingleShot(true);
    connect(&FTailTimer, &QTimer::timeout, this, &TUpdateDownload::Succeed);
}

TUpdateDownload::~TUpdateDownload() {
    CloseSocket();
    if (FOut)
        FOut->cancelWriting(); // the temporary file goes with it
}

void TUpdateDownload::Start() {
    if (FStarted)
        return;
    FStarted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (FFinished)
                return;
            if (!FUrl.isValid() || FUrl.host().isEmpty() || !IsWebScheme(FUrl))
                return Fail(TDownloadFailure::BadAddress, QStringLiteral("Invalid address: ") + FURL);
            if (!QDir().mkpath(QFileInfo(FFile).absolutePath()))
                return Fail(TDownloadFailure::File, QStringLiteral("Cannot create the folder of ") + FFile);
            if (FLimits.DeadlineMs > 0)
                FDeadlineTimer.start(FLimits.DeadlineMs);
            StartHop();
        },
        Qt::QueuedConnection);
}

void TUpdateDownload::Cancel() {
    Fail(TDownloadFailure::Cancelled, QStringLiteral("Cancelled by the user"));
}

void TUpdateDownload::CloseSocket() {
    if (!FSocket)
        return;
    FSocket->disconnect(this);
    FSocket->abort();
    // Deleting a socket from inside one of its own signals is not safe.
    FSocket.release()->deleteLater();
}

void TUpdateDownload::StartHop() {
    CloseSocket();
    FHops.append(FUrl);
    FBuffer.clear();
    FPhase = TPhase::Head;
    FDeclared = -1;
    FStatus = 0;
    FSocket = std::make_unique<QSslSocket>();
    FSocket->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    // Bounded buffering: the body goes to disk as it comes.
    FSocket->setReadBufferSize(1024 * 1024);
    connect(FSocket.get(), &QSslSocket::readyRead, this, &TUpdateDownload::OnReadyRead);
    connect(FSocket.get(), &QSslSocket::disconnected, this, &TUpdateDownload::OnDisconnected);
    connect(FSocket.get(), &QSslSocket::errorOccurred, this, &TUpdateDownload::OnSocketError);
    const bool Tls = FUrl.scheme() == QLatin1String("https");
    const quint16 Port = quint16(FUrl.port(Tls ? 443 : 80));
    if (Tls) {
        connect(FSocket.get(), &QSslSocket::encrypted, this, &TUpdateDownload::OnConnected);
        connect(FSocket.get(), &QSslSocket::sslErrors, this, [this](const QList<QSslError>& Errors) {
            QStringList Texts;
            for (const QSslError& E : Errors)
                Texts << E.errorString();
            Fail(TDownloadFailure::Connection, QStringLiteral("TLS: ") + Texts.join(QStringLiteral("; ")));
        });
        FSocket->connectToHostEncrypted(FUrl.host(), Port);
    } else {
        connect(FSocket.get(), &QSslSocket::connected, this, &TUpdateDownload::OnConnected);
        FSocket->connectToHost(FUrl.host(), Port);
    }
    if (FLimits.ReadTimeoutMs > 0)
        FIdleTimer.start(FLimits.ReadTimeoutMs);
}

void TUpdateDownload::OnConnected() {
    if (FFinished || !FSocket)
        return;
    QByteArray Target = FUrl.path(QUrl::FullyEncoded).toLatin1();
    if (Target.isEmpty())
        Target = "/";
    if (FUrl.hasQuery())
        Target += '?' + FUrl.query(QUrl::FullyEncoded).toLatin1();
    const bool Tls = FUrl.scheme() == QLatin1String("https");
    QByteArray Host = FUrl.host(QUrl::FullyEncoded).toLatin1();
    if (Host.contains(':'))
        Host = '[' + Host + ']';
    if (FUrl.port() != -1 && FUrl.port() != (Tls ? 443 : 80))
        Host += ':' + QByteArray::number(FUrl.port());
    const QByteArray Request =
        "GET " + Target + " HTTP/1.1\r\nHost: " + Host + "\r\nUser-Agent: " + "Mozilla/3.0 (compatible; Indy Library)" +
        "\r\nAccept: text/html, */*\r\n" + "Accept-Encoding: identity\r\nConnection: close\r\n\r\n";
    FSocket->write(Request);
}

void TUpdateDownload::OnReadyRead() {
    if (FFinished || !FSocket)
        return;
    if (FLimits.ReadTimeoutMs > 0)
        FIdleTimer.start(FLimits.ReadTimeoutMs);
    FBuffer += FSocket->readAll();
    if (FPhase == TPhase::Head && !ParseHead())
        return;
    if (FPhase == TPhase::Head || FFinished)
        return;
    QByteArray Data = std::move(FBuffer);
    FBuffer.clear();
    TakeBody(Data);
}

bool TUpdateDownload::ParseHead() {
    for (;;) {
        const qsizetype End = FBuffer.indexOf("\r\n\r\n");
        if (End < 0) {
            if (FBuffer.size() > MaxHeadBytes)
                Fail(TDownloadFailure::Protocol, QStringLiteral("The answer's header is too long"));
            return false;
        }
        const QByteArray Head = FBuffer.left(End);
        FBuffer.remove(0, End + 4);
        const QList<QByteArray> Lines = Head.split('\n');
        const QList<QByteArray> StatusParts = Lines.value(0).trimmed().split(' ');
        bool Number = false;
        FStatus = StatusParts.value(1).toInt(&Number);
        if (!StatusParts.value(0).startsWith("HTTP/1.") || !Number) {
            Fail(TDownloadFailure::Protocol,
                 QStringLiteral("Not an HTTP answer: ") + QString::fromLatin1(Lines.value(0).trimmed().left(80)));
            return false;
        }
        if (FStatus >= 100 && FStatus < 200)
            continue; // an interim answer; the real one follows
        QByteArray Location;
        QByteArray Encoding;
        qint64 Length = -1;
        bool LengthOk = true;
        for (qsizetype I = 1; I < Lines.size(); ++I) {
            const QByteArray Line = Lines.at(I).trimmed();
            const qsizetype Colon = Line.indexOf(':');
            if (Colon <= 0)
                continue;
            const QByteArray Name = Line.left(Colon).trimmed().toLower();
            const QByteArray Value = Line.mid(Colon + 1).trimmed();
            if (Name == "content-length") {
                bool Ok = false;
                const qint64 Parsed = Value.toLongLong(&Ok);
                if (!Ok || Parsed < 0 || (Length >= 0 && Parsed != Length))
                    LengthOk = false;
                Length = Parsed;
            } else if (Name == "transfer-encoding") {
                Encoding = Value.toLower();
            } else if (Name == "location") {
                Location = Value;
            }
        }
        const QString StatusText = QString::fromLatin1(Lines.value(0).trimmed());
        if (IsRedirectStatus(FStatus)) {
            if (Location.isEmpty()) {
                Fail(TDownloadFailure::Protocol, StatusText + QStringLiteral(" without a Location header"));
                return false;
            }
            if (++FRedirects > FLimits.MaxRedirects) {
                Fail(TDownloadFailure::Protocol,
                     StatusText + QStringLiteral(": more than %1 redirects in a row").arg(FLimits.MaxRedirects));
                return false;
            }
            const QUrl Next = FUrl.resolved(RequestUrl(QString::fromLatin1(Location)));
            if (!Next.isValid() || Next.host().isEmpty() || !IsWebScheme(Next)) {
                Fail(TDownloadFailure::Protocol,
                     StatusText + QStringLiteral(" to an invalid address: ") + QString::fromLatin1(Location));
                return false;
            }
            FUrl = Next;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!FFinished)
                        StartHop();
                },
                Qt::QueuedConnection);
            CloseSocket();
            return false;
        }
        if (FStatus >= 300 || FStatus < 200) {
            Fail(TDownloadFailure::Status, QStringLiteral("HTTP/1.1 ") + StatusText.section(QLatin1Char(' '), 1));
            return false;
        }
        if (!Encoding.isEmpty() && Encoding != "identity") {
            if (Encoding != "chunked") {
                Fail(TDownloadFailure::Protocol,
                     QStringLiteral("Unsupported transfer encoding ") + QString::fromLatin1(Encoding));
                return false;
            }
            FPhase = TPhase::Chunks;
            FChunkState = TChunkState::Size;
        } else if (!LengthOk) {
            Fail(TDownloadFailure::Protocol, QStringLiteral("Invalid Content-Length"));
            return false;
        } else if (Length < 0) {
            Fail(TDownloadFailure::LengthUnknown, QStringLiteral("The server did not declare the length of the file"));
            return false;
        } else {
            FDeclared = Length;
            FPhase = TPhase::Body;
        }
        if (FLimits.MaxBytes > 0 && FDeclared > FLimits.MaxBytes) {
            Fail(TDownloadFailure::TooLarge, QStringLiteral("Response too large: %1 bytes announced, limit %2")
                                                 .arg(FDeclared)
                                                 .arg(FLimits.MaxBytes));
            return false;
        }
        FOut = std::make_unique<QSaveFile>(FFile + QStringLiteral(".part"));
        // Not the installer itself: only a complete file is moved to its place.
        FOut->setDirectWriteFallback(false);
        if (!FOut->open(QIODevice::WriteOnly)) {
            Fail(TDownloadFailure::File,
                 QStringLiteral("Cannot write ") + FFile + QStringLiteral(": ") + FOut->errorString());
            return false;
        }
        Q_EMIT Begun(qMax<qint64>(FDeclared, 0));
        if (FPhase == TPhase::Body && FDeclared == 0)
            BodyComplete();
        return true;
    }
}

bool TUpdateDownload::WriteBody(const char* Data, qint64 Size) {
    if (Size <= 0)
        return true;
    if (FLimits.MaxBytes > 0 && FReceived + Size > FLimits.MaxBytes) {
        Fail(TDownloadFailure::TooLarge,
             QStringLiteral("Response too large: more than %1 bytes").arg(FLimits.MaxBytes));
        return false;
    }
    if (FOut->write(Data, Size) != Size) {
        Fail(TDownloadFailure::File,
             QStringLiteral("Cannot write ") + FFile + QStringLiteral(": ") + FOut->errorString());
        return false;
    }
    FReceived += Size;
    Q_EMIT Progress(FReceived, qMax<qint64>(FDeclared, 0));
    return !FFinished;
}

bool TUpdateDownload::TakeBody(QByteArray& Data) {
    qsizetype At = 0;
    while (!FFinished) {
        const qsizetype Left = Data.size() - At;
        switch (FPhase) {
        case TPhase::Body: {
            const qint64 Want = FDeclared - FReceived;
            const qint64 Take = qMin<qint64>(Want, Left);
            if (!WriteBody(Data.constData() + At, Take))
                return false;
            At += Take;
            if (FReceived == FDeclared) {
                BodyComplete();
                continue;
            }
            return true;
        }
        case TPhase::Tail:
            if (Left > 0) {
                Fail(TDownloadFailure::Overlong,
                     QStringLiteral("The server sent more than the %1 bytes it declared").arg(FDeclared));
                return false;
            }
            return true;
        case TPhase::Chunks: {
            if (FChunkState == TChunkState::Size) {
                const qsizetype Eol = Data.indexOf("\r\n", At);
                if (Eol < 0) {
                    if (Left > 1024) {
                        Fail(TDownloadFailure::Protocol, QStringLiteral("Invalid chunk size line"));
                        return false;
                    }
                    FBuffer = Data.mid(At);
                    return true;
                }
                QByteArray SizeLine = Data.mid(At, Eol - At);
                const qsizetype Semicolon = SizeLine.indexOf(';');
                if (Semicolon >= 0)
                    SizeLine.truncate(Semicolon);
                bool Ok = false;
                FChunkLeft = SizeLine.trimmed().toLongLong(&Ok, 16);
                if (!Ok || FChunkLeft < 0) {
                    Fail(TDownloadFailure::Protocol, QStringLiteral("Invalid chunk size line"));
                    return false;
                }
                At = Eol + 2;
                if (FChunkLeft == 0) {
                    FPhase = TPhase::Trailer;
                    continue;
                }
                FChunkState = TChunkState::Data;
                continue;
            }
            if (FChunkState == TChunkState::Data) {
                const qint64 Take = qMin<qint64>(FChunkLeft, Left);
                if (!WriteBody(Data.constData() + At, Take))
                    return false;
                At += Take;
                FChunkLeft -= Take;
                if (FChunkLeft > 0)
                    return true;
                FChunkState = TChunkState::DataEnd;
                continue;
            }
            // The CR LF after a chunk's data.
            if (Left < 2) {
                FBuffer = Data.mid(At);
                return true;
            }
            if (Data.mid(At, 2) != "\r\n") {
                Fail(TDownloadFailure::Protocol, QStringLiteral("Invalid chunk end"));
                return false;
            }
            At += 2;
            FChunkState = TChunkState::Size;
            continue;
        }
        case TPhase::Trailer: {
            // Trailer lines up to an empty line end the chunked body.
            const qsizetype Eol = Data.indexOf("\r\n", At);
            if (Eol < 0) {
                FBuffer = Data.mid(At);
                return true;
            }
            const bool Empty = Eol == At;
            At = Eol + 2;
            if (Empty) {
                FPhase = TPhase::Done;
                Succeed();
                return true;
            }
            continue;
        }
        case TPhase::Head:
        case TPhase::Done:
            return true;
        }
    }
    return false;
}

void TUpdateDownload::BodyComplete() {
    FPhase = TPhase::Tail;
    // A server that keeps the connection open after the declared end gets a moment to
    // show whether more was coming.
    FTailTimer.start(TailWaitMs);
}

void TUpdateDownload::OnDisconnected() {
    if (FFinished)
        return;
    // Whatever is still buffered belongs to the answer.
    if (FSocket && FSocket->bytesAvailable() > 0)
        OnReadyRead();
    if (FFinished)
        return;
    switch (FPhase) {
    case TPhase::Tail:
    case TPhase::Done:
        Succeed();
        return;
    case TPhase::Body:
        Fail(TDownloadFailure::Incomplete,
             QStringLiteral("Connection closed after %1 of %2 bytes").arg(FReceived).arg(FDeclared));
        return;
    case TPhase::Chunks:
    case TPhase::Trailer:
        Fail(TDownloadFailure::Incomplete,
             QStringLiteral("Connection closed after %1 bytes, before the end of the chunked body").arg(FReceived));
        return;
    case TPhase::Head:
        Fail(TDownloadFailure::Connection, QStringLiteral("Connection closed before an answer arrived"));
        return;
    }
}

void TUpdateDownload::OnSocketError() {
    if (FFinished || !FSocket)
        return;
    if (FSocket->error() == QAbstractSocket::RemoteHostClosedError)
        return OnDisconnected();
    if (FPhase == TPhase::Body || FPhase == TPhase::Chunks || FPhase == TPhase::Trailer) {
        Fail(TDownloadFailure::Incomplete,
             QStringLiteral("Connection lost after %1 bytes: %2").arg(FReceived).arg(FSocket->errorString()));
        return;
    }
    if (FPhase == TPhase::Tail)
        return Succeed();
    Fail(TDownloadFailure::Connection, FSocket->errorString());
}

void TUpdateDownload::Fail(TDownloadFailure Failure, const QString& Error) {
    if (FFinished)
        return;
    FFailure = Failure;
    FError = Error;
    if (FOut) {
        FOut->cancelWriting();
        FOut.reset();
    }
    Finish();
}

void TUpdateDownload::Succeed() {
    if (FFinished)
        return;
    if (!FOut || !FOut->commit()) {
        const QString Why = FOut ? FOut->errorString() : QStringLiteral("no file");
        FOut.reset();
        return Fail(TDownloadFailure::File, QStringLiteral("Cannot write ") + FFile + QStringLiteral(": ") + Why);
    }
    FOut.reset();
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
    FDeadlineTimer.stop();
    FIdleTimer.stop();
    FTailTimer.stop();
    CloseSocket();
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
    case TDownloadFailure::Overlong:
        return txtFailOverlong().arg(FDeclared);
    case TDownloadFailure::LengthUnknown:
        return txtFailLengthUnknown();
    case TDownloadFailure::Protocol:
        return txtFailProtocol().arg(FError);
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
