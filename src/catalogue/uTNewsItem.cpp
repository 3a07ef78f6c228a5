#include "uTNewsItem.h"

#include "uServerPaths.h"

QString TNewsItem::GetNewsURL() const {
    return BuildServerURL(TServerPath::News, {}, Ident);
}
