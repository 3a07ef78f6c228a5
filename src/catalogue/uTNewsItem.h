#pragma once

#include <QString>
#include <memory>
#include <vector>

class TNewsItem final {
public:
    QString Ident;
    QString Title;
    QString Text;
    QString Date;

    // Vendor address "/news_" + Ident + ".html".
    QString GetNewsURL() const;
};

using TNewsItemPtr = std::shared_ptr<TNewsItem>;
using TNewsItemList = std::vector<TNewsItemPtr>;
