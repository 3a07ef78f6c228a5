#include "uTShop.h"

#include "uServerPaths.h"

QString TShop::GetShopURL() const {
    return BuildServerURL(TServerPath::Shop, {{QStringLiteral("id"), QString::number(Id)}});
}

QString TShop::GetIconFileName() const {
    return QStringLiteral("icons/") + QString::number(Id) + QStringLiteral(".ico");
}

QStringList TShop::GetCategoryPath() const {
    static const QString Separator = QStringLiteral("->");
    QStringList Levels;
    qsizetype Start = 0;
    for (qsizetype Pos; (Pos = Category.indexOf(Separator, Start)) >= 0; Start = Pos + Separator.size())
        Levels.append(Category.mid(Start, Pos - Start)); // even an empty level before a separator
    if (Start < Category.size())
        Levels.append(Category.mid(Start));
    return Levels;
}
