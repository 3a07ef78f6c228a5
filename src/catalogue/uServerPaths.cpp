#include "uServerPaths.h"

#include "uErrors.h"
#include "uSettingsKeys.h"

namespace {
constexpr const char* HttpClient = "HTTP client";
constexpr const char* Browser = "user's browser";
constexpr const char* EmbeddedBrowser = "embedded browser";
constexpr const char* Nothing = "nothing is read back";
constexpr const char* Accepted = "a success status means accepted; the body is ignored";
} // namespace

const std::vector<TServerPathInfo>& ServerPathTable() {
    static const std::vector<TServerPathInfo> Table = {
        {TServerPath::Home, "", {}, Browser, Nothing},
        {TServerPath::Version2Xml,
         "/version2.xml",
         {"ref", "version"},
         HttpClient,
         "a success status and a catalogue document as body, stored unchanged as quorvantis.xml"},
        {TServerPath::Shop, "/shop.php", {"id", "ref", "check", "version", "subid"}, Browser, Nothing},
        {TServerPath::Search, "/search.php", {"type", "search"}, Browser, Nothing},
        {TServerPath::News, "/news_%1.html", {}, Browser, Nothing},
        {TServerPath::Banner, "/banner.html", {"search", "category"}, EmbeddedBrowser, "the page shows itself"},
        {TServerPath::VotingBanner, "/votingbanner.html", {}, EmbeddedBrowser, "the page shows itself"},
        {TServerPath::TopVotes, "/topvotes.html", {"ref"}, Browser, Nothing},
        {TServerPath::FlopVotes, "/flopvotes.html", {"ref"}, Browser, Nothing},
        {TServerPath::GewinnspielPage, "/gewinnspiel.html", {}, Browser, Nothing},
        {TServerPath::Teilnahmebedingungen, "/teilnahmebedingungen.html", {}, Browser, Nothing},
        {TServerPath::GewinnspielSubmit,
         "/gewinnspiel.php",
         {"ref", "email", "prename", "name", "street", "plz", "city", "country", "check", "version"},
         HttpClient,
         Accepted},
        {TServerPath::NewsletterSubmit,
         "/newsletter.php",
         {"ref", "email", "newsletter", "check", "version"},
         HttpClient,
         Accepted},
        {TServerPath::FeedbackSubmit,
         "/feedback.php",
         {"ref", "email", "subject", "feedback", "check", "version"},
         HttpClient,
         Accepted},
    };
    return Table;
}

const TServerPathInfo& ServerPathInfo(TServerPath Path) {
    for (const TServerPathInfo& Info : ServerPathTable())
        if (Info.Path == Path)
            return Info;
    throw EQuorvantis(QStringLiteral("Unknown server path %1").arg(int(Path)));
}

QString BuildServerURL(TServerPath Path, const TQuery& Query, const QString& PathArg) {
    const TServerPathInfo& Info = ServerPathInfo(Path);
    if (Query.size() > Info.Keys.size())
        throw EQuorvantis(QStringLiteral("Too many query keys for %1").arg(QString::fromLatin1(Info.Pattern)));
    QString Address = GetServerBaseURL();
    QString Pattern = QString::fromLatin1(Info.Pattern);
    Address += Pattern.contains(QStringLiteral("%1")) ? Pattern.arg(PathArg) : Pattern;
    for (size_t I = 0; I < Query.size(); ++I) {
        if (Query[I].first != QLatin1String(Info.Keys[I]))
            throw EQuorvantis(QStringLiteral("Query key \"%1\" not expected at position %2 of %3")
                                  .arg(Query[I].first)
                                  .arg(I + 1)
                                  .arg(Pattern));
        Address += (I == 0 ? QLatin1Char('?') : QLatin1Char('&')) + Query[I].first + QLatin1Char('=') + Query[I].second;
    }
    return Address;
}
