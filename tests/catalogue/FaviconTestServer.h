#pragma once

// A cpp-httplib server on 127.0.0.1 for favicon tests: answers per path (body,
// error status, redirect or a stall until released), counts every request.

#include "TestSupport.h"

#include <QByteArray>
#include <QString>
#include <QTcpServer>
#include <chrono>
#include <condition_variable>
#include <httplib.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class TFaviconTestServer final {
public:
    TFaviconTestServer() {
        FServer.Get(R"(/.*)", [this](const httplib::Request& Req, httplib::Response& Res) { Handle(Req, Res); });
        FPort = StartLoopbackServer(FServer, FThread);
    }
    ~TFaviconTestServer() {
        Release();
        FServer.stop();
        FThread.join();
    }
    TFaviconTestServer(const TFaviconTestServer&) = delete;
    TFaviconTestServer& operator=(const TFaviconTestServer&) = delete;

    // Site address of a shop on this server; its favicon is Site + "/favicon.ico".
    QString Site(const QString& Name) const { return QStringLiteral("http://127.0.0.1:%1/%2").arg(FPort).arg(Name); }
    // The server's own icon, "<root>/favicon.ico": Serve("") answers it.
    QString RootIcon() const { return QStringLiteral("http://127.0.0.1:%1/favicon.ico").arg(FPort); }

    void Serve(const QString& Name, const QByteArray& Body, int Status = 200) { Set(Name, {Status, Body, {}, false}); }
    void Redirect(const QString& Name, const QString& Target) { Set(Name, {301, {}, Target, false}); }
    void Stall(const QString& Name) { Set(Name, {200, {}, {}, true}); }
    // One byte every 100 ms until released: never quiet long enough for a read time-out.
    void Trickle(const QString& Name) { Set(Name, {200, {}, {}, false, true}); }
    void Release() {
        std::lock_guard Lock(FMutex);
        FReleased = true;
        FChanged.notify_all();
    }

    int Requests(const QString& Name) const {
        std::lock_guard Lock(FMutex);
        const auto It = FCounts.find(Path(Name));
        return It == FCounts.end() ? 0 : It->second;
    }
    int TotalRequests() const {
        std::lock_guard Lock(FMutex);
        int Total = 0;
        for (const auto& [Path, Count] : FCounts)
            Total += Count;
        return Total;
    }
    // A request header of the last request for Name's favicon ("<none>" when absent).
    std::string Header(const QString& Name, const std::string& Key) const {
        std::lock_guard Lock(FMutex);
        const auto It = FHeaders.find(Path(Name));
        if (It == FHeaders.end() || It->second.find(Key) == It->second.end())
            return "<none>";
        return It->second.find(Key)->second;
    }
    // Client connections that carried requests so far (by the client's port).
    int Connections() const {
        std::lock_guard Lock(FMutex);
        return static_cast<int>(FClientPorts.size());
    }
    // Waits (bounded) until the favicon of Name has been asked for.
    bool WaitForRequest(const QString& Name, std::chrono::milliseconds Limit = std::chrono::seconds(10)) {
        std::unique_lock Lock(FMutex);
        return FChanged.wait_for(Lock, Limit, [&] { return FCounts.count(Path(Name)) > 0; });
    }

    // An address on which nothing listens (connection refused).
    static QString ClosedSite() {
        QTcpServer Probe;
        Probe.listen(QHostAddress::LocalHost);
        const quint16 Port = Probe.serverPort();
        Probe.close();
        return QStringLiteral("http://127.0.0.1:%1").arg(Port);
    }

private:
    struct TAnswer {
        int Status = 404;
        QByteArray Body;
        QString Location;
        bool Stall = false;
        bool Trickle = false;
    };

    // Name "" is the site root's icon, where personal links take theirs from.
    static std::string Path(const QString& Name) {
        return Name.isEmpty() ? std::string("/favicon.ico") : "/" + Name.toStdString() + "/favicon.ico";
    }

    void Set(const QString& Name, const TAnswer& Answer) {
        std::lock_guard Lock(FMutex);
        FAnswers[Path(Name)] = Answer;
    }

    void Handle(const httplib::Request& Req, httplib::Response& Res) {
        std::unique_lock Lock(FMutex);
        ++FCounts[Req.path];
        FHeaders[Req.path] = Req.headers;
        FClientPorts.insert(Req.remote_port);
        FChanged.notify_all();
        const auto It = FAnswers.find(Req.path);
        const TAnswer Answer = It == FAnswers.end() ? TAnswer{} : It->second;
        if (Answer.Stall) {
            FChanged.wait(Lock, [this] { return FReleased; });
            return; // the client gave up long ago
        }
        Lock.unlock();
        if (Answer.Trickle) {
            Res.set_chunked_content_provider("image/x-icon", [this](size_t, httplib::DataSink& Sink) {
                std::unique_lock Wait(FMutex);
                if (FChanged.wait_for(Wait, std::chrono::milliseconds(100), [this] { return FReleased; }))
                    return false;
                Wait.unlock();
                return Sink.write("\0", 1);
            });
            return;
        }
        if (!Answer.Location.isEmpty()) {
            Res.set_redirect(Answer.Location.toStdString(), Answer.Status);
            return;
        }
        Res.status = Answer.Status;
        Res.set_content(Answer.Body.toStdString(), Answer.Status == 200 ? "image/x-icon" : "text/html");
    }

    httplib::Server FServer;
    int FPort = 0;
    std::thread FThread;
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::map<std::string, TAnswer> FAnswers;
    std::map<std::string, int> FCounts;
    std::map<std::string, httplib::Headers> FHeaders;
    std::set<int> FClientPorts;
    bool FReleased = false;
};
