// The sorted shop list against the plain insertion walk it must reproduce, and
// the order of the category list.
#include "uTUpdateVersion.h"

#include <QLocale>
#include <gtest/gtest.h>
#include <random>

namespace {
QByteArray Key(const TShop& Shop) {
    QByteArray K = (Shop.Category + Shop.GetName()).toUtf8();
    for (char& C : K)
        if (C >= 'a' && C <= 'z')
            C = char(C - 'a' + 'A');
    return K;
}

// Each new shop goes before the first record whose key is not less than its own.
TShopList InsertionWalk(const TShopList& Shops) {
    TShopList Sorted;
    for (const TShopPtr& Shop : Shops) {
        const QByteArray NewKey = Key(*Shop);
        size_t I = 0;
        while (I < Sorted.size() && Key(*Sorted[I]) < NewKey)
            ++I;
        Sorted.insert(Sorted.begin() + qsizetype(I), Shop);
    }
    return Sorted;
}

QByteArray Escaped(const QString& Text) {
    return Text.toHtmlEscaped().toUtf8();
}
} // namespace

TEST(CatalogueSort, SortedShopsEqualTheInsertionWalkOnRandomCatalogues) {
    // Few distinct pieces, so duplicates, case variants and prefixes are frequent;
    // non-ASCII letters must stay as they are (only a-z are upper-cased), and a
    // character beyond the BMP must sort by code point, after U+FF21.
    const QStringList Pieces = {"a", "A", "b",  "B", "ab",     "Ab",     "aB",
                                "ä", "Ä", "ß",  "z", "Z",      "é",      "É",
                                " ", "-", "->", "1", "\u00A0", "\uFF21", QString::fromUtf8("😀"),
                                "~", "[", "`"};
    std::mt19937 Random(20240601);
    auto Text = [&](int MaxPieces) {
        QString T;
        const int N = std::uniform_int_distribution<int>(0, MaxPieces)(Random);
        for (int I = 0; I < N; ++I)
            T += Pieces[std::uniform_int_distribution<int>(0, int(Pieces.size()) - 1)(Random)];
        return T;
    };
    for (int Round = 0; Round < 300; ++Round) {
        const int Count = std::uniform_int_distribution<int>(0, 60)(Random);
        QByteArray Doc = "<q><shops>";
        for (int I = 0; I < Count; ++I)
            // Odd rounds: categories of which none is a prefix of another ("|" ends
            // each), which the sort handles by category rank; even rounds: any.
            Doc += "<shop id=\"" + QByteArray::number(I) + "\" name=\"" + Escaped(Text(3)) + "\" category=\"" +
                   Escaped(Text(2) + (Round % 2 ? "|" : "")) + "\"/>";
        Doc += "</shops></q>";
        TUpdateVersion C;
        ASSERT_TRUE(C.LoadFromStream(Doc));
        ASSERT_EQ(C.Shops.size(), size_t(Count));
        EXPECT_EQ(C.SortedShops, InsertionWalk(C.Shops)) << "round " << Round;
    }
}

TEST(CatalogueSort, CategoriesGermanOrderFirstWrittenFormWins) {
    TUpdateVersion C;
    ASSERT_TRUE(C.LoadFromStream("<q><shops>"
                                 "<shop category=\"Zoo\"/><shop category=\"Ärzte\"/><shop category=\"mode\"/>"
                                 "<shop category=\"Arzt\"/><shop category=\"MODE\"/><shop category=\"apotheke\"/>"
                                 "<shop category=\"ärzte\"/><shop category=\"Öl\"/><shop category=\"Ofen\"/>"
                                 "<shop category=\"Bücher->Romane\"/><shop category=\"Bücher\"/>"
                                 "<shop category=\"Mode\"/><shop category=\"Ozean\"/></shops></q>"));
    EXPECT_EQ(C.Categories, QStringList({"apotheke", "Arzt", "Ärzte", "Bücher", "Bücher->Romane", "mode", "Ofen", "Öl",
                                         "Ozean", "Zoo"}));
}
