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
    if (Count >= 0 && Count < this->Count())
        FImages.resize(static_cast<size_t>(Count));
}

QIcon TImageList::Icon(int Index) const {
    if (Index < 0 || Index >= Count())
        return {};
    return FImages[static_cast<size_t>(Index)];
}
