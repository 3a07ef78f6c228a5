#pragma once

#include <QHash>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <vector>

// The tray menu's indexed image list: eight fixed pictures (0 cart, 1 close
// cross, 2 info sign, 3 settings wheel, 4 magnifier, 5 globe, 6 auction hammer,
// 7 pie chart), then favicons from index 8 on.
//
// The list also keeps the menu's own record of which shop shows which favicon
// (the catalogue's records carry no menu state). A shop's icon file is only
// known to exist until a menu entry first needs it: then it is decoded once,
// added to the list, and every shop with that id shares the one image.
class TImageList final {
public:
    static constexpr int FixedCount = 8;
    static constexpr int GlobeIndex = 5;
    // Decodes the icon file of a shop id; a null icon when it holds no image.
    using TShopIconLoader = std::function<QIcon(int32_t ShopId)>;

    // A list holding the eight fixed pictures from the program's resources.
    static TImageList WithFixedPictures();
    // The notification-area icon: a white cart on a dark red square.
    static QIcon TrayIcon();
    // One of the program's SVG pictures (":/pictures/..."), drawn when first shown.
    static QIcon Picture(const QString& File);

    int Count() const { return static_cast<int>(FImages.size()); }
    // Appends an icon and returns its index.
    int Add(const QIcon& Icon);
    // Drops every image from index Count on, and every shop's record that pointed there.
    void Truncate(int Count);
    // An empty icon for an index out of range.
    QIcon Icon(int Index) const;

    // Forgets every shop's favicon; ShopIds have an icon file that Loader decodes on demand.
    void SetShopIconFiles(const std::vector<int32_t>& ShopIds, TShopIconLoader Loader);
    // ShopId has a new icon file (fetched during the run): decoded when next asked for.
    void AddShopIconFile(int32_t ShopId);
    // Records an image already in the list as the favicon of ShopId.
    void SetShopIndex(int32_t ShopId, int Index);
    // The favicon index of ShopId, decoding its file the first time; 0 when none.
    int ShopIndex(int32_t ShopId) const;
    // Shops with a favicon file, decoded or not.
    int ShopIconCount() const { return static_cast<int>(FShopIndex.size()); }

private:
    static constexpr int NotLoaded = -1;

    // Favicons decoded on demand extend the list from const readers: a cache.
    mutable std::vector<QIcon> FImages;
    // Shop id -> index in FImages, NotLoaded until first asked for (0: unreadable).
    mutable QHash<int32_t, int> FShopIndex;
    TShopIconLoader FShopLoader;
};
