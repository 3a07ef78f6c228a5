#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

// One shop of the catalogue. Records are shared: a window still holding records
// of an earlier load keeps them valid after a reload.
class TShop final {
public:
    QString Category; // shared by the shops of one category
    int32_t Id = 0;
    int32_t Ranking = 1000;

    // Name and site are kept as UTF-8: a catalogue holds many of them, and they
    // are only read as text when a window shows or searches them.
    QString GetName() const { return QString::fromUtf8(FName); }
    void SetName(const QString& Name) { FName = Name.toUtf8(); }
    void SetNameUtf8(QByteArrayView Name) { FName = Name.toByteArray(); }
    const QByteArray& NameUtf8() const { return FName; }
    QString GetSite() const { return QString::fromUtf8(FSite); }
    void SetSite(const QString& Site) { FSite = Site.toUtf8(); }
    void SetSiteUtf8(QByteArrayView Site) { FSite = Site.toByteArray(); }
    const QByteArray& SiteUtf8() const { return FSite; }

    // Vendor address "/shop.php?id=" + Id.
    QString GetShopURL() const;
    // "icons/" + Id + ".ico", relative to the install folder.
    QString GetIconFileName() const;
    QString GetFaviconURL() const { return GetSite() + QStringLiteral("/favicon.ico"); }
    bool IsTopShop() const { return Ranking <= 10; }
    // Category split at every "->"; an empty remainder after the last separator is dropped.
    QStringList GetCategoryPath() const;

private:
    QByteArray FName;
    QByteArray FSite;
};

using TShopPtr = std::shared_ptr<TShop>;
using TShopList = std::vector<TShopPtr>;
