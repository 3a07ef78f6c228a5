#pragma once

#include "uTMenuItemManager.h"

#include <QHash>
#include <QList>
#include <QString>
#include <optional>

// What the settings dialog has changed and not yet confirmed: shop choices and
// personal links. It is read on top of the store (what the store holds, with the
// changes over it), so a link added meanwhile through the menu still shows; the
// program object writes it on Ok, and Cancel simply drops it. Names compare as
// the store compares them (case-insensitively).
class TSettingsDraft final {
public:
    struct TVisibility {
        QString Category;
        QString Name;
        bool Visible = true;
    };
    // A link stored under a new name keeps the icon file of the one it replaces.
    struct TRename {
        QString OldName;
        QString NewName;
    };

    bool IsEmpty() const { return FVisibility.isEmpty() && FLinks.isEmpty(); }
    void Clear();

    // ---- shop choices ----
    bool IsShopVisible(const QString& Category, const QString& Name) const;
    void SetShopVisible(const QString& Category, const QString& Name, bool Visible);
    // Whether the category has a choice of its own, stored or in the draft.
    bool HasCategoryChoices(const QString& Category) const;
    QList<TVisibility> Visibility() const { return FVisibility.values(); }

    // ---- personal links (Links: the store the draft lies over) ----
    // Every link as it will be, in the store's order.
    QList<TURLItem> LoadLinks(const TMenuItemManager& Links) const;
    // False when there is no such link (and for an empty name).
    bool LoadLink(const TMenuItemManager& Links, TURLItem& Item) const;
    bool LinkExists(const TMenuItemManager& Links, const QString& Name) const;
    // Takes a link in, asking before it replaces one of the same name.
    bool AddLink(const TMenuItemManager& Links, const TURLItem& Item);
    // A changed link; under a new name it replaces the old one only once the new
    // one is taken (the question about an existing name answered Yes).
    bool ReplaceLink(const TMenuItemManager& Links, const QString& OldName, const TURLItem& Item);
    bool DeleteLink(const TMenuItemManager& Links, const QString& Name);
    // A link as it will be (Item), or one that goes (no Item), by its name.
    struct TLinkChange {
        QString Name;
        std::optional<TURLItem> Item;
    };
    QList<TLinkChange> LinkChanges() const { return FLinks.values(); }
    QList<TRename> Renames() const { return FRenames; }

private:
    static QString FoldKey(const QString& Text);
    static QString LinkFold(const QString& Name);

    QHash<QString, TVisibility> FVisibility; // by folded category + "\n" + folded name
    QHash<QString, TLinkChange> FLinks;      // by folded link key name
    QList<TRename> FRenames;
};
