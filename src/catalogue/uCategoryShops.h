#pragma once

#include "uTShop.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

// The shops of each listed category, found in one pass over the catalogue.
// A shop belongs to the listed category whose text matches its own ignoring
// case: the list shows one spelling of "Mode", "mode" and "MODE", the menu merges
// them into one submenu and the store's key names ignore case, so all their shops
// belong under that one line. Each group keeps catalogue document order.
class TCategoryShops final {
public:
    TCategoryShops() = default;
    TCategoryShops(const QStringList& Categories, const TShopList& Shops);

    int Count() const { return static_cast<int>(FGroups.size()); }
    // The shops of the category at Index of the list given; empty when out of range.
    const TShopList& Shops(int Index) const;

private:
    std::vector<TShopList> FGroups;
};

// The check state of a category line from its shops' choices: 0 unchecked,
// 1 grayed (some selected, some not), 2 checked (all selected, at least one shop).
int CategoryCheckState(bool AnySelected, bool AnyDeselected);

// Per-shop visibility below "categories\<Category>", value <Name>: shown when the
// value is missing or 1. Only the program object writes it (the settings' Ok).
bool IsShopVisible(const QString& Category, const QString& Name);
void SetShopVisible(const QString& Category, const QString& Name, bool Visible);
