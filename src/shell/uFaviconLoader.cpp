#include "uFaviconLoader.h"

#include "uErrors.h"
#include "uIconFiles.h"
#include "uTImageList.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <QtEndian>
#include <cmath>
#include <map>

namespace {

// Larger pictures (a big PNG served as favicon) only cost memory in a 16-pixel menu.
constexpr int MaxIconSide = 256;

// Colour depth of each image from an ICO directory; empty for other data. An ICO
// often holds the same size several times (4, 8 and 32 bits), and the reader
// hands all of them out as 32-bit images, so the directory tells which is best.
std::vector<int> IcoBitCounts(const QByteArray& Data, int ImageCount) {
    if (Data.size() < 6 || qFromLittleEndian<quint16>(Data.constData()) != 0 ||
        qFromLittleEndian<quint16>(Data.constData() + 2) != 1)
        return {};
    const int Count = qFromLittleEndian<quint16>(Data.constData() + 4);
    if (Count != ImageCount || Data.size() < 6 + 16 * Count)
        return {};
    std::vector<int> Bits(Count);
    for (int I = 0; I < Count; ++I) {
        const int Stored = qFromLittleEndian<quint16>(Data.constData() + 6 + 16 * I + 6);
        Bits[I] = Stored > 0 ? Stored : 32; // PNG entries often leave it 0
    }
    return Bits;
}

struct TCandidate {
    QImage Image;
    int Bits = 0;
};

// A menu icon that keeps nothing but its one image, in the format a pixmap of this
// display uses, so drawing it shares the pixels instead of copying them. A pixmap
// icon would keep a pixmap, an entry list and, once drawn, copies in the pixmap cache.
class TImageIconEngine final : public QIconEngine {
public:
    explicit TImageIconEngine(QImage Image) : FImage(std::move(Image)) {}

    void paint(QPainter* Painter, const QRect& Rect, QIcon::Mode Mode, QIcon::State State) override {
        Painter->drawPixmap(Rect, pixmap(Rect.size(), Mode, State));
    }
    QSize actualSize(const QSize& Size, QIcon::Mode, QIcon::State) override {
        QSize Actual = FImage.size();
        if (Actual.width() > Size.width() || Actual.height() > Size.height())
            Actual.scale(Size, Qt::KeepAspectRatio);
        return Actual;
    }
    QPixmap pixmap(const QSize& Size, QIcon::Mode Mode, QIcon::State State) override {
        QPixmap Pixmap = QPixmap::fromImage(FImage);
        const QSize Actual = actualSize(Size, Mode, State);
        if (Actual != FImage.size())
            Pixmap = Pixmap.scaled(Actual, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (Mode == QIcon::Disabled && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
            QStyleOption Option;
            Option.palette = QGuiApplication::palette();
            Pixmap = QApplication::style()->generatedIconPixmap(Mode, Pixmap, &Option);
        }
        return Pixmap;
    }
    QPixmap scaledPixmap(const QSize& Size, QIcon::Mode Mode, QIcon::State State, qreal Scale) override {
        QPixmap Pixmap = pixmap(Size * Scale, Mode, State);
        Pixmap.setDevicePixelRatio(Scale);
        return Pixmap;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {FImage.size()}; }
    bool isNull() override { return FImage.isNull(); }
    QString key() const override { return QStringLiteral("TImageIconEngine"); }
    QIconEngine* clone() const override { return new TImageIconEngine(FImage); }

private:
    const QImage FImage;
};

} // namespace

namespace {

// The best image of each size in an icon file, by size. Throws EQuorvantis when
// the file holds no image.
std::map<std::pair<int, int>, TCandidate> ReadIconImages(const QString& FileName) {
    QFile File(FileName);
    if (!File.open(QIODevice::ReadOnly))
        throw EQuorvantis(File.errorString());
    QByteArray Data = File.readAll();
    if (Data.isEmpty())
        throw EQuorvantis(QStringLiteral("Empty file"));

    // Read from memory without a format so the content decides, not the ".ico" name.
    QBuffer Buffer(&Data);
    Buffer.open(QIODevice::ReadOnly);
    QImageReader Reader(&Buffer);
    const int Count = std::max(Reader.imageCount(), 1);
    const std::vector<int> Bits = IcoBitCounts(Data, Count);

    std::map<std::pair<int, int>, TCandidate> BySize;
    QString Failure;
    for (int I = 0; I < Count; ++I) {
        if (I > 0 && !Reader.jumpToImage(I))
            break;
        QImage Image;
        if (!Reader.read(&Image) || Image.isNull()) {
            Failure = Reader.errorString();
            continue; // a damaged entry does not spoil the others
        }
        if (Image.width() > MaxIconSide || Image.height() > MaxIconSide)
            Image = Image.scaled(MaxIconSide, MaxIconSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const int Depth = Bits.empty() ? Image.depth() : Bits[I];
        TCandidate& Slot = BySize[{Image.width(), Image.height()}];
        if (Slot.Image.isNull() || Depth >= Slot.Bits)
            Slot = {Image, Depth};
    }
    if (BySize.empty())
        throw EQuorvantis(Failure.isEmpty() ? QStringLiteral("No image in the file") : Failure);
    return BySize;
}

} // namespace

QIcon LoadIconFile(const QString& FileName) {
    QIcon Icon;
    for (const auto& [Size, Candidate] : ReadIconImages(FileName))
        Icon.addPixmap(QPixmap::fromImage(Candidate.Image));
    return Icon;
}

QIcon LoadMenuIcon(const QString& FileName, int Side) {
    const auto BySize = ReadIconImages(FileName);
    // The smallest image at least Side wide, else the largest: scaling down keeps it sharp.
    const QImage* Best = nullptr;
    for (const auto& [Size, Candidate] : BySize) {
        const int Width = Size.first;
        const bool Fits = Width >= Side;
        const bool BestFits = Best != nullptr && Best->width() >= Side;
        if (Best == nullptr || (Fits && (!BestFits || Width < Best->width())) ||
            (!Fits && !BestFits && Width > Best->width()))
            Best = &Candidate.Image;
    }
    QImage Image = *Best;
    if (Image.width() != Side || Image.height() != Side)
        Image = Image.scaled(Side, Side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (Image.format() != QImage::Format_RGB32)
        Image.convertTo(QImage::Format_ARGB32_Premultiplied);
    // Only the pixels: text chunks and colour profiles of the file would stay with
    // every icon for the program's life.
    const QImage Pixels(Image.constBits(), Image.width(), Image.height(), Image.bytesPerLine(), Image.format());
    return QIcon(new TImageIconEngine(Pixels.copy()));
}

int MenuIconSide() {
    const qreal Ratio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
    return 16 * std::max(1, static_cast<int>(std::ceil(Ratio)));
}

namespace {

// Appends the icon of FileName and returns its index; logs and deletes a file that
// does not load and returns 0.
int AddIconFile(TImageList& Images, const QString& FileName, TLogger& Logger) {
    try {
        return Images.Add(LoadIconFile(FileName));
    } catch (const EQuorvantis& E) {
        Logger.Error(QStringLiteral("LoadFavicon ") + FileName + QStringLiteral(": ") + E.Message());
        QFile::remove(FileName); // fetched again at the next start
        return 0;
    }
}

} // namespace

QList<TURLItem> LoadFavicons(TImageList& Images, const TShopList& Shops, const QList<TURLItem>& Links,
                             TLogger& Logger) {
    Images.Truncate(TImageList::FixedCount);
    const QString Folder = IconsFolder();
    const TIconFolderListing Listed = ListIconFolder(Folder);
    std::vector<int32_t> WithFile;
    for (const TShopPtr& Shop : Shops)
        if (Shop && Listed.ContainsShop(Shop->Id))
            WithFile.push_back(Shop->Id);
    Images.SetShopIconFiles(WithFile, [Folder, Side = MenuIconSide(), Log = &Logger](int32_t Id) {
        const QString FileName = ShopIconFile(Folder, Id);
        try {
            return LoadMenuIcon(FileName, Side);
        } catch (const EQuorvantis& E) {
            Log->Error(QStringLiteral("LoadFavicon ") + FileName + QStringLiteral(": ") + E.Message());
            QFile::remove(FileName); // fetched again at the next start
            return QIcon();
        }
    });
    QList<TURLItem> Renumbered;
    for (TURLItem Item : Links) {
        const QString FileName = LinkIconFile(Item.Name);
        const int Index = Listed.Contains(FileName.mid(Folder.size())) ? AddIconFile(Images, FileName, Logger) : 0;
        // An index from an earlier load would now point at somebody else's picture.
        if (Index != Item.Icon) {
            Item.Icon = Index;
            Renumbered.append(Item);
        }
    }
    return Renumbered;
}

void LoadFavicons(TImageList& Images, const TShopList& Shops, TMenuItemManager& Links, TLogger& Logger) {
    for (const TURLItem& Item : LoadFavicons(Images, Shops, Links.LoadAll(), Logger))
        Links.Save(Item);
}

int LoadLinkIcon(TImageList& Images, const QString& Name, TLogger& Logger) {
    return AddIconFile(Images, LinkIconFile(Name), Logger);
}

std::vector<TFaviconLink> FaviconLinks(const TMenuItemManager& Links) {
    std::vector<TFaviconLink> Result;
    for (const QString& Name : Links.GetNames()) {
        TURLItem Item;
        Item.Name = Name;
        if (Links.Load(Item))
            Result.push_back({Item.Name, Item.URL});
    }
    return Result;
}
