#include "ufrmQuorvantis.h"

#include "uAssets.h"
#include "uCatalogueRefresh.h"
#include "uConst.h"
#include "uFaviconLoader.h"
#include "uRegistry.h"
#include "uServerSubmissions.h"
#include "uSettingsKeys.h"
#include "uSingleInstance.h"
#include "uTDesktopMenu.h"
#include "uTFaviconThread.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"
#include "uTMenuWindow.h"
#include "uTTrayIcon.h"
#include "uTTrayMenu.h"
#include "uTools.h"
#include "uUpdateDownload.h"
#include "ufrmAbout.h"
#include "ufrmEbay.h"
#include "ufrmEditFavorites.h"
#include "ufrmHelp.h"
#include "ufrmSearch.h"
#include "ufrmSettings.h"
#include "ufrmSoftwareUpdate.h"
#include "ufrmStyleVoting.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QLocalSocket>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QStatusTipEvent>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

namespace {
TfrmQuorvantis* MainWindow = nullptr;
constexpr int MaxRandomRef = 2147483646;
// Shutdown ends within 2 s whatever a server does; the aborted icon request needs far less.
constexpr int FaviconStopMs = 1500;

// The hourglass for the whole screen, restored however the scope is left.
class TWaitCursor final {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};
} // namespace

TfrmQuorvantis* frmQuorvantis() {
    return MainWindow;
}

// The main window waits on the user (an open menu or box): senders queued meanwhile
// are told so, and everything queued is served as soon as the wait ends.
class TfrmQuorvantis::TUserWaitScope final {
public:
    explicit TUserWaitScope(TfrmQuorvantis& Owner) : FOwner(Owner) {
        if (FOwner.FUserWaitDepth++ == 0)
            for (const QPointer<QLocalSocket>& Connection : FOwner.FPendingCommands)
                TCommandListener::NotifyWaiting(Connection);
    }
    ~TUserWaitScope() {
        if (--FOwner.FUserWaitDepth == 0)
            QTimer::singleShot(0, &FOwner, &TfrmQuorvantis::ServePending);
    }
    TUserWaitScope(const TUserWaitScope&) = delete;
    TUserWaitScope& operator=(const TUserWaitScope&) = delete;

private:
    TfrmQuorvantis& FOwner;
};

class TfrmQuorvantis::TRequestScope final {
public:
    explicit TRequestScope(TfrmQuorvantis& Owner) : FOwner(Owner) { ++FOwner.FRequestDepth; }
    ~TRequestScope() {
        if (--FOwner.FRequestDepth == 0)
            QTimer::singleShot(0, &FOwner, &TfrmQuorvantis::ServePending);
    }
    TRequestScope(const TRequestScope&) = delete;
    TRequestScope& operator=(const TRequestScope&) = delete;

private:
    TfrmQuorvantis& FOwner;
};

TfrmQuorvantis::TfrmQuorvantis(const QStringList& Arguments, const QString& StartProblem, QObject* Parent)
    : QObject(Parent) {
    MainWindow = this;
    FormCreate(Arguments, StartProblem);
}

TfrmQuorvantis::~TfrmQuorvantis() {
    FormDestroy();
    if (MainWindow == this)
        MainWindow = nullptr;
}

void TfrmQuorvantis::FormCreate(const QStringList& Arguments, const QString& StartProblem) {
    FProgressBar = nullptr;
    FFaviconThread.reset();
    FLogger = std::make_unique<TLogger>(QString::fromUtf8(ProgramName));
    FUpdateVersion = std::make_unique<TUpdateVersion>(FLogger.get());
    FMenuItemManager = std::make_unique<TMenuItemManager>(QString::fromUtf8(FavoritesKey));
    qApp->installEventFilter(this); // status tips are the application's hints

    try {
        FLogger->Debug(QStringLiteral("Starting..."));
        // Where help documents and pictures are looked for, in order: the first answer to "why this file?".
        FLogger->Debug(QStringLiteral("Asset folders: ") + AssetFolders().join(QStringLiteral("; ")));
        if (!StartProblem.isEmpty())
            FLogger->Error(QStringLiteral("FormCreate: ") + StartProblem);
        DisplayHint(QString());
        PrimeBrowserDetection(); // so the first shop chosen finds the answer ready
        SetupTray();
        ApplyLanguage();
        SxTrayIcon->SetToolTip(QString::fromUtf8(ProgramName));
        mnuTrayMenu->SetSideBarCaption(QString::fromUtf8(ProgramName));
        SxTrayIcon->Show();
        InitRef();

        UpdateState Status = 0;
        if (IsOnline())
            Status = GetUpdates();
        if (FUpdateVersion->IsEmpty())
            Status = LoadVersionFile();
        ShowStartupNotice(Status);

        // A signal during the start ends the program; it must not pop a menu up first.
        if (Arguments.size() > 1 && !FQuitRequested)
            ExecuteCommand(Arguments.at(1));

        WriteSetting(Setting::Handle, static_cast<int>(::getpid()));
        FHook = new TCommandListener(this);
        connect(FHook, &TCommandListener::MessageReceived, this, &TfrmQuorvantis::CommandMessage);
        QString ListenError;
        if (!FHook->Listen(ListenError))
            throw EQuorvantis(
                QStringLiteral("Cannot listen for commands on %1: %2").arg(TInstanceGuard::SocketName(), ListenError));
        FLogger->Debug(QStringLiteral("Started"));
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("FormCreate: ") + ExceptionMessage(E));
    }
}

void TfrmQuorvantis::SetupTray() {
    imgImages = TImageList::WithFixedPictures();
    mnuTrayMenu = new TTrayMenu();
    FFixed = CreateFixedEntries(*mnuTrayMenu, imgImages);
    connect(FFixed.miClose, &QAction::triggered, this, &TfrmQuorvantis::miCloseClick);
    connect(FFixed.miStyleVoting, &QAction::triggered, this, [] { ShowStyleVoting(); });
    connect(FFixed.miEbay, &QAction::triggered, this, [] { ShowEbay(); });
    connect(FFixed.miSearch, &QAction::triggered, this, [] { ShowSearch(); });
    connect(FFixed.miSettings, &QAction::triggered, this, [] { ShowSettings(); });
    connect(FFixed.miInfo, &QAction::triggered, this, [] { ShowInfo(); });

    SxTrayIcon = new TTrayIcon(TImageList::TrayIcon(), *FLogger, this);
    connect(SxTrayIcon, &TTrayIcon::MenuRequested, this, &TfrmQuorvantis::PopupMenu);
    if (IsWaylandSession()) {
        FDesktopMenu = new TDesktopMenu(this);
        SxTrayIcon->SetDesktopMenu(FDesktopMenu->Mirror(*mnuTrayMenu));
    }

    IdHTTP.Options().ReadTimeoutMs = ServerIdleTimeoutMs;
    IdHTTP.OnWorkBegin = [this](qint64 Expected) { IdHTTPWorkBegin(Expected); };
    IdHTTP.OnWork = [this](qint64 SoFar) { IdHTTPWork(SoFar); };
    IdHTTP.OnWorkEnd = [this] { IdHTTPWorkEnd(); };
}

void TfrmQuorvantis::FormDestroy() {
    if (FDestroyed)
        return;
    FDestroyed = true;
    try {
        if (FFaviconThread) {
            // The request in progress is aborted; a thread that still does not end
            // must not keep the process (and every later start) waiting.
            FFaviconThread->requestInterruption();
            if (FFaviconThread->wait(FaviconStopMs)) {
                FFaviconThread.reset();
            } else {
                FLogger->Error(QStringLiteral("FormDestroy: the favicon thread did not stop; leaving it behind"));
                (void)FFaviconThread.release();
                FKeepLogger = true; // the thread may still write a line
            }
        }
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("FormDestroy: ") + ExceptionMessage(E));
    }
    try {
        if (FHook)
            FHook->Close();
        WriteSetting(Setting::Handle, 0);
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("FormDestroy: ") + ExceptionMessage(E));
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
        FMenuItemManager.reset();
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("FormDestroy: ") + ExceptionMessage(E));
    }
    try {
        qApp->removeEventFilter(this);
        FUpdateVersion.reset();
        if (FKeepLogger)
            (void)FLogger.release();
        else
            FLogger.reset();
    } catch (...) {
    }
}

void TfrmQuorvantis::InitRef() {
    FRef = ReadSetting(Setting::Ref);
    if (FRef >= 1)
        return;
    FRef = static_cast<int>(QRandomGenerator::global()->bounded(MaxRandomRef + 1));
    WriteSetting(Setting::Ref, FRef);
}

void TfrmQuorvantis::SetLanguage(int Language) {
    SetCurrentLanguage(Language);
    WriteSetting(Setting::Language, CurrentLanguage);
    ApplyLanguage();
}

void TfrmQuorvantis::ApplyLanguage() {
    if (mnuTrayMenu)
        ApplyFixedEntryTexts(FFixed);
    // The windows in their fixed order, each only when it exists.
    if (TfrmAbout* About = ExistingAbout())
        About->ApplyLanguage();
    if (TfrmEbay* Ebay = ExistingEbay())
        Ebay->ApplyLanguage();
    if (TfrmEditFavorites* Editor = ExistingEditFavorites())
        Editor->ApplyLanguage();
    if (TfrmHelp* Help = ExistingHelp())
        Help->ApplyLanguage();
    if (TfrmSearch* Search = ExistingSearch())
        Search->ApplyLanguage();
    if (TfrmSettings* Settings = ExistingSettings())
        Settings->ApplyLanguage();
    if (TfrmSoftwareUpdate* Update = ExistingSoftwareUpdate())
        Update->ApplyLanguage();
    if (TfrmStyleVoting* StyleVoting = ExistingStyleVoting())
        StyleVoting->ApplyLanguage();
}

// ---- catalogue ------------------------------------------------------------------

UpdateState TfrmQuorvantis::RefreshCatalogue(bool Force) {
    if (Force || FUpdateVersion->IsEmpty())
        return GetUpdates();
    return FUpdateVersion->GetUpdateState(ProgramVersion);
}

UpdateState TfrmQuorvantis::GetUpdateState() const {
    return FUpdateVersion->GetUpdateState(ProgramVersion);
}

UpdateState TfrmQuorvantis::GetUpdates() {
    // Hand-off commands and tray clicks wait for the whole refresh, the rebuilt menu included.
    TRequestScope Busy(*this);
    TRefreshResult Result;
    {
        TWaitCursor Hourglass;
        Result = DownloadCatalogue(IdHTTP, *FUpdateVersion, *FLogger, FRef);
    }
    if (!Result.Downloaded)
        return Result.State;
    try {
        LoadFavicon();
        BuildMenu();
        ShowNews();
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("GetUpdates: URL=") + Result.URL + QStringLiteral(": ") + ExceptionMessage(E));
    }
    return Result.State;
}

UpdateState TfrmQuorvantis::LoadVersionFile() {
    bool Loaded = false;
    const UpdateState State = LoadCatalogueFile(*FUpdateVersion, *FLogger, Loaded);
    if (!Loaded)
        return State;
    try {
        LoadFavicon();
        BuildMenu();
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("LoadVersionFile: ") + ExceptionMessage(E));
    }
    return State;
}

void TfrmQuorvantis::LoadFavicon() {
    try {
        LoadFavicons(imgImages, FUpdateVersion->Shops, *FMenuItemManager, *FLogger);
        if (IsOnline())
            StartFaviconThread();
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("LoadFavicon: ") + ExceptionMessage(E));
    }
}

void TfrmQuorvantis::StartFaviconThread() {
    if (FFaviconThread)
        return;
    FFaviconThread = std::make_unique<TFaviconThread>(
        FaviconShops(FUpdateVersion->Shops), FaviconLinks(*FMenuItemManager), FLogger.get(), GetInstallFolder());
    FFaviconThread->start();
}

void TfrmQuorvantis::BuildMenu() {
    if (FDesktopMenu)
        FDesktopMenu->Detach(); // the rebuild deletes the entries it shares
    BuildTrayMenu(*mnuTrayMenu, TMenuBuildInput{FUpdateVersion->SortedShops, ShopParams(FRef, GetCheck()),
                                                *FMenuItemManager, imgImages, [this] { miNewLinkClick(); }});
    if (FDesktopMenu)
        SxTrayIcon->SetDesktopMenu(FDesktopMenu->Mirror(*mnuTrayMenu));
}

QMenu* TfrmQuorvantis::DesktopMenu() const {
    return FDesktopMenu ? FDesktopMenu->Root() : nullptr;
}

bool TfrmQuorvantis::IsShopVisible(const QString& Category, const QString& Name) const {
    return ::IsShopVisible(Category, Name);
}

void TfrmQuorvantis::SetShopVisible(const QString& Category, const QString& Name, bool Visible) {
    ::SetShopVisible(Category, Name, Visible);
}

TShopPtr TfrmQuorvantis::FindShop(const QString& Name, const QString& Category) const {
    for (const TShopPtr& Shop : FUpdateVersion->Shops)
        if (Shop->Name == Name && Shop->Category == Category)
            return Shop;
    return nullptr;
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

void TfrmQuorvantis::ShowNews() {
    const TNewsItemPtr Item = NewsItemToOffer(*FUpdateVersion, ReadSetting(Setting::LastNews));
    if (!Item)
        return;
    WriteSetting(Setting::LastNews, Item->Date);
    bool Read = false;
    {
        TUserWaitScope Asking(*this);
        Read = AskYesNo(Item->Title, NewsQuestionText(*Item));
    }
    if (Read)
        OpenURL(Item->GetNewsURL());
}

void TfrmQuorvantis::DisplayHint(const QString& Hint) {
    const QString Text = Hint.isEmpty() ? QStringLiteral("Quorvantis ") + ProgramVersion : ReplaceCRByBlank(Hint);
    Q_EMIT HintChanged(Text);
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
    if (FRequestDepth > 0 || FUserWaitDepth > 0) {
        FPendingPopup = true; // served when the request or box has ended
        return;
    }
    FMenuOpen = true;
    {
        TUserWaitScope Open(*this);
        if (IsWaylandSession())
            TMenuWindow::Exec(*mnuTrayMenu); // no pop-up at a cursor position there
        else
            mnuTrayMenu->exec(Pos);
    }
    FMenuOpen = false;
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
        if (AsciiLower(Shop->Name) == Word)
            OpenURL(Shop->GetShopURL());
}

void TfrmQuorvantis::CommandMessage(quint32 Message, QLocalSocket* Connection) {
    if (Message != WM_INSTANCECOMMAND) {
        TCommandListener::Acknowledge(Connection);
        return;
    }
    if (FRequestDepth > 0 || FUserWaitDepth > 0) {
        FPendingCommands.append(Connection);
        if (FUserWaitDepth > 0)
            TCommandListener::NotifyWaiting(Connection);
        return;
    }
    try {
        const QString Command = ReadSetting(Setting::Command);
        if (AsciiLower(Command) == QLatin1String("show"))
            TCommandListener::NotifyWaiting(Connection); // until the user closes the menu
        if (!Command.isEmpty())
            ExecuteCommand(Command);
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("CommandMessage: ") + ExceptionMessage(E));
    }
    TCommandListener::Acknowledge(Connection);
}

void TfrmQuorvantis::ServePending() {
    if (FRequestDepth > 0 || FUserWaitDepth > 0 || FQuitRequested)
        return;
    if (FPendingPopup) {
        FPendingPopup = false;
        PopupMenu(QCursor::pos());
    }
    while (!FPendingCommands.isEmpty() && FRequestDepth == 0 && FUserWaitDepth == 0 && !FQuitRequested) {
        QPointer<QLocalSocket> Connection = FPendingCommands.takeFirst();
        if (Connection)
            CommandMessage(WM_INSTANCECOMMAND, Connection);
    }
}

void TfrmQuorvantis::miNewLinkClick() {
    try {
        TURLItem Item;
        bool Added = false;
        {
            TUserWaitScope Editing(*this);
            Added = EditFavorite(Item) && FMenuItemManager->Add(Item);
        }
        if (!Added)
            return;
        BuildMenu();
        // An open settings dialog lists the new link at once.
        if (TfrmSettings* Settings = ExistingSettings())
            Settings->FillPersonalLinks();
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("miNewLinkClick: ") + ExceptionMessage(E));
    }
}

void TfrmQuorvantis::miCloseClick() {
    RequestShutdown();
}

void TfrmQuorvantis::RequestShutdown() {
    FQuitRequested = true;
    if (IdHTTP.IsBusy())
        IdHTTP.Abort();
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

// ---- submissions -----------------------------------------------------------------------

bool TfrmQuorvantis::SendToServer(const QString& URL) {
    TRequestScope Busy(*this);
    return ::SendToServer(IdHTTP, URL, CatalogueDeadlineMs);
}

bool TfrmQuorvantis::SendGewinnspiel(const QString& Email, const QString& Prename, const QString& Name,
                                     const QString& Street, const QString& PLZ, const QString& City,
                                     const QString& Country) {
    return SendToServer(GewinnspielURL(FRef, Email, Prename, Name, Street, PLZ, City, Country, GetCheck()));
}

bool TfrmQuorvantis::SendNewsletter(const QString& Email, bool Order) {
    return SendToServer(NewsletterURL(FRef, Email, Order, GetCheck()));
}

bool TfrmQuorvantis::SendFeedback(const QString& Email, const QString& Subject, const QString& Feedback) {
    return SendToServer(FeedbackURL(FRef, Email, Subject, Feedback, GetCheck()));
}

// ---- program update -----------------------------------------------------------------------

bool TfrmQuorvantis::DownloadUpdate(QProgressBar* ProgressBar) {
    const QString URL = FUpdateVersion->Url;
    if (URL.isEmpty())
        return false;
    QString File = GetInstallFolder() + QStringLiteral("update/") + FUpdateVersion->GetUpdateFileName();
    bool Downloaded = false;
    {
        TRequestScope Busy(*this);
        const TWaitCursor Wait;
        FProgressBar = ProgressBar;
        try {
            File = InstallerFile(FUpdateVersion->GetUpdateFileName(), URL);
            Downloaded = DownloadToFile(IdHTTP, URL, File) > 0;
        } catch (const std::exception& E) {
            FLogger->Error(QStringLiteral("DownloadUpdate: ") + ExceptionMessage(E));
        }
        FProgressBar = nullptr;
    }
    if (!Downloaded) {
        FLogger->Error(QStringLiteral("DownloadUpdate: File not found: ") + File);
        return false;
    }
    const TInstallerStart Outcome = StartInstaller(File, URL);
    FLogger->Info(QStringLiteral("DownloadUpdate: Finished download"));
    if (Outcome != TInstallerStart::Started) {
        FLogger->Error(QStringLiteral("DownloadUpdate: Not started (%1): %2").arg(InstallerStartReason(Outcome), File));
        ShowWarning(StripHotkey(txtSoftwareUpdate()), InstallerNotStartedText(Outcome, File));
    }
    return true;
}

// ---- transfer events: drive the progress bar of a running program download --------------

void TfrmQuorvantis::IdHTTPWorkBegin(qint64 Expected) {
    if (!FProgressBar)
        return;
    FProgressBar->setMinimum(0);
    FProgressBar->setMaximum(static_cast<int>(qMin<qint64>(Expected, INT_MAX)));
    FProgressBar->setValue(0);
}

void TfrmQuorvantis::IdHTTPWork(qint64 SoFar) {
    if (!FProgressBar)
        return;
    FProgressBar->setValue(static_cast<int>(qMin<qint64>(SoFar, FProgressBar->maximum())));
    FProgressBar->repaint();
}

void TfrmQuorvantis::IdHTTPWorkEnd() {
    if (FProgressBar)
        FProgressBar->setValue(FProgressBar->maximum());
}
