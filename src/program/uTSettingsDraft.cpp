#include "uTSettingsDraft.h"

#include "uCategoryShops.h"
#include "uConst.h"
#include "uIconFiles.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uTools.h"

#include <algorithm>

QString TSettingsDraft::FoldKey(const QString& Text) {
    return Text.toCaseFolded();
}

QString TSettingsDraft::LinkFold(const QString& Name) {
    return FoldKey(SafeLinkName(Name));
}

void TSettingsDraft::Clear() {
    FVisibility.clear();
    FLinks.clear();
    FRenames.clear();
}

// ---- shop choices ----------------------------------------------------------------------------

bool TSettingsDraft::IsShopVisible(const QString& Category, const QString& Name) const {
    const auto Found = FVisibility.constFind(FoldKey(Category) + QLatin1Char('\n') + FoldKey(Name));
    if (Found != FVisibility.cend())
        return Found->Visible;
    return ::IsShopVisible(Category, Name);
}

void TSettingsDraft::SetShopVisible(const QString& Category, const QString& Name, bool Visible) {
    FVisibility.insert(FoldKey(Category) + QLatin1Char('\n') + FoldKey(Name), {Category, Name, Visible});
}

bool TSettingsDraft::HasCategoryChoices(const QString& Category) const {
    const QString Prefix = FoldKey(Category) + QLatin1Char('\n');
    for (auto It = FVisibility.cbegin(); It != FVisibility.cend(); ++It)
        if (It.key().startsWith(Prefix))
            return true;
    return SettingsKeyExists(CategoryKey(Category));
}

// ---- personal links --------------------------------------------------------------------------

QList<TURLItem> TSettingsDraft::LoadLinks(const TMenuItemManager& Links) const {
    QList<TURLItem> Items;
    for (const TURLItem& Stored : Links.LoadAll())
        if (!FLinks.contains(LinkFold(Stored.Name)))
            Items.append(Stored);
    for (const TLinkChange& Change : FLinks)
        if (Change.Item)
            Items.append(*Change.Item);
    std::stable_sort(Items.begin(), Items.end(), [](const TURLItem& A, const TURLItem& B) {
        return SettingsNameOrder(SafeLinkName(A.Name)) < SettingsNameOrder(SafeLinkName(B.Name));
    });
    return Items;
}

bool TSettingsDraft::LoadLink(const TMenuItemManager& Links, TURLItem& Item) const {
    if (Item.Name.isEmpty())
        return false;
    const auto Found = FLinks.constFind(LinkFold(Item.Name));
    if (Found != FLinks.cend()) {
        if (!Found->Item)
            return false;
        Item = *Found->Item;
        return true;
    }
    if (!SettingsKeyExists(Links.LinkKey(Item.Name)))
        return false;
    return Links.Load(Item);
}

bool TSettingsDraft::LinkExists(const TMenuItemManager& Links, const QString& Name) const {
    TURLItem Item;
    Item.Name = Name;
    return LoadLink(Links, Item);
}

bool TSettingsDraft::AddLink(const TMenuItemManager& Links, const TURLItem& Item) {
    if (Item.Name.isEmpty() || Item.URL.isEmpty())
        return false;
    if (LinkExists(Links, Item.Name) && !AskYesNo(QString::fromLatin1(ProgramName), txtNameExists()))
        return false;
    FLinks.insert(LinkFold(Item.Name), {Item.Name, Item});
    return true;
}

bool TSettingsDraft::ReplaceLink(const TMenuItemManager& Links, const QString& OldName, const TURLItem& Item) {
    if (Item.Name.isEmpty() || Item.URL.isEmpty())
        return false;
    if (OldName.isEmpty())
        return AddLink(Links, Item);
    const QString OldKey = LinkFold(OldName);
    const QString NewKey = LinkFold(Item.Name);
    if (OldKey == NewKey) {
        FLinks.insert(NewKey, {Item.Name, Item});
        return true;
    }
    if (LinkExists(Links, Item.Name) && !AskYesNo(QString::fromLatin1(ProgramName), txtNameExists()))
        return false;
    FLinks.insert(NewKey, {Item.Name, Item});
    FLinks.insert(OldKey, {OldName, std::nullopt});
    FRenames.append({OldName, Item.Name});
    return true;
}

bool TSettingsDraft::DeleteLink(const TMenuItemManager& Links, const QString& Name) {
    if (!LinkExists(Links, Name))
        return false;
    FLinks.insert(LinkFold(Name), {Name, std::nullopt});
    return true;
}
