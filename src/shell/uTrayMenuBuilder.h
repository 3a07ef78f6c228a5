#pragma once

#include "uTShop.h"

#include <QString>
#include <functional>

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

// Replaces the dynamic part above the fixed entries: category tree of the visible
// shops, then "Eigene Links" at the top when links exist.
void BuildTrayMenu(QMenu& Menu, const TMenuBuildInput& Input);

// Per-shop visibility below "categories\<Category>", value <Name>.
bool IsShopVisible(const QString& Category, const QString& Name);
void SetShopVisible(const QString& Category, const QString& Name, bool Visible);
