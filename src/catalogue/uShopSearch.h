#pragma once

#include "uTShop.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

// The search window's catalogue search. A shop matches when the text occurs in
// Name + " " + Category with only the ASCII letters A-Z folded to lower case (an
// umlaut matches only as written). Each name is listed once, at its first
// matching position in catalogue order.
//
// The folded texts are computed once per catalogue load and kept in one string,
// so a search is one scan of it, whatever the number of shops.
class TShopSearch final {
public:
    using TRows = std::vector<int32_t>;

    // True when the index was built from exactly these records (a reloaded
    // catalogue has new ones).
    bool IsBuiltFrom(const TShopList& Shops) const;
    void Build(const TShopList& Shops);
    // Builds first when Shops is not what the index was built from.
    TShopList Find(const TShopList& Shops, const QString& Text);
    // Positions in Shops() of the matching shops, in order; empty for an empty text.
    TRows FindRows(const QString& Text) const;
    // The records the index was built from (shared, so a result can outlive a rebuild).
    std::shared_ptr<const TShopList> Shops() const { return FShops; }

private:
    std::shared_ptr<const TShopList> FShops = std::make_shared<TShopList>();
    // Folded Name + " " + Category of every shop, each followed by a line feed
    // (which no typed text holds, so no match spans two shops).
    QString FFolded;
    std::vector<qsizetype> FStart;           // per shop: where its text begins in FFolded
    std::vector<int32_t> FNameId;            // per shop: number of its Name among the distinct names
    mutable std::vector<uint32_t> FListedIn; // per name: the search that listed it last
    mutable uint32_t FSearchNo = 0;
};
