#include "uTHTTPClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QThread>

namespace {

bool IsRedirectStatus(int Status) {
    return Status == 301 || Status == 302 || Status == 303 || Status == 307 || Status == 308;
}

QString StatusLine(int Status, const QString& Reason) {
    QString Line = QStringLiteral("HTTP/1.1 ") + QString::number(Status);
    if (!Reason.isEmpty())
        Line += QLatin1Char(' ') + Reason;
    return Line;
}

// The program percent-encodes its query values itself, so the address is taken as
// already encoded: "%FC" must reach the server as "%FC", not as "%25FC" or a decoded byte.
// Only what cannot appear in a request line (blanks, non-ASCII) is encoded by QUrl's
// tolerant parser. The program never builds fragments, so a "#" can only be data
// (an unencoded e-mail address); cutting the address there would drop the rest of the query.
QUrl RequestUrl(const QString& URL) {
    QByteArray Bytes = URL.trimmed().toUtf8();
    Bytes.replace('#', "%23");
    return QUrl::fromEncoded(Bytes, QUrl::TolerantMode);
}

bool IsWebScheme(const QUrl& Url) {
    return Url.scheme() == QLatin1String("http") || Url.scheme() == QLatin1String("https");
}

// The first address and every redirect target must pass this.
bool IsRequestable(const QUrl& Url) {
    return Url.isValid() && !Url.host().isEmpty() && IsWebScheme(Url);
}

// A streamed body is read from the network layer in pieces of at most this size, so a
// fast server cannot pile up memory in front of a slow sink.
constexpr qint64 StreamBufferBytes = 1024 * 1024;

bool OnApplicationThread() {
    const QCoreApplication* App = QCoreApplication::instance();
    return App && QThread::currentThread() == App->thread();
}

} // namespace

// ---- one request ----------------------------------------------------------------------

THTTPRequest::THTTPRequest(QNetworkAccessManager& Manager, const QString& URL, const THTTPOptions& Options,
                           THTTPSink Sink)
    : FManager(Manager), FOptions(Options), FUrl(RequestUrl(URL)), FSink(std::move(Sink)) {
    FReadTimer.setSingleShot(true);
    FReadTimer.setTimerType(Qt::PreciseTimer);
    connect(&FReadTimer, &QTimer::timeout, this, [this] {
        Fail(THTTPFailure::ReadTimeout,
             QStringLiteral("Read timeout: no data from the server for %1 ms").arg(FOptions.ReadTimeoutMs));
    });
    // The read time-out restarts with every byte; a server that trickles is stopped by the deadline.
    FDeadlineTimer.setSingleShot(true);
    FDeadlineTimer.setTimerType(Qt::PreciseTimer);
    connect(&FDeadlineTimer, &QTimer::timeout, this, [this] {
        Fail(THTTPFailure::Deadline,
             QStringLiteral("Timeout: the answer did not arrive within %1 ms").arg(FOptions.DeadlineMs));
    });
    if (!IsRequestable(FUrl)) {
        const QString Error = QStringLiteral("Invalid address: ") + URL;
        // Finished must never be raised inside the call that started the request.
        QMetaObject::invokeMethod(
            this, [this, Error] { Finish(THTTPFailure::BadAddress, Error); }, Qt::QueuedConnection);
        return;
    }
    if (FOptions.DeadlineMs > 0)
        FDeadlineTimer.start(FOptions.DeadlineMs);
    StartHop();
}

THTTPRequest::~THTTPRequest() {
    if (FReply) {
        FReply->disconnect(this);
        FReply->abort();
        FReply->deleteLater();
    }
}

void THTTPRequest::StartHop() {
    FHops.append(FUrl);
    QNetworkRequest Request(FUrl);
    Request.setRawHeader("Accept", THTTPClient::Accept);
    Request.setRawHeader("User-Agent", THTTPClient::UserAgent);
    if (FOptions.SendContentType)
        Request.setRawHeader("Content-Type", "text/html");
    // Without this Qt asks for gzip and inflates silently: progress counts would no longer
    // match the announced length and the stored body would depend on the server's whim.
    Request.setRawHeader("Accept-Encoding", "identity");
    Request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    Request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    Request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    FHeadersSeen = false;
    FFinal = false;
    FAnnounced = 0;
    FBody.clear();
    FStreamed = 0;
    FChunked = false;
    FReply = FManager.get(Request);
    if (FSink)
        FReply->setReadBufferSize(StreamBufferBytes);
    connect(FReply, &QNetworkReply::metaDataChanged, this, &THTTPRequest::OnMetaData);
    connect(FReply, &QNetworkReply::readyRead, this, &THTTPRequest::OnReadyRead);
    connect(FReply, &QNetworkReply::finished, this, &THTTPRequest::OnHopFinished);
    if (FOptions.ReadTimeoutMs > 0)
        FReadTimer.start(FOptions.ReadTimeoutMs);
}

void THTTPRequest::OnMetaData() {
    if (FOptions.ReadTimeoutMs > 0)
        FReadTimer.start(FOptions.ReadTimeoutMs);
    if (FHeadersSeen || !FReply)
        return;
    const QVariant StatusAttr = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!StatusAttr.isValid())
        return;
    FHeadersSeen = true;
    const int Status = StatusAttr.toInt();
    if (FOptions.FollowRedirects && IsRedirectStatus(Status))
        return;
    FFinal = true;
    FContentType = FReply->rawHeader("Content-Type");
    const QVariant Length = FReply->header(QNetworkRequest::ContentLengthHeader);
    FAnnounced = Length.isValid() ? Length.toLongLong() : 0;
    FChunked = FReply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
    // An error page is not the body a sink waits for.
    if (FSink && (Status < 200 || Status >= 300)) {
        FStatus = Status;
        return Fail(THTTPFailure::Status,
                    StatusLine(Status, FReply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
    }
    if (FOptions.RequireContentLength && !Length.isValid())
        return Fail(THTTPFailure::LengthUnknown, QStringLiteral("The server did not declare the length of the body"));
    if (FOptions.MaxBodyBytes > 0 && FAnnounced > FOptions.MaxBodyBytes) {
        Fail(THTTPFailure::TooLarge, QStringLiteral("Response too large: %1 bytes announced, limit %2")
                                         .arg(FAnnounced)
                                         .arg(FOptions.MaxBodyBytes));
        return;
    }
    if (!FBegun) {
        FBegun = true;
        Q_EMIT Begun(FAnnounced);
    }
}

void THTTPRequest::OnReadyRead() {
    if (!FReply)
        return;
    if (FOptions.ReadTimeoutMs > 0)
        FReadTimer.start(FOptions.ReadTimeoutMs);
    if (FSink) {
        Stream(FReply->readAll());
        return;
    }
    FBody += FReply->readAll();
    if (FOptions.MaxBodyBytes > 0 && FBody.size() > FOptions.MaxBodyBytes) {
        Fail(THTTPFailure::TooLarge,
             QStringLiteral("Response too large: more than %1 bytes").arg(FOptions.MaxBodyBytes));
        return;
    }
    if (FFinal && !FFinished)
        Q_EMIT Progress(FBody.size());
}

void THTTPRequest::OnHopFinished() {
    QNetworkReply* Reply = FReply;
    if (!Reply || FFinished)
        return;
    if (FSink && !Stream(Reply->readAll()))
        return;
    FReply = nullptr;
    Reply->disconnect(this);
    Reply->deleteLater();
    FBody += Reply->readAll();

    const QVariant StatusAttr = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int Status = StatusAttr.isValid() ? StatusAttr.toInt() : 0;
    const QString Reason = Reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    FStatus = Status;
    const bool Redirect = FOptions.FollowRedirects && IsRedirectStatus(Status);
    if (Status >= 300 && !Redirect)
        return Finish(THTTPFailure::Status, StatusLine(Status, Reason));
    // The network layer does not always report a connection that closed before the
    // announced length (we ask for identity encoding, so the length is the body's).
    const qint64 Got = FSink ? FStreamed : FBody.size();
    const QNetworkReply::NetworkError Error = Reply->error();
    const bool Closed = Error == QNetworkReply::NoError || Error == QNetworkReply::RemoteHostClosedError;
    if (FFinal && FAnnounced > 0 && Got < FAnnounced && Closed)
        return Finish(THTTPFailure::Incomplete,
                      QStringLiteral("Connection closed after %1 of %2 bytes").arg(Got).arg(FAnnounced));
    if (FFinal && FChunked && Error == QNetworkReply::RemoteHostClosedError)
        return Finish(THTTPFailure::Incomplete,
                      QStringLiteral("Connection closed after %1 bytes, before the end of the chunked body").arg(Got));
    // No answer, or the connection broke in the middle of a body.
    if (Error != QNetworkReply::NoError || Status == 0)
        return Finish(FFinal ? THTTPFailure::Incomplete : THTTPFailure::Connection, Reply->errorString());
    if (!Redirect)
        return Finish(THTTPFailure::None, QString());

    const QByteArray Location = Reply->rawHeader("Location").trimmed();
    if (Location.isEmpty())
        return Finish(THTTPFailure::Redirect,
                      StatusLine(Status, Reason) + QStringLiteral(" without a Location header"));
    if (++FRedirects > FOptions.MaxRedirects)
        return Finish(THTTPFailure::Redirect,
                      StatusLine(Status, Reason) +
                          QStringLiteral(": more than %1 redirects in a row").arg(FOptions.MaxRedirects));
    const QUrl Next = FUrl.resolved(RequestUrl(QString::fromLatin1(Location)));
    if (!IsRequestable(Next))
        return Finish(THTTPFailure::Redirect, StatusLine(Status, Reason) + QStringLiteral(" to an invalid address: ") +
                                                  QString::fromLatin1(Location));
    FUrl = Next;
    StartHop();
}

// Hands a piece of the final body to the sink, within the size cap. False when the
// request ended here.
bool THTTPRequest::Stream(const QByteArray& Data) {
    if (Data.isEmpty() || !FFinal)
        return !FFinished; // a redirect's own body is of no interest
    if (FOptions.MaxBodyBytes > 0 && FStreamed + Data.size() > FOptions.MaxBodyBytes) {
        Fail(THTTPFailure::TooLarge,
             QStringLiteral("Response too large: more than %1 bytes").arg(FOptions.MaxBodyBytes));
        return false;
    }
    if (!FSink(Data.constData(), Data.size())) {
        Fail(THTTPFailure::Sink, QStringLiteral("The body could not be stored"));
        return false;
    }
    FStreamed += Data.size();
    if (!FFinished)
        Q_EMIT Progress(FStreamed);
    return !FFinished;
}

void THTTPRequest::Abort(const QString& Reason) {
    Fail(THTTPFailure::Aborted, Reason);
}

void THTTPRequest::Fail(THTTPFailure Failure, const QString& Error) {
    if (FFinished)
        return;
    if (FReply) {
        QNetworkReply* Reply = FReply;
        FReply = nullptr;
        Reply->disconnect(this);
        Reply->abort();
        Reply->deleteLater();
    }
    Finish(Failure, Error);
}

void THTTPRequest::Finish(THTTPFailure Failure, const QString& Error) {
    if (FFinished)
        return;
    FFailure = Error.isEmpty() ? THTTPFailure::None : Failure;
    Finish(Error);
}

void THTTPRequest::Finish(const QString& Error) {
    if (FFinished)
        return;
    FFinished = true;
    FError = Error;
    FReadTimer.stop();
    FDeadlineTimer.stop();
    if (!Error.isEmpty())
        FBody.clear();
    Q_EMIT Finished();
}

// ---- the client --------------------------------------------------------------------------

THTTPClient::THTTPClient() : THTTPClient(TOptions{}) {}

THTTPClient::THTTPClient(const TOptions& Options) : FOptions(Options) {}

THTTPClient::~THTTPClient() = default;

QNetworkAccessManager& THTTPClient::Manager() {
    if (FManager) {
        // Qt objects belong to the thread that created them; a manager cannot be moved from here.
        if (FManager->thread() != QThread::currentThread())
            throw EHTTPError(QStringLiteral("HTTP client used from a thread other than the one it first ran on"), 0);
        return *FManager;
    }
    FManager = std::make_unique<QNetworkAccessManager>();
    FManager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    // Redirects are followed by the request itself so that they can be counted and the limit reported.
    FManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    return *FManager;
}

std::unique_ptr<THTTPRequest> THTTPClient::Start(const QString& URL) {
    return Start(URL, FOptions);
}

std::unique_ptr<THTTPRequest> THTTPClient::Start(const QString& URL, const TOptions& Options) {
    return std::unique_ptr<THTTPRequest>(new THTTPRequest(Manager(), URL, Options));
}

std::unique_ptr<THTTPRequest> THTTPClient::Start(const QString& URL, const TOptions& Options, THTTPSink Sink) {
    return std::unique_ptr<THTTPRequest>(new THTTPRequest(Manager(), URL, Options, std::move(Sink)));
}

std::unique_ptr<THTTPRequest> THTTPClient::Start(const QString& URL, const TOptions& Options, QIODevice& Sink) {
    return Start(URL, Options, [&Sink](const char* Data, qint64 Size) { return Sink.write(Data, Size) == Size; });
}

void THTTPClient::Abort() {
    if (FRunning)
        FRunning->Abort();
}

void THTTPClient::Disconnect() {
    Abort();
    if (FManager)
        FManager->clearConnectionCache();
}

QByteArray THTTPClient::Get(const QString& URL) {
    if (FBusy)
        throw EHTTPError(QStringLiteral("The HTTP client is busy with another request"), 0);
    FLastContentType.clear();
    std::unique_ptr<THTTPRequest> Request = Start(URL);
    FBusy = true;
    FRunning = Request.get();
    QEventLoop Loop;
    bool Begun = false;
    QObject::connect(Request.get(), &THTTPRequest::Finished, &Loop, &QEventLoop::quit);
    // Exceptions must not cross Qt's signal delivery; keep the first one and end the request.
    std::exception_ptr HandlerError;
    auto Guarded = [&](auto&& Fn) {
        try {
            Fn();
        } catch (...) {
            if (!HandlerError)
                HandlerError = std::current_exception();
            Request->Abort(QStringLiteral("Request aborted by a transfer handler"));
        }
    };
    QObject::connect(Request.get(), &THTTPRequest::Begun, &Loop, [&](qint64 Expected) {
        Begun = true;
        if (OnWorkBegin)
            Guarded([&] { OnWorkBegin(Expected); });
    });
    QObject::connect(Request.get(), &THTTPRequest::Progress, &Loop, [&](qint64 SoFar) {
        if (OnWork)
            Guarded([&] { OnWork(SoFar); });
    });
    // A worker thread asked to stop must not wait for a slow server.
    QTimer StopPoll;
    if (!OnApplicationThread()) {
        QObject::connect(&StopPoll, &QTimer::timeout, &Loop, [&] {
            if (QThread::currentThread()->isInterruptionRequested())
                Request->Abort(QStringLiteral("Request aborted: the thread is stopping"));
        });
        StopPoll.start(25); // the program waits for this thread when it quits
    }
    if (!Request->IsFinished())
        Loop.exec(OnApplicationThread() ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
    StopPoll.stop();
    FRunning = nullptr;
    FBusy = false;
    FLastContentType = Request->ContentType();
    if (Begun && OnWorkEnd)
        Guarded([&] { OnWorkEnd(); });
    if (HandlerError)
        std::rethrow_exception(HandlerError);
    if (!Request->Ok())
        throw EHTTPError(Request->Error(), Request->Status() >= 300 ? Request->Status() : 0);
    return Request->TakeBody();
}

QString DecodeHTTPText(const QByteArray& Body, const QByteArray& ContentType) {
    const QByteArray Type = ContentType.toLower();
    const qsizetype At = Type.indexOf("charset=");
    if (At >= 0) {
        QByteArray Charset = Type.mid(At + 8);
        const qsizetype End = Charset.indexOf(';');
        if (End >= 0)
            Charset.truncate(End);
        Charset = Charset.trimmed();
        if (Charset.startsWith('"') && Charset.endsWith('"') && Charset.size() >= 2)
            Charset = Charset.mid(1, Charset.size() - 2);
        QStringDecoder Decoder(Charset.constData());
        if (Decoder.isValid())
            return Decoder.decode(Body);
    }
    return QString::fromUtf8(Body);
}

QString THTTPClient::GetText(const QString& URL) {
    const QByteArray Body = Get(URL);
    return DecodeHTTPText(Body, FLastContentType);
}
