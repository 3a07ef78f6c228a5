#include "uTFaviconThread.h"

#include "uErrors.h"
#include "uIconFiles.h"
#include "uTHTTPClient.h"
#include "uTLogger.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Error answers (moved, forbidden, missing, server error) are expected for many
// sites and are retried at the next start without cluttering the log. Only a real
// answer's status line is searched: a host name or a size that happens to contain
// "404" or "500" is still a failure worth a line.
bool IsSilentFailure(const std::exception& E) {
    const auto* HTTPError = dynamic_cast<const EHTTPError*>(&E);
    if (!HTTPError || HTTPError->Status() == 0)
        return false;
    const QString Message = HTTPError->Message();
    for (const char* Status : {"301", "302", "403", "404", "500"})
        if (Message.contains(QLatin1String(Status)))
            return true;
    return false;
}

// Ids that occur more than once, sorted.
std::vector<int32_t> RepeatedShopIds(const std::vector<TFaviconShop>& Shops) {
    std::vector<int32_t> Ids;
    Ids.reserve(Shops.size());
    for (const TFaviconShop& Shop : Shops)
        Ids.push_back(Shop.Id);
    std::sort(Ids.begin(), Ids.end());
    std::vector<int32_t> Repeated;
    for (size_t I = 1; I < Ids.size(); ++I)
        if (Ids[I] == Ids[I - 1] && (Repeated.empty() || Repeated.back() != Ids[I]))
            Repeated.push_back(Ids[I]);
    return Repeated;
}

} // namespace

std::vector<TFaviconShop> FaviconShops(const TShopList& Shops) {
    std::vector<TFaviconShop> Result;
    Result.reserve(Shops.size());
    for (const TShopPtr& Shop : Shops)
        if (Shop)
            Result.emplace_back(Shop->Id, Shop->SiteUtf8());
    return Result;
}

TFaviconThread::TFaviconThread(std::vector<TFaviconShop> Shops, std::vector<TFaviconLink> Links, TLogger* Logger,
                               const QString& InstallFolder, int ReadTimeoutMs, QObject* Parent)
    : QThread(Parent), FShops(std::move(Shops)), FLinks(std::move(Links)), FLogger(Logger),
      FIconsFolder(InstallFolder + QStringLiteral("icons/")), FReadTimeoutMs(ReadTimeoutMs) {}

TFaviconThread::~TFaviconThread() {
    requestInterruption();
    wait();
}

// Same names as ShopIconFile / LinkIconFile, but below the folder handed over at
// creation, so the thread never reads the settings store for them.
QString TFaviconThread::ShopFile(int Id) const {
    return FIconsFolder + QString::number(Id) + QStringLiteral(".ico");
}

QString TFaviconThread::LinkFile(const QString& Name) const {
    return FIconsFolder + LinkIconFileName(Name);
}

void TFaviconThread::run() {
    // A finished run stays around until the next one: it keeps nothing of a large catalogue.
    struct TRelease {
        TFaviconThread& Thread;
        ~TRelease() {
            std::vector<TFaviconShop>().swap(Thread.FShops);
            std::vector<TFaviconLink>().swap(Thread.FLinks);
        }
    } ReleaseLists{*this};
    try {
        Execute();
    } catch (const std::exception& E) {
        if (FLogger)
            FLogger->Error(QStringLiteral("Updating favicons failed: ") + ExceptionMessage(E));
    } catch (...) {
        if (FLogger)
            FLogger->Error(QStringLiteral("Updating favicons failed: unknown error"));
    }
}

void TFaviconThread::Execute() {
    if (!QDir().mkpath(FIconsFolder))
        throw EQuorvantis(QStringLiteral("Cannot create the folder ") + FIconsFolder);

    // The client lives and dies on this thread (its network manager belongs to it).
    THTTPClient::TOptions Options;
    Options.FollowRedirects = true;
    Options.SendContentType = false;
    // One slow site must not hold the thread, and with it the shutdown: the time-out
    // bounds the whole icon, not only the gap between two bytes.
    Options.ReadTimeoutMs = FReadTimeoutMs;
    Options.DeadlineMs = FReadTimeoutMs;
    Options.MaxBodyBytes = MaxIconBytes;
    THTTPClient HTTP(Options);

    // One listing of the folder instead of a look-up per shop. What this run stores
    // itself is not in it: a shop listed twice and the links (a link may be named like
    // a shop) are looked up on disk, so the run keeps no set of every name it fetched.
    const TIconFolderListing Listed = ListIconFolder(FIconsFolder);
    const std::vector<int32_t> Repeated = RepeatedShopIds(FShops);
    // Ends before the client: an unfinished request is aborted with it.
    TFetch Running;
    for (const TFaviconShop& Shop : FShops) {
        if (isInterruptionRequested())
            return;
        const QString FileName = ShopFile(Shop.Id);
        if (Listed.ContainsShop(Shop.Id))
            continue;
        // The icon in flight may be this shop's, listed before.
        if (std::binary_search(Repeated.begin(), Repeated.end(), Shop.Id) &&
            (!Settle(Running) || QFileInfo::exists(FileName)))
            continue;
        const int Id = Shop.Id;
        Fetch(HTTP, Running, QString::fromUtf8(Shop.SiteUtf8) + QStringLiteral("/favicon.ico"), FileName,
              [this, Id] { Q_EMIT ShopIconStored(Id); });
    }
    // A link may be named like the shop whose icon is in flight.
    if (!Settle(Running))
        return;
    for (const TFaviconLink& Link : FLinks) {
        if (isInterruptionRequested())
            return;
        if (Link.Name.isEmpty())
            continue;
        const QString IconURL = SiteFaviconURL(Link.URL);
        const QString FileName = LinkFile(Link.Name);
        if (IconURL.isEmpty() || Listed.Contains(FileName.mid(FIconsFolder.size())) || QFileInfo::exists(FileName))
            continue;
        const QString Name = Link.Name;
        Fetch(HTTP, Running, IconURL, FileName, [this, Name] { Q_EMIT LinkIconStored(Name); });
    }
    Settle(Running);
}

// Waits for the icon in flight and stores it. False when the thread is asked to stop.
bool TFaviconThread::Settle(TFetch& Running) {
    if (Running.Request)
        Await(*Running.Request);
    Complete(Running);
    return !isInterruptionRequested();
}

void TFaviconThread::Fetch(THTTPClient& HTTP, TFetch& Running, const QString& URL, const QString& FileName,
                           std::function<void()> Stored) {
    if (Running.Request)
        Await(*Running.Request);
    if (isInterruptionRequested())
        return Complete(Running);
    TFetch Next{nullptr, URL, FileName, std::move(Stored)};
    // Link names come from the user; never write anywhere but the icons folder.
    const bool Inside = QFileInfo(FileName).absolutePath() == QDir(FIconsFolder).absolutePath();
    if (Inside)
        Next.Request = HTTP.Start(URL);
    Complete(Running);
    if (Inside)
        Running = std::move(Next);
    else
        Report(EQuorvantis(QStringLiteral("File name outside the icons folder")), URL, FileName);
}

// A worker's wait for one answer; a stop request must not wait for a slow server.
void TFaviconThread::Await(THTTPRequest& Request) const {
    if (Request.IsFinished())
        return;
    QEventLoop Loop;
    connect(&Request, &THTTPRequest::Finished, &Loop, &QEventLoop::quit);
    QTimer StopPoll;
    connect(&StopPoll, &QTimer::timeout, &Loop, [this, &Request] {
        if (isInterruptionRequested())
            Request.Abort(QStringLiteral("Request aborted: the thread is stopping"));
    });
    StopPoll.start(25); // the program waits for this thread when it quits
    Loop.exec();
}

// Stores the answer of a finished fetch, or logs why there is none; the fetch is empty afterwards.
void TFaviconThread::Complete(TFetch& Fetch) {
    if (!Fetch.Request)
        return;
    const TFetch Done = std::move(Fetch);
    Fetch = TFetch{};
    try {
        THTTPRequest& Request = *Done.Request;
        if (!Request.Ok())
            throw EHTTPError(Request.Error(), Request.Status() >= 300 ? Request.Status() : 0);
        StoreFile(Done.FileName, Request.TakeBody());
    } catch (const std::exception& E) {
        Report(E, Done.URL, Done.FileName);
        return;
    }
    Done.Stored();
}

void TFaviconThread::Report(const std::exception& E, const QString& URL, const QString& FileName) const {
    if (IsSilentFailure(E) || isInterruptionRequested() || !FLogger)
        return;
    FLogger->Error(QStringLiteral("Download failed: URL=") + URL + QStringLiteral(", File=") + FileName +
                   QStringLiteral(", Error=") + ExceptionMessage(E));
    // A failed request is aborted; the kept connections to other sites stay open for the next icons.
}

// Through a temporary file in the same folder and a rename, so an interrupted
// write never leaves half an icon under the final name. No flush to the disk per
// icon: these are cache files, and one lost to a power cut is simply fetched again.
void TFaviconThread::StoreFile(const QString& FileName, const QByteArray& Data) {
    const QString Partial = FileName + QStringLiteral(".part");
    QFile File(Partial);
    const bool Written = File.open(QIODevice::WriteOnly | QIODevice::Truncate) && File.write(Data) == Data.size();
    const QString Error = File.errorString();
    File.close();
    // rename(2) replaces a file of the final name in one step; QFile::rename refuses to.
    if (!Written || File.error() != QFileDevice::NoError ||
        ::rename(QFile::encodeName(Partial).constData(), QFile::encodeName(FileName).constData()) != 0) {
        const QString Reason = Written ? QString::fromLocal8Bit(std::strerror(errno)) : Error;
        QFile::remove(Partial);
        // The caller logs the file name; keeping it out of the message keeps a status-like
        // number in the path from passing for a silent status failure.
        throw EQuorvantis(QStringLiteral("Cannot write the file: ") + Reason);
    }
}
