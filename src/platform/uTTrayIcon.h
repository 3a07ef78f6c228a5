#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>

class QMenu;
class QSystemTrayIcon;
class QTimer;
class TLogger;

// The notification-area icon. On X11 a left press and a right click both ask for
// the menu at the cursor, and the menu is never handed to the desktop shell
// (which would drop our own drawing). Where the program cannot place a pop-up at
// the cursor (Wayland) the menu is handed to the desktop instead, which draws it
// at the icon. Without a tray host the program keeps running: one INFO line says
// so, and the icon is tried again for a while (autostart often runs before the
// panel). A balloon asked for before the icon is visible is shown once it is, and
// a click on it opens the menu (a notification does not point at the icon as a
// balloon does); when no tray host turns up at all, one desktop notification says
// that the program runs and how to open its menu.
class TTrayIcon final : public QObject {
    Q_OBJECT
public:
    TTrayIcon(const QIcon& Icon, TLogger& Logger, QObject* Parent = nullptr);
    ~TTrayIcon() override;

    void SetToolTip(const QString& Text);
    void Show();
    // A balloon with the information icon; false when it has to wait for the icon.
    bool ShowBalloon(const QString& Title, const QString& Text, int TimeoutMs = 10000);
    bool IsShown() const;
    // The notice sent when no tray host turns up, in the current language.
    static QString NoTrayNoticeText();
    // Hands Menu to the desktop, which draws it at the icon on a right click (and
    // on a left click where the desktop treats the icon as a menu); a click then
    // no longer asks for the drawn menu, except a left click that the desktop
    // reports as an activation. Menu must outlive this icon or be replaced first.
    void SetDesktopMenu(QMenu* Menu);
    bool HasDesktopMenu() const;

Q_SIGNALS:
    void MenuRequested(const QPoint& GlobalPos);

private:
    void RequestMenu();
    void TryShow();
    void ShowPendingBalloon();
    void NotifyNoTray();

    QSystemTrayIcon* FIcon;
    QTimer* FRetry;
    TLogger& FLogger;
    int FAttempts = 0;
    bool FReportedMissing = false;
    bool FMenuQueued = false;
    QString FPendingTitle;
    QString FPendingText;
    int FPendingTimeoutMs = 0;
};
