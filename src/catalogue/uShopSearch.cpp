#include "uShopSearch.h"

#include "uTools.h"

#include <QHash>

bool TShopSearch::IsBuiltFrom(const TShopList& Shops) const {
    return Shops == FShops; // element-wise: the same records in the same order
}

void TShopSearch::Build(const TShopList& Shops) {
    FShops = Shops;
    FFolded.clear();
    FFolded.reserve(Shops.size());
    FNameId.clear();
    FNameId.reserve(Shops.size());
    QHash<QString, int32_t> Ids;
    for (const TShopPtr& Shop : Shops) {
        FFolded.push_back(AsciiLower(Shop->Name + u' ' + Shop->Category));
        auto It = Ids.constFind(Shop->Name);
        if (It == Ids.cend())
            It = Ids.insert(Shop->Name, static_cast<int32_t>(Ids.size()));
        FNameId.push_back(It.value());
    }
    FListedIn.assign(Ids.size(), 0);
    FSearchNo = 0;
}

TShopList TShopSearch::Find(const TShopList& Shops, const QString& Text) {
    if (!IsBuiltFrom(Shops))
        Build(Shops);
    return Find(Text);
}

TShopList TShopSearch::Find(const QString& Text) const {
    TShopList Result;
    const QString Query = AsciiLower(Text);
    if (Query.isEmpty())
        return Result;
    if (++FSearchNo == 0) { // wrapped: forget every mark
        std::fill(FListedIn.begin(), FListedIn.end(), 0);
        FSearchNo = 1;
    }
    for (size_t I = 0; I < FFolded.size(); ++I) {
        if (!FFolded[I].contains(Query))
            continue;
        uint32_t& Listed = FListedIn[static_cast<size_t>(FNameId[I])];
        if (Listed == FSearchNo)
            continue;
        Listed = FSearchNo;
        Result.push_back(FShops[I]);
    }
    return Result;
}
