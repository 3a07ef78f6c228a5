#pragma once

#include <QSet>
#include <QString>
#include <cstdint>
#include <vector>

// Icon files live in GetInstallFolder() + "icons/": "<shop id>.ico" for shops,
// "<link name>.ico" for personal links (a link named like a shop id shares its file).

// The settings key name of a personal link: its name as written. Only "\" cannot
// stand in a key name (it would nest keys); the link editor refuses it, and a name
// that reaches the store another way has it replaced by "_".
QString SafeLinkName(const QString& Name);
// Why a link name cannot be stored as written (empty when it can): names are
// never changed silently.
QString LinkNameProblem(const QString& Name);
// "<name>.ico" with "%", "/", "\" and a leading "." percent-encoded: one file per
// name, always directly inside the icons folder.
QString LinkIconFileName(const QString& Name);
// The icon address of the site an address belongs to: scheme, host and port +
// "/favicon.ico". Empty for an address that names no http(s) site.
QString SiteFaviconURL(const QString& Address);
QString IconsFolder();            // absolute, ends in "/"
QString ShopIconFile(int ShopId); // absolute
// The same for many shops, with the folder read once.
QString ShopIconFile(const QString& IconsFolder, int ShopId);
QString LinkIconFile(const QString& LinkName); // absolute, always inside IconsFolder()

// The icon files of a folder from one pass over it, kept small even for a hundred
// thousand files: shop icons ("<id>.ico", the id as ShopIconFile writes it) as a
// sorted list of ids, other names as they are. Only files count: a folder, or a
// ".part" file still being written, is no icon.
class TIconFolderListing {
public:
    bool ContainsShop(int32_t ShopId) const;
    // Name is a file name inside the folder ("12.ico", "My link.ico").
    bool Contains(const QString& Name) const;
    qsizetype Count() const { return static_cast<qsizetype>(FShopIds.size()) + FOtherNames.size(); }

private:
    friend TIconFolderListing ListIconFolder(const QString& Folder);
    std::vector<int32_t> FShopIds;
    QSet<QString> FOtherNames;
};
// Empty when the folder cannot be read.
TIconFolderListing ListIconFolder(const QString& Folder);
