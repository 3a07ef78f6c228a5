#pragma once

#include <QString>

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
