#include "uIconFiles.h"

#include "uConst.h"
#include "uRegistry.h"

#include <QUrl>

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
