#pragma once

#include "uTHTTPClient.h"
#include "uTImageList.h"
#include "uTUpdateVersion.h"
#include "uTrayMenuBuilder.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QStringList>
#include <memory>

class TCommandListener;
class TDesktopMenu;
class TFaviconThread;
class TLogger;
class TMenuItemManager;
class TTrayIcon;
class TTrayMenu;

// The hidden main window: owns the log, the catalogue, the personal links, the
// HTTP client, the favicon thread, the hand-off listener, the tray icon and the
// tray menu. It never shows itself; the user sees only the tray icon and its menu.
class TfrmQuorvantis final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmQuorvantis)
public:
    // Runs the start sequence. Arguments are the program's (index 0 = program).
    explicit TfrmQuorvantis(const QStringList& Arguments, const QString& StartProblem = {}, QObject* Parent = nullptr);
    ~TfrmQuorvantis() override;

    void FormDestroy();

    void ExecuteCommand(const QString& Command);
    void SetLanguage(int Language);
    void ApplyLanguage();
    UpdateState RefreshCatalogue(bool Force);
    UpdateState GetUpdates();
    UpdateState LoadVersionFile();
    void LoadFavicon();
    void StartFaviconThread();
    void BuildMenu();
    bool IsShopVisible(const QString& Category, const QString& Name) const;
    void SetShopVisible(const QString& Category, const QString& Name, bool Visible);
    void ShowNews();
    void DisplayHint(const QString& Hint);

    bool SendGewinnspiel(const QString& Email, const QString& Prename, const QString& Name, const QString& Street,
                         const QString& PLZ, const QString& City, const QString& Country);
    bool SendNewsletter(const QString& Email, bool Order);
    bool SendFeedback(const QString& Email, const QString& Subject, const QString& Feedback);
    bool SendToServer(const QString& URL);
    // Downloads the installer the catalogue names and starts it; ProgressBar shows the transfer.
    bool DownloadUpdate(QProgressBar* ProgressBar);

    // Catalogue access for the windows; the lists stay owned by the catalogue.
    const TShopList& GetShops() const { return FUpdateVersion->Shops; }
    const TShopList& GetSortedShops() const { return FUpdateVersion->SortedShops; }
    const TSearchEngineList& GetSearchEngines() const { return FUpdateVersion->SearchEngines; }
    const QStringList& GetCategories() const { return FUpdateVersion->Categories; }
    QString GetCheck() const { return FUpdateVersion->Check; }
    bool IsGameActive() const { return FUpdateVersion->IsGameActive(); }
    // The version verdict of the catalogue loaded now, without any network access.
    UpdateState GetUpdateState() const;
    TShopPtr FindShop(const QString& Name, const QString& Category) const;

    int Ref() const { return FRef; }
    TLogger& Logger() const { return *FLogger; }
    TUpdateVersion& Catalogue() const { return *FUpdateVersion; }
    TMenuItemManager& MenuItemManager() const { return *FMenuItemManager; }
    TTrayMenu* TrayMenu() const { return mnuTrayMenu; }
    // The menu handed to the desktop (null on X11, where the drawn menu pops up).
    QMenu* DesktopMenu() const;
    const TImageList& Images() const { return imgImages; }
    THTTPClient& HTTP() { return IdHTTP; }
    void SetProgressBar(QProgressBar* Bar) { FProgressBar = Bar; }
    // Set when a shutdown was asked for (signal, "Beenden") before the loop ran.
    bool QuitRequested() const { return FQuitRequested; }
    // The text of the last start-up balloon ("" when none was shown).
    QString LastBalloonText() const { return FLastBalloon; }

public Q_SLOTS:
    void miCloseClick();
    // Ends a running request or modal box first, then quits the event loop.
    void RequestShutdown();

Q_SIGNALS:
    // For windows that show hints in their status bars.
    void HintChanged(const QString& Text);

private:
    void FormCreate(const QStringList& Arguments, const QString& StartProblem);
    void InitRef();
    void SetupTray();
    void ShowStartupNotice(UpdateState Status);
    void PopupMenu(const QPoint& Pos);
    // A hand-off command arrived: queued, and served once no request or box is open.
    void CommandMessage(const QString& Command);
    void ServePending();
    void miNewLinkClick();
    void IdHTTPWorkBegin(qint64 Expected);
    void IdHTTPWork(qint64 SoFar);
    void IdHTTPWorkEnd();
    bool eventFilter(QObject* Watched, QEvent* Event) override;

    // A request of the main client is running: hand-off commands and tray clicks wait.
    class TRequestScope;
    // The main window waits on the user (menu, question or edit box).
    class TUserWaitScope;

    std::unique_ptr<TLogger> FLogger;
    std::unique_ptr<TUpdateVersion> FUpdateVersion;
    QPointer<QProgressBar> FProgressBar;
    TCommandListener* FHook = nullptr;
    std::unique_ptr<TFaviconThread> FFaviconThread;
    int FRef = 0;
    std::unique_ptr<TMenuItemManager> FMenuItemManager;
    THTTPClient IdHTTP;
    TImageList imgImages;
    TTrayMenu* mnuTrayMenu = nullptr;
    TDesktopMenu* FDesktopMenu = nullptr; // Wayland: the menu as the desktop draws it
    TFixedEntries FFixed;
    TTrayIcon* SxTrayIcon = nullptr;

    int FRequestDepth = 0;
    int FUserWaitDepth = 0;
    bool FKeepLogger = false;
    QStringList FPendingCommands; // hand-off commands not served yet, oldest first
    bool FPendingPopup = false;
    bool FMenuOpen = false;
    bool FQuitRequested = false;
    bool FDestroyed = false;
    QString FLastBalloon;
};

// The one main window of the process (null before it exists and after it is gone).
TfrmQuorvantis* frmQuorvantis();
