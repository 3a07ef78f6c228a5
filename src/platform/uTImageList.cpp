#include "uTImageList.h"

#include <array>

// The resources live in the static ui library; referencing their initialiser
// keeps the linker from dropping them.
static void InitPictureResources() {
    static const bool Done = [] {
        Q_INIT_RESOURCE(quorvantis);
        return true;
    }();
    (void)Done;
}

TImageList TImageList::WithFixedPictures() {
    InitPictureResources();
    static const std::array<const char*, FixedCount> Files = {
        ":/pictures/cart.svg",   ":/pictures/close.svg", ":/pictures/info.svg",    ":/pictures/settings.svg",
        ":/pictures/search.svg", ":/pictures/globe.svg", ":/pictures/gallery.svg", ":/pictures/chart.svg"};
    TImageList List;
    List.FImages.reserve(64);
    for (const char* File : Files)
        List.FImages.emplace_back(QString::fromLatin1(File));
    return List;
}

QIcon TImageList::TrayIcon() {
    InitPictureResources();
    return QIcon(QStringLiteral(":/pictures/trayicon.svg"));
}

int TImageList::Add(const QIcon& Icon) {
    FImages.push_back(Icon);
    return Count() - 1;
}

void TImageList::Truncate(int Count) {
    if (Count < 0 || Count >= this->Count())
        return;
    FImages.resize(static_cast<size_t>(Count));
    for (auto It = FShopIndex.begin(); It != FShopIndex.end(); ++It)
        if (*It >= Count)
            *It = NotLoaded; // its file is still there: decode it again when asked
}

QIcon TImageList::Icon(int Index) const {
    if (Index < 0 || Index >= Count())
        return {};
    return FImages[static_cast<size_t>(Index)];
}

void TImageList::SetShopIconFiles(const std::vector<int32_t>& ShopIds, TShopIconLoader Loader) {
    FShopIndex.clear();
    FShopIndex.reserve(static_cast<qsizetype>(ShopIds.size()));
    for (const int32_t Id : ShopIds)
        FShopIndex.insert(Id, NotLoaded);
    FShopLoader = std::move(Loader);
}

void TImageList::SetShopIndex(int32_t ShopId, int Index) {
    FShopIndex.insert(ShopId, Index);
}

int TImageList::ShopIndex(int32_t ShopId) const {
    const auto Found = FShopIndex.find(ShopId);
    if (Found == FShopIndex.end())
        return 0;
    if (*Found == NotLoaded) {
        *Found = 0; // also when the loader throws: never try the same file twice
        const QIcon Icon = FShopLoader ? FShopLoader(ShopId) : QIcon();
        if (!Icon.isNull()) {
            FImages.push_back(Icon);
            *Found = Count() - 1;
        }
    }
    return *Found > 0 && *Found < Count() ? *Found : 0;
}
