#pragma once

#include "uTImageList.h"
#include "uTProgram.h"
#include "uTrayMenuBuilder.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

class TCommandListener;
class TDesktopMenu;
class TLogger;
class TMenuItemManager;
class TTrayIcon;
class TTrayMenu;
class QMenu;

// The hidden main window: the tray icon and its menu on top of the program object,
// which owns the catalogue, the links and every request. It never shows itself; the
// user sees only the tray icon and its menu.
class TfrmQuorvantis final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmQuorvantis)
public:
    // Runs the start sequence; its network part ends in the background (Started).
    // Arguments are the program's (index 0 = program).
    explicit TfrmQuorvantis(const QStringList& Arguments, const QString& StartProblem = {}, QObject* Parent = nullptr);
    ~TfrmQuorvantis() override;

    void FormDestroy();

    TProgram& Program() { return *FProgram; }
    // The start sequence has ended (the catalogue is in, "Started" logged).
    bool IsStarted() const { return FStarted; }

    void ExecuteCommand(const QString& Command);
    void ApplyLanguage();
    void LoadFavicon();
    void BuildMenu();
    void DisplayHint(const QString& Hint) { FProgram->DisplayHint(Hint); }

    // Shorthands of the program object, for the menu and the tests.
    void SetLanguage(int Language) { FProgram->SetLanguage(Language); }
    const TShopList& GetShops() const { return FProgram->GetShops(); }
    const TShopList& GetSortedShops() const { return FProgram->Catalogue().SortedShops; }
    QString GetCheck() const { return FProgram->GetCheck(); }
    int Ref() const { return FProgram->Ref(); }
    UpdateState LoadVersionFile() { return FProgram->LoadVersionFile(); }
    TLogger& Logger() const { return FProgram->Logger(); }
    const TMenuItemManager& MenuItemManager() const { return FProgram->Links(); }
    // How often the menu was built (each build replaces its whole dynamic part).
    int MenuBuilds() const { return FMenuBuilds; }

    TTrayMenu* TrayMenu() const { return mnuTrayMenu; }
    // The menu handed to the desktop (null on X11, where the drawn menu pops up).
    QMenu* DesktopMenu() const;
    const TImageList& Images() const { return imgImages; }
    // Set when a shutdown was asked for (signal, "Beenden") before the loop ran.
    bool QuitRequested() const { return FQuitRequested; }
    // The text of the last start-up balloon ("" when none was shown).
    QString LastBalloonText() const { return FLastBalloon; }

public Q_SLOTS:
    void miCloseClick();
    // Ends every request and a modal box first, then quits the event loop.
    void RequestShutdown();

Q_SIGNALS:
    // The start sequence has ended.
    void Started();

private:
    void FormCreate(const QStringList& Arguments, const QString& StartProblem);
    void FinishStart(UpdateState Status, const QString& Command);
    void SetupTray();
    void ShowStartupNotice(UpdateState Status);
    void PopupMenu(const QPoint& Pos);
    void miNewLinkClick();
    // A favicon fetched now: the entries that show it follow, without a rebuild.
    void ShowShopIcon(int ShopId);
    void ShowLinkIcon(const QString& Name);
    void ApplyNoShopsText();
    bool eventFilter(QObject* Watched, QEvent* Event) override;

    std::unique_ptr<TProgram> FProgram;
    TCommandListener* FHook = nullptr;
    TImageList imgImages;
    TTrayMenu* mnuTrayMenu = nullptr;
    TDesktopMenu* FDesktopMenu = nullptr; // Wayland: the menu as the desktop draws it
    TFixedEntries FFixed;
    std::shared_ptr<TBuiltMenu> FBuiltMenu;
    QPointer<QAction> FNoShopsEntry; // the disabled hint while the menu has no shops
    int FMenuBuilds = 0;
    TTrayIcon* SxTrayIcon = nullptr;

    bool FMenuOpen = false;
    bool FQuitRequested = false;
    bool FDestroyed = false;
    bool FStarted = false;
    QString FLastBalloon;
};
