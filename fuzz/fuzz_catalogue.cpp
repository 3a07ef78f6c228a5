// libFuzzer target for the catalogue reader. Run from the fuzz build folder:
//   ./fuzz/fuzz_catalogue -max_total_time=600 -jobs=1 ../fuzz/corpus
// Besides crashes and sanitizer reports it checks the reader's promises: a
// document that does not parse changes nothing, and the lists stay consistent.
#include "uTUpdateVersion.h"

#include <QByteArray>
#include <cstdlib>
#include <string>
#include <unordered_set>

namespace {
const QByteArray Baseline = QByteArrayLiteral(
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><q><version>2.3</version><check>2024-01-01</check>"
    "<shops><shop id=\"1\" name=\"B\" category=\"X\"/><shop id=\"2\" name=\"a\" category=\"x\"/></shops>"
    "<searchengines><search name=\"S\" type=\"t\"/></searchengines>"
    "<news><newsitem ident=\"n\" title=\"T\" date=\"d\">text</newsitem></news></q>");

void Require(bool Condition) {
    if (!Condition)
        std::abort();
}

std::string Key(const TShop& Shop) {
    std::string K = (Shop.Category + Shop.GetName()).toUtf8().toStdString();
    for (char& C : K)
        if (C >= 'a' && C <= 'z')
            C = char(C - 'a' + 'A');
    return K;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TUpdateVersion Catalogue;
    Catalogue.Today = [] { return QDate(2024, 6, 1); };
    Require(Catalogue.LoadFromStream(Baseline));
    const TShopList Before = Catalogue.Shops;
    const QString Summary = Catalogue.GetSummary();

    const bool Loaded = Catalogue.LoadFromStream(QByteArray(reinterpret_cast<const char*>(Data), qsizetype(Size)));
    if (!Loaded) {
        Require(Catalogue.Shops == Before && Catalogue.GetSummary() == Summary && Catalogue.Check == "2024-01-01");
        return 0;
    }
    // SortedShops is a permutation of Shops in key order.
    Require(Catalogue.SortedShops.size() == Catalogue.Shops.size());
    std::unordered_set<const TShop*> Records;
    for (const TShopPtr& Shop : Catalogue.Shops)
        Records.insert(Shop.get());
    for (size_t I = 0; I < Catalogue.SortedShops.size(); ++I) {
        Require(Records.count(Catalogue.SortedShops[I].get()) == 1);
        if (I > 0)
            Require(Key(*Catalogue.SortedShops[I - 1]) <= Key(*Catalogue.SortedShops[I]));
        Catalogue.SortedShops[I]->GetCategoryPath();
    }
    Require(Catalogue.Categories.size() <= qsizetype(Catalogue.Shops.size()));
    Require(Catalogue.Categories.removeDuplicates() == 0);
    Catalogue.GetUpdateState(QStringLiteral("2.2"));
    Catalogue.GetUpdateFileName();
    Catalogue.IsGameActive();
    for (const TNewsItemPtr& Item : Catalogue.NewsItems)
        Require(!Item->Text.isEmpty());
    return 0;
}
