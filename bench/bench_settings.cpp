// The settings dialog's shop tab: FillCategories (category lines with their
// three-state boxes) plus the first category click (its shop lines), on the real
// dialog and main window. Run with QT_QPA_PLATFORM=offscreen (set here when
// unset); settings live in a temporary XDG_CONFIG_HOME.
#include "uRegistry.h"
#include "uTCheckListBox.h"
#include "uTrayMenuBuilder.h"
#include "ufrmQuorvantis.h"
#include "ufrmSettings.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

std::unique_ptr<TfrmQuorvantis> MainWindow;

// Count shops in document order, spread over Categories categories; every Step-th
// category (from the sixth on) holds one deselected shop, so it shows grayed and
// its shops need their stored values.
void LoadCatalogue(int Count, int Categories, int Step) {
    TUpdateVersion& Catalogue = MainWindow->Program().CatalogueForTests();
    DeleteSettingsKey(QStringLiteral("categories"));
    Catalogue.Categories.clear();
    for (int C = 0; C < Categories; ++C)
        Catalogue.Categories << QStringLiteral("Kategorie %1->Unter %2").arg(C, 3, 10, QLatin1Char('0')).arg(C % 7);
    Catalogue.Shops.clear();
    for (int I = 0; I < Count; ++I) {
        auto Shop = std::make_shared<TShop>();
        Shop->Id = I + 1;
        Shop->SetName(QStringLiteral("Shop %1 & Co").arg(I, 6, 10, QLatin1Char('0')));
        Shop->Category = Catalogue.Categories[I % Categories];
        Catalogue.Shops.push_back(Shop);
    }
    Catalogue.SortedShops = Catalogue.Shops;
    for (int C = 5; C < Categories; C += Step)
        SetShopVisible(Catalogue.Categories[C], Catalogue.Shops[static_cast<size_t>(C)]->GetName(), false);
}

void BM_FillCategoriesAndFirstClick(benchmark::State& State) {
    LoadCatalogue(static_cast<int>(State.range(0)), static_cast<int>(State.range(1)), static_cast<int>(State.range(2)));
    TfrmSettings Dialog(MainWindow->Program());
    Dialog.show(); // the lists lay out and paint what they show, as on screen
    QCoreApplication::processEvents();
    for (auto _ : State) {
        Dialog.FillCategories();
        QCoreApplication::processEvents();
    }
    State.SetItemsProcessed(State.iterations() * State.range(0));
}

// A click on the first category's box, twice: every shop of it stored as
// deselected, then as selected again (one write per shop).
void BM_ToggleCategoryTwice(benchmark::State& State) {
    LoadCatalogue(static_cast<int>(State.range(0)), static_cast<int>(State.range(1)), 10);
    TfrmSettings Dialog(MainWindow->Program());
    Dialog.FillCategories();
    auto* Categories = Dialog.findChild<TCheckListBox*>(QStringLiteral("lbxCategories"));
    for (auto _ : State) {
        for (Qt::CheckState Next : {Qt::Unchecked, Qt::Checked}) {
            Categories->SetState(0, Next);
            Dialog.lbxCategoriesClick();
        }
    }
    State.SetItemsProcessed(State.iterations() * 2 * State.range(0) / State.range(1));
}

BENCHMARK(BM_ToggleCategoryTwice)->Args({10000, 200})->Args({100000, 300})->Unit(benchmark::kMillisecond);

// The last argument: every how many categories one holds a deselected shop (1: all of them).
BENCHMARK(BM_FillCategoriesAndFirstClick)
    ->Args({10000, 200, 10})
    ->Args({100000, 300, 10})
    ->Args({100000, 300, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir Home;
    for (const char* Name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
        qputenv(Name, (Home.path() + "/" + Name).toLocal8Bit());
    QApplication App(argc, argv);
    // Refused at once: the main window starts without a catalogue and without waiting.
    WriteSettingString(QString(), QStringLiteral("server"), QStringLiteral("http://127.0.0.1:9"));
    MainWindow = std::make_unique<TfrmQuorvantis>(QStringList{QStringLiteral("quorvantis")});
    while (!MainWindow->IsStarted())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    MainWindow.reset();
    return 0;
}
