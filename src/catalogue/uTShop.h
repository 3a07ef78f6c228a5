#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

// One shop of the catalogue. Records are shared: a window still holding records
// of an earlier load keeps them valid after a reload.
class TShop final {
public:
    QString Name;
    QString Site;
    QString Category;
    int32_t Id = 0;
    int32_t Ranking = 1000;

    QString GetName() const { return Name; }
    // Vendor address "/shop.php?id=" + Id.
    QString GetShopURL() const;
    // "icons/" + Id + ".ico", relative to the install folder.
    QString GetIconFileName() const;
    QString GetFaviconURL() const { return Site + QStringLiteral("/favicon.ico"); }
    bool IsTopShop() const { return Ranking <= 10; }
    // Category split at every "->"; an empty remainder after the last separator is dropped.
    QStringList GetCategoryPath() const;
};

using TShopPtr = std::shared_ptr<TShop>;
using TShopList = std::vector<TShopPtr>;
