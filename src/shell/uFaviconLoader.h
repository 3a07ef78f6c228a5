#pragma once

#include "uTFaviconThread.h"
#include "uTMenuItemManager.h"
#include "uTShop.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <vector>

class TImageList;
class TLogger;
class TMenuItemManager;

// Reads the icons folder once and tells the image list which shops have an icon
// file; each is decoded as one menu-sized picture the first time a menu entry
// needs it (TImageList::ShopIndex). Link icons are loaded at once; the links whose
// icon number changed are returned with the new one, for the program object to
// store. A file that holds no readable image is logged ("LoadFavicon <file>:
// <message>") and deleted when it is read, so that the favicon thread fetches it
// again. UI thread only.
QList<TURLItem> LoadFavicons(TImageList& Images, const TShopList& Shops, const QList<TURLItem>& Links, TLogger& Logger);
// The same, storing the new icon numbers in Links itself (for tools and tests that
// have no program object).
void LoadFavicons(TImageList& Images, const TShopList& Shops, TMenuItemManager& Links, TLogger& Logger);
// Appends the icon file of the link Name and returns its index (0 when it holds no image).
int LoadLinkIcon(TImageList& Images, const QString& Name, TLogger& Logger);

// One picture of Side x Side pixels from an icon file: its smallest image at least
// that large (else its largest), scaled. Throws EQuorvantis like LoadIconFile.
QIcon LoadMenuIcon(const QString& FileName, int Side);
// The pixel size of a menu icon on this display (16 at a device pixel ratio of 1).
int MenuIconSide();

// Every image of an icon file (all sizes of an ICO; PNG and other formats detected
// by content), one pixmap per size. Throws EQuorvantis when it holds no image.
QIcon LoadIconFile(const QString& FileName);

// The links as the favicon thread needs them, read now (names in store order).
std::vector<TFaviconLink> FaviconLinks(const TMenuItemManager& Links);
