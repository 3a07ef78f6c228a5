#include "uShopSearch.h"

#include "uTools.h"

#include <QHash>

bool TShopSearch::IsBuiltFrom(const TShopList& Shops) const {
    return Shops == *FShops; // element-wise: the same records in the same order
}

void TShopSearch::Build(const TShopList& Shops) {
    FShops = std::make_shared<const TShopList>(Shops);
    FFolded.clear();
    FStart.clear();
    FStart.reserve(Shops.size() + 1);
    FNameId.clear();
    FNameId.reserve(Shops.size());
    QHash<QString, int32_t> Ids;
    for (const TShopPtr& Shop : Shops) {
        FStart.push_back(FFolded.size());
        const QString Name = Shop->GetName();
        FFolded += AsciiLower(Name + u' ' + Shop->Category);
        FFolded += u'\n';
        auto It = Ids.constFind(Name);
        if (It == Ids.cend())
            It = Ids.insert(Name, static_cast<int32_t>(Ids.size()));
        FNameId.push_back(It.value());
    }
    FStart.push_back(FFolded.size());
    FListedIn.assign(Ids.size(), 0);
    FSearchNo = 0;
}

TShopList TShopSearch::Find(const TShopList& Shops, const QString& Text) {
    if (!IsBuiltFrom(Shops))
        Build(Shops);
    TShopList Result;
    for (const int32_t Row : FindRows(Text))
        Result.push_back((*FShops)[static_cast<size_t>(Row)]);
    return Result;
}

TShopSearch::TRows TShopSearch::FindRows(const QString& Text) const {
    TRows Rows;
    const QString Query = AsciiLower(Text);
    if (Query.isEmpty() || Query.contains(u'\n'))
        return Rows;
    if (++FSearchNo == 0) { // wrapped: forget every mark
        std::fill(FListedIn.begin(), FListedIn.end(), 0);
        FSearchNo = 1;
    }
    const QStringView All(FFolded);
    size_t Shop = 0;
    for (qsizetype Pos = All.indexOf(Query); Pos >= 0;) {
        while (FStart[Shop + 1] <= Pos) // the shop whose text holds Pos
            ++Shop;
        uint32_t& Listed = FListedIn[static_cast<size_t>(FNameId[Shop])];
        if (Listed != FSearchNo) {
            Listed = FSearchNo;
            Rows.push_back(static_cast<int32_t>(Shop));
        }
        // One hit per shop is enough: go on with the next shop's text.
        Pos = All.indexOf(Query, FStart[++Shop]);
    }
    return Rows;
}
