#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>

class QSystemTrayIcon;
class QTimer;
class TLogger;

// The notification-area icon. A left press and a right click both ask for the
// menu at the cursor; the menu is never handed to the desktop shell (which would
// drop our own drawing). Without a tray host the program keeps running: one INFO
// line says so, and the icon is tried again for a while (autostart often runs
// before the panel). A balloon asked for before the icon is visible is shown once
// it is, and a click on it opens the menu (a notification does not point at the
// icon as a balloon does); when no tray host turns up at all, one desktop
// notification says that the program runs and how to open its menu.
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

Q_SIGNALS:
    void MenuRequested(const QPoint& GlobalPos);

private:
    void TryShow();
    void ShowPendingBalloon();
    void NotifyNoTray();

    QSystemTrayIcon* FIcon;
    QTimer* FRetry;
    TLogger& FLogger;
    int FAttempts = 0;
    bool FReportedMissing = false;
    QString FPendingTitle;
    QString FPendingText;
    int FPendingTimeoutMs = 0;
};
