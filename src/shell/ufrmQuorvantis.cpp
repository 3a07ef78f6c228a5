#include "ufrmQuorvantis.h"

#include "uAssets.h"
#include "uCatalogueRefresh.h"
#include "uConst.h"
#include "uFaviconLoader.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uSingleInstance.h"
#include "uTDesktopMenu.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"
#include "uTMenuWindow.h"
#include "uTTrayIcon.h"
#include "uTTrayMenu.h"
#include "uTools.h"
#include "ufrmAbout.h"
#include "ufrmEbay.h"
#include "ufrmEditFavorites.h"
#include "ufrmSearch.h"
#include "ufrmSettings.h"
#include "ufrmStyleVoting.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QStatusTipEvent>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

TfrmQuorvantis::TfrmQuorvantis(const QStringList& Arguments, const QString& StartProblem, QObject* Parent)
    : QObject(Parent), FProgram(std::make_unique<TProgram>()) {
    FormCreate(Arguments, StartProblem);
}

TfrmQuorvantis::~TfrmQuorvantis() {
    FormDestroy();
}

void TfrmQuorvantis::FormCreate(const QStringList& Arguments, const QString& StartProblem) {
    TLogger& Log = FProgram->Logger();
    qApp->installEventFilter(this); // status tips are the application's hints
    connect(FProgram.get(), &TProgram::CatalogueReplaced, this, [this] {
        LoadFavicon();
        BuildMenu();
    });
    connect(FProgram.get(), &TProgram::LinksChanged, this, &TfrmQuorvantis::BuildMenu);
    connect(FProgram.get(), &TProgram::ShopSelectionChanged, this, &TfrmQuorvantis::BuildMenu);
    connect(FProgram.get(), &TProgram::LanguageChanged, this, &TfrmQuorvantis::ApplyLanguage);
    connect(FProgram.get(), &TProgram::CommandReceived, this, &TfrmQuorvantis::ExecuteCommand);
    try {
        Log.Debug(QStringLiteral("Starting..."));
        // Where help documents and pictures are looked for, in order: the first answer to "why this file?".
        Log.Debug(QStringLiteral("Asset folders: ") + AssetFolders().join(QStringLiteral("; ")));
        if (!StartProblem.isEmpty())
            Log.Error(QStringLiteral("FormCreate: ") + StartProblem);
        DisplayHint(QString());
        SetupTray();
        ApplyLanguage();
        SxTrayIcon->SetToolTip(QString::fromUtf8(ProgramName));
        mnuTrayMenu->SetSideBarCaption(QString::fromUtf8(ProgramName));
        SxTrayIcon->Show();
        FProgram->InitRef();

        // Listening before the catalogue request: a second start is taken at once and
        // served when what it needs is there, however long the server takes.
        WriteSetting(Setting::Handle, static_cast<int>(::getpid()));
        FHook = new TCommandListener(this);
        connect(FHook, &TCommandListener::CommandReceived, FProgram.get(), &TProgram::QueueCommand);
        QString ListenError;
        if (!FHook->Listen(ListenError))
            throw EQuorvantis(
                QStringLiteral("Cannot listen for commands on %1: %2").arg(TInstanceGuard::SocketName(), ListenError));
    } catch (const std::exception& E) {
        Log.Error(QStringLiteral("FormCreate: ") + ExceptionMessage(E));
    }
    // A signal during the start ends the program; it must not pop a menu up first.
    const QString Command = Arguments.size() > 1 ? Arguments.at(1) : QString();
    if (IsOnline())
        FProgram->GetUpdates([this, Command](UpdateState Status) { FinishStart(Status, Command); });
    else
        QTimer::singleShot(0, this, [this, Command] { FinishStart(0, Command); });
}

void TfrmQuorvantis::FinishStart(UpdateState Status, const QString& Command) {
    if (FDestroyed || FQuitRequested)
        return; // a shutdown ended the start: nothing more to show or serve
    try {
        if (FProgram->Catalogue().IsEmpty())
            Status = FProgram->LoadVersionFile();
        ShowStartupNotice(Status);
        if (!Command.isEmpty() && !FQuitRequested)
            FProgram->QueueCommand(Command);
        FProgram->Logger().Debug(QStringLiteral("Started"));
    } catch (const std::exception& E) {
        FProgram->Logger().Error(QStringLiteral("FormCreate: ") + ExceptionMessage(E));
    }
    FStarted = true;
    // So the first shop chosen finds the answer ready; not earlier, as the probe is a
    // shell script of some fifty processes that would compete with the start.
    PrimeBrowserDetection();
    Q_EMIT Started();
}

void TfrmQuorvantis::SetupTray() {
    imgImages = TImageList::WithFixedPictures();
    mnuTrayMenu = new TTrayMenu();
    FFixed = CreateFixedEntries(*mnuTrayMenu, imgImages);
    TProgram& Program = *FProgram;
    connect(FFixed.miClose, &QAction::triggered, this, &TfrmQuorvantis::miCloseClick);
    connect(FFixed.miStyleVoting, &QAction::triggered, this, [&Program] { ShowStyleVoting(Program); });
    connect(FFixed.miEbay, &QAction::triggered, this, [&Program] { ShowEbay(Program); });
    connect(FFixed.miSearch, &QAction::triggered, this, [&Program] { ShowSearch(Program); });
    connect(FFixed.miSettings, &QAction::triggered, this, [&Program] { ShowSettings(Program); });
    connect(FFixed.miInfo, &QAction::triggered, this, [&Program] { ShowInfo(Program); });

    SxTrayIcon = new TTrayIcon(TImageList::TrayIcon(), FProgram->Logger(), this);
    connect(SxTrayIcon, &TTrayIcon::MenuRequested, this, &TfrmQuorvantis::PopupMenu);
    // Also on X11: panels there (GNOME, Xfce, LXQt) draw the handed menu on a
    // right click instead of asking us; a left click still opens the drawn one.
    FDesktopMenu = new TDesktopMenu(this);
    SxTrayIcon->SetDesktopMenu(FDesktopMenu->Mirror(*mnuTrayMenu));
}

void TfrmQuorvantis::FormDestroy() {
    if (FDestroyed)
        return;
    FDestroyed = true;
    TLogger& Log = FProgram->Logger();
    try {
        FProgram->Shutdown(); // requests and the favicon thread
        StopBrowserDetection();
    } catch (const std::exception& E) {
        Log.Error(QStringLiteral("FormDestroy: ") + ExceptionMessage(E));
    }
    try {
        if (FHook)
            FHook->Close();
        WriteSetting(Setting::Handle, 0);
    } catch (const std::exception& E) {
        Log.Error(QStringLiteral("FormDestroy: ") + ExceptionMessage(E));
    }
    try {
        delete FHook;
        FHook = nullptr;
        delete SxTrayIcon;
        SxTrayIcon = nullptr;
        delete FDesktopMenu;
        FDesktopMenu = nullptr;
        delete mnuTrayMenu;
        mnuTrayMenu = nullptr;
    } catch (const std::exception& E) {
        Log.Error(QStringLiteral("FormDestroy: ") + ExceptionMessage(E));
    }
    qApp->removeEventFilter(this);
}

void TfrmQuorvantis::ApplyLanguage() {
    // Each window follows the program's language signal itself.
    if (mnuTrayMenu)
        ApplyFixedEntryTexts(FFixed);
}

// ---- catalogue ------------------------------------------------------------------

void TfrmQuorvantis::LoadFavicon() {
    try {
        LoadFavicons(imgImages, FProgram->GetShops(), FProgram->Links(), FProgram->Logger());
        if (IsOnline())
            FProgram->StartFaviconThread();
    } catch (const std::exception& E) {
        FProgram->Logger().Error(QStringLiteral("LoadFavicon: ") + ExceptionMessage(E));
    }
}

void TfrmQuorvantis::BuildMenu() {
    if (!mnuTrayMenu)
        return;
    if (FDesktopMenu)
        FDesktopMenu->Detach(); // the rebuild deletes the entries it shares
    BuildTrayMenu(*mnuTrayMenu, TMenuBuildInput{FProgram->Catalogue().SortedShops, FProgram->ShopParams(),
                                                FProgram->Links(), imgImages, [this] { miNewLinkClick(); }});
    if (FDesktopMenu)
        SxTrayIcon->SetDesktopMenu(FDesktopMenu->Mirror(*mnuTrayMenu));
}

QMenu* TfrmQuorvantis::DesktopMenu() const {
    return FDesktopMenu ? FDesktopMenu->Root() : nullptr;
}

// ---- notices ----------------------------------------------------------------------

void TfrmQuorvantis::ShowStartupNotice(UpdateState Status) {
    const bool First = ReadSetting(Setting::First);
    const QString Text = StartupBalloonText(Status, First);
    if (First)
        WriteSetting(Setting::First, false);
    if (Text.isEmpty())
        return;
    FLastBalloon = Text;
    SxTrayIcon->ShowBalloon(QString::fromUtf8(ProgramName), Text);
}

bool TfrmQuorvantis::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::StatusTip)
        DisplayHint(static_cast<QStatusTipEvent*>(Event)->tip());
    return QObject::eventFilter(Watched, Event);
}

// ---- menu and commands --------------------------------------------------------------

void TfrmQuorvantis::PopupMenu(const QPoint& Pos) {
    // A click on the icon while the menu is open only closes it.
    if (FQuitRequested || FMenuOpen || !mnuTrayMenu)
        return;
    if (FProgram->IsWaitingOnUser()) {
        // A question box is open: the menu follows once it is answered.
        FProgram->QueueCommand(QStringLiteral("show"));
        return;
    }
    FMenuOpen = true;
    FProgram->BeginUserWait();
    if (IsWaylandSession())
        TMenuWindow::Exec(*mnuTrayMenu); // no pop-up at a cursor position there
    else
        mnuTrayMenu->exec(Pos);
    FMenuOpen = false;
    FProgram->EndUserWait();
}

void TfrmQuorvantis::ExecuteCommand(const QString& Command) {
    const QString Word = AsciiLower(Command);
    if (Word == QLatin1String("show")) {
        if (mnuTrayMenu)
            mnuTrayMenu->HighlightFirstEntryWhenShown(); // opened by keyboard, not at a click
        PopupMenu(QCursor::pos());
        return;
    }
    // Every shop of that name, not only the first.
    for (const TShopPtr& Shop : GetShops())
        if (AsciiLower(Shop->GetName()) == Word)
            OpenURL(Shop->GetShopURL());
}

void TfrmQuorvantis::miNewLinkClick() {
    try {
        TURLItem Item;
        FProgram->BeginUserWait();
        bool Added = false;
        try {
            Added = EditFavorite(*FProgram, Item) && FProgram->Links().Add(Item);
        } catch (...) {
            FProgram->EndUserWait();
            throw;
        }
        FProgram->EndUserWait();
        if (Added)
            FProgram->NotifyLinksChanged(); // the menu, and an open settings dialog's list
    } catch (const std::exception& E) {
        FProgram->Logger().Error(QStringLiteral("miNewLinkClick: ") + ExceptionMessage(E));
    }
}

void TfrmQuorvantis::miCloseClick() {
    RequestShutdown();
}

void TfrmQuorvantis::RequestShutdown() {
    FQuitRequested = true;
    FProgram->Shutdown();
    if (QWidget* Popup = QApplication::activePopupWidget())
        Popup->close();
    if (QWidget* Modal = QApplication::activeModalWidget()) {
        if (auto* Dialog = qobject_cast<QDialog*>(Modal))
            Dialog->reject();
        else
            Modal->close();
    }
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}
