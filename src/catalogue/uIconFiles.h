#pragma once

#include <QString>

// Icon files live in GetInstallFolder() + "icons/": "<shop id>.ico" for shops,
// "<link name>.ico" for personal links (a link named like a shop id shares its file).

// A personal link name that can be neither a nested settings key nor a path:
// "\" and "/" become "_", and so does a leading ".". Other characters stay.
QString SafeLinkName(const QString& Name);
QString IconsFolder();            // absolute, ends in "/"
QString ShopIconFile(int ShopId); // absolute
// The same for many shops, with the folder read once.
QString ShopIconFile(const QString& IconsFolder, int ShopId);
QString LinkIconFile(const QString& LinkName); // absolute, always inside IconsFolder()
