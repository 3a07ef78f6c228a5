#include "uTHTTPClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <exception>

struct THTTPClient::THop {
    int Status = 0;
    QString Reason;
    QByteArray Body;
    bool Redirect = false;
    QByteArray Location;
};

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

bool OnApplicationThread() {
    const QCoreApplication* App = QCoreApplication::instance();
    return App && QThread::currentThread() == App->thread();
}

} // namespace

THTTPClient::THTTPClient() : THTTPClient(TOptions{}) {}

THTTPClient::THTTPClient(const TOptions& Options) : FOptions(Options) {}

THTTPClient::~THTTPClient() {
    if (FReply)
        FReply->abort();
}

void THTTPClient::EnsureManager() {
    if (FManager) {
        // Qt objects belong to the thread that created them; a manager cannot be moved from here.
        if (FManager->thread() != QThread::currentThread())
            throw EHTTPError(QStringLiteral("HTTP client used from a thread other than the one it first ran on"), 0);
        return;
    }
    FManager = std::make_unique<QNetworkAccessManager>();
    FManager->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    // Redirects are followed here so that they can be counted and the limit reported.
    FManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

void THTTPClient::AbortWith(const QString& Reason) {
    if (!FReply || FAborted)
        return;
    FAborted = true;
    FAbortReason = Reason;
    FReply->abort();
    // The request has failed; do not rely on the reply announcing its end after an abort.
    if (FLoop)
        FLoop->quit();
}

void THTTPClient::Abort() {
    AbortWith(QStringLiteral("Request aborted"));
}

void THTTPClient::Disconnect() {
    Abort();
    if (FManager)
        FManager->clearConnectionCache();
}

THTTPClient::THop THTTPClient::RunHop(const QUrl& Url, bool& Begun, const QDeadlineTimer& Deadline) {
    QNetworkRequest Request(Url);
    Request.setRawHeader("Accept", Accept);
    Request.setRawHeader("User-Agent", UserAgent);
    if (FOptions.SendContentType)
        Request.setRawHeader("Content-Type", "text/html");
    // Without this Qt asks for gzip and inflates silently: progress counts would no longer
    // match the announced length and the stored body would depend on the server's whim.
    Request.setRawHeader("Accept-Encoding", "identity");
    Request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    Request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    Request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    THop Hop;
    bool Final = false; // headers of a non-followed answer arrived
    bool HeadersSeen = false;
    std::exception_ptr HandlerError;

    std::unique_ptr<QNetworkReply> Reply(FManager->get(Request));
    FReply = Reply.get();
    QEventLoop Loop;
    QTimer ReadTimer;
    ReadTimer.setSingleShot(true);
    ReadTimer.setTimerType(Qt::PreciseTimer);
    const int Timeout = FOptions.ReadTimeoutMs;
    auto Touch = [&] {
        if (Timeout > 0)
            ReadTimer.start(Timeout);
    };
    // Exceptions must not cross Qt's signal delivery; keep the first one and end the request.
    auto Guarded = [&](auto&& Fn) {
        try {
            Fn();
        } catch (...) {
            if (!HandlerError)
                HandlerError = std::current_exception();
            AbortWith(QStringLiteral("Request aborted by a transfer handler"));
        }
    };

    qint64 Announced = 0; // Content-Length of the final answer
    QObject::connect(&ReadTimer, &QTimer::timeout, &Loop, [&] {
        AbortWith(QStringLiteral("Read timeout: no data from the server for %1 ms").arg(Timeout));
    });
    // The read time-out restarts with every byte; a server that trickles is stopped by the deadline.
    QTimer DeadlineTimer;
    DeadlineTimer.setSingleShot(true);
    DeadlineTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&DeadlineTimer, &QTimer::timeout, &Loop, [&] {
        AbortWith(QStringLiteral("Timeout: the answer did not arrive within %1 ms").arg(FDeadlineMs));
    });
    if (!Deadline.isForever())
        DeadlineTimer.start(static_cast<int>(qMin<qint64>(Deadline.remainingTime(), 1 << 30)));
    // A worker thread asked to stop must not wait for a slow server.
    QTimer StopPoll;
    if (!OnApplicationThread()) {
        QObject::connect(&StopPoll, &QTimer::timeout, &Loop, [&] {
            if (QThread::currentThread()->isInterruptionRequested())
                AbortWith(QStringLiteral("Request aborted: the thread is stopping"));
        });
        StopPoll.start(100);
    }
    QObject::connect(FReply, &QNetworkReply::metaDataChanged, &Loop, [&] {
        Touch();
        if (HeadersSeen)
            return;
        const QVariant StatusAttr = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!StatusAttr.isValid())
            return;
        HeadersSeen = true;
        const int Status = StatusAttr.toInt();
        if (FOptions.FollowRedirects && IsRedirectStatus(Status))
            return;
        Final = true;
        FLastContentType = FReply->rawHeader("Content-Type");
        const QVariant Length = FReply->header(QNetworkRequest::ContentLengthHeader);
        const qint64 Expected = Length.isValid() ? Length.toLongLong() : 0;
        Announced = Expected;
        if (FOptions.MaxBodyBytes > 0 && Expected > FOptions.MaxBodyBytes) {
            AbortWith(QStringLiteral("Response too large: %1 bytes announced, limit %2")
                          .arg(Expected)
                          .arg(FOptions.MaxBodyBytes));
            return;
        }
        Begun = true;
        if (OnWorkBegin)
            Guarded([&] { OnWorkBegin(Expected); });
    });
    QObject::connect(FReply, &QNetworkReply::readyRead, &Loop, [&] {
        Touch();
        Hop.Body += FReply->readAll();
        if (FOptions.MaxBodyBytes > 0 && Hop.Body.size() > FOptions.MaxBodyBytes) {
            AbortWith(QStringLiteral("Response too large: more than %1 bytes").arg(FOptions.MaxBodyBytes));
            return;
        }
        if (Final && OnWork)
            Guarded([&] { OnWork(Hop.Body.size()); });
    });
    QObject::connect(FReply, &QNetworkReply::finished, &Loop, &QEventLoop::quit);

    Touch();
    if (!FReply->isFinished() && !FAborted) {
        FLoop = &Loop;
        if (OnApplicationThread())
            Loop.exec(QEventLoop::ExcludeUserInputEvents);
        else
            Loop.exec();
        FLoop = nullptr;
    }
    ReadTimer.stop();
    DeadlineTimer.stop();
    StopPoll.stop();
    if (!FAborted)
        Hop.Body += FReply->readAll();
    FReply = nullptr;

    if (HandlerError)
        std::rethrow_exception(HandlerError);
    if (FAborted)
        throw EHTTPError(FAbortReason, 0);

    const QVariant StatusAttr = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    Hop.Status = StatusAttr.isValid() ? StatusAttr.toInt() : 0;
    Hop.Reason = Reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    const bool Redirect = FOptions.FollowRedirects && IsRedirectStatus(Hop.Status);
    if (Hop.Status >= 300 && !Redirect)
        throw EHTTPError(StatusLine(Hop.Status, Hop.Reason), Hop.Status);
    // No answer, or the connection broke in the middle of a body.
    if (Reply->error() != QNetworkReply::NoError || Hop.Status == 0)
        throw EHTTPError(Reply->errorString(), 0);
    // The network layer does not always report a connection that closed before the
    // announced length (we ask for identity encoding, so the length is the body's).
    if (Final && Announced > 0 && Hop.Body.size() < Announced)
        throw EHTTPError(QStringLiteral("Connection closed after %1 of %2 bytes").arg(Hop.Body.size()).arg(Announced),
                         0);
    Hop.Redirect = Redirect;
    if (Redirect)
        Hop.Location = Reply->rawHeader("Location").trimmed();
    return Hop;
}

QByteArray THTTPClient::GetWithin(const QString& URL, int DeadlineMs) {
    const int Saved = FOptions.DeadlineMs;
    FOptions.DeadlineMs = DeadlineMs;
    try {
        QByteArray Body = Get(URL);
        FOptions.DeadlineMs = Saved;
        return Body;
    } catch (...) {
        FOptions.DeadlineMs = Saved;
        throw;
    }
}

QByteArray THTTPClient::Get(const QString& URL) {
    if (FBusy)
        throw EHTTPError(QStringLiteral("The HTTP client is busy with another request"), 0);
    EnsureManager();
    QUrl Url = RequestUrl(URL);
    if (!Url.isValid() || Url.host().isEmpty() ||
        (Url.scheme() != QLatin1String("http") && Url.scheme() != QLatin1String("https")))
        throw EHTTPError(QStringLiteral("Invalid address: ") + URL, 0);

    FBusy = true;
    FAborted = false;
    FAbortReason.clear();
    FLastContentType.clear();
    bool Begun = false;
    FDeadlineMs = FOptions.DeadlineMs;
    const QDeadlineTimer Deadline =
        FDeadlineMs > 0 ? QDeadlineTimer(FDeadlineMs) : QDeadlineTimer(QDeadlineTimer::Forever);
    auto Finish = [&] {
        FBusy = false;
        FReply = nullptr;
        if (Begun && OnWorkEnd) {
            Begun = false;
            OnWorkEnd();
        }
    };
    try {
        for (int Redirects = 0;;) {
            THop Hop = RunHop(Url, Begun, Deadline);
            if (!Hop.Redirect) {
                Finish();
                return std::move(Hop.Body);
            }
            if (Hop.Location.isEmpty())
                throw EHTTPError(StatusLine(Hop.Status, Hop.Reason) + QStringLiteral(" without a Location header"),
                                 Hop.Status);
            if (++Redirects > MaxRedirects)
                throw EHTTPError(StatusLine(Hop.Status, Hop.Reason) +
                                     QStringLiteral(": more than %1 redirects in a row").arg(MaxRedirects),
                                 Hop.Status);
            const QUrl Next = Url.resolved(RequestUrl(QString::fromLatin1(Hop.Location)));
            if (!Next.isValid() || (Next.scheme() != QLatin1String("http") && Next.scheme() != QLatin1String("https")))
                throw EHTTPError(StatusLine(Hop.Status, Hop.Reason) + QStringLiteral(" to an invalid address: ") +
                                     QString::fromLatin1(Hop.Location),
                                 Hop.Status);
            Url = Next;
        }
    } catch (...) {
        try {
            Finish();
        } catch (...) {
            // The request's own failure is the one worth reporting.
        }
        throw;
    }
}

QString THTTPClient::GetText(const QString& URL) {
    const QByteArray Body = Get(URL);
    const QByteArray Type = FLastContentType.toLower();
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
