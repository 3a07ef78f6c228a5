#include "uShopOrder.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <string_view>

namespace {
void AppendAsciiUpper(std::string& Out, const char* Text, size_t Length) {
    const size_t Start = Out.size();
    Out.resize(Start + Length);
    char* Dest = Out.data() + Start;
    for (size_t I = 0; I < Length; ++I) {
        const char C = Text[I];
        Dest[I] = (C >= 'a' && C <= 'z') ? char(C - ('a' - 'A')) : C;
    }
}

// Sixteen bytes big-endian, zero-padded: integer order equals byte order of
// those bytes, and texts hold no NUL, so a shorter text pads below any byte.
void Heads(const char* Text, uint32_t Length, uint64_t& Head0, uint64_t& Head1) {
    unsigned char Bytes[16] = {};
    std::memcpy(Bytes, Text, std::min<uint32_t>(Length, 16));
    Head0 = Head1 = 0;
    for (int I = 0; I < 8; ++I) {
        Head0 = (Head0 << 8) | Bytes[I];
        Head1 = (Head1 << 8) | Bytes[I + 8];
    }
}

struct TEntry {
    uint64_t Head0; // first sixteen bytes of the compared text
    uint64_t Head1;
    uint32_t Index; // document position
    uint32_t Offset;
    uint32_t Length;
};
} // namespace

TShopList SortShops(const TShopList& Shops, const std::vector<TShopSortKey>& Keys,
                    const std::vector<const char*>& Categories) {
    // Upper-cased distinct categories in byte order. When none of them is a proper
    // prefix of another, comparing Category + Name equals comparing the category's
    // rank and then the name alone, which is much cheaper; a proper prefix always
    // shows up between neighbours of the sorted list.
    std::vector<std::string> Upper(Categories.size());
    for (size_t I = 0; I < Categories.size(); ++I)
        AppendAsciiUpper(Upper[I], Categories[I], std::strlen(Categories[I]));
    std::vector<uint32_t> ByKey(Categories.size());
    std::iota(ByKey.begin(), ByKey.end(), 0u);
    std::sort(ByKey.begin(), ByKey.end(), [&Upper](uint32_t A, uint32_t B) { return Upper[A] < Upper[B]; });
    std::vector<uint32_t> Rank(Categories.size(), 0);
    bool Separable = true;
    uint32_t Next = 0;
    for (size_t I = 0; I < ByKey.size(); ++I) {
        if (I > 0) {
            const std::string& Prev = Upper[ByKey[I - 1]];
            const std::string& Cur = Upper[ByKey[I]];
            if (Prev != Cur) {
                ++Next;
                if (std::string_view(Cur).substr(0, Prev.size()) == Prev)
                    Separable = false;
            }
        }
        Rank[ByKey[I]] = Next;
    }

    // Bucket the shops by category rank (stable counting sort), then sort each
    // bucket by its texts: small ranges that stay in cache.
    const uint32_t Buckets = Separable ? Next + 1 : 1;
    std::vector<uint32_t> BucketStart(size_t(Buckets) + 1, 0);
    for (const TShopSortKey& K : Keys)
        ++BucketStart[(Separable ? Rank[K.Category] : 0) + 1];
    std::partial_sum(BucketStart.begin(), BucketStart.end(), BucketStart.begin());

    std::string Arena;
    std::vector<TEntry> Entries(Keys.size());
    std::vector<uint32_t> Fill(BucketStart.begin(), BucketStart.end() - 1);
    for (size_t I = 0; I < Keys.size(); ++I) {
        const auto Offset = uint32_t(Arena.size());
        if (!Separable)
            Arena += Upper[Keys[I].Category];
        AppendAsciiUpper(Arena, Keys[I].Name, std::strlen(Keys[I].Name));
        const uint32_t Slot = Fill[Separable ? Rank[Keys[I].Category] : 0]++;
        Entries[Slot] = {0, 0, uint32_t(I), Offset, uint32_t(Arena.size() - Offset)};
    }
    const char* const Base = Arena.data();
    for (TEntry& E : Entries)
        Heads(Base + E.Offset, E.Length, E.Head0, E.Head1);

    const auto Less = [Base](const TEntry& A, const TEntry& B) {
        if (A.Head0 != B.Head0)
            return A.Head0 < B.Head0;
        if (A.Head1 != B.Head1)
            return A.Head1 < B.Head1;
        if (A.Length > 16 && B.Length > 16) {
            const uint32_t Common = std::min(A.Length, B.Length) - 16;
            if (const int C = std::memcmp(Base + A.Offset + 16, Base + B.Offset + 16, Common); C != 0)
                return C < 0;
        }
        if (A.Length != B.Length)
            return A.Length < B.Length;
        return A.Index > B.Index; // equal keys: the later shop first
    };
    for (uint32_t B = 0; B < Buckets; ++B)
        std::sort(Entries.begin() + BucketStart[B], Entries.begin() + BucketStart[B + 1], Less);

    TShopList Sorted;
    Sorted.reserve(Entries.size());
    for (const TEntry& E : Entries)
        Sorted.push_back(Shops[E.Index]);
    return Sorted;
}
