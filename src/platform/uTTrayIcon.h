#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

#include <utility>

class QMenu;
class QSystemTrayIcon;
class QTimer;
class TDBusMenuExporter;
class TLogger;
class TNotifications;
class TStatusNotifierItem;
class TXEmbedWatch;

// The notification-area icon. It appears whenever a panel appears: at start, later
// (autostart often wins the race against the panel) or after a panel restart.
// Where a StatusNotifierWatcher runs on the session bus (KDE Plasma, GNOME's
// AppIndicator extension, waybar, Xfce and LXQt panels) the icon is our own
// StatusNotifierItem, registered with each watcher that turns up. Otherwise, on
// X11, Qt's icon docks into an XEmbed notification area (the owner of the
// _NET_SYSTEM_TRAY_S<screen> selection) as soon as one exists. Qt's icon is never
// created while a watcher runs: Qt asks once whether one exists and would keep
// that answer for the life of the process.
//
// On X11 a click on the icon asks for the drawn menu at the icon. Where a program
// cannot place a pop-up (Wayland) the menu is handed to the panel, which draws
// it at the icon. Without a panel the program keeps running: one INFO line says
// so, and after a minute one desktop notification says how to open the menu.
// Notices go out as desktop notifications where a notification service runs or
// D-Bus starts one (a click on one of ours opens the menu), otherwise as the
// XEmbed icon's balloon, otherwise once a notification service appears; a
// notice asked for before the icon is shown waits for it.
class TTrayIcon final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TTrayIcon)
public:
    TTrayIcon(const QIcon& Icon, TLogger& Logger, QObject* Parent = nullptr);
    ~TTrayIcon() override;

    void SetToolTip(const QString& Text);
    // Starts showing the icon, now and whenever a panel appears.
    void Show();
    // A notice with the information icon; false when it has to wait for the icon.
    bool ShowBalloon(const QString& Title, const QString& Text, int TimeoutMs = 10000);
    bool IsShown() const { return FShown; }
    // The notice sent when no tray host turns up, in the current language.
    static QString NoTrayNoticeText();
    // Hands Menu to the panel, which draws it at the icon (StatusNotifier panels
    // only). Menu must outlive this icon or be replaced first.
    void SetDesktopMenu(QMenu* Menu);
    // A picture that many entries of the handed menu share: put into an icon
    // folder of ours, and named to the panels that look there.
    void NameMenuIcon(const QIcon& Icon, const QString& Name);
    bool HasDesktopMenu() const;

Q_SIGNALS:
    void MenuRequested(const QPoint& GlobalPos);

private Q_SLOTS:
    // The watcher dropped an item: ours is registered again (GNOME's extension
    // drops an item whose set-up failed, with the item still running).
    void ItemUnregistered(const QString& Item);

private:
    void RequestMenu(const QPoint& Pos, const QString& Source);
    void EmitMenuRequestOnceInputIsFree(const QPoint& Pos, int Attempt);
    void Update();
    void RetryTick();
    void RegisterItem();
    void ShowQtIcon();
    void SetShown(bool Shown, const QString& Where);
    void ShowPendingBalloon();
    void NotifyNoTray();
    void ReportNoTray();
    // Whether the watcher's panel draws the menu icons we name (from IconThemePath).
    bool PanelTakesIconNames() const;

    QDBusConnection FBus;
    QIcon FIconImage;
    QString FToolTip;
    TLogger& FLogger;
    TStatusNotifierItem* FItem = nullptr;
    TDBusMenuExporter* FMenu = nullptr;
    // The icon folder of ours, and what it holds (name, picture).
    QString FIconThemePath;
    QList<std::pair<QString, QIcon>> FMenuIcons;
    // Whether the panel of the watcher we registered with takes them by name.
    bool FIconNamesTaken = false;
    TNotifications* FNotifications = nullptr;
    TXEmbedWatch* FXEmbed = nullptr;
    QSystemTrayIcon* FQtIcon = nullptr;
    QTimer* FRetry;
    int FAttempts = 0;
    int FRegisterFailures = 0;
    int FDrops = 0;
    bool FStarted = false;
    bool FRegistered = false;
    bool FRegistering = false;
    bool FShown = false;
    bool FMenuQueued = false;
    bool FOverviewAsked = false; // asked GNOME's overview to close for the menu waiting now
    // "No notification area" waits for the answer of a watcher asked just now.
    bool FReportNoTray = false;
    QString FPendingTitle;
    QString FPendingText;
    int FPendingTimeoutMs = 0;
};
