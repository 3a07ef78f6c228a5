#include "uDBusMenuTypes.h"

#include <QDBusArgument>

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuLayoutItem& Item) {
    Argument.beginStructure();
    Argument << Item.Id << Item.Properties;
    Argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const TDBusMenuLayoutItem& Child : Item.Children)
        Argument << QDBusVariant(QVariant::fromValue(Child));
    Argument.endArray();
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuLayoutItem& Item) {
    Argument.beginStructure();
    Argument >> Item.Id >> Item.Properties;
    Argument.beginArray();
    Item.Children.clear();
    while (!Argument.atEnd()) {
        QDBusVariant Child;
        Argument >> Child;
        Item.Children.append(qdbus_cast<TDBusMenuLayoutItem>(Child.variant()));
    }
    Argument.endArray();
    Argument.endStructure();
    return Argument;
}

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuItem& Item) {
    Argument.beginStructure();
    Argument << Item.Id << Item.Properties;
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuItem& Item) {
    Argument.beginStructure();
    Argument >> Item.Id >> Item.Properties;
    Argument.endStructure();
    return Argument;
}

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuItemKeys& Keys) {
    Argument.beginStructure();
    Argument << Keys.Id << Keys.Names;
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuItemKeys& Keys) {
    Argument.beginStructure();
    Argument >> Keys.Id >> Keys.Names;
    Argument.endStructure();
    return Argument;
}

QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuEvent& Event) {
    Argument.beginStructure();
    Argument << Event.Id << Event.EventId << Event.Data << Event.Timestamp;
    Argument.endStructure();
    return Argument;
}

const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuEvent& Event) {
    Argument.beginStructure();
    Argument >> Event.Id >> Event.EventId >> Event.Data >> Event.Timestamp;
    Argument.endStructure();
    return Argument;
}

QString DBusMenuLabel(const QString& Caption) {
    QString Label;
    Label.reserve(Caption.size() + 4);
    bool HotkeyTaken = false;
    for (qsizetype I = 0; I < Caption.size(); ++I) {
        const QChar C = Caption.at(I);
        if (C == QLatin1Char('_')) {
            Label += QLatin1String("__");
        } else if (C != QLatin1Char('&')) {
            Label += C;
        } else if (I + 1 < Caption.size() && Caption.at(I + 1) == QLatin1Char('&')) {
            Label += C;
            ++I;
        } else if (!HotkeyTaken && I + 1 < Caption.size()) {
            Label += QLatin1Char('_'); // Qt, too, underlines only the first hotkey
            HotkeyTaken = true;
        }
    }
    return Label;
}
