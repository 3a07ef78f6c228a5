#include "uIconFiles.h"

#include "uConst.h"
#include "uRegistry.h"

#include <QFile>
#include <QUrl>

#include <algorithm>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>

QString SafeLinkName(const QString& Name) {
    QString Safe = Name;
    Safe.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return Safe;
}

QString LinkNameProblem(const QString& Name) {
    if (Name.contains(QLatin1Char('\\')))
        return txtLinkNameBackslash();
    return {};
}

QString LinkIconFileName(const QString& Name) {
    // Percent-encoded, so every name gets a file of its own and none names a
    // folder, a hidden file or "..".
    QString File;
    File.reserve(Name.size() + 4);
    for (qsizetype I = 0; I < Name.size(); ++I) {
        const QChar C = Name.at(I);
        if (C == QLatin1Char('%') || C == QLatin1Char('/') || C == QLatin1Char('\\') ||
            (I == 0 && C == QLatin1Char('.')))
            File += QLatin1Char('%') + QString::number(C.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            File += C;
    }
    return File + QStringLiteral(".ico");
}

QString SiteFaviconURL(const QString& Address) {
    const QUrl Url(Address.trimmed());
    const QString Scheme = Url.scheme().toLower();
    if ((Scheme != QLatin1String("http") && Scheme != QLatin1String("https")) || Url.host().isEmpty())
        return {};
    QUrl Root;
    Root.setScheme(Scheme);
    Root.setHost(Url.host());
    Root.setPort(Url.port());
    Root.setPath(QStringLiteral("/favicon.ico"));
    return Root.toString(QUrl::FullyEncoded);
}

QString IconsFolder() {
    return GetInstallFolder() + QStringLiteral("icons/");
}

QString ShopIconFile(int ShopId) {
    return ShopIconFile(IconsFolder(), ShopId);
}

QString ShopIconFile(const QString& Folder, int ShopId) {
    return Folder + QString::number(ShopId) + QStringLiteral(".ico");
}

QString LinkIconFile(const QString& LinkName) {
    return IconsFolder() + LinkIconFileName(LinkName);
}

namespace {

// The shop id of "<id>.ico" with the id in canonical decimal: "007.ico" or "+7.ico"
// belong to no shop, as ShopIconFile writes "7.ico".
std::optional<int32_t> ShopIdOfIconName(std::string_view Name) {
    if (Name.size() <= 4 || Name.substr(Name.size() - 4) != ".ico")
        return std::nullopt;
    const std::string_view Stem = Name.substr(0, Name.size() - 4);
    int32_t Id = 0;
    const auto [End, Error] = std::from_chars(Stem.data(), Stem.data() + Stem.size(), Id);
    const std::string_view Digits = Stem.substr(Stem.front() == '-' ? 1 : 0);
    if (Error != std::errc() || End != Stem.data() + Stem.size() || Digits.empty() ||
        (Digits.front() == '0' && Stem != "0"))
        return std::nullopt;
    return Id;
}

} // namespace

bool TIconFolderListing::ContainsShop(int32_t ShopId) const {
    return std::binary_search(FShopIds.begin(), FShopIds.end(), ShopId);
}

bool TIconFolderListing::Contains(const QString& Name) const {
    const QByteArray Encoded = QFile::encodeName(Name);
    if (const std::optional<int32_t> Id = ShopIdOfIconName(std::string_view(Encoded.constData(), Encoded.size())))
        return ContainsShop(*Id);
    return FOtherNames.contains(Name);
}

// readdir straight into the compact form: a QDir listing builds a file information
// object per entry first, tens of megabytes for a folder of a hundred thousand icons.
TIconFolderListing ListIconFolder(const QString& Folder) {
    TIconFolderListing Result;
    DIR* Dir = ::opendir(QFile::encodeName(Folder).constData());
    if (Dir == nullptr)
        return Result;
    while (const dirent* Entry = ::readdir(Dir)) {
        const std::string_view Name(Entry->d_name);
        if (Name.size() <= 4 || Name.substr(Name.size() - 4) != ".ico")
            continue;
        bool File = Entry->d_type == DT_REG;
        if (Entry->d_type == DT_LNK || Entry->d_type == DT_UNKNOWN) {
            struct stat Info {};
            File = ::fstatat(::dirfd(Dir), Entry->d_name, &Info, 0) == 0 && S_ISREG(Info.st_mode);
        }
        if (!File)
            continue;
        if (const std::optional<int32_t> Id = ShopIdOfIconName(Name))
            Result.FShopIds.push_back(*Id);
        else
            Result.FOtherNames.insert(QFile::decodeName(Entry->d_name));
    }
    ::closedir(Dir);
    std::sort(Result.FShopIds.begin(), Result.FShopIds.end());
    Result.FShopIds.shrink_to_fit();
    return Result;
}
