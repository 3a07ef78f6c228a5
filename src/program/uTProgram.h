#pragma once

#include "uTHTTPClient.h"
#include "uTUpdateVersion.h"
#include "uUpdateDownload.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class TFaviconThread;
class TLogger;
class TMenuItemManager;
class TSettingsDraft;
struct TURLItem;

// The program without its face: the catalogue, the personal links, the shop
// choices, the favicons as they arrive, the HTTP client, the catalogue refresh,
// the submissions, the program update download, the busy state and the queue of
// handed-over commands. It is the one owner of that state: windows and menu read
// it, change it only through it (a dialog commits its working copy on Ok), and
// follow its signals. Every request runs in the background; what follows a
// request runs when its answer is in. It never shows anything itself (questions
// and warnings go through the UI hooks).
class TProgram final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TProgram)
public:
    using TStateCallback = std::function<void(UpdateState)>;
    // Error: why the server did not take it ("" when Sent), for the user.
    using TSentCallback = std::function<void(bool Sent, const QString& Error)>;

    explicit TProgram(QObject* Parent = nullptr);
    ~TProgram() override;

    // What StateChanged reports.
    enum TChange : int { LinksChange = 1, ShopSelectionChange = 2 };

    TLogger& Logger() const { return *FLogger; }
    const TUpdateVersion& Catalogue() const { return *FUpdateVersion; }
    // Only for tests that arrange a catalogue without a server.
    TUpdateVersion& CatalogueForTests() { return *FUpdateVersion; }
    // The personal links as stored (reads only; changes go through AddLink and CommitSettings).
    const TMenuItemManager& Links() const { return *FLinks; }
    bool IsShopVisible(const QString& Category, const QString& Name) const;

    // The user's reference number: the stored one, or a new random one that is stored.
    void InitRef();
    int Ref() const { return FRef; }
    QString GetCheck() const { return FUpdateVersion->Check; }
    bool IsGameActive() const { return FUpdateVersion->IsGameActive(); }
    const TShopList& GetShops() const { return FUpdateVersion->Shops; }
    // The version verdict of the catalogue loaded now, without any network access.
    UpdateState GetUpdateState() const;
    // "&ref=..&check=..&version=2.2&subid=software" for shop addresses.
    QString ShopParams() const;

    // Stores the language and tells every window.
    void SetLanguage(int Language);
    // The status bar text of the windows (the program's name and version when Hint is empty).
    void DisplayHint(const QString& Hint);

    // ---- catalogue ----
    // Downloads the catalogue (forced, or when none is loaded) or just gives the verdict of
    // the one loaded. Done runs when the answer is in and handled; a refresh asked for while
    // one runs joins it.
    void RefreshCatalogue(bool Force, TStateCallback Done = {});
    void GetUpdates(TStateCallback Done = {});
    // Loads the local catalogue file; CatalogueReplaced follows when there was one.
    UpdateState LoadVersionFile();
    bool IsRefreshing() const { return FRefresh != nullptr; }
    // Why the last catalogue refresh failed ("" when it succeeded or none ran).
    QString LastRefreshError() const { return FLastRefreshError; }
    // Starts the favicon thread once (it fetches the icons still missing).
    void StartFaviconThread();
    // Fetches the icons still missing of links added or changed after that run started.
    void FetchLinkIcons();

    // ---- personal links and shop choices ----
    // A new link (the menu's "Neuer Link..."), asking before it overwrites one of the
    // same name; stored at once. False when refused.
    bool AddLink(const TURLItem& Item);
    // The settings dialog's Ok: every change of the draft in one store transaction,
    // then one StateChanged. Throws ESettingsError when the store refused (nothing stored).
    void CommitSettings(const TSettingsDraft& Draft);
    // The icon numbers a favicon load gave the links, kept as their `icon` values.
    void StoreLinkIcons(const QList<TURLItem>& Items);

    // ---- submissions (one at a time; false at once while another runs) ----
    bool SendNewsletter(const QString& Email, bool Order, TSentCallback Done);
    bool SendFeedback(const QString& Email, const QString& Subject, const QString& Feedback, TSentCallback Done);
    bool SendGewinnspiel(const QString& Email, const QString& Prename, const QString& Name, const QString& Street,
                         const QString& PLZ, const QString& City, const QString& Country, TSentCallback Done);
    bool IsSubmitting() const { return FSubmission != nullptr; }

    // ---- program update ----
    // Downloads the installer the catalogue names and starts it when it may be. False when
    // there is nothing to download (no address) or a download runs; otherwise
    // DownloadFinished follows exactly once.
    bool DownloadUpdate();
    void CancelDownload();
    bool IsDownloading() const { return FDownload != nullptr; }

    // ---- busy state and commands ----
    bool IsBusy() const { return FRefresh || FSubmission || FDownload; }
    // The user is asked something or has the menu open: handed-over commands wait.
    void BeginUserWait();
    void EndUserWait();
    bool IsWaitingOnUser() const { return FUserWaitDepth > 0; }
    // A command from a second start. It is served (CommandReceived) once nothing it depends
    // on is pending: never while the user is asked something or has the menu open, and a
    // shop name not while the catalogue is being fetched.
    void QueueCommand(const QString& Command);
    int PendingCommands() const { return FCommands.size(); }

    // Ends every request and the favicon thread (within FaviconStopMs).
    void Shutdown();
    bool IsShuttingDown() const { return FShuttingDown; }

    // Size cap, whole-transfer deadline and idle time-out of the update download.
    TDownloadLimits UpdateLimits;

Q_SIGNALS:
    // A catalogue answer or file was taken in: the menu is rebuilt, lists refilled.
    void CatalogueReplaced();
    void LanguageChanged();
    // Links and/or shop choices changed for good (TChange bits): the menu is rebuilt once.
    void StateChanged(int Changes);
    // An icon file was fetched during the run: the entries showing it follow.
    void ShopIconArrived(int ShopId);
    void LinkIconArrived(const QString& Name);
    void BusyChanged(bool Busy);
    void HintChanged(const QString& Text);
    // A handed-over command is due now ("show" or a shop name, lower-case).
    void CommandReceived(const QString& Command);
    void DownloadBegun(qint64 Expected);
    void DownloadProgress(qint64 SoFar, qint64 Expected);
    void DownloadFinished(const TUpdateResult& Result);

private:
    void FinishRefresh();
    void StartIconFetch(bool WithShops);
    bool Submit(const QString& Operation, const QString& URL, TSentCallback Done);
    void ShowNews();
    void FinishDownload();
    void LogUpdateFileLeft(const QString& File);
    void ServeCommands();
    void SetBusyChanged(bool WasBusy);

    std::unique_ptr<TLogger> FLogger;
    std::unique_ptr<TUpdateVersion> FUpdateVersion;
    std::unique_ptr<TMenuItemManager> FLinks;
    std::unique_ptr<TFaviconThread> FFaviconThread;
    THTTPClient IdHTTP;
    int FRef = 0;

    std::unique_ptr<THTTPRequest> FRefresh;
    QString FRefreshURL;
    QList<TStateCallback> FRefreshWaiters;
    QString FLastRefreshError;
    std::unique_ptr<THTTPRequest> FSubmission;
    std::unique_ptr<TUpdateDownload> FDownload;

    QStringList FCommands;
    int FUserWaitDepth = 0;
    bool FServeQueued = false;
    bool FShuttingDown = false;
    bool FLinkIconsPending = false;
    bool FKeepLogger = false;
};
