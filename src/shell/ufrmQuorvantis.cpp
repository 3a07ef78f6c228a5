#include "ufrmQuorvantis.h"

#include "uAssets.h"
#include "uCatalogueRefresh.h"
#include "uConst.h"
#include "uFaviconLoader.h"
#include "uRegistry.h"
#include "uSettingsKeys.h"
#include "uSingleInstance.h"
#include "uTDesktopMenu.h"
#include "uTImageList.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"
#include "uTMenuWindow.h"
#include "uTTrayIcon.h"
#include "uTTrayMenu.h"
#include "uTools.h"
#include "ufrmAbout.h"
#include "ufrmEbay.h"
#include "ufrmEditFavorites.h"
#include "ufrmHelp.h"
#include "ufrmSearch.h"
#include "ufrmSettings.h"
#include "ufrmStyleVoting.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QKeyEvent>
#include <QMenu>
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
    // Status tips are the application's hints; F1 opens the help.
    qApp->installEventFilter(this);
    // Every window of the program bears its icon, message boxes included.
    QApplication::setWindowIcon(TImageList::TrayIcon());
    connect(FProgram.get(), &TProgram::CatalogueReplaced, this, [this] {
        LoadFavicon();
        BuildMenu();
    });
    connect(FProgram.get(), &TProgram::StateChanged, this, [this](int Changes) {
        if ((Changes & TProgram::LinksChange) != 0)
            LoadFavicon(); // a new or renamed link may have its icon file already
        BuildMenu();
    });
    connect(FProgram.get(), &TProgram::ShopIconArrived, this, &TfrmQuorvantis::ShowShopIcon);
    connect(FProgram.get(), &TProgram::LinkIconArrived, this, &TfrmQuorvantis::ShowLinkIcon);
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
    // The stored catalogue is shown at once; the server's answer replaces it when it
    // arrives (however long that takes). Its verdict (0 without a file) stands when
    // the refresh fails.
    UpdateState FileStatus = 0;
    try {
        FileStatus = FProgram->LoadVersionFile();
        if (FProgram->Catalogue().IsEmpty())
            BuildMenu(); // the links, and why there are no shops yet
    } catch (const std::exception& E) {
        Log.Error(QStringLiteral("FormCreate: ") + ExceptionMessage(E));
    }
    // A signal during the start ends the program; it must not pop a menu up first.
    const QString Command = Arguments.size() > 1 ? Arguments.at(1) : QString();
    if (IsOnline()) {
        FProgram->GetUpdates([this, Command, FileStatus](UpdateState Status) {
            FinishStart(Status == usError ? FileStatus : Status, Command);
        });
    } else {
        QTimer::singleShot(0, this, [this, Command, FileStatus] { FinishStart(FileStatus, Command); });
    }
}

void TfrmQuorvantis::FinishStart(UpdateState Status, const QString& Command) {
    if (FDestroyed || FQuitRequested)
        return; // a shutdown ended the start: nothing more to show or serve
    FStarted = true;
    try {
        // Deferred until the answer is in, so the icons of the server's shops are fetched.
        if (IsOnline())
            FProgram->StartFaviconThread();
        if (FProgram->Catalogue().IsEmpty())
            BuildMenu(); // now the hint says that none came
        ShowStartupNotice(Status);
        if (!Command.isEmpty() && !FQuitRequested)
            FProgram->QueueCommand(Command);
        FProgram->Logger().Debug(QStringLiteral("Started"));
    } catch (const std::exception& E) {
        FProgram->Logger().Error(QStringLiteral("FormCreate: ") + ExceptionMessage(E));
    }
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
    // The globe of every shop without a favicon: one name instead of 10,000 pictures.
    SxTrayIcon->NameMenuIcon(imgImages.Icon(TImageList::GlobeIndex), QStringLiteral("quorvantis-globe"));
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
    ApplyNoShopsText();
}

void TfrmQuorvantis::ApplyNoShopsText() {
    if (FNoShopsEntry)
        FNoShopsEntry->setText(FStarted && !FProgram->IsRefreshing() ? txtMenuNoShops() : txtMenuLoadingShops());
}

// ---- catalogue ------------------------------------------------------------------

void TfrmQuorvantis::LoadFavicon() {
    try {
        FProgram->StoreLinkIcons(
            LoadFavicons(imgImages, FProgram->GetShops(), FProgram->Links().LoadAll(), FProgram->Logger()));
        // At start the thread waits for the server's answer (FinishStart).
        if (FStarted && IsOnline())
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
    ++FMenuBuilds;
    FBuiltMenu =
        BuildTrayMenu(*mnuTrayMenu, TMenuBuildInput{FProgram->Catalogue().SortedShops, FProgram->ShopParams(),
                                                    FProgram->Links(), imgImages, [this] { miNewLinkClick(); }});
    if (FProgram->Catalogue().IsEmpty()) {
        // Not a silent menu of fixed entries: it says why there are no shops.
        FNoShopsEntry = new QAction(mnuTrayMenu);
        FNoShopsEntry->setObjectName(QStringLiteral("miNoShops"));
        FNoShopsEntry->setEnabled(false);
        ApplyNoShopsText();
        mnuTrayMenu->insertAction(mnuTrayMenu->actions().value(0), FNoShopsEntry);
    }
    if (FDesktopMenu)
        SxTrayIcon->SetDesktopMenu(FDesktopMenu->Mirror(*mnuTrayMenu));
}

void TfrmQuorvantis::ShowShopIcon(int ShopId) {
    try {
        imgImages.AddShopIconFile(ShopId);
        if (FBuiltMenu)
            FBuiltMenu->ShopIconChanged(ShopId);
    } catch (const std::exception& E) {
        FProgram->Logger().Error(QStringLiteral("LoadFavicon: ") + ExceptionMessage(E));
    }
}

void TfrmQuorvantis::ShowLinkIcon(const QString& Name) {
    try {
        TURLItem Item;
        Item.Name = Name;
        if (!FProgram->Links().Load(Item) || Item.URL.isEmpty())
            return;
        Item.Icon = LoadLinkIcon(imgImages, Name, FProgram->Logger());
        if (Item.Icon == 0)
            return;
        FProgram->StoreLinkIcons({Item});
        if (FBuiltMenu)
            FBuiltMenu->LinkIconChanged(Name, Item.Icon);
    } catch (const std::exception& E) {
        FProgram->Logger().Error(QStringLiteral("LoadFavicon: ") + ExceptionMessage(E));
    }
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
    if (Event->type() == QEvent::KeyPress) {
        // F1 in any of the program's windows does what their Hilfe buttons do; not in the
        // tray menu, whose pop-up holds the keyboard until it closes.
        const auto* Key = static_cast<QKeyEvent*>(Event);
        const auto* Widget = qobject_cast<QWidget*>(Watched);
        if (Key->key() == Qt::Key_F1 && Key->modifiers() == Qt::NoModifier && Widget != nullptr &&
            !qobject_cast<QMenu*>(Widget->window())) {
            if (!Key->isAutoRepeat())
                ShowHelp(*FProgram);
            return true;
        }
    }
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
        try {
            // The program tells the menu and an open settings dialog.
            if (EditFavorite(*FProgram, Item))
                FProgram->AddLink(Item);
        } catch (...) {
            FProgram->EndUserWait();
            throw;
        }
        FProgram->EndUserWait();
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
