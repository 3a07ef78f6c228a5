#pragma once

#include "uErrors.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;

// A failed request. For an error status the message carries the status line
// ("HTTP/1.1 404 Not Found"); for connection problems, the system's description.
class EHTTPError : public EQuorvantis {
public:
    EHTTPError(const QString& Message, int Status) : EQuorvantis(Message), FStatus(Status) {}
    int Status() const { return FStatus; } // 0 when no answer arrived
private:
    int FStatus;
};

// What a request may do; a client has defaults, a request may have its own.
struct THTTPOptions {
    bool FollowRedirects = true;
    bool SendContentType = true; // "Content-Type: text/html" (main client only)
    int ReadTimeoutMs = 0;       // 0 = wait for data without limit
    int DeadlineMs = 0;          // whole request, redirects included; 0 = none
    qint64 MaxBodyBytes = 0;     // 0 = unlimited; larger bodies fail the request
    int MaxRedirects = 15;       // in a row
    // The final answer must announce its length. A body that ends when the connection
    // closes cannot be told from a cut-off one, and neither can a chunked one: the network
    // layer now and then reports a chunked body cut off at a chunk's end as complete.
    bool RequireContentLength = false;
};

// Why a request failed.
enum class THTTPFailure {
    None,
    BadAddress,    // not an http/https address with a host
    Status,        // the final answer has an error status
    Redirect,      // too many redirects, none without a Location, or to a disallowed address
    Connection,    // no answer, or the connection broke before the body
    Incomplete,    // the body ended before its declared end
    LengthUnknown, // RequireContentLength, and the answer announces no length
    Deadline,
    ReadTimeout,
    TooLarge, // over MaxBodyBytes
    Aborted,
    Sink, // the body sink did not take the data
};

// Takes the final answer's body as it arrives, in order, instead of keeping it in the
// request. False ends the request with THTTPFailure::Sink.
using THTTPSink = std::function<bool(const char* Data, qint64 Size)>;

// One running GET. It ends exactly once with Finished (never from inside the call
// that started it); afterwards the results below are fixed. The owner deletes it
// (deleteLater is fine from a Finished handler).
class THTTPRequest final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(THTTPRequest)
public:
    ~THTTPRequest() override;

    bool IsFinished() const { return FFinished; }
    bool Ok() const { return FFinished && FError.isEmpty(); }
    // The failure message ("" when it succeeded), and the status of the answer (0 when none).
    QString Error() const { return FError; }
    THTTPFailure Failure() const { return FFailure; }
    int Status() const { return FStatus; }
    QByteArray Body() const { return FBody; }
    QByteArray TakeBody() { return std::move(FBody); }
    // Content-Type header of the final answer (empty when none arrived).
    QByteArray ContentType() const { return FContentType; }
    // Every address asked, the first one and each redirect target, in order.
    QList<QUrl> Hops() const { return FHops; }

    // Ends the request with Reason as its failure; nothing happens once it has finished.
    void Abort(const QString& Reason = QStringLiteral("Request aborted"));

Q_SIGNALS:
    // The final answer's announced length (0 when none) is known: the body begins.
    void Begun(qint64 Expected);
    // Body bytes of the final answer so far. With a sink, only bytes the sink took.
    void Progress(qint64 SoFar);
    void Finished();

private:
    friend class THTTPClient;
    THTTPRequest(QNetworkAccessManager& Manager, const QString& URL, const THTTPOptions& Options, THTTPSink Sink = {});
    void StartHop();
    bool Stream(const QByteArray& Data);
    void Fail(THTTPFailure Failure, const QString& Error);
    void Finish(THTTPFailure Failure, const QString& Error);
    void OnMetaData();
    void OnReadyRead();
    void OnHopFinished();
    void Finish(const QString& Error);

    QNetworkAccessManager& FManager;
    THTTPOptions FOptions;
    QUrl FUrl;
    QPointer<QNetworkReply> FReply;
    QTimer FReadTimer;
    QTimer FDeadlineTimer;
    QList<QUrl> FHops;
    QByteArray FBody;
    THTTPSink FSink;
    qint64 FStreamed = 0; // bytes the sink took
    bool FChunked = false;
    THTTPFailure FFailure = THTTPFailure::None;
    QByteArray FContentType;
    qint64 FAnnounced = 0;
    int FStatus = 0;
    int FRedirects = 0;
    bool FHeadersSeen = false;
    bool FFinal = false;
    bool FBegun = false;
    bool FFinished = false;
    QString FError;
};

// HTTP GET client over QNetworkAccessManager. Addresses are sent exactly as built.
// Redirects are followed (at most 15 in a row, only to http/https addresses with a host;
// every hop is kept in Hops() for the caller to judge), cookies are kept in memory for the
// life of the client, no proxy is used.
// Start() runs a request in the background on the calling thread's event loop; any
// number may run at once. Get() blocks for one request: on a worker thread it simply
// waits (QThread::requestInterruption() on that thread aborts it within a tenth of a
// second); it is meant for worker threads, tests and tools, never for the user's thread.
class THTTPClient final {
public:
    using TOptions = THTTPOptions;

    THTTPClient();
    explicit THTTPClient(const TOptions& Options);
    ~THTTPClient();
    THTTPClient(const THTTPClient&) = delete;
    THTTPClient& operator=(const THTTPClient&) = delete;

    // A request with the client's options; the caller owns it.
    std::unique_ptr<THTTPRequest> Start(const QString& URL);
    std::unique_ptr<THTTPRequest> Start(const QString& URL, const TOptions& Options);
    // A request whose body goes to Sink as it arrives (Body() stays empty). A device sink
    // must stay open until the request has finished; a failed write ends the request.
    std::unique_ptr<THTTPRequest> Start(const QString& URL, const TOptions& Options, THTTPSink Sink);
    std::unique_ptr<THTTPRequest> Start(const QString& URL, const TOptions& Options, QIODevice& Sink);

    // Body of the final answer; throws EHTTPError.
    QByteArray Get(const QString& URL);
    void Get(const QString& URL, QByteArray& Buffer) { Buffer = Get(URL); }
    // The body as text (UTF-8, or the charset the server names).
    QString GetText(const QString& URL);
    // Drops the idle connection(s) of this client (cookies stay). Aborts a running blocking Get first.
    void Disconnect();
    // Ends a running blocking Get with an error ("Request aborted").
    void Abort();
    bool IsBusy() const { return FBusy; }

    TOptions& Options() { return FOptions; }

    // Transfer events of Get (raised on the requesting thread): begin with the announced
    // length (0 when none), progress with the running total, end. One begin/end pair per
    // request, redirects included.
    std::function<void(qint64 Expected)> OnWorkBegin;
    std::function<void(qint64 SoFar)> OnWork;
    std::function<void()> OnWorkEnd;

    static constexpr int MaxRedirects = THTTPOptions{}.MaxRedirects;
    static constexpr const char* UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
    static constexpr const char* Accept = "text/html, */*";

private:
    QNetworkAccessManager& Manager();

    TOptions FOptions;
    std::unique_ptr<QNetworkAccessManager> FManager;
    THTTPRequest* FRunning = nullptr; // the request of a blocking Get
    bool FBusy = false;
    QByteArray FLastContentType;
};

// The body of a request's answer as text: UTF-8, or the charset ContentType names.
QString DecodeHTTPText(const QByteArray& Body, const QByteArray& ContentType);
