#pragma once

#include "uTFaviconThread.h"
#include "uTShop.h"

#include <QIcon>
#include <QString>
#include <vector>

class TImageList;
class TLogger;
class TMenuItemManager;

// Puts the favicon files on disk into the image list behind its fixed pictures and
// records each index with its shop (ImageIndex) or link (stored icon). A file that
// holds no readable image is logged ("LoadFavicon <file>: <message>") and deleted so
// that the favicon thread fetches it again. Settings errors propagate. UI thread only.
void LoadFavicons(TImageList& Images, const TShopList& Shops, const TMenuItemManager& Links, TLogger& Logger);

// Every image of an icon file (all sizes of an ICO; PNG and other formats detected
// by content), one pixmap per size. Throws EQuorvantis when it holds no image.
QIcon LoadIconFile(const QString& FileName);

// The links as the favicon thread needs them, read now (names in store order).
std::vector<TFaviconLink> FaviconLinks(const TMenuItemManager& Links);
