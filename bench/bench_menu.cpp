// Tray menu build: BuildTrayMenu against the floor of building the same tree of
// plain QMenu/QAction objects, the first opening of a category, and "show" until
// the menu is on screen. Run with QT_QPA_PLATFORM=offscreen (set here when
// unset); settings live in a temporary XDG_CONFIG_HOME.
#include "uRegistry.h"
#include "uTImageList.h"
#include "uTMenuItemManager.h"
#include "uTMenuWindow.h"
#include "uTShop.h"
#include "uTTrayMenu.h"
#include "uTrayMenuBuilder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <map>

namespace {

const QString Params = QStringLiteral("&ref=123456&check=2024-05-01&version=2.2&subid=software");

// Catalogue of Count shops in Categories categories: a third of them nested one
// level below another ("TopN->SubM"), every 40th shop top-ranked, sorted the
// catalogue's way (ASCII-upper of category + name).
TShopList MakeShops(int Count, int Categories) {
    QStringList Names;
    for (int C = 0; C < Categories; ++C) {
        if (C % 3 == 2)
            Names << QStringLiteral("Kategorie %1->Unter %2").arg(C - 1, 3, 10, QLatin1Char('0')).arg(C);
        else
            Names << QStringLiteral("Kategorie %1").arg(C, 3, 10, QLatin1Char('0'));
    }
    TShopList Shops;
    Shops.reserve(static_cast<size_t>(Count));
    for (int I = 0; I < Count; ++I) {
        auto Shop = std::make_shared<TShop>();
        Shop->Id = I + 1;
        Shop->SetName(QStringLiteral("Shop %1 & Co").arg(I, 6, 10, QLatin1Char('0')));
        Shop->Category = Names[I % Categories];
        Shop->SetSite(QStringLiteral("http://www.shop%1.example").arg(I));
        Shop->Ranking = I % 40 == 0 ? 5 : 1000;
        Shops.push_back(Shop);
    }
    std::stable_sort(Shops.begin(), Shops.end(), [](const TShopPtr& A, const TShopPtr& B) {
        return (A->Category + A->GetName()).toUpper() < (B->Category + B->GetName()).toUpper();
    });
    return Shops;
}

const TShopList& Catalogue(int Count, int Categories) {
    static std::map<std::pair<int, int>, TShopList> Cache;
    auto& Shops = Cache[{Count, Categories}];
    if (Shops.empty()) {
        Shops = MakeShops(Count, Categories);
        // Every tenth category holds one hidden shop, so its shops need value reads.
        for (int C = 0; C < Categories; C += 10)
            SetShopVisible(Shops[static_cast<size_t>(C)]->Category, Shops[static_cast<size_t>(C)]->GetName(), false);
    }
    return Shops;
}

void SetLinks(bool With) {
    DeleteSettingsKey(QStringLiteral("favorites"));
    if (!With)
        return;
    TMenuItemManager Links(QStringLiteral("favorites"));
    for (int I = 0; I < 20; ++I)
        Links.Save({QStringLiteral("Link %1").arg(I), QStringLiteral("http://link%1.example").arg(I), 0});
}

// Heap bytes in use (the resident size hides reuse of freed blocks).
long ResidentBytes() {
    const struct mallinfo2 Info = mallinfo2();
    return static_cast<long>(Info.uordblks + Info.hblkhd);
}

void BM_BuildTrayMenu(benchmark::State& State) {
    const int Count = static_cast<int>(State.range(0));
    const TShopList& Shops = Catalogue(Count, static_cast<int>(State.range(1)));
    SetLinks(State.range(2) != 0);
    const TImageList Images = TImageList::WithFixedPictures();
    TMenuItemManager Links(QStringLiteral("favorites"));
    long Bytes = 0;
    for (auto _ : State) {
        State.PauseTiming();
        auto Menu = std::make_unique<TTrayMenu>();
        CreateFixedEntries(*Menu, Images);
        const long Before = ResidentBytes();
        State.ResumeTiming();
        BuildTrayMenu(*Menu, TMenuBuildInput{Shops, Params, Links, Images, [] {}});
        State.PauseTiming();
        Bytes = ResidentBytes() - Before;
        Menu.reset();
        State.ResumeTiming();
    }
    State.SetItemsProcessed(State.iterations() * Count);
    State.counters["bytes_per_entry"] = static_cast<double>(Bytes) / Count;
}

void BM_RebuildTrayMenu(benchmark::State& State) {
    const int Count = static_cast<int>(State.range(0));
    const TShopList& Shops = Catalogue(Count, static_cast<int>(State.range(1)));
    SetLinks(State.range(2) != 0);
    const TImageList Images = TImageList::WithFixedPictures();
    TMenuItemManager Links(QStringLiteral("favorites"));
    TTrayMenu Menu;
    CreateFixedEntries(Menu, Images);
    BuildTrayMenu(Menu, TMenuBuildInput{Shops, Params, Links, Images, [] {}});
    for (auto _ : State)
        BuildTrayMenu(Menu, TMenuBuildInput{Shops, Params, Links, Images, [] {}});
    State.SetItemsProcessed(State.iterations() * Count);
}

// The floor: the same tree from plain objects, appended in catalogue order, with
// text, icon and status tip per shop; no settings reads, no bookkeeping.
void BuildPlainTree(QMenu& Root, const TShopList& Shops, const TImageList& Images) {
    const QIcon Globe = Images.Icon(TImageList::GlobeIndex);
    QString Category;
    QMenu* Target = nullptr;
    std::map<QString, QMenu*> Menus;
    for (const TShopPtr& Shop : Shops) {
        if (Target == nullptr || Shop->Category != Category) {
            Category = Shop->Category;
            QMenu* Parent = &Root;
            QString Path;
            for (const QString& Level : Shop->GetCategoryPath()) {
                Path += QStringLiteral("->") + Level;
                QMenu*& Menu = Menus[Path];
                if (Menu == nullptr)
                    Menu = Parent->addMenu(Level);
                Parent = Menu;
            }
            Target = Parent;
        }
        auto* Action = new QAction(Shop->GetName(), Target);
        Action->setIcon(Globe);
        Action->setStatusTip(Shop->GetSite());
        Target->addAction(Action);
    }
}

void BM_FloorPlainMenu(benchmark::State& State) {
    const int Count = static_cast<int>(State.range(0));
    const TShopList& Shops = Catalogue(Count, static_cast<int>(State.range(1)));
    const TImageList Images = TImageList::WithFixedPictures();
    long Bytes = 0;
    for (auto _ : State) {
        State.PauseTiming();
        auto Menu = std::make_unique<QMenu>();
        const long Before = ResidentBytes();
        State.ResumeTiming();
        BuildPlainTree(*Menu, Shops, Images);
        State.PauseTiming();
        Bytes = ResidentBytes() - Before;
        Menu.reset();
        State.ResumeTiming();
    }
    State.SetItemsProcessed(State.iterations() * Count);
    State.counters["bytes_per_entry"] = static_cast<double>(Bytes) / Count;
}

// Both builds in one run, alternately, for the ratio: the program's build (top
// level now, submenus when opened) against the whole nested tree of plain objects.
void BM_BuildAgainstWholeTree(benchmark::State& State) {
    const int Count = static_cast<int>(State.range(0));
    const TShopList& Shops = Catalogue(Count, static_cast<int>(State.range(1)));
    SetLinks(false);
    const TImageList Images = TImageList::WithFixedPictures();
    TMenuItemManager Links(QStringLiteral("favorites"));
    double Build = 0;
    double Whole = 0;
    for (auto _ : State) {
        auto Menu = std::make_unique<TTrayMenu>();
        CreateFixedEntries(*Menu, Images);
        QElapsedTimer Clock;
        Clock.start();
        BuildTrayMenu(*Menu, TMenuBuildInput{Shops, Params, Links, Images, [] {}});
        const double BuildNs = static_cast<double>(Clock.nsecsElapsed());
        Menu.reset();
        auto Plain = std::make_unique<QMenu>();
        Clock.restart();
        BuildPlainTree(*Plain, Shops, Images);
        const double WholeNs = static_cast<double>(Clock.nsecsElapsed());
        Plain.reset();
        Build += BuildNs;
        Whole += WholeNs;
        State.SetIterationTime(BuildNs / 1e9);
    }
    const double N = static_cast<double>(State.iterations());
    State.counters["build_ms"] = Build / N / 1e6;
    State.counters["whole_tree_ms"] = Whole / N / 1e6;
    State.counters["ratio"] = Build / Whole;
}

// Opening the largest category for the first time: its entries are made now.
void BM_FirstOpenOfACategory(benchmark::State& State) {
    const int Count = static_cast<int>(State.range(0));
    const TShopList& Shops = Catalogue(Count, static_cast<int>(State.range(1)));
    SetLinks(false);
    const TImageList Images = TImageList::WithFixedPictures();
    TMenuItemManager Links(QStringLiteral("favorites"));
    int Entries = 0;
    for (auto _ : State) {
        State.PauseTiming();
        auto Menu = std::make_unique<TTrayMenu>();
        CreateFixedEntries(*Menu, Images);
        BuildTrayMenu(*Menu, TMenuBuildInput{Shops, Params, Links, Images, [] {}});
        QMenu* First = Menu->actions().at(0)->menu();
        State.ResumeTiming();
        Q_EMIT First->aboutToShow();
        State.PauseTiming();
        Entries = static_cast<int>(First->actions().size());
        Menu.reset();
        State.ResumeTiming();
    }
    State.counters["entries"] = Entries;
}

// "show": from the request to the menu on screen, as a pop-up (X11) and in the
// menu window (Wayland), with the whole catalogue built.
void BM_ShowMenu(benchmark::State& State) {
    const int Count = static_cast<int>(State.range(0));
    const TShopList& Shops = Catalogue(Count, static_cast<int>(State.range(1)));
    const bool InWindow = State.range(2) != 0;
    SetLinks(true);
    const TImageList Images = TImageList::WithFixedPictures();
    TMenuItemManager Links(QStringLiteral("favorites"));
    TTrayMenu Menu;
    CreateFixedEntries(Menu, Images);
    BuildTrayMenu(Menu, TMenuBuildInput{Shops, Params, Links, Images, [] {}});
    auto Exposed = [](QWidget& Widget) {
        QElapsedTimer Limit;
        Limit.start();
        while (!(Widget.windowHandle() && Widget.windowHandle()->isExposed()) && Limit.elapsed() < 5000)
            QCoreApplication::processEvents();
    };
    for (auto _ : State) {
        QElapsedTimer Clock;
        Clock.start();
        if (InWindow) {
            TMenuWindow Window(Menu);
            Window.show();
            Exposed(Window);
            State.SetIterationTime(static_cast<double>(Clock.nsecsElapsed()) / 1e9);
            Window.close();
        } else {
            Menu.popup(QPoint(100, 100));
            Exposed(Menu);
            State.SetIterationTime(static_cast<double>(Clock.nsecsElapsed()) / 1e9);
            Menu.hide();
        }
        QCoreApplication::processEvents();
    }
}

void Sizes(benchmark::internal::Benchmark* B) {
    for (const auto& [Count, Categories] : {std::pair{1000, 60}, {10000, 200}, {100000, 300}})
        for (int Links : {0, 1})
            B->Args({Count, Categories, Links});
}

void FloorSizes(benchmark::internal::Benchmark* B) {
    for (const auto& [Count, Categories] : {std::pair{1000, 60}, {10000, 200}, {100000, 300}})
        B->Args({Count, Categories});
}

BENCHMARK(BM_FloorPlainMenu)->Apply(FloorSizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildTrayMenu)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RebuildTrayMenu)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildAgainstWholeTree)->Apply(FloorSizes)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstOpenOfACategory)
    ->Args({10000, 1})
    ->Args({100000, 300})
    ->Args({100000, 10})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowMenu)->Args({100000, 300, 0})->Args({100000, 300, 1})->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir Home;
    qputenv("XDG_CONFIG_HOME", (Home.path() + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (Home.path() + "/data").toLocal8Bit());
    QApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
