#pragma once

#include "uTShop.h"

#include <QByteArray>
#include <QString>
#include <QThread>
#include <utility>
#include <vector>

class TLogger;
class THTTPClient;

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
    void Execute();
    // True when the file was stored.
    bool DownloadFile(THTTPClient& HTTP, const QString& URL, const QString& FileName);
    static void StoreFile(const QString& FileName, const QByteArray& Data);

    std::vector<TFaviconShop> FShops;
    std::vector<TFaviconLink> FLinks;
    TLogger* const FLogger;
    const QString FIconsFolder;
    const int FReadTimeoutMs;
};
