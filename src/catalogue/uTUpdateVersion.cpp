#include "uTUpdateVersion.h"

#include "uCatalogueDocument.h"
#include "uErrors.h"
#include "uFormatSettings.h"
#include "uShopOrder.h"
#include "uTLogger.h"

#include <QCollator>
#include <QLocale>
#include <QSet>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <malloc.h>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {
// First child *element* of that name; processing instructions also carry names.
pugi::xml_node ChildElement(const pugi::xml_node& Parent, const char* Name) {
    for (pugi::xml_node Child = Parent.first_child(); Child; Child = Child.next_sibling())
        if (Child.type() == pugi::node_element && std::strcmp(Child.name(), Name) == 0)
            return Child;
    return {};
}

bool IsElementNamed(const pugi::xml_node& Node, const char* Name) {
    return Node.type() == pugi::node_element && std::strcmp(Node.name(), Name) == 0;
}

// The element's text when its content is exactly one text node; CDATA, comments,
// child elements and empty elements do not count.
bool PlainText(const pugi::xml_node& Element, const char*& Text) {
    const pugi::xml_node First = Element.first_child();
    if (!First || First.next_sibling() || First.type() != pugi::node_pcdata)
        return false;
    Text = First.value();
    return true;
}

QString TextOfChild(const pugi::xml_node& Parent, const char* Name) {
    const char* Text = nullptr;
    return PlainText(ChildElement(Parent, Name), Text) ? QString::fromUtf8(Text) : QString();
}

QString Attribute(const pugi::xml_node& Node, const char* Name) {
    return QString::fromUtf8(Node.attribute(Name).value());
}

// Whole-text decimal integer (optional sign); absent or anything else gives Default.
int32_t ParseInteger(const char* Raw, int32_t Default) {
    if (!Raw)
        return Default;
    std::string_view Text(Raw);
    if (Text.size() > 1 && Text[0] == '+' && Text[1] != '-')
        Text.remove_prefix(1);
    int32_t Value = 0;
    const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
    if (Error != std::errc() || End != Text.data() + Text.size() || Text.empty())
        return Default;
    return Value;
}

// Index of a shop attribute in the order id, name, site, category, ranking; -1 for others.
int AttributeIndex(const char* Name) {
    switch (Name[0]) {
    case 'i':
        return std::strcmp(Name, "id") == 0 ? 0 : -1;
    case 'n':
        return std::strcmp(Name, "name") == 0 ? 1 : -1;
    case 's':
        return std::strcmp(Name, "site") == 0 ? 2 : -1;
    case 'c':
        return std::strcmp(Name, "category") == 0 ? 3 : -1;
    case 'r':
        return std::strcmp(Name, "ranking") == 0 ? 4 : -1;
    default:
        return -1;
    }
}

// Categories are German words; the German collation keeps umlauts beside their
// base letters whatever locale the process runs in (often "C" under systemd).
void SortCategories(QStringList& Categories) {
    thread_local QCollator Collator = [] {
        QCollator C{QLocale(QLocale::German, QLocale::Germany)};
        C.setCaseSensitivity(Qt::CaseInsensitive);
        return C;
    }();
    std::stable_sort(Categories.begin(), Categories.end(),
                     [](const QString& A, const QString& B) { return Collator.compare(A, B) < 0; });
}

int VersionComponent(QString& Rest) {
    const qsizetype Dot = Rest.indexOf(QLatin1Char('.'));
    const QString Part = Dot < 0 ? Rest : Rest.left(Dot);
    Rest = Dot < 0 ? QString() : Rest.mid(Dot + 1);
    bool Ok = false;
    const int Value = Part.toInt(&Ok);
    return Ok ? Value : 0;
}
} // namespace

namespace {
bool IsCatalogueRoot(const pugi::xml_node& Root) {
    static constexpr const char* Elements[] = {"url",  "version", "requiredversion", "check",
                                               "game", "shops",   "searchengines",   "news"};
    for (const char* Name : Elements)
        if (Root.child(Name))
            return true;
    return false;
}

bool ListsShops(const pugi::xml_node& Root) {
    const pugi::xml_node ShopsNode = ChildElement(Root, "shops");
    for (pugi::xml_node Node = ShopsNode.first_child(); Node; Node = Node.next_sibling())
        if (IsElementNamed(Node, "shop"))
            return true;
    return false;
}
} // namespace

TUpdateVersion::TUpdateVersion(TLogger* Logger) : FLogger(Logger) {}

bool TUpdateVersion::LoadFromStream(const QByteArray& Stream, bool RequireShops) {
    // Declared before the document, so it runs after the document is freed: the
    // parser's pages go back to the system instead of staying in the heap.
    struct TTrimHeap {
        ~TTrimHeap() { malloc_trim(0); }
    } TrimAfterDocument;
    pugi::xml_document Doc;
    try {
        ParseCatalogueDocument(Stream, Doc);
    } catch (const std::exception& E) {
        // Nothing has been touched yet: the previous catalogue stays complete.
        if (FLogger)
            FLogger->Error(ExceptionMessage(E));
        return false;
    }
    const pugi::xml_node Root = Doc.document_element();
    // A well-formed web page (a proxy's or the server's error page) is no catalogue:
    // taking it would empty the menu.
    if (QString::fromUtf8(Root.name()).compare(QLatin1String("html"), Qt::CaseInsensitive) == 0) {
        if (FLogger)
            FLogger->Error(QStringLiteral("Not a catalogue document: a web page (root element <%1>)")
                               .arg(QString::fromUtf8(Root.name())));
        return false;
    }
    // Nor is any other well-formed document (a feed, an error document, a bare root
    // element): a catalogue's root holds at least one of the catalogue's own elements.
    if (!IsCatalogueRoot(Root)) {
        if (FLogger)
            FLogger->Error(QStringLiteral("Not a catalogue document: the root element <%1> holds none of the "
                                          "catalogue's elements")
                               .arg(QString::fromUtf8(Root.name())));
        return false;
    }
    // A server's answer without shops (an error document that carries a version, a
    // catalogue cut short) would empty the menu.
    if (RequireShops && !ListsShops(Root)) {
        if (FLogger)
            FLogger->Error(QStringLiteral("Not a catalogue document: <%1> lists no shops; the catalogue is kept")
                               .arg(QString::fromUtf8(Root.name())));
        return false;
    }
    Url = TextOfChild(Root, "url");
    Version = TextOfChild(Root, "version");
    RequiredVersion = TextOfChild(Root, "requiredversion");
    Check = TextOfChild(Root, "check");
    Game = TextOfChild(Root, "game");
    ReadShops(Root);
    ReadSearchEngines(Root);
    ReadNews(Root);
    return true;
}

void TUpdateVersion::ReadShops(const pugi::xml_node& Root) {
    Shops.clear();
    SortedShops.clear();
    Categories.clear();
    try {
        const pugi::xml_node ShopsNode = ChildElement(Root, "shops");
        size_t Count = 0;
        for (pugi::xml_node Node = ShopsNode.first_child(); Node; Node = Node.next_sibling())
            Count += IsElementNamed(Node, "shop") ? 1 : 0;
        // The records of one load live in one block that is never reallocated;
        // each handed-out pointer shares ownership of the whole block, so a record
        // held past a reload keeps its block, and the block costs one allocation.
        const auto Block = std::make_shared<std::vector<TShop>>();
        Block->reserve(Count);
        Shops.reserve(Count);
        std::vector<TShopSortKey> Keys;
        Keys.reserve(Count);
        // Shops of one category share one string; case variants of a category
        // keep the form read first.
        struct TCategory {
            QString Text;
            uint32_t Index;
        };
        std::unordered_map<std::string_view, TCategory> CategoryTexts;
        std::vector<const char*> DistinctCategories;
        QSet<QString> FoldedCategories;
        for (pugi::xml_node Node = ShopsNode.first_child(); Node; Node = Node.next_sibling()) {
            if (!IsElementNamed(Node, "shop"))
                continue;
            try {
                // One pass over the attributes; the first of a name counts.
                const char* Raw[5] = {};
                enum { aId, aName, aSite, aCategory, aRanking };
                for (pugi::xml_attribute A = Node.first_attribute(); A; A = A.next_attribute()) {
                    const int Which = AttributeIndex(A.name());
                    if (Which >= 0 && !Raw[Which])
                        Raw[Which] = A.value();
                }
                const char* CategoryRaw = Raw[aCategory] ? Raw[aCategory] : "";
                const char* NameRaw = Raw[aName] ? Raw[aName] : "";
                auto [It, IsNew] = CategoryTexts.try_emplace(std::string_view(CategoryRaw));
                if (IsNew) {
                    It->second = {QString::fromUtf8(CategoryRaw), uint32_t(DistinctCategories.size())};
                    DistinctCategories.push_back(CategoryRaw);
                    const QString Folded = It->second.Text.toCaseFolded();
                    if (!FoldedCategories.contains(Folded)) {
                        FoldedCategories.insert(Folded);
                        Categories.append(It->second.Text);
                    }
                }
                TShop Shop;
                Shop.Id = ParseInteger(Raw[aId], 0);
                Shop.SetNameUtf8(NameRaw);
                Shop.SetSiteUtf8(Raw[aSite] ? Raw[aSite] : "");
                Shop.Category = It->second.Text;
                Shop.Ranking = ParseInteger(Raw[aRanking], 1000);
                // Within the reserved capacity nothing below allocates or throws,
                // so keys and shops stay in step.
                TShop& Stored = Block->emplace_back(std::move(Shop));
                Keys.push_back({It->second.Index, NameRaw});
                Shops.push_back(TShopPtr(Block, &Stored));
            } catch (const std::exception&) {
                // A shop that cannot be read is skipped.
            }
        }
        SortedShops = SortShops(Shops, Keys, DistinctCategories);
        SortCategories(Categories);
    } catch (const std::exception&) {
        // The section ends early; what was read stays.
    }
}

void TUpdateVersion::ReadSearchEngines(const pugi::xml_node& Root) {
    SearchEngines.clear();
    try {
        const pugi::xml_node Section = ChildElement(Root, "searchengines");
        for (pugi::xml_node Node = Section.first_child(); Node; Node = Node.next_sibling()) {
            if (!IsElementNamed(Node, "search"))
                continue;
            auto Engine = std::make_shared<TSearchEngine>();
            Engine->Name = Attribute(Node, "name");
            Engine->Type = Attribute(Node, "type");
            SearchEngines.push_back(std::move(Engine));
        }
    } catch (const std::exception&) {
    }
}

void TUpdateVersion::ReadNews(const pugi::xml_node& Root) {
    NewsItems.clear();
    try {
        const pugi::xml_node Section = ChildElement(Root, "news");
        for (pugi::xml_node Node = Section.first_child(); Node; Node = Node.next_sibling()) {
            const char* Text = nullptr;
            // An item without a plain, non-empty body is no news.
            if (!IsElementNamed(Node, "newsitem") || !PlainText(Node, Text) || !*Text)
                continue;
            auto Item = std::make_shared<TNewsItem>();
            Item->Ident = Attribute(Node, "ident");
            Item->Title = Attribute(Node, "title");
            Item->Date = Attribute(Node, "date");
            Item->Text = QString::fromUtf8(Text);
            NewsItems.push_back(std::move(Item));
        }
    } catch (const std::exception&) {
    }
}

UpdateState TUpdateVersion::GetUpdateState(const QString& ProgramVersion) const {
    if (Version.isEmpty())
        return usError;
    QString Newest = Version;
    // "v2.3" is read as 2.3; the required version gets no such allowance.
    if (!(Newest.at(0) >= QLatin1Char('0') && Newest.at(0) <= QLatin1Char('9')))
        Newest.remove(0, 1);
    if (CompareVersions(ProgramVersion, Newest) < 0) {
        if (!RequiredVersion.isEmpty() && CompareVersions(ProgramVersion, RequiredVersion) < 0)
            return usRequiredVersion;
        return usNewVersion;
    }
    return IsCheckOutdated() ? usCheckOutdated : usUpToDate;
}

int TUpdateVersion::CompareVersions(const QString& A, const QString& B) {
    QString RestA = A;
    QString RestB = B;
    int Result = 0;
    do {
        const int PartA = VersionComponent(RestA);
        const int PartB = VersionComponent(RestB);
        if (PartA > PartB)
            Result = 1;
        else if (PartA < PartB)
            Result = -1;
    } while (Result == 0 && !(RestA.isEmpty() && RestB.isEmpty()));
    return Result;
}

bool TUpdateVersion::IsGameActive() const {
    // Dates compare as yyyy-MM-dd text; the switch of the short date format is
    // process-wide and lasting (log timestamps follow it).
    SetShortDateFormat(QStringLiteral("yyyy-MM-dd"));
    const QString Now = FormatShortDate(Today());
    const bool Active = !Game.isEmpty() && Now <= Game;
    if (FLogger)
        FLogger->Debug(Now + QStringLiteral("<=") + Game + QStringLiteral("=") +
                       (Active ? QStringLiteral("True") : QStringLiteral("False")));
    return Active;
}

bool TUpdateVersion::IsCheckOutdated() const {
    SetShortDateFormat(QStringLiteral("yyyy-MM-dd"));
    const QString Limit = FormatShortDate(Today().addDays(-30));
    return Limit > Check;
}

QString TUpdateVersion::GetUpdateFileName() const {
    const qsizetype Slash = Url.lastIndexOf(QLatin1Char('/'));
    const QString Name = Slash < 0 ? QString() : Url.mid(Slash + 1);
    // No "/" at all, or a last segment that names a folder, gives no file name.
    if (Name == QStringLiteral(".") || Name == QStringLiteral(".."))
        return {};
    return Name;
}

QString TUpdateVersion::GetSummary() const {
    QString Summary = Version;
    for (const TShopPtr& Shop : Shops)
        Summary += QStringLiteral(", ") + Shop->GetName();
    for (const TSearchEnginePtr& Engine : SearchEngines)
        Summary += QStringLiteral(", ") + Engine->Name;
    return Summary;
}

QString URLEncode(const QString& Text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    const QByteArray Bytes = ToWindows1252(Text);
    QString Out;
    Out.reserve(Bytes.size() * 3);
    for (const char B : Bytes) {
        const auto U = static_cast<unsigned char>(B);
        const bool Unreserved = (U >= 'A' && U <= 'Z') || (U >= 'a' && U <= 'z') || (U >= '0' && U <= '9') ||
                                std::strchr("-_.!~*'()", U) != nullptr;
        if (Unreserved && U != 0) {
            Out.append(QLatin1Char(char(U)));
        } else {
            Out.append(QLatin1Char('%'));
            Out.append(QLatin1Char(Hex[U >> 4]));
            Out.append(QLatin1Char(Hex[U & 0x0F]));
        }
    }
    return Out;
}
