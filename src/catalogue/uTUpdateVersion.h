#pragma once

#include "uTNewsItem.h"
#include "uTSearchEngine.h"
#include "uTShop.h"
#include "uWindows1252.h"

#include <QByteArray>
#include <QDate>
#include <QStringList>
#include <cstdint>
#include <functional>

class TLogger;
namespace pugi {
class xml_node;
}

using UpdateState = uint8_t;
inline constexpr UpdateState usUpToDate = 0;
inline constexpr UpdateState usNewVersion = 1;
inline constexpr UpdateState usRequiredVersion = 2;
inline constexpr UpdateState usCheckOutdated = 3;
inline constexpr UpdateState usError = 255;

// The catalogue: shops, search engines, categories, news and version texts,
// filled from one XML document. One object lives for the whole program run.
class TUpdateVersion final {
public:
    // Logger may be null (no log lines then).
    explicit TUpdateVersion(TLogger* Logger = nullptr);
    TUpdateVersion(const TUpdateVersion&) = delete;
    TUpdateVersion& operator=(const TUpdateVersion&) = delete;

    TShopList Shops;       // document order
    TShopList SortedShops; // same records, by ASCII-upper(Category + Name), equal keys later-first
    TSearchEngineList SearchEngines;
    // Distinct categories (case variants: the form read first), sorted case-insensitively
    // by the German collation (ICU through QCollator) whatever the process locale,
    // so "Ärzte" sorts beside "Arzt".
    QStringList Categories;
    TNewsItemList NewsItems; // document order; first = newest
    QString Check;
    QString Url;
    QString Version;
    QString RequiredVersion;
    QString Game;

    // Parses a whole document and replaces the content. Never throws: a document
    // that does not parse leaves everything as it was and logs one ERROR line.
    // Returns whether the document parsed. RequireShops refuses, in the same way, a
    // document whose <shops> holds no <shop>.
    bool LoadFromStream(const QByteArray& Stream, bool RequireShops = false);
    UpdateState GetUpdateState(const QString& ProgramVersion) const;
    static int CompareVersions(const QString& A, const QString& B);
    bool IsEmpty() const { return Shops.empty(); }
    bool IsGameActive() const; // logs one DEBUG line
    bool IsCheckOutdated() const;
    QString GetUpdateFileName() const;
    QString GetSummary() const;

    // "Today" for the date verdicts; the product uses the local date.
    std::function<QDate()> Today = [] { return QDate::currentDate(); };

private:
    // The list sections of a load; each swallows its own errors.
    void ReadShops(const pugi::xml_node& Root);
    void ReadSearchEngines(const pugi::xml_node& Root);
    void ReadNews(const pugi::xml_node& Root);

    TLogger* FLogger;
};

// Percent-encoding of a query value: the windows-1252 bytes of Text, every byte
// except A-Z a-z 0-9 - _ . ! ~ * ' ( ) as "%XX" (upper-case hex); a character
// windows-1252 cannot hold is sent as "?" (%3F).
QString URLEncode(const QString& Text);
