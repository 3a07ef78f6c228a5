#include "uTWebEngineBrowser.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <malloc.h>

namespace QtWebEngineCore {
// The engine's own start-up, which an application that links the engine gets
// before its QApplication exists: it makes the OpenGL context every web view
// shares. Loaded later, the module runs it before the first view. (Asking the
// application for shared contexts instead would load the OpenGL driver at every
// program start.)
Q_DECL_IMPORT void initialize();
} // namespace QtWebEngineCore

namespace {

// A window the page wants to open: its first address leaves for the user's
// browser, then the page goes away.
class TLeavingPage final : public QWebEnginePage {
public:
    TLeavingPage(QWebEngineProfile* Profile, TWebBrowser& Owner) : QWebEnginePage(Profile, &Owner), FOwner(&Owner) {}

protected:
    bool acceptNavigationRequest(const QUrl& Url, NavigationType, bool) override {
        if (FOwner && FOwner->OnLeavePage && Url.isValid() && !Url.isEmpty())
            FOwner->OnLeavePage(Url);
        FOwner = nullptr;
        deleteLater();
        return false;
    }

private:
    TWebBrowser* FOwner;
};

// No storage name: off the record, nothing written to disk. One per browser, so
// everything the engine keeps for it (memory cache included) goes when it goes.
QWebEngineProfile* NewProfile() {
    auto* Profile = new QWebEngineProfile();
    Profile->setHttpCacheType(QWebEngineProfile::NoCache);
    Profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    return Profile;
}

QString TerminationText(QWebEnginePage::RenderProcessTerminationStatus Status, int ExitCode) {
    switch (Status) {
    case QWebEnginePage::NormalTerminationStatus:
        return {};
    case QWebEnginePage::AbnormalTerminationStatus:
        return QStringLiteral("the page's render process ended abnormally (exit code %1)").arg(ExitCode);
    case QWebEnginePage::CrashedTerminationStatus:
        return QStringLiteral("the page's render process crashed (exit code %1)").arg(ExitCode);
    case QWebEnginePage::KilledTerminationStatus:
        return QStringLiteral("the page's render process was killed (exit code %1)").arg(ExitCode);
    }
    return QStringLiteral("the page's render process ended (exit code %1)").arg(ExitCode);
}

} // namespace

TVendorPage::TVendorPage(QWebEngineProfile* Profile, TWebBrowser& Owner, QObject* Parent)
    : QWebEnginePage(Profile, Parent), FOwner(Owner) {}

bool TVendorPage::acceptNavigationRequest(const QUrl& Url, NavigationType Type, bool IsMainFrame) {
    // Only what the user clicks leaves; our own loads, redirects, form posts and
    // frames of the vendor page stay inside.
    if (Type == NavigationTypeLinkClicked && IsMainFrame) {
        if (FOwner.OnLeavePage)
            FOwner.OnLeavePage(Url);
        return false;
    }
    return true;
}

QWebEnginePage* TVendorPage::createWindow(WebWindowType) {
    return new TLeavingPage(profile(), FOwner);
}

TWebEngineBrowser::TWebEngineBrowser(QWidget* Parent)
    : TWebBrowser(Parent), FProfile(NewProfile()), FView(new QWebEngineView(this)),
      FPage(new TVendorPage(FProfile, *this, FView)) {
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->addWidget(FView);
    FView->setPage(FPage);
    setFocusProxy(FView);
    // Back, forward and reload of a context menu would bypass the window's own loads.
    FView->setContextMenuPolicy(Qt::NoContextMenu);
    QObject::connect(FPage, &QWebEnginePage::loadFinished, FPage, [this](bool) { FPage->history()->clear(); });
    QObject::connect(FPage, &QWebEnginePage::renderProcessTerminated, FPage,
                     [this](QWebEnginePage::RenderProcessTerminationStatus Status, int ExitCode) {
                         const QString Text = TerminationText(Status, ExitCode);
                         if (!Text.isEmpty() && OnFailure)
                             OnFailure(Text);
                     });
}

TWebEngineBrowser::~TWebEngineBrowser() {
    // The page goes before the view that shows it (it unbinds itself), and before
    // its profile.
    delete FPage;
    delete FView;
    delete FProfile;
    // The engine frees its caches and page state over the next moments; hand what the
    // allocator keeps back to the system once it has.
    QTimer::singleShot(2000, [] { ::malloc_trim(0); });
}

bool TWebEngineBrowser::Navigate(const QString& Address, QString& Error) {
    const QUrl Url(Address, QUrl::StrictMode);
    if (!Url.isValid() || Url.isRelative()) {
        Error = QStringLiteral("Invalid address \"%1\": %2").arg(Address, Url.errorString());
        return false;
    }
    // An off-the-record profile keeps a memory cache whatever its cache type says;
    // these headers make the engine fetch the page itself afresh every time.
    QWebEngineHttpRequest Request(Url);
    Request.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache"));
    Request.setHeader(QByteArrayLiteral("Pragma"), QByteArrayLiteral("no-cache"));
    FPage->load(Request);
    return true;
}

QString TWebEngineBrowser::Address() const {
    return FPage->requestedUrl().toString(QUrl::FullyEncoded);
}

TWebEngineFactory::TWebEngineFactory() = default;

bool TWebEngineFactory::StartEngine(QString& Error) {
    QtWebEngineCore::initialize();
    const QOpenGLContext* Shared = QOpenGLContext::globalShareContext();
    if (!Shared || !Shared->isValid()) {
        // The engine would abort the whole program without it.
        Error = QStringLiteral("no OpenGL context for the web engine on this display");
        return false;
    }
    return true;
}

TWebBrowser* TWebEngineFactory::CreateBrowser(QWidget* Parent, QString& Error) {
    if (!FStarted) {
        if (!StartEngine(Error))
            return nullptr;
        FStarted = true;
    }
    return new TWebEngineBrowser(Parent);
}
