#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

class TLogger;

// Desktop notifications of our own over org.freedesktop.Notifications. Each one
// offers the "default" action (services report a click only for an action that
// was offered) and names our desktop entry. The service tells every listener
// about every click, so only clicks on the ids it gave us count.
class TNotifications final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TNotifications)
public:
    TNotifications(const QDBusConnection& Bus, TLogger& Logger, QObject* Parent = nullptr);

    // A notification service runs on the session bus.
    bool IsAvailable() const;
    void Send(const QString& Title, const QString& Text, int TimeoutMs, const QImage& Image);
    // Ids of ours that the service still shows.
    const QSet<uint>& OwnIds() const { return FOwn; }

Q_SIGNALS:
    // The user clicked one of our notifications.
    void Clicked();

private Q_SLOTS:
    void ActionInvoked(uint Id, const QString& Action);
    void NotificationClosed(uint Id, uint Reason);

private:
    QDBusConnection FBus;
    TLogger& FLogger;
    QSet<uint> FOwn;
};
