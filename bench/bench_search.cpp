// Keystroke to updated result list in the search window over 100,000 shops: the
// key release runs the catalogue search, the list model is replaced and the view
// lays out and paints its visible rows (offscreen).
#include "ufrmSearch.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>

namespace {

TShopList MakeShops(int Count) {
    static const char* Words[] = {"Kleider", "Schuh", "Technik", "Garten", "Möbel", "Bücher", "Uhren",
                                  "Sport",   "Reise", "Spiel",   "Musik",  "Wolke", "Laden",  "Markt"};
    static const char* Categories[] = {"Mode->Damen",   "Mode->Herren", "Computer->Notebooks",
                                       "Haus->Garten",  "Freizeit",     "Bücher & Medien->Hörbücher",
                                       "Reisen->Flüge", "Sport->Rad"};
    QRandomGenerator Random(42);
    TShopList Shops;
    Shops.reserve(static_cast<size_t>(Count));
    for (int I = 0; I < Count; ++I) {
        auto Shop = std::make_shared<TShop>();
        Shop->Id = I + 1;
        Shop->SetName(QString::fromUtf8(Words[Random.bounded(14)]) + QString::fromUtf8(Words[Random.bounded(14)]) +
                      QStringLiteral(" %1").arg(Random.bounded(Count / 2))); // some names repeat
        Shop->Category = QString::fromUtf8(Categories[Random.bounded(8)]);
        Shops.push_back(Shop);
    }
    return Shops;
}

// One key as the user types it: press (the field takes the text), then release.
void Keystroke(QWidget* Target, QChar Char) {
    const Qt::Key Key = Qt::Key(Char.toUpper().unicode());
    QKeyEvent Press(QEvent::KeyPress, Key, Qt::NoModifier, QString(Char));
    QApplication::sendEvent(Target, &Press);
    QKeyEvent Release(QEvent::KeyRelease, Key, Qt::NoModifier, QString(Char));
    QApplication::sendEvent(Target, &Release);
}

void BM_KeystrokeToResultList(benchmark::State& State, const char* Typed) {
    static const TShopList Shops = MakeShops(100000);
    static const TSearchEngineList Engines;
    TfrmSearch Window(TSearchCatalogue{[]() -> const TShopList& { return Shops; },
                                       []() -> const TSearchEngineList& { return Engines; }});
    Window.PrepareAndShow();
    auto* Edit = Window.findChild<QLineEdit*>("edtSearch");
    auto* List = Window.findChild<QListView*>("listResult");
    const QString Text = QString::fromUtf8(Typed);
    Edit->setText(Text.chopped(1));
    Keystroke(Edit, QChar()); // a key without text: the index is built before timing starts
    const QChar Last = Text.back();
    for (auto _ : State) {
        // The last key of the text, released: one search; then back to the text before it.
        Keystroke(Edit, Last);
        List->doItemsLayout();
        List->repaint();
        State.PauseTiming();
        Edit->setText(Text.chopped(1));
        State.ResumeTiming();
    }
    State.counters["results"] = List->model()->rowCount();
    Window.close();
}
BENCHMARK_CAPTURE(BM_KeystrokeToResultList, nearly_all, "e")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeystrokeToResultList, some, "kleiders")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeystrokeToResultList, none, "xyzq")->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
