#pragma once

#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QDBusArgument;

// The wire types of com.canonical.dbusmenu.
struct TDBusMenuLayoutItem {
    int Id = 0;
    QVariantMap Properties;
    QList<TDBusMenuLayoutItem> Children;
};
struct TDBusMenuItem {
    int Id = 0;
    QVariantMap Properties;
};
struct TDBusMenuItemKeys {
    int Id = 0;
    QStringList Names;
};
struct TDBusMenuEvent {
    int Id = 0;
    QString EventId;
    QDBusVariant Data;
    uint Timestamp = 0;
};
using TDBusMenuItemList = QList<TDBusMenuItem>;
using TDBusMenuItemKeysList = QList<TDBusMenuItemKeys>;
using TDBusMenuEventList = QList<TDBusMenuEvent>;

// Their D-Bus forms, for the exporter and for whoever plays the panel.
QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuLayoutItem& Item);
const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuLayoutItem& Item);
QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuItem& Item);
const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuItem& Item);
QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuItemKeys& Keys);
const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuItemKeys& Keys);
QDBusArgument& operator<<(QDBusArgument& Argument, const TDBusMenuEvent& Event);
const QDBusArgument& operator>>(const QDBusArgument& Argument, TDBusMenuEvent& Event);

Q_DECLARE_METATYPE(TDBusMenuLayoutItem)
Q_DECLARE_METATYPE(TDBusMenuItem)
Q_DECLARE_METATYPE(TDBusMenuItemKeys)
Q_DECLARE_METATYPE(TDBusMenuEvent)

// A Qt caption ("&" marks the hotkey, "&&" is a plain "&") as a dbusmenu label
// ("_" marks the hotkey, "__" is a plain "_"), so names reach the panel exactly.
QString DBusMenuLabel(const QString& Caption);
