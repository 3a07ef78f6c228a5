#pragma once

#include "uCategoryShops.h"
#include "uTShop.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class TImageList;
class TMenuItemManager;

// The eight fixed entries, always the last eight of the top level.
struct TFixedEntries {
    QAction* miLineCategories = nullptr;
    QAction* miStyleVoting = nullptr;
    QAction* miEbay = nullptr;
    QAction* miSearch = nullptr;
    QAction* miSettings = nullptr;
    QAction* miInfo = nullptr;
    QAction* miLineClose = nullptr;
    QAction* miClose = nullptr;
};

// Appends the fixed entries (captions of the current language, images of the list).
TFixedEntries CreateFixedEntries(QMenu& Menu, const TImageList& Images);
// Re-labels the three translated fixed entries.
void ApplyFixedEntryTexts(const TFixedEntries& Entries);

struct TMenuBuildInput {
    const TShopList& SortedShops;
    QString Params; // "&ref=..&check=..&version=2.2&subid=software"
    const TMenuItemManager& Links;
    const TImageList& Images;
    std::function<void()> OnNewLink; // "Neuer Link..."
};

// What a build put into the menu, for the changes that need no rebuild.
class TBuiltMenu {
public:
    virtual ~TBuiltMenu() = default;
    // The image list has a new favicon for ShopId: every entry of that shop shows it,
    // in the drawn menu and in the desktop's copy alike.
    virtual void ShopIconChanged(int32_t ShopId) = 0;
    // The link Name shows image Index of the list.
    virtual void LinkIconChanged(const QString& Name, int Index) = 0;
};

// Replaces the dynamic part above the fixed entries: category tree of the visible
// shops, then "Eigene Links" at the top when links exist.
std::shared_ptr<TBuiltMenu> BuildTrayMenu(QMenu& Menu, const TMenuBuildInput& Input);
