#pragma once

#include "uTShop.h"

#include <QString>
#include <cstdint>
#include <vector>

// The search window's catalogue search. A shop matches when the text occurs in
// Name + " " + Category with only the ASCII letters A-Z folded to lower case (an
// umlaut matches only as written). Each name is listed once, at its first
// matching position in catalogue order.
//
// The folded texts are computed once per catalogue load, so a search is one scan.
class TShopSearch final {
public:
    // True when the index was built from exactly these records (a reloaded
    // catalogue has new ones).
    bool IsBuiltFrom(const TShopList& Shops) const;
    void Build(const TShopList& Shops);
    // Builds first when Shops is not what the index was built from.
    TShopList Find(const TShopList& Shops, const QString& Text);
    // Searches the index as built; empty for an empty text.
    TShopList Find(const QString& Text) const;

private:
    TShopList FShops;
    std::vector<QString> FFolded;  // per shop: folded Name + " " + Category
    std::vector<int32_t> FNameId;  // per shop: number of its Name among the distinct names
    mutable std::vector<uint32_t> FListedIn; // per name: the search that listed it last
    mutable uint32_t FSearchNo = 0;
};
