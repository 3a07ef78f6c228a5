#include "TVendorServer.h"

#include "uQueryText.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <httplib.h>
#include <iostream>
#include <pugixml.hpp>
#include <random>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* BasePlaceholder = "{BASE}";

// Into a new string: replacing in place moves the rest of the text each time, which
// takes minutes for a catalogue of a hundred thousand shops.
std::string ReplaceAll(const std::string& Text, const std::string& From, const std::string& To) {
    std::string Result;
    Result.reserve(Text.size());
    size_t Done = 0;
    for (size_t At = Text.find(From); At != std::string::npos; At = Text.find(From, Done)) {
        Result.append(Text, Done, At - Done).append(To);
        Done = At + From.size();
    }
    return Result.append(Text, Done, std::string::npos);
}

std::string ReadFile(const fs::path& File) {
    std::ifstream In(File, std::ios::binary);
    if (!In)
        return {};
    std::ostringstream Out;
    Out << In.rdbuf();
    return Out.str();
}

std::string RawQueryOf(const httplib::Request& Req) {
    const size_t At = Req.target.find('?');
    return At == std::string::npos ? std::string() : Req.target.substr(At + 1);
}

std::string MimeTypeOf(const fs::path& File) {
    static const std::map<std::string, std::string> Types = {
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".xml", "text/xml"},
        {".txt", "text/plain; charset=utf-8"},
        {".ico", "image/x-icon"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
    };
    const auto It = Types.find(File.extension().string());
    return It == Types.end() ? "application/octet-stream" : It->second;
}

std::string NewSessionId() {
    std::random_device Random;
    std::uniform_int_distribution<unsigned> Digit(0, 15);
    std::string Id;
    for (int I = 0; I < 16; ++I)
        Id += "0123456789abcdef"[Digit(Random)];
    return Id;
}

bool HasSessionCookie(const httplib::Request& Req) {
    const std::string Cookie = Req.get_header_value("Cookie");
    return Cookie.rfind("session=", 0) == 0 || Cookie.find("; session=") != std::string::npos;
}

} // namespace

TVendorServer::TVendorServer(TVendorServerOptions Options)
    : FOptions(std::move(Options)), FServer(std::make_unique<httplib::Server>()) {
    if (FOptions.RecordsFile.empty())
        FOptions.RecordsFile = FOptions.ContentDir / "submissions.jsonl";
    SetupRoutes();
}

TVendorServer::~TVendorServer() = default;

bool TVendorServer::Bind(std::string& Error) {
    if (!fs::is_directory(FOptions.ContentDir)) {
        Error = "content folder not found: " + FOptions.ContentDir.string();
        return false;
    }
    if (!fs::is_regular_file(FOptions.ContentDir / "version2.xml")) {
        Error = "no version2.xml in the content folder " + FOptions.ContentDir.string();
        return false;
    }
    if (FOptions.Port == 0) {
        FPort = FServer->bind_to_any_port(FOptions.Bind);
    } else {
        FPort = FServer->bind_to_port(FOptions.Bind, FOptions.Port) ? FOptions.Port : -1;
    }
    if (FPort <= 0) {
        Error = "cannot listen on " + FOptions.Bind + ":" + std::to_string(FOptions.Port);
        return false;
    }
    return true;
}

std::string TVendorServer::BaseURL() const {
    const bool IPv6 = FOptions.Bind.find(':') != std::string::npos;
    return "http://" + (IPv6 ? "[" + FOptions.Bind + "]" : FOptions.Bind) + ":" + std::to_string(FPort);
}

void TVendorServer::Run() {
    FServer->listen_after_bind();
}

void TVendorServer::Stop() {
    {
        std::lock_guard<std::mutex> Lock(FStopLock);
        FStopping = true;
    }
    FStopSignal.notify_all();
    FServer->stop();
}

// The address the client used, so the catalogue's links work whichever interface it came in on.
std::string TVendorServer::BaseFor(const httplib::Request& Req) const {
    const std::string Host = Req.get_header_value("Host");
    const bool Plain =
        !Host.empty() && Host.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]") == std::string::npos;
    return Plain ? "http://" + Host : BaseURL();
}

std::string TVendorServer::ReadContent(const std::string& Name) const {
    return ReadFile(FOptions.ContentDir / Name);
}

std::map<int, TVendorServer::TShopEntry> TVendorServer::Shops() {
    const fs::path File = FOptions.ContentDir / "version2.xml";
    std::error_code Ec;
    const auto Time = fs::last_write_time(File, Ec);
    std::lock_guard<std::mutex> Lock(FShopsLock);
    if (!Ec && Time == FShopsTime && !FShops.empty())
        return FShops;
    const std::string Text = ReadFile(File);
    pugi::xml_document Doc;
    FShops.clear();
    if (Doc.load_buffer(Text.data(), Text.size())) {
        for (const pugi::xml_node Shop : Doc.document_element().child("shops").children("shop"))
            FShops[Shop.attribute("id").as_int()] = {Shop.attribute("name").value(), Shop.attribute("site").value(),
                                                     Shop.attribute("category").value()};
    } else {
        std::cerr << "version2.xml cannot be parsed; shop links will not resolve\n";
    }
    FShopsTime = Time;
    return FShops;
}

void TVendorServer::SetupRoutes() {
    httplib::Server& S = *FServer;
    // Headers and body go out in separate writes; without this, Nagle and the client's
    // delayed acknowledgement add some 40 ms to every answer.
    S.set_tcp_nodelay(true);
    // An idle kept connection holds up an orderly stop for this long.
    S.set_keep_alive_timeout(1);
    S.Get("/version2.xml", [this](const httplib::Request& Req, httplib::Response& Res) { ServeCatalogue(Req, Res); });
    S.Get("/shop.php", [this](const httplib::Request& Req, httplib::Response& Res) { ServeShop(Req, Res); });
    S.Get("/search.php", [this](const httplib::Request& Req, httplib::Response& Res) { ServeSearch(Req, Res); });
    for (const char* Path : {"/newsletter.php", "/feedback.php", "/gewinnspiel.php"})
        S.Get(Path, [this](const httplib::Request& Req, httplib::Response& Res) { ServeSubmission(Req, Res); });

    // Misbehaviour on request, for tests of the program's failure paths.
    S.Get(R"(/redirect/(\d{1,4}))", [](const httplib::Request& Req, httplib::Response& Res) {
        const int N = std::stoi(Req.matches[1]);
        if (N == 0)
            Res.set_content("end of redirect chain\n", "text/plain");
        else
            Res.set_redirect("/redirect/" + std::to_string(N - 1));
    });
    S.Get(R"(/status/(\d{3}))", [](const httplib::Request& Req, httplib::Response& Res) {
        Res.status = std::stoi(Req.matches[1]);
        Res.set_content("status " + std::string(Req.matches[1]) + "\n", "text/plain");
    });
    S.Get("/stall", [this](const httplib::Request&, httplib::Response& Res) { ServeStall(Res); });

    S.Get(".*", [this](const httplib::Request& Req, httplib::Response& Res) { ServeStatic(Req, Res); });

    if (FOptions.Verbose || !FOptions.RequestLog.empty())
        S.set_logger([this](const httplib::Request& Req, const httplib::Response& Res) {
            // The raw target: what a client really sent, percent-encoding included.
            const std::string Line = Req.method + " " + Req.target + " " + std::to_string(Res.status) + "\n";
            if (FOptions.Verbose)
                std::fputs(Line.c_str(), stderr);
            if (!FOptions.RequestLog.empty()) {
                std::lock_guard<std::mutex> Lock(FRecordsLock);
                if (std::FILE* Log = std::fopen(FOptions.RequestLog.c_str(), "a")) {
                    std::fputs(Line.c_str(), Log);
                    std::fclose(Log);
                }
            }
        });
}

void TVendorServer::ServeCatalogue(const httplib::Request& Req, httplib::Response& Res) const {
    const std::string Text = ReadContent("version2.xml");
    Res.set_content(ReplaceAll(Text, BasePlaceholder, BaseFor(Req)), "text/xml");
    if (!HasSessionCookie(Req))
        Res.set_header("Set-Cookie", "session=" + NewSessionId() + "; Path=/");
}

void TVendorServer::ServeShop(const httplib::Request& Req, httplib::Response& Res) {
    const auto Query = DecodeQuery(RawQueryOf(Req));
    int Id = -1;
    for (const auto& [Key, Value] : Query)
        if (Key == "id") {
            try {
                size_t Used = 0;
                Id = std::stoi(Value, &Used);
                if (Used != Value.size())
                    Id = -1;
            } catch (const std::exception&) {
                Id = -1;
            }
            break;
        }
    const auto AllShops = Shops();
    const auto It = AllShops.find(Id);
    if (It == AllShops.end() || It->second.Site.empty()) {
        ServeNotFound(Res);
        return;
    }
    Res.set_redirect(ReplaceAll(It->second.Site, BasePlaceholder, BaseFor(Req)), 302);
}

void TVendorServer::ServeSearch(const httplib::Request& Req, httplib::Response& Res) {
    std::string Type, Search;
    for (const auto& [Key, Value] : DecodeQuery(RawQueryOf(Req))) {
        if (Key == "type")
            Type = Value;
        else if (Key == "search")
            Search = Value;
    }
    // Shops whose name or category holds the search text (ASCII case folded).
    auto Fold = [](std::string Text) {
        for (char& C : Text)
            if (C >= 'A' && C <= 'Z')
                C = char(C - 'A' + 'a');
        return Text;
    };
    const std::string Needle = Fold(Search);
    std::string Results;
    int Count = 0;
    if (!Needle.empty())
        for (const auto& [Id, Shop] : Shops())
            if (Fold(Shop.Name).find(Needle) != std::string::npos ||
                Fold(Shop.Category).find(Needle) != std::string::npos) {
                Results += "<li><a href=\"/shop.php?id=" + std::to_string(Id) + "\">" + HtmlEscape(Shop.Name) +
                           "</a> <span class=\"cat\">" + HtmlEscape(Shop.Category) + "</span></li>\n";
                ++Count;
            }
    if (Count == 0)
        Results = "<li>Keine Shops gefunden.</li>\n";
    std::string Page = ReadContent("search-template.html");
    if (Page.empty())
        Page = "<html><body><h1>{SEARCH}</h1><ul>{RESULTS}</ul></body></html>";
    Page = ReplaceAll(Page, "{SEARCH}", HtmlEscape(Search));
    Page = ReplaceAll(Page, "{TYPE}", HtmlEscape(Type));
    Page = ReplaceAll(Page, "{COUNT}", std::to_string(Count));
    Page = ReplaceAll(Page, "{RESULTS}", Results);
    Res.set_content(Page, "text/html; charset=utf-8");
}

bool TVendorServer::AppendRecord(const httplib::Request& Req, std::string& Error) {
    const std::string RawQuery = RawQueryOf(Req);
    QJsonObject Query;
    for (const auto& [Key, Value] : DecodeQuery(RawQuery))
        Query.insert(QString::fromStdString(Key), QString::fromStdString(Value));
    QJsonObject Record;
    Record.insert("time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    Record.insert("path", QString::fromStdString(Req.path));
    Record.insert("query", Query);
    Record.insert("raw_query", QString::fromLatin1(RawQuery.c_str()));
    Record.insert("cookie", QString::fromLatin1(Req.get_header_value("Cookie").c_str()));
    Record.insert("user_agent", QString::fromLatin1(Req.get_header_value("User-Agent").c_str()));
    const QByteArray Line = QJsonDocument(Record).toJson(QJsonDocument::Compact) + '\n';

    // One write per line on an append-only descriptor: concurrent requests never interleave.
    std::lock_guard<std::mutex> Lock(FRecordsLock);
    const int Fd = ::open(FOptions.RecordsFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (Fd < 0) {
        Error = std::string("cannot open ") + FOptions.RecordsFile.string() + ": " + std::strerror(errno);
        return false;
    }
    const ssize_t Written = ::write(Fd, Line.constData(), size_t(Line.size()));
    const int WriteErrno = errno;
    const bool Closed = ::close(Fd) == 0;
    if (Written != Line.size() || !Closed) {
        Error = std::string("cannot write ") + FOptions.RecordsFile.string() + ": " + std::strerror(WriteErrno);
        return false;
    }
    return true;
}

void TVendorServer::ServeSubmission(const httplib::Request& Req, httplib::Response& Res) {
    std::string Error;
    if (!AppendRecord(Req, Error)) {
        // The program then hands the address to the browser; the submission is not lost silently.
        std::cerr << "Recording " << Req.target << " failed: " << Error << "\n";
        Res.status = 500;
        Res.set_content("Submission could not be recorded\n", "text/plain");
        return;
    }
    Res.set_content("OK", "text/plain");
}

void TVendorServer::ServeStall(httplib::Response& Res) {
    std::unique_lock<std::mutex> Lock(FStopLock);
    FStopSignal.wait_for(Lock, std::chrono::seconds(120), [this] { return FStopping; });
    Res.status = 503;
    Res.set_content("stalled\n", "text/plain");
}

void TVendorServer::ServeNotFound(httplib::Response& Res) const {
    Res.status = 404;
    std::string Page = ReadContent("404.html");
    if (Page.empty())
        Page = "<html><body><h1>Seite nicht gefunden</h1></body></html>";
    Res.set_content(Page, "text/html; charset=utf-8");
}

void TVendorServer::ServeStatic(const httplib::Request& Req, httplib::Response& Res) const {
    // Only plain names below the content folder: no "..", no hidden files, not the records.
    std::string Relative = Req.path;
    while (!Relative.empty() && Relative.front() == '/')
        Relative.erase(0, 1);
    const fs::path Rel(Relative);
    bool Safe = Relative.find('\\') == std::string::npos && Relative.find('\0') == std::string::npos;
    for (const auto& Part : Rel)
        if (!Part.empty() && Part.string().front() == '.')
            Safe = false;
    fs::path File = FOptions.ContentDir / Rel;
    std::error_code Ec;
    if (Safe && fs::is_directory(File, Ec))
        File /= "index.html";
    const fs::path Canonical = fs::weakly_canonical(File, Ec);
    const fs::path Root = fs::weakly_canonical(FOptions.ContentDir, Ec);
    const std::string RootText = Root.string() + "/";
    if (!Safe || Canonical.string().rfind(RootText, 0) != 0 || !fs::is_regular_file(Canonical, Ec) ||
        Canonical == fs::weakly_canonical(FOptions.RecordsFile, Ec) || Canonical.extension() == ".jsonl") {
        ServeNotFound(Res);
        return;
    }
    Res.set_content(ReadFile(Canonical), MimeTypeOf(Canonical));
}
