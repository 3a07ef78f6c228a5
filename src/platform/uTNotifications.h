#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

class QDBusServiceWatcher;
class TLogger;

// Desktop notifications of our own over org.freedesktop.Notifications. Each one
// offers the "default" action (services report a click only for an action that
// was offered) and names our desktop entry. The service tells every listener
// about every click, so only clicks on the ids it gave us count.
//
// The service need not run yet: where D-Bus starts it on demand (Xfce at login)
// the first notice starts it; where none can be started yet (Plasma while its
// shell starts) the latest notice waits and goes out once a service appears.
class TNotifications final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TNotifications)
public:
    TNotifications(const QDBusConnection& Bus, TLogger& Logger, QObject* Parent = nullptr);

    // A notification service runs on the session bus, or D-Bus starts one when asked.
    bool IsAvailable() const;
    // Sends the notice now, or once a service appears.
    void Send(const QString& Title, const QString& Text, int TimeoutMs, const QImage& Image);
    // Ids of ours that the service still shows.
    const QSet<uint>& OwnIds() const { return FOwn; }
    bool IsWaiting() const { return !FPendingText.isEmpty(); }

Q_SIGNALS:
    // The user clicked one of our notifications.
    void Clicked();

private Q_SLOTS:
    void ActionInvoked(uint Id, const QString& Action);
    void NotificationClosed(uint Id, uint Reason);

private:
    void SendNow(const QString& Title, const QString& Text, int TimeoutMs, const QImage& Image);
    void Wait(const QString& Title, const QString& Text, int TimeoutMs, const QImage& Image);
    void ServiceAppeared();
    void AskServerName();

    QDBusConnection FBus;
    TLogger& FLogger;
    QDBusServiceWatcher* FWatcher = nullptr;
    QSet<uint> FOwn;
    // Ids whose action was reported: their closing is no click of its own.
    QSet<uint> FActed;
    // xfce4-notifyd only closes a notice when its body is clicked; there that is the click.
    bool FBodyClickCloses = false;
    QString FPendingTitle;
    QString FPendingText;
    int FPendingTimeoutMs = 0;
    QImage FPendingImage;
};
