#pragma once

#include <QString>
#include <utility>
#include <vector>

// Every path of the vendor web server the program uses, with its query keys in
// order and what the program relies on in the answer. All addresses the program
// builds for that server come from here.
enum class TServerPath {
    Home,                 // the base address itself (info window's home page)
    Version2Xml,          // /version2.xml ? ref, version
    Shop,                 // /shop.php ? id [, ref, check, version, subid]
    Search,               // /search.php ? type, search
    News,                 // /news_<ident>.html
    Banner,               // /banner.html ? search, category
    VotingBanner,         // /votingbanner.html
    TopVotes,             // /topvotes.html ? ref
    FlopVotes,            // /flopvotes.html ? ref
    GewinnspielPage,      // /gewinnspiel.html
    Teilnahmebedingungen, // /teilnahmebedingungen.html
    GewinnspielSubmit,    // /gewinnspiel.php ? ref, email, prename, name, street, plz, city, country, check, version
    NewsletterSubmit,     // /newsletter.php ? ref, email, newsletter, check, version
    FeedbackSubmit,       // /feedback.php ? ref, email, subject, feedback, check, version
};

struct TServerPathInfo {
    TServerPath Path;
    const char* Pattern;           // path below the base address; "%1" stands for the path argument
    std::vector<const char*> Keys; // query keys in the order they are sent
    const char* SentBy;            // HTTP client, user's browser or embedded browser
    const char* ReliesOn;          // what the program reads back
};

const std::vector<TServerPathInfo>& ServerPathTable();
const TServerPathInfo& ServerPathInfo(TServerPath Path);

using TQuery = std::vector<std::pair<QString, QString>>;

// Base address + path + "?" k1=v1 "&" k2=v2 ... by plain concatenation; values
// must already be encoded where that is wanted. Keys must be a prefix of the
// table's keys, in order (throws EQuorvantis otherwise). PathArg fills "%1".
QString BuildServerURL(TServerPath Path, const TQuery& Query = {}, const QString& PathArg = {});
