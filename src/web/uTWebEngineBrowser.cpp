#include "uTWebEngineBrowser.h"

#include "uShareContext.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

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
    : QWebEnginePage(Profile, Parent), FOwner(Owner) {
    // A window the page wants to open: its address leaves for the user's browser when
    // the engine saw it come from the user's gesture and the user's click is still
    // unused (one window per click); nothing is ever opened here.
    connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& Request) {
        const QUrl Url = Request.requestedUrl();
        if (!Request.isUserInitiated() || !Url.isValid() || Url.isEmpty() || !FOwner.TakeClick || !FOwner.TakeClick())
            return;
        if (FOwner.OnLeavePage)
            FOwner.OnLeavePage(Url, true);
    });
}

bool TVendorPage::acceptNavigationRequest(const QUrl& Url, NavigationType Type, bool IsMainFrame) {
    // Only what the user clicks leaves; our own loads, redirects, form posts and
    // frames of the vendor page stay inside.
    if (Type == NavigationTypeLinkClicked && IsMainFrame) {
        if (FOwner.OnLeavePage)
            FOwner.OnLeavePage(Url, false);
        return false;
    }
    return true;
}

QWebEnginePage* TVendorPage::createWindow(WebWindowType) {
    return nullptr; // newWindowRequested decides
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
    // The environment the engine reads at its start was set by main before any
    // thread ran (PrepareWebEngineEnvironment).
    //
    // The two pages shown here are a banner and a voting form. Drawn in software
    // they look the same, and the OpenGL driver, with the 30 MB the engine and it
    // keep after the window has gone, never enters a program that runs all day.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // The engine reads the format of the shared OpenGL context even with the GPU
    // off, and crashes without one. A context that is never created answers that
    // and loads nothing.
    if (QOpenGLContext::globalShareContext())
        return true;
    const TSetShareContext SetShareContext = FindShareContextSetter();
    if (!SetShareContext) {
        Error = QStringLiteral("Qt %1 offers no way to set the shared OpenGL context (%2 not found)")
                    .arg(QString::fromLatin1(qVersion()), QString::fromLatin1(SetShareContextSymbol));
        return false;
    }
    auto* Unused = new QOpenGLContext(qApp);
    SetShareContext(Unused);
    if (QOpenGLContext::globalShareContext() != Unused) {
        delete Unused;
        Error = QStringLiteral("Qt %1 did not take the shared OpenGL context").arg(QString::fromLatin1(qVersion()));
        return false;
    }
    QObject::connect(Unused, &QObject::destroyed, [SetShareContext] { SetShareContext(nullptr); });
    return true;
}

TWebBrowser* TWebEngineFactory::CreateBrowser(QWidget* Parent, QString& Error) {
    if (!FStarted) {
        QString Reason;
        if (!StartEngine(Reason)) {
            Error = Reason;
            return nullptr;
        }
        FStarted = true;
    }
    return new TWebEngineBrowser(Parent);
}
