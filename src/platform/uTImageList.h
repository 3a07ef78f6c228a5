#pragma once

#include <QIcon>
#include <vector>

// The tray menu's indexed image list: eight fixed pictures (0 cart, 1 close
// cross, 2 info sign, 3 settings wheel, 4 magnifier, 5 globe, 6 auction hammer,
// 7 pie chart), then favicons from index 8 on. Icons keep every size they hold.
class TImageList final {
public:
    static constexpr int FixedCount = 8;
    static constexpr int GlobeIndex = 5;

    // A list holding the eight fixed pictures from the program's resources.
    static TImageList WithFixedPictures();
    // The notification-area icon: a white cart on a dark red square.
    static QIcon TrayIcon();
    // One of the program's SVG pictures (":/pictures/..."), drawn when first shown.
    static QIcon Picture(const QString& File);

    int Count() const { return static_cast<int>(FImages.size()); }
    // Appends an icon and returns its index.
    int Add(const QIcon& Icon);
    // Drops every image from index Count on.
    void Truncate(int Count);
    // An empty icon for an index out of range.
    QIcon Icon(int Index) const;

private:
    std::vector<QIcon> FImages;
};
