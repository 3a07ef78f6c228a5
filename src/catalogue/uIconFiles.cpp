#include "uIconFiles.h"

#include "uRegistry.h"

QString SafeLinkName(const QString& Name) {
    QString Safe = Name;
    Safe.replace(QLatin1Char('\\'), QLatin1Char('_'));
    Safe.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (Safe.startsWith(QLatin1Char('.')))
        Safe[0] = QLatin1Char('_');
    return Safe;
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
    return IconsFolder() + SafeLinkName(LinkName) + QStringLiteral(".ico");
}
