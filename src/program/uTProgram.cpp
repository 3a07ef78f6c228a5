#include "uTProgram.h"

#include "uCatalogueRefresh.h"
#include "uCategoryShops.h"
#include "uConst.h"
#include "uIconFiles.h"
#include "uRegistry.h"
#include "uServerSubmissions.h"
#include "uSettingsKeys.h"
#include "uTFaviconThread.h"
#include "uTLogger.h"
#include "uTMenuItemManager.h"
#include "uTSettingsDraft.h"
#include "uTools.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

#include <malloc.h>

namespace {
constexpr int MaxRandomRef = 2147483646;
// The favicon thread sees a stop request within 25 ms and aborts its request at once; one
// that takes longer is left behind, so quitting stays quick whatever a server does.
constexpr int FaviconStopMs = 250;

// The running request of a kind is let go as soon as its end is handled, so that the
// handler may start the next one. It is deleted later: its Finished signal is still being
// delivered (and may hold the very handler that runs).
// A catalogue of many shops replaced by another leaves the old one's memory in holes
// between the new one's: handed back here, not kept for the life of the program.
void ReturnFreedMemory() {
    ::malloc_trim(0);
}

template <class T> T* TakeFinished(std::unique_ptr<T>& Running) {
    T* Done = Running.release();
    if (Done)
        Done->deleteLater();
    return Done;
}
} // namespace

TProgram::TProgram(QObject* Parent)
    : QObject(Parent), FLogger(std::make_unique<TLogger>(QString::fromUtf8(ProgramName))),
      FUpdateVersion(std::make_unique<TUpdateVersion>(FLogger.get())),
      FLinks(std::make_unique<TMenuItemManager>(QString::fromUtf8(FavoritesKey))) {
    qRegisterMetaType<TUpdateResult>();
    IdHTTP.Options().ReadTimeoutMs = ServerIdleTimeoutMs;
    UpdateLimits.ReadTimeoutMs = ServerIdleTimeoutMs;
}

TProgram::~TProgram() {
    Shutdown();
    FRefresh.reset();
    FSubmission.reset();
    FDownload.reset();
    FUpdateVersion.reset();
    if (FKeepLogger)
        (void)FLogger.release(); // the left-behind favicon thread may still write a line
}

void TProgram::InitRef() {
    FRef = ReadSetting(Setting::Ref);
    if (FRef >= 1)
        return;
    FRef = static_cast<int>(QRandomGenerator::global()->bounded(MaxRandomRef + 1));
    WriteSetting(Setting::Ref, FRef);
}

UpdateState TProgram::GetUpdateState() const {
    return FUpdateVersion->GetUpdateState(ProgramVersion);
}

QString TProgram::ShopParams() const {
    return ::ShopParams(FRef, GetCheck());
}

void TProgram::SetLanguage(int Language) {
    SetCurrentLanguage(Language);
    WriteSetting(Setting::Language, CurrentLanguage);
    Q_EMIT LanguageChanged();
}

void TProgram::DisplayHint(const QString& Hint) {
    const QString Text = Hint.isEmpty() ? QStringLiteral("Quorvantis ") + ProgramVersion : ReplaceCRByBlank(Hint);
    Q_EMIT HintChanged(Text);
}

// ---- personal links and shop choices -------------------------------------------------------

bool TProgram::IsShopVisible(const QString& Category, const QString& Name) const {
    return ::IsShopVisible(Category, Name);
}

bool TProgram::AddLink(const TURLItem& Item) {
    if (!FLinks->Add(Item))
        return false;
    Q_EMIT StateChanged(LinksChange);
    FetchLinkIcons();
    return true;
}

namespace {
// A renamed link keeps its favicon: the icon file follows the name.
void MoveLinkIcon(const QString& OldName, const QString& NewName) {
    const QString OldFile = LinkIconFile(OldName);
    const QString NewFile = LinkIconFile(NewName);
    if (OldFile == NewFile || !QFile::exists(OldFile))
        return;
    QFile::remove(NewFile);
    QFile::rename(OldFile, NewFile);
}
} // namespace

void TProgram::CommitSettings(const TSettingsDraft& Draft) {
    int Changes = 0;
    {
        TSettingsWriteTransaction Writes;
        for (const TSettingsDraft::TVisibility& Choice : Draft.Visibility()) {
            // Only what differs from the store: the file stays as an older version wrote it.
            if (::IsShopVisible(Choice.Category, Choice.Name) == Choice.Visible &&
                (Choice.Visible || SettingsValueExists(CategoryKey(Choice.Category), Choice.Name)))
                continue;
            SetShopVisible(Choice.Category, Choice.Name, Choice.Visible);
            Changes |= ShopSelectionChange;
        }
        for (const TSettingsDraft::TLinkChange& Change : Draft.LinkChanges()) {
            if (!Change.Item) {
                if (FLinks->Delete(Change.Name))
                    Changes |= LinksChange;
                continue;
            }
            TURLItem Item = *Change.Item;
            const QStringList Names = GetSettingsKeyNames(FLinks->RootKey());
            const QString Key = SafeLinkName(Item.Name);
            TURLItem Stored;
            Stored.Name = Item.Name;
            const bool Existed = Names.contains(Key, Qt::CaseInsensitive) && FLinks->Load(Stored);
            if (Existed && Names.contains(Key) && Stored.URL == Item.URL)
                continue; // unchanged; its icon number is the favicon load's business
            if (Existed && !Names.contains(Key)) {
                // Another spelling of the name: the key takes the new one. A new address
                // drops the old site's icon, as Save does.
                FLinks->Delete(Item.Name);
                if (Stored.URL != Item.URL) {
                    QFile::remove(LinkIconFile(Item.Name));
                    Item.Icon = 0;
                }
            }
            FLinks->Save(Item);
            Changes |= LinksChange;
        }
        Writes.Commit();
    }
    for (const TSettingsDraft::TRename& Rename : Draft.Renames())
        MoveLinkIcon(Rename.OldName, Rename.NewName);
    if (Changes != 0)
        Q_EMIT StateChanged(Changes);
    if ((Changes & LinksChange) != 0)
        FetchLinkIcons();
}

void TProgram::StoreLinkIcons(const QList<TURLItem>& Items) {
    for (const TURLItem& Item : Items) {
        TURLItem Stored;
        Stored.Name = Item.Name;
        if (FLinks->Load(Stored) && !Stored.URL.isEmpty() && Stored.Icon != Item.Icon) {
            Stored.Icon = Item.Icon;
            FLinks->Save(Stored);
        }
    }
}

// ---- catalogue ---------------------------------------------------------------------------

void TProgram::RefreshCatalogue(bool Force, TStateCallback Done) {
    if (Force || FUpdateVersion->IsEmpty())
        return GetUpdates(std::move(Done));
    const UpdateState State = GetUpdateState();
    if (Done)
        QTimer::singleShot(0, this, [Done = std::move(Done), State] { Done(State); });
}

void TProgram::GetUpdates(TStateCallback Done) {
    if (Done)
        FRefreshWaiters.append(std::move(Done));
    if (FRefresh)
        return; // never two at once: this one's answer serves both
    if (FShuttingDown) {
        QTimer::singleShot(0, this, [this] {
            const QList<TStateCallback> Waiters = std::exchange(FRefreshWaiters, {});
            for (const TStateCallback& Waiter : Waiters)
                Waiter(usError);
        });
        return;
    }
    const bool WasBusy = IsBusy();
    FRefreshURL = CatalogueRequestURL(FRef);
    THTTPOptions Options = IdHTTP.Options();
    Options.DeadlineMs = CatalogueDeadlineMs;
    try {
        FRefresh = IdHTTP.Start(FRefreshURL, Options);
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("GetUpdates: URL=") + FRefreshURL + QStringLiteral(": ") + ExceptionMessage(E));
        const QList<TStateCallback> Waiters = std::exchange(FRefreshWaiters, {});
        for (const TStateCallback& Waiter : Waiters)
            Waiter(usError);
        return;
    }
    connect(FRefresh.get(), &THTTPRequest::Finished, this, &TProgram::FinishRefresh);
    SetBusyChanged(WasBusy);
}

void TProgram::FinishRefresh() {
    THTTPRequest* const Request = TakeFinished(FRefresh);
    if (!Request)
        return;
    // The catalogue request's connection is closed afterwards; a submission still on
    // its way keeps its own.
    if (!FSubmission)
        IdHTTP.Disconnect();
    // The body (megabytes for a large catalogue) is freed before the memory is handed back.
    const TRefreshResult Result = [&] {
        const QByteArray Body = Request->TakeBody();
        return HandleCatalogueAnswer(FRefreshURL, Body, Request->Error(), *FUpdateVersion, *FLogger);
    }();
    FLastRefreshError = Result.Error;
    if (Result.Replaced && !FShuttingDown) {
        try {
            Q_EMIT CatalogueReplaced(); // favicons and the menu
            ReturnFreedMemory();
            ShowNews();
        } catch (const std::exception& E) {
            FLogger->Error(QStringLiteral("GetUpdates: URL=") + Result.URL + QStringLiteral(": ") +
                           ExceptionMessage(E));
        }
    }
    const QList<TStateCallback> Waiters = std::exchange(FRefreshWaiters, {});
    Q_EMIT BusyChanged(IsBusy());
    for (const TStateCallback& Waiter : Waiters)
        Waiter(Result.State);
    ServeCommands();
}

UpdateState TProgram::LoadVersionFile() {
    bool Loaded = false;
    const UpdateState State = LoadCatalogueFile(*FUpdateVersion, *FLogger, Loaded);
    if (!Loaded)
        return State;
    try {
        Q_EMIT CatalogueReplaced();
    } catch (const std::exception& E) {
        FLogger->Error(QStringLiteral("LoadVersionFile: ") + ExceptionMessage(E));
    }
    ReturnFreedMemory();
    return State;
}

void TProgram::StartFaviconThread() {
    if (FFaviconThread || FShuttingDown)
        return;
    StartIconFetch(true);
}

void TProgram::FetchLinkIcons() {
    // Before the first run the links are taken when it starts.
    if (!FFaviconThread || FShuttingDown || !IsOnline())
        return;
    if (!FFaviconThread->isFinished()) {
        FLinkIconsPending = true; // it read the links when it started
        return;
    }
    FLinkIconsPending = false;
    StartIconFetch(false);
}

void TProgram::StartIconFetch(bool WithShops) {
    std::vector<TFaviconLink> Links;
    for (const TURLItem& Item : FLinks->LoadAll())
        if (!Item.URL.isEmpty())
            Links.push_back({Item.Name, Item.URL});
    FFaviconThread.reset(); // a finished run, if any
    FFaviconThread =
        std::make_unique<TFaviconThread>(WithShops ? FaviconShops(FUpdateVersion->Shops) : std::vector<TFaviconShop>{},
                                         std::move(Links), FLogger.get(), GetInstallFolder());
    // Queued from the thread; nothing is announced once the program shuts down.
    connect(FFaviconThread.get(), &TFaviconThread::ShopIconStored, this, [this](int ShopId) {
        if (!FShuttingDown)
            Q_EMIT ShopIconArrived(ShopId);
    });
    connect(FFaviconThread.get(), &TFaviconThread::LinkIconStored, this, [this](const QString& Name) {
        if (!FShuttingDown)
            Q_EMIT LinkIconArrived(Name);
    });
    connect(FFaviconThread.get(), &QThread::finished, this, [this] {
        if (FLinkIconsPending)
            QTimer::singleShot(0, this, &TProgram::FetchLinkIcons);
    });
    FFaviconThread->start();
}

void TProgram::ShowNews() {
    const TNewsItemPtr Item = NewsItemToOffer(*FUpdateVersion, ReadSetting(Setting::LastNews));
    if (!Item)
        return;
    WriteSetting(Setting::LastNews, Item->Date);
    bool Read = false;
    BeginUserWait();
    try {
        Read = AskYesNo(Item->Title, NewsQuestionText(*Item));
    } catch (...) {
        EndUserWait();
        throw;
    }
    EndUserWait();
    if (Read)
        OpenURL(Item->GetNewsURL());
}

// ---- submissions ---------------------------------------------------------------------------

bool TProgram::Submit(const QString& Operation, const QString& URL, TSentCallback Done) {
    if (FSubmission || FShuttingDown)
        return false;
    const bool WasBusy = IsBusy();
    THTTPOptions Options = IdHTTP.Options();
    Options.DeadlineMs = CatalogueDeadlineMs;
    FSubmission = IdHTTP.Start(URL, Options);
    connect(FSubmission.get(), &THTTPRequest::Finished, this, [this, Operation, URL, Done] {
        THTTPRequest* const Request = TakeFinished(FSubmission);
        if (!Request)
            return;
        const bool Sent = Request->Ok();
        const QString Error = Sent ? QString() : Request->Error();
        // The answer's body is not used; a failed submission goes through the browser instead.
        if (!Sent && !FShuttingDown) {
            // The address carries the user's data: the log names only where it went.
            FLogger->Error(Operation + QStringLiteral(": ") + QUrl(URL).adjusted(QUrl::RemoveQuery).toString() +
                           QStringLiteral(": ") + Error);
            OpenURL(URL);
        }
        Q_EMIT BusyChanged(IsBusy());
        if (Done)
            Done(Sent, Error);
        ServeCommands();
    });
    SetBusyChanged(WasBusy);
    return true;
}

bool TProgram::SendNewsletter(const QString& Email, bool Order, TSentCallback Done) {
    return Submit(QStringLiteral("SendNewsletter"), NewsletterURL(FRef, Email, Order, GetCheck()), std::move(Done));
}

bool TProgram::SendFeedback(const QString& Email, const QString& Subject, const QString& Feedback, TSentCallback Done) {
    return Submit(QStringLiteral("SendFeedback"), FeedbackURL(FRef, Email, Subject, Feedback, GetCheck()),
                  std::move(Done));
}

bool TProgram::SendGewinnspiel(const QString& Email, const QString& Prename, const QString& Name, const QString& Street,
                               const QString& PLZ, const QString& City, const QString& Country, TSentCallback Done) {
    return Submit(QStringLiteral("SendGewinnspiel"),
                  GewinnspielURL(FRef, Email, Prename, Name, Street, PLZ, City, Country, GetCheck()), std::move(Done));
}

// ---- program update --------------------------------------------------------------------------

bool TProgram::DownloadUpdate() {
    const QString URL = FUpdateVersion->Url;
    if (URL.isEmpty() || FDownload || FShuttingDown)
        return false;
    const bool WasBusy = IsBusy();
    QString File = GetInstallFolder() + QStringLiteral("update/") + FUpdateVersion->GetUpdateFileName();
    try {
        File = InstallerFile(FUpdateVersion->GetUpdateFileName(), URL);
    } catch (const std::exception& E) {
        // No file name: a failed download, reported like any other.
        FLogger->Error(QStringLiteral("DownloadUpdate: ") + ExceptionMessage(E));
        TUpdateResult Result;
        Result.File = File;
        Result.Error = ExceptionMessage(E);
        Result.UserMessage = Result.Error;
        QTimer::singleShot(0, this, [this, Result] { Q_EMIT DownloadFinished(Result); });
        return true;
    }
    FDownload = std::make_unique<TUpdateDownload>(URL, File, UpdateLimits);
    connect(FDownload.get(), &TUpdateDownload::Begun, this, &TProgram::DownloadBegun);
    connect(FDownload.get(), &TUpdateDownload::Progress, this, &TProgram::DownloadProgress);
    connect(FDownload.get(), &TUpdateDownload::Finished, this, &TProgram::FinishDownload);
    FDownload->Start();
    SetBusyChanged(WasBusy);
    return true;
}

void TProgram::LogUpdateFileLeft(const QString& File) {
    // What a failed download leaves: the earlier installer, or nothing at all.
    if (QFileInfo(File).isFile())
        FLogger->Info(QStringLiteral("DownloadUpdate: The earlier file stays: ") + File);
    else
        FLogger->Error(QStringLiteral("DownloadUpdate: File not found: ") + File);
}

void TProgram::CancelDownload() {
    if (FDownload)
        FDownload->Cancel();
}

void TProgram::FinishDownload() {
    TUpdateDownload* const Download = TakeFinished(FDownload);
    if (!Download)
        return;
    Download->disconnect(this);
    TUpdateResult Result;
    Result.File = Download->File();
    Result.Cancelled = Download->Failure() == TDownloadFailure::Cancelled;
    if (Result.Cancelled) {
        // The user's own choice, not a fault; an earlier file is untouched.
        FLogger->Info(QStringLiteral("DownloadUpdate: Cancelled"));
    } else if (!Download->Ok()) {
        Result.Error = Download->Error();
        Result.UserMessage = Download->UserError();
        FLogger->Error(QStringLiteral("DownloadUpdate: ") + Download->Error());
        LogUpdateFileLeft(Result.File);
    } else if (Download->Received() == 0) {
        // An empty answer is no installer; it is not kept in place of anything.
        QFile::remove(Result.File);
        Result.Error = QStringLiteral("The answer was empty");
        Result.UserMessage = Result.Error;
        FLogger->Error(QStringLiteral("DownloadUpdate: ") + Result.Error);
        LogUpdateFileLeft(Result.File);
    } else {
        Result.Downloaded = true;
        Result.Start = FShuttingDown ? TInstallerStart::StartFailed : StartInstaller(Result.File, Download->Hops());
        FLogger->Info(QStringLiteral("DownloadUpdate: Finished download"));
        if (Result.Start != TInstallerStart::Started) {
            FLogger->Error(QStringLiteral("DownloadUpdate: Not started (%1): %2")
                               .arg(InstallerStartReason(Result.Start), Result.File));
            Result.UserMessage = InstallerNotStartedText(Result.Start, Result.File);
        }
    }
    Q_EMIT BusyChanged(IsBusy());
    Q_EMIT DownloadFinished(Result);
    ServeCommands();
}

// ---- busy state and commands ------------------------------------------------------------------

void TProgram::SetBusyChanged(bool WasBusy) {
    if (WasBusy != IsBusy())
        Q_EMIT BusyChanged(IsBusy());
}

void TProgram::BeginUserWait() {
    ++FUserWaitDepth;
}

void TProgram::EndUserWait() {
    if (FUserWaitDepth > 0 && --FUserWaitDepth == 0)
        ServeCommands();
}

void TProgram::QueueCommand(const QString& Command) {
    FCommands.append(AsciiLower(Command));
    ServeCommands();
}

void TProgram::ServeCommands() {
    // Served from the event loop, never from inside the handler that ended a wait.
    if (FServeQueued)
        return;
    FServeQueued = true;
    QTimer::singleShot(0, this, [this] {
        FServeQueued = false;
        while (!FCommands.isEmpty() && !FShuttingDown && FUserWaitDepth == 0) {
            const bool Show = FCommands.first() == QLatin1String("show");
            // A shop name needs the catalogue that is being fetched; in order, so what
            // follows it waits too.
            if (!Show && FRefresh)
                return;
            const QString Command = FCommands.takeFirst();
            try {
                Q_EMIT CommandReceived(Command);
            } catch (const std::exception& E) {
                FLogger->Error(QStringLiteral("CommandMessage: ") + ExceptionMessage(E));
            }
        }
    });
}

void TProgram::Shutdown() {
    FShuttingDown = true;
    FCommands.clear();
    if (FRefresh)
        FRefresh->Abort();
    if (FSubmission)
        FSubmission->Abort();
    if (FDownload)
        FDownload->Cancel();
    if (FFaviconThread) {
        // The request in progress is aborted; a thread that still does not end must not
        // keep the process (and every later start) waiting.
        FFaviconThread->requestInterruption();
        if (FFaviconThread->wait(FaviconStopMs)) {
            FFaviconThread.reset();
        } else {
            FLogger->Error(QStringLiteral("FormDestroy: the favicon thread did not stop; leaving it behind"));
            (void)FFaviconThread.release();
            FKeepLogger = true;
        }
    }
}
