#pragma once

#include "uErrors.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class QDeadlineTimer;
class QEventLoop;
class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

// A failed request. For an error status the message carries the status line
// ("HTTP/1.1 404 Not Found"); for connection problems, the system's description.
class EHTTPError : public EQuorvantis {
public:
    EHTTPError(const QString& Message, int Status) : EQuorvantis(Message), FStatus(Status) {}
    int Status() const { return FStatus; } // 0 when no answer arrived
private:
    int FStatus;
};

// Small blocking HTTP GET client over QNetworkAccessManager. Addresses are sent
// exactly as built. Redirects are followed (at most 15 in a row), cookies are kept
// in memory for the life of the client, no proxy is used. On the thread of the
// QCoreApplication the wait keeps processing events except user input (windows
// repaint, no second request can be started by a click); on other threads it
// simply blocks that thread, and QThread::requestInterruption() on that thread
// aborts a running request within a tenth of a second. One request at a time per client.
class THTTPClient final {
public:
    struct TOptions {
        bool FollowRedirects = true;
        bool SendContentType = true; // "Content-Type: text/html" (main client only)
        int ReadTimeoutMs = 0;       // 0 = wait for data without limit
        int DeadlineMs = 0;          // whole request, redirects included; 0 = none
        qint64 MaxBodyBytes = 0;     // 0 = unlimited; larger bodies fail the request
    };

    THTTPClient();
    explicit THTTPClient(const TOptions& Options);
    ~THTTPClient();
    THTTPClient(const THTTPClient&) = delete;
    THTTPClient& operator=(const THTTPClient&) = delete;

    // Body of the final answer; throws EHTTPError.
    QByteArray Get(const QString& URL);
    // The same with a deadline for this request only (overrides Options().DeadlineMs).
    QByteArray GetWithin(const QString& URL, int DeadlineMs);
    void Get(const QString& URL, QByteArray& Buffer) { Buffer = Get(URL); }
    // The body as text (UTF-8, or the charset the server names).
    QString GetText(const QString& URL);
    // Drops the connection(s) of this client (cookies stay). Aborts a running request first.
    void Disconnect();
    // Ends a running request with an error ("Operation canceled"); safe from a signal handler's
    // event hand-off on the same thread.
    void Abort();
    bool IsBusy() const { return FBusy; }
    // Content-Type header of the last final answer (empty when none arrived).
    QByteArray LastContentType() const { return FLastContentType; }

    TOptions& Options() { return FOptions; }

    // Transfer events (raised on the requesting thread): begin with the announced
    // length (0 when none), progress with the running total, end. One begin/end
    // pair per request, redirects included.
    std::function<void(qint64 Expected)> OnWorkBegin;
    std::function<void(qint64 SoFar)> OnWork;
    std::function<void()> OnWorkEnd;

    static constexpr int MaxRedirects = 15;
    static constexpr const char* UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
    static constexpr const char* Accept = "text/html, */*";

private:
    struct THop;
    void EnsureManager();
    THop RunHop(const QUrl& Url, bool& Begun, const QDeadlineTimer& Deadline);
    void AbortWith(const QString& Reason);

    TOptions FOptions;
    std::unique_ptr<QNetworkAccessManager> FManager;
    QNetworkReply* FReply = nullptr;
    QEventLoop* FLoop = nullptr; // the wait of the running request
    bool FBusy = false;
    bool FAborted = false;
    int FDeadlineMs = 0; // of the running request, for its failure message
    QString FAbortReason;
    QByteArray FLastContentType;
};
