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
void Heads(std::string_view Text, uint64_t& Head0, uint64_t& Head1) {
    unsigned char Bytes[16] = {};
    std::memcpy(Bytes, Text.data(), std::min<size_t>(Text.size(), 16));
    Head0 = Head1 = 0;
    for (int I = 0; I < 8; ++I) {
        Head0 = (Head0 << 8) | Bytes[I];
        Head1 = (Head1 << 8) | Bytes[I + 8];
    }
}

int Compare(std::string_view A, std::string_view B) {
    const int C = std::memcmp(A.data(), B.data(), std::min(A.size(), B.size()));
    return C != 0 ? C : (A.size() < B.size() ? -1 : A.size() > B.size() ? 1 : 0);
}

// X against the concatenation T + Y.
int CompareWithConcat(std::string_view X, std::string_view T, std::string_view Y) {
    if (const int C = std::memcmp(X.data(), T.data(), std::min(X.size(), T.size())); C != 0)
        return C;
    if (X.size() < T.size())
        return -1;
    return Compare(X.substr(T.size()), Y);
}

struct TEntry {
    uint64_t Head0; // first sixteen bytes of the upper-cased name
    uint64_t Head1;
    uint32_t Rank;  // of the upper-cased category among the distinct ones
    uint32_t Index; // document position
    uint32_t Offset;
    uint32_t Length;
};
} // namespace

TShopList SortShops(const TShopList& Shops, const std::vector<TShopSortKey>& Keys,
                    const std::vector<const char*>& Categories) {
    // Distinct upper-cased categories in byte order, and for each the last rank
    // that still starts with it: the texts starting with C follow C directly.
    // Two shops whose categories are not prefixes of one another compare by rank
    // alone; same category, by name; otherwise the concatenations decide.
    std::vector<std::string> Upper(Categories.size());
    for (size_t I = 0; I < Categories.size(); ++I)
        AppendAsciiUpper(Upper[I], Categories[I], std::strlen(Categories[I]));
    std::vector<uint32_t> ByKey(Categories.size());
    std::iota(ByKey.begin(), ByKey.end(), 0u);
    std::sort(ByKey.begin(), ByKey.end(), [&Upper](uint32_t A, uint32_t B) { return Upper[A] < Upper[B]; });
    std::vector<uint32_t> RankOf(Categories.size());
    std::vector<std::string_view> Text; // by rank
    std::vector<uint32_t> Family;       // by rank: rank of its outermost prefix
    for (const uint32_t C : ByKey) {
        if (Text.empty() || Text.back() != Upper[C])
            Text.push_back(Upper[C]);
        RankOf[C] = uint32_t(Text.size() - 1);
    }
    const auto Ranks = uint32_t(Text.size());
    std::vector<uint32_t> End(Ranks);
    Family.resize(Ranks);
    std::vector<uint32_t> Open; // ranks whose text is a prefix of the current one
    for (uint32_t R = 0; R < Ranks; ++R) {
        while (!Open.empty() && Text[R].substr(0, Text[Open.back()].size()) != Text[Open.back()]) {
            End[Open.back()] = R - 1;
            Open.pop_back();
        }
        Family[R] = Open.empty() ? R : Family[Open.front()];
        Open.push_back(R);
    }
    for (const uint32_t R : Open)
        End[R] = Ranks - 1;

    // Families are disjoint rank ranges in key order: bucket by family (stable
    // counting sort), then sort each bucket, small ranges that stay in cache.
    std::vector<uint32_t> BucketStart(size_t(Ranks) + 1, 0);
    for (const TShopSortKey& K : Keys)
        ++BucketStart[Family[RankOf[K.Category]] + 1];
    std::partial_sum(BucketStart.begin(), BucketStart.end(), BucketStart.begin());
    std::vector<uint32_t> Fill(BucketStart.begin(), BucketStart.end() - 1);

    std::string Arena;
    std::vector<TEntry> Entries(Keys.size());
    for (size_t I = 0; I < Keys.size(); ++I) {
        const auto Offset = uint32_t(Arena.size());
        AppendAsciiUpper(Arena, Keys[I].Name, std::strlen(Keys[I].Name));
        const uint32_t Rank = RankOf[Keys[I].Category];
        Entries[Fill[Family[Rank]]++] = {0, 0, Rank, uint32_t(I), Offset, uint32_t(Arena.size() - Offset)};
    }
    const char* const Base = Arena.data();
    for (TEntry& E : Entries)
        Heads(std::string_view(Base + E.Offset, E.Length), E.Head0, E.Head1);

    const auto Name = [Base](const TEntry& E) { return std::string_view(Base + E.Offset, E.Length); };
    const auto Less = [&](const TEntry& A, const TEntry& B) {
        int C;
        if (A.Rank == B.Rank) {
            if (A.Head0 != B.Head0)
                return A.Head0 < B.Head0;
            if (A.Head1 != B.Head1)
                return A.Head1 < B.Head1;
            C = Compare(Name(A), Name(B));
        } else if (A.Rank < B.Rank) {
            if (B.Rank > End[A.Rank])
                return true;
            C = CompareWithConcat(Name(A), Text[B.Rank].substr(Text[A.Rank].size()), Name(B));
        } else {
            if (A.Rank > End[B.Rank])
                return false;
            C = -CompareWithConcat(Name(B), Text[A.Rank].substr(Text[B.Rank].size()), Name(A));
        }
        return C != 0 ? C < 0 : A.Index > B.Index; // equal keys: the later shop first
    };
    for (uint32_t B = 0; B < Ranks; ++B)
        if (BucketStart[B + 1] - BucketStart[B] > 1)
            std::sort(Entries.begin() + BucketStart[B], Entries.begin() + BucketStart[B + 1], Less);

    TShopList Sorted;
    Sorted.reserve(Entries.size());
    for (const TEntry& E : Entries)
        Sorted.push_back(Shops[E.Index]);
    return Sorted;
}
