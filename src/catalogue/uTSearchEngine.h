#pragma once

#include <QString>
#include <memory>
#include <vector>

class TSearchEngine final {
public:
    QString Name;
    QString Type;

    QString GetName() const { return Name; }
    // Vendor address "/search.php?type=" + Type + "&search=" + URLEncode(Query).
    QString GetSearchURL(const QString& Query) const;
};

using TSearchEnginePtr = std::shared_ptr<TSearchEngine>;
using TSearchEngineList = std::vector<TSearchEnginePtr>;
