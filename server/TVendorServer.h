#pragma once

#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

struct TVendorServerOptions {
    std::filesystem::path ContentDir;
    std::string Bind = "127.0.0.1";
    int Port = 0;                      // 0 picks a free port
    std::filesystem::path RecordsFile; // empty: <content>/submissions.jsonl
    bool Verbose = false;              // one stderr line per request
    std::filesystem::path RequestLog;  // when set: one line per request appended here
};

// The local stand-in for the vendor's web server: serves a content folder, fills the
// catalogue's "{BASE}" placeholder with its own address, redirects shop clicks to the
// shops' sites, and appends every submission as one JSON line to the records file.
class TVendorServer final {
public:
    explicit TVendorServer(TVendorServerOptions Options);
    ~TVendorServer();
    TVendorServer(const TVendorServer&) = delete;
    TVendorServer& operator=(const TVendorServer&) = delete;

    // Binds the socket; returns false with a message on failure.
    bool Bind(std::string& Error);
    int Port() const { return FPort; }
    std::string BaseURL() const;
    // Serves until Stop; call after Bind.
    void Run();
    // Ends Run and releases stalled test requests; safe from any thread.
    void Stop();

private:
    struct TShopEntry {
        std::string Name;
        std::string Site;
        std::string Category;
    };

    void SetupRoutes();
    std::string BaseFor(const httplib::Request& Req) const;
    std::string ReadContent(const std::string& Name) const;
    std::map<int, TShopEntry> Shops();
    bool AppendRecord(const httplib::Request& Req, std::string& Error);
    void ServeStatic(const httplib::Request& Req, httplib::Response& Res) const;
    void ServeNotFound(httplib::Response& Res) const;
    void ServeCatalogue(const httplib::Request& Req, httplib::Response& Res) const;
    void ServeShop(const httplib::Request& Req, httplib::Response& Res);
    void ServeSearch(const httplib::Request& Req, httplib::Response& Res);
    void ServeSubmission(const httplib::Request& Req, httplib::Response& Res);
    void ServeStall(httplib::Response& Res);

    TVendorServerOptions FOptions;
    std::unique_ptr<httplib::Server> FServer;
    int FPort = 0;

    std::mutex FShopsLock; // the parsed catalogue, reloaded when the file changes
    std::map<int, TShopEntry> FShops;
    std::filesystem::file_time_type FShopsTime{};

    std::mutex FRecordsLock;

    std::mutex FStopLock;
    std::condition_variable FStopSignal;
    bool FStopping = false;
};
