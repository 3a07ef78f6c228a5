#include "uTImageList.h"

#include <QApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>

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

namespace {
// A picture drawn from an SVG resource when a size of it is first asked for. The
// icon engine plugin would read and parse every file at once; the start needs
// none of them drawn until the menu first shows.
class TSvgPicture final : public QIconEngine {
public:
    explicit TSvgPicture(QString File) : FFile(std::move(File)) {}

    void paint(QPainter* Painter, const QRect& Rect, QIcon::Mode Mode, QIcon::State State) override {
        QSize Size = Rect.size();
        if (Painter->device())
            Size *= Painter->device()->devicePixelRatio();
        Painter->drawPixmap(Rect, pixmap(Size, Mode, State));
    }

    QPixmap pixmap(const QSize& Size, QIcon::Mode Mode, QIcon::State State) override {
        if (Size.isEmpty())
            return {};
        const QString Key =
            QStringLiteral("qv-svg:%1:%2x%3:%4").arg(FFile).arg(Size.width()).arg(Size.height()).arg(Mode);
        QPixmap Result;
        if (QPixmapCache::find(Key, &Result))
            return Result;
        QImage Image(Size, QImage::Format_ARGB32_Premultiplied);
        Image.fill(Qt::transparent);
        QSvgRenderer Renderer(FFile);
        if (Renderer.isValid()) {
            // Centred at its own proportions, as the plugin draws it.
            QSizeF Drawn = Renderer.defaultSize();
            Drawn.scale(Size, Qt::KeepAspectRatio);
            QPainter Painter(&Image);
            Renderer.render(
                &Painter,
                QRectF(QPointF((Size.width() - Drawn.width()) / 2, (Size.height() - Drawn.height()) / 2), Drawn));
        }
        Result = QPixmap::fromImage(std::move(Image));
        if (Mode != QIcon::Normal && qobject_cast<QApplication*>(QCoreApplication::instance())) {
            QStyleOption Option;
            Option.palette = QApplication::palette();
            Result = QApplication::style()->generatedIconPixmap(Mode, Result, &Option);
        }
        (void)State;
        QPixmapCache::insert(Key, Result);
        return Result;
    }

    bool isNull() override { return FFile.isEmpty(); }
    QString key() const override { return QStringLiteral("QuorvantisSvgPicture"); }
    QIconEngine* clone() const override { return new TSvgPicture(FFile); }

private:
    QString FFile;
};
} // namespace

QIcon TImageList::Picture(const QString& File) {
    InitPictureResources();
    return QIcon(new TSvgPicture(File));
}

TImageList TImageList::WithFixedPictures() {
    InitPictureResources();
    static const std::array<const char*, FixedCount> Files = {
        ":/pictures/cart.svg",   ":/pictures/close.svg", ":/pictures/info.svg",    ":/pictures/settings.svg",
        ":/pictures/search.svg", ":/pictures/globe.svg", ":/pictures/gallery.svg", ":/pictures/chart.svg"};
    TImageList List;
    List.FImages.reserve(64);
    for (const char* File : Files)
        List.FImages.push_back(Picture(QString::fromLatin1(File)));
    return List;
}

QIcon TImageList::TrayIcon() {
    return Picture(QStringLiteral(":/pictures/trayicon.svg"));
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

void TImageList::AddShopIconFile(int32_t ShopId) {
    FShopIndex.insert(ShopId, NotLoaded);
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
