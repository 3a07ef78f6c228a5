#include "uFaviconLoader.h"

#include "uErrors.h"
#include "uIconFiles.h"
#include "uTImageList.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>
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

} // namespace

QIcon LoadIconFile(const QString& FileName) {
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

    QIcon Icon;
    for (const auto& [Size, Candidate] : BySize)
        Icon.addPixmap(QPixmap::fromImage(Candidate.Image));
    return Icon;
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

void LoadFavicons(TImageList& Images, const TShopList& Shops, const TMenuItemManager& Links, TLogger& Logger) {
    Images.Truncate(TImageList::FixedCount);
    // One read of the install folder for the whole list.
    const QString Folder = IconsFolder();
    for (const TShopPtr& Shop : Shops) {
        if (!Shop)
            continue;
        Shop->ImageIndex = 0;
        const QString FileName = ShopIconFile(Folder, Shop->Id);
        if (QFileInfo::exists(FileName))
            Shop->ImageIndex = AddIconFile(Images, FileName, Logger);
    }
    for (const QString& Name : Links.GetNames()) {
        TURLItem Item;
        Item.Name = Name;
        if (!Links.Load(Item))
            continue;
        const QString FileName = LinkIconFile(Name);
        const int Index = QFileInfo::exists(FileName) ? AddIconFile(Images, FileName, Logger) : 0;
        // An index from an earlier load would now point at somebody else's picture.
        if (Index != Item.Icon) {
            Item.Icon = Index;
            Links.Save(Item);
        }
    }
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
