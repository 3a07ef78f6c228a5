#include "uCategoryShops.h"

#include "uRegistry.h"
#include "uSettingsKeys.h"

TCategoryShops::TCategoryShops(const QStringList& Categories, const TShopList& Shops) {
    FGroups.resize(static_cast<size_t>(Categories.size()));
    QHash<QString, int> IndexOf;
    IndexOf.reserve(Categories.size());
    for (int I = 0; I < Categories.size(); ++I)
        IndexOf.insert(Categories.at(I).toCaseFolded(), I); // the list holds one spelling per folded name
    for (const TShopPtr& Shop : Shops) {
        if (!Shop)
            continue;
        const auto Found = IndexOf.constFind(Shop->Category.toCaseFolded());
        if (Found != IndexOf.constEnd())
            FGroups[static_cast<size_t>(*Found)].push_back(Shop);
    }
}

const TShopList& TCategoryShops::Shops(int Index) const {
    static const TShopList None;
    if (Index < 0 || Index >= Count())
        return None;
    return FGroups[static_cast<size_t>(Index)];
}

int CategoryCheckState(bool AnySelected, bool AnyDeselected) {
    if (AnySelected && AnyDeselected)
        return 1;
    return AnySelected ? 2 : 0;
}

bool IsShopVisible(const QString& Category, const QString& Name) {
    return ReadSettingBool(CategoryKey(Category), Name, true);
}

void SetShopVisible(const QString& Category, const QString& Name, bool Visible) {
    if (Visible)
        DeleteSettingsValue(CategoryKey(Category), Name);
    else
        WriteSettingBool(CategoryKey(Category), Name, false);
}
