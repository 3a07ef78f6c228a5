#include "uTSearchEngine.h"

#include "uServerPaths.h"
#include "uTUpdateVersion.h"

// The engine type goes out as stored; only the user's text is encoded.
QString TSearchEngine::GetSearchURL(const QString& Query) const {
    return BuildServerURL(TServerPath::Search,
                          {{QStringLiteral("type"), Type}, {QStringLiteral("search"), URLEncode(Query)}});
}
