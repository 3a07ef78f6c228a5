#include "uTFaviconThread.h"

#include "uErrors.h"
#include "uIconFiles.h"
#include "uTHTTPClient.h"
#include "uTLogger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

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

} // namespace

std::vector<TFaviconShop> FaviconShops(const TShopList& Shops) {
    std::vector<TFaviconShop> Result;
    Result.reserve(Shops.size());
    for (const TShopPtr& Shop : Shops)
        if (Shop)
            Result.push_back({Shop->Id, Shop->GetSite()});
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

    // One listing of the folder instead of a look-up per shop; a file fetched now
    // counts as present for the shops and links after it.
    const QStringList Listed = QDir(FIconsFolder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    QSet<QString> Present(Listed.begin(), Listed.end());
    // True when the file was fetched now.
    auto FetchUnlessPresent = [&](const QString& URL, const QString& FileName) {
        const QString Name = FileName.startsWith(FIconsFolder) ? FileName.mid(FIconsFolder.size()) : QString();
        const bool Exists =
            Name.isEmpty() || Name.contains(QLatin1Char('/')) ? QFileInfo::exists(FileName) : Present.contains(Name);
        if (Exists)
            return false;
        const bool Stored = DownloadFile(HTTP, URL, FileName);
        if (!Name.isEmpty())
            Present.insert(Name);
        return Stored;
    };
    for (const TFaviconShop& Shop : FShops) {
        if (isInterruptionRequested())
            return;
        if (FetchUnlessPresent(Shop.Site + QStringLiteral("/favicon.ico"), ShopFile(Shop.Id)))
            Q_EMIT ShopIconStored(Shop.Id);
    }
    for (const TFaviconLink& Link : FLinks) {
        if (isInterruptionRequested())
            return;
        if (Link.Name.isEmpty())
            continue;
        const QString IconURL = SiteFaviconURL(Link.URL);
        if (!IconURL.isEmpty() && FetchUnlessPresent(IconURL, LinkFile(Link.Name)))
            Q_EMIT LinkIconStored(Link.Name);
    }
}

bool TFaviconThread::DownloadFile(THTTPClient& HTTP, const QString& URL, const QString& FileName) {
    try {
        // Link names come from the user; never write anywhere but the icons folder.
        if (QFileInfo(FileName).absolutePath() != QDir(FIconsFolder).absolutePath())
            throw EQuorvantis(QStringLiteral("File name outside the icons folder"));
        StoreFile(FileName, HTTP.Get(URL));
        return true;
    } catch (const std::exception& E) {
        if (IsSilentFailure(E) || isInterruptionRequested())
            return false;
        if (FLogger)
            FLogger->Error(QStringLiteral("Download failed: URL=") + URL + QStringLiteral(", File=") + FileName +
                           QStringLiteral(", Error=") + ExceptionMessage(E));
        // The failed request is already aborted; the kept connections to other
        // sites stay open for the next icons.
        return false;
    }
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
