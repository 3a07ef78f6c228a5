#pragma once

#include "uTShop.h"

#include <cstdint>
#include <vector>

// The sorted shop list: ascending by the ASCII-upper-cased bytes of Category +
// Name, equal keys in reverse document order. That is the order of inserting
// each shop, in document order, before the first record whose key is not less
// than its own; this builds it in O(n log n).
struct TShopSortKey {
    uint32_t Category; // index into the distinct category texts
    const char* Name;  // UTF-8, NUL-terminated
};

// Keys[i] belongs to Shops[i]; Categories holds the distinct category texts (UTF-8).
TShopList SortShops(const TShopList& Shops, const std::vector<TShopSortKey>& Keys,
                    const std::vector<const char*>& Categories);
