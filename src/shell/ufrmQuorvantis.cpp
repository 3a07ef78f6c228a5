#include "ufrmQuorvantis.h"

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
#include "ufrmEditFavorites.h"

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
} // namespace

TfrmQuorvantis* frmQuorvantis() {
    return MainWindow;
}

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
        if (!StartProblem.isEmpty())
            FLogger->Error(QStringLiteral("FormCreate: ") + StartProblem);
        DisplayHint(QString());
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

        if (Arguments.size() > 1)
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
    // The remaining windows attach to miStyleVoting, miEbay, miSearch, miSettings and miInfo.

    SxTrayIcon = new TTrayIcon(TImageList::TrayIcon(), *FLogger, this);
    connect(SxTrayIcon, &TTrayIcon::MenuRequested, this, &TfrmQuorvantis::PopupMenu);
    if (IsWaylandSession()) {
        FDesktopMenu = new TDesktopMenu(this);
        SxTrayIcon->SetDesktopMenu(FDesktopMenu->Mirror(*mnuTrayMenu));
    }

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
            FFaviconThread->requestInterruption();
            FFaviconThread->wait();
            FFaviconThread.reset();
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
    if (TfrmEditFavorites* Editor = ExistingEditFavorites())
        Editor->ApplyLanguage();
}

// ---- catalogue ------------------------------------------------------------------

UpdateState TfrmQuorvantis::RefreshCatalogue(bool Force) {
    if (Force || FUpdateVersion->IsEmpty())
        return GetUpdates();
    return FUpdateVersion->GetUpdateState(ProgramVersion);
}

UpdateState TfrmQuorvantis::GetUpdates() {
    // Hand-off commands and tray clicks wait for the whole refresh, the rebuilt menu included.
    TRequestScope Busy(*this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const TRefreshResult Result = DownloadCatalogue(IdHTTP, *FUpdateVersion, *FLogger, FRef);
    QApplication::restoreOverrideCursor();
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
    if (AskYesNo(Item->Title, NewsQuestionText(*Item)))
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
    if (FRequestDepth > 0) {
        FPendingPopup = true; // served when the request has ended
        return;
    }
    if (FMenuOpen || !mnuTrayMenu)
        return;
    FMenuOpen = true;
    if (IsWaylandSession())
        TMenuWindow::Exec(*mnuTrayMenu); // no pop-up at a cursor position there
    else
        mnuTrayMenu->exec(Pos);
    FMenuOpen = false;
}

void TfrmQuorvantis::ExecuteCommand(const QString& Command) {
    const QString Word = AsciiLower(Command);
    if (Word == QLatin1String("show")) {
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
    if (FRequestDepth > 0 || FMenuOpen) {
        FPendingCommands.append(Connection);
        return;
    }
    try {
        const QString Command = ReadSetting(Setting::Command);
        if (!Command.isEmpty())
            ExecuteCommand(Command);
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("CommandMessage: ") + ExceptionMessage(E));
    }
    TCommandListener::Acknowledge(Connection);
}

void TfrmQuorvantis::ServePending() {
    if (FRequestDepth > 0 || FMenuOpen)
        return;
    if (FPendingPopup) {
        FPendingPopup = false;
        PopupMenu(QCursor::pos());
    }
    while (!FPendingCommands.isEmpty() && FRequestDepth == 0) {
        QPointer<QLocalSocket> Connection = FPendingCommands.takeFirst();
        if (Connection)
            CommandMessage(WM_INSTANCECOMMAND, Connection);
    }
}

void TfrmQuorvantis::miNewLinkClick() {
    TURLItem Item;
    if (EditFavorite(Item) && FMenuItemManager->Add(Item))
        BuildMenu();
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
    return ::SendToServer(IdHTTP, URL);
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
