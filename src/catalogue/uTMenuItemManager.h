#pragma once

#include <QString>
#include <QStringList>

// One personal link.
struct TURLItem {
    QString Name;
    QString URL;
    int Icon = 0; // stored icon number (the menu's image index of the link); 0 = none
};

// URL with "http://" in front when it names no scheme ("www.example.org/x").
QString CompleteLinkURL(const QString& URL);

// The personal links below the settings key FRootKey ("favorites"), one sub-key
// per link with the values `url` and `icon`. A link's key is SafeLinkName(Name),
// its name as written ("\" would split it into nested keys: the editor refuses it,
// and Load, Save, Add, Delete and Replace all map it the same way).
class TMenuItemManager final {
public:
    explicit TMenuItemManager(const QString& RootKey);

    QStringList GetNames() const;
    // False only for an empty name; a missing key gives an empty URL and icon 0.
    bool Load(TURLItem& Item) const;
    // Writes url (completed by CompleteLinkURL) and icon when name and address are both
    // non-empty. A changed address drops the link's icon file and index, so the new
    // site's icon is fetched.
    void Save(const TURLItem& Item);
    // Stores a new link, asking before it overwrites an existing one.
    bool Add(const TURLItem& Item);
    bool Delete(const QString& Name);
    // Renames/edits a link without ever losing it: the new link is stored first
    // (asking before it overwrites another link), the old key is deleted only after
    // that. False when NewItem lacks name or address or the user declined; the old
    // link is then untouched. The same name just saves, without a question.
    bool Replace(const QString& OldName, const TURLItem& NewItem);
    // The settings key of a link.
    QString LinkKey(const QString& Name) const;
    // Every link with its stored address and icon, in name order.
    QList<TURLItem> LoadAll() const;

    QString RootKey() const { return FRootKey; }

private:
    QString FRootKey;
};
