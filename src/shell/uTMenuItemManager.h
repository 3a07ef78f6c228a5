#pragma once

#include <QString>
#include <QStringList>

class QMenu;
class TImageList;

// One personal link.
struct TURLItem {
    QString Name;
    QString URL;
    int Icon = 0; // index in the tray image list; 0 = none
};

// The personal links below the settings key FRootKey ("favorites"), one sub-key
// per link with the values `url` and `icon`.
class TMenuItemManager final {
public:
    explicit TMenuItemManager(const QString& RootKey);

    QStringList GetNames() const;
    // False only for an empty name; a missing key gives an empty URL and icon 0.
    bool Load(TURLItem& Item) const;
    // Writes url and icon when name and address are both non-empty.
    void Save(const TURLItem& Item) const;
    // Stores a new link, asking before it overwrites an existing one.
    bool Add(const TURLItem& Item) const;
    bool Delete(const QString& Name) const;
    // Index < 0 appends, otherwise inserts at Index. A link named "-" is a separator.
    void AddMenuItem(QMenu* Parent, const TURLItem& Item, int Index, const TImageList& Images) const;
    void FillMenu(QMenu* Parent, int Index, const TImageList& Images) const;

    QString RootKey() const { return FRootKey; }

private:
    QString FRootKey;
};
