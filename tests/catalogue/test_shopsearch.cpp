// The search window's catalogue search: folding, category matches, one entry per name.
#include "uShopSearch.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {
TShopPtr MakeShop(int Id, const QString& Name, const QString& Category) {
    auto Shop = std::make_shared<TShop>();
    Shop->Id = Id;
    Shop->SetName(Name);
    Shop->Category = Category;
    return Shop;
}

QStringList Ids(const TShopList& Shops) {
    QStringList Result;
    for (const TShopPtr& Shop : Shops)
        Result << QString::number(Shop->Id);
    return Result;
}
} // namespace

TEST(ShopSearch, FoldsOnlyAsciiLettersMatchesCategoriesAndListsEachNameOnce) {
    const TShopList Shops = {
        MakeShop(1, "Kleiderwolke", "Mode->Damen"),
        MakeShop(2, "Sohlenglück", "Mode->Schuhe"),
        MakeShop(3, "ÜBERALL Versand", "Technik"),
        MakeShop(4, "Kleiderwolke", "Mode->Herren"), // same name in another category
        MakeShop(5, "Bitwerk", "Computer->Notebooks"),
        MakeShop(6, "Kleiderwolke", "Outlet"),
    };
    TShopSearch Search;
    struct TCase {
        const char* Text;
        const char* Expected;
    } Cases[] = {
        {"KLEIDER", "1"},     // A-Z fold; later entries of the same name are dropped
        {"herren", "4"},      // category-only match: the first entry did not match, this one does
        {"mode", "1,2"},      // every shop of the category, name listed once
        {"SOHLENGLüCK", "2"}, // the umlaut as written matches
        {"sohlenglÜck", ""},  // its capital does not
        {"über", ""},         // nor does a lower-case umlaut match a capital one
        {"ÜBERALL", "3"},
        {"computer->note", "5"}, // the category path with its separator
        {"wolke outlet", "6"},   // name and category joined by one blank
        {"", ""},
    };
    for (const TCase& C : Cases)
        EXPECT_EQ(Ids(Search.Find(Shops, QString::fromUtf8(C.Text))).join(','), QString::fromLatin1(C.Expected))
            << C.Text;
}

TEST(ShopSearch, RebuildsForAReloadedCatalogue) {
    TShopList Shops = {MakeShop(1, "Alpha", "A")};
    TShopSearch Search;
    EXPECT_EQ(Search.Find(Shops, "alpha").size(), 1u);
    EXPECT_TRUE(Search.IsBuiltFrom(Shops));
    // A reload makes new records, even with equal contents.
    Shops = {MakeShop(7, "Alpha", "A"), MakeShop(8, "Alphabet", "B")};
    EXPECT_FALSE(Search.IsBuiltFrom(Shops));
    EXPECT_EQ(Ids(Search.Find(Shops, "ALPHA")), QStringList({"7", "8"}));
}
