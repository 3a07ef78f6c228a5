#include "uTWebEngineBrowser.h"

#include <QAccessible>
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

// Qt's own setter of the context that all OpenGL users of the process share.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* Context);

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

void TWebEngineFactory::StartEngine() {
    // Chromium builds the page's accessibility tree only on request, and the engine
    // switches it off on Linux altogether: with assistive technology running, the
    // page's text, links and forms must reach it. Without it they cost nothing.
    if (QAccessible::isActive()) {
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
        QByteArray Flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!Flags.contains("--force-renderer-accessibility"))
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (Flags + " --force-renderer-accessibility").trimmed());
    }
    // The two pages shown here are a banner and a voting form. Drawn in software
    // they look the same, and the OpenGL driver, with the 30 MB the engine and it
    // keep after the window has gone, never enters a program that runs all day.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // While it starts, the engine asks the platform whether OpenGL may run on other
    // threads; on X11 answering creates a trial context, which loads the driver
    // after all. Without the trial the answer is simply yes, which nothing here uses.
    // (On Wayland Qt loads the driver with the first decorated window anyway.)
    if (!qEnvironmentVariableIsSet("QT_OPENGL_NO_SANITY_CHECK"))
        qputenv("QT_OPENGL_NO_SANITY_CHECK", "1");
    // It also reads the format of the shared OpenGL context, even with the GPU
    // off. A context that is never created answers that and loads nothing.
    if (!QOpenGLContext::globalShareContext()) {
        auto* Unused = new QOpenGLContext(qApp);
        QObject::connect(Unused, &QObject::destroyed, [] { qt_gl_set_global_share_context(nullptr); });
        qt_gl_set_global_share_context(Unused);
    }
}

TWebBrowser* TWebEngineFactory::CreateBrowser(QWidget* Parent, QString&) {
    if (!FStarted) {
        StartEngine();
        FStarted = true;
    }
    return new TWebEngineBrowser(Parent);
}
