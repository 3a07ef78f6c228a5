#pragma once

#include "uTShop.h"

#include <QByteArray>
#include <QString>
#include <QThread>
#include <exception>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class TLogger;
class THTTPClient;
class THTTPRequest;

// What the favicon thread needs of a shop, copied when the thread is created so
// that a catalogue reload on the main thread cannot change the list under it. The
// address stays UTF-8 as the shop keeps it, so the copy shares its bytes: a text
// copy of every address was megabytes for a large catalogue.
struct TFaviconShop {
    TFaviconShop(int Id, const QString& Site) : Id(Id), SiteUtf8(Site.toUtf8()) {}
    TFaviconShop(int Id, QByteArray SiteUtf8) : Id(Id), SiteUtf8(std::move(SiteUtf8)) {}
    int Id = 0;
    QByteArray SiteUtf8;
};

// A personal link as read from the link store before the thread starts.
struct TFaviconLink {
    QString Name;
    QString URL;
};

std::vector<TFaviconShop> FaviconShops(const TShopList& Shops);

// Downloads the icon files that are still missing, once: shops in the given order,
// then links; both lists are let go when the run ends. Writes only below
// InstallFolder + "icons/" and logs through the shared logger; nothing else is
// touched. Each icon stored is announced, so the menu shows it at once instead of
// at the next start.
// Stop it with requestInterruption() + wait(): the flag also aborts a download in
// progress, and each icon has ReadTimeoutMs for the whole answer.
class TFaviconThread final : public QThread {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFaviconThread)
public:
    static constexpr int DefaultReadTimeoutMs = 20000;
    static constexpr qint64 MaxIconBytes = 1024 * 1024;

    // Logger must outlive the thread. InstallFolder ends in "/".
    TFaviconThread(std::vector<TFaviconShop> Shops, std::vector<TFaviconLink> Links, TLogger* Logger,
                   const QString& InstallFolder, int ReadTimeoutMs = DefaultReadTimeoutMs, QObject* Parent = nullptr);
    // Asks the thread to stop and waits for it.
    ~TFaviconThread() override;

    QString IconsFolder() const { return FIconsFolder; }
    QString ShopFile(int Id) const;
    QString LinkFile(const QString& Name) const;

Q_SIGNALS:
    // An icon file was written now (emitted on the thread; queued to receivers elsewhere).
    void ShopIconStored(int ShopId);
    void LinkIconStored(const QString& Name);

protected:
    void run() override;

private:
    // An icon asked for: where it goes, and whom to tell once it is there.
    struct TFetch {
        std::unique_ptr<THTTPRequest> Request;
        QString URL;
        QString FileName;
        std::function<void()> Stored;
    };

    void Execute();
    // Waits for the icon in flight, asks for the next one (none once the thread is asked
    // to stop), then stores the first: the file is written while the next answer is on
    // its way. One request at a time, so one kept connection per site.
    void Fetch(THTTPClient& HTTP, TFetch& Running, const QString& URL, const QString& FileName,
               std::function<void()> Stored);
    bool Settle(TFetch& Running);
    void Await(THTTPRequest& Request) const;
    void Complete(TFetch& Fetch);
    void Report(const std::exception& E, const QString& URL, const QString& FileName) const;
    static void StoreFile(const QString& FileName, const QByteArray& Data);

    std::vector<TFaviconShop> FShops;
    std::vector<TFaviconLink> FLinks;
    TLogger* const FLogger;
    const QString FIconsFolder;
    const int FReadTimeoutMs;
};
