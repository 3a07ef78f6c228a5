#pragma once

#include "uTWebBrowser.h"

#include <QObject>
#include <QPointer>
#include <QWebEnginePage>

class QWebEngineProfile;
class QWebEngineView;

// The page of the embedded view: vendor content loads inside, links the user
// follows and windows the page opens go to the user's own browser.
class TVendorPage final : public QWebEnginePage {
    Q_OBJECT
public:
    TVendorPage(QWebEngineProfile* Profile, TWebBrowser& Owner, QObject* Parent);

protected:
    bool acceptNavigationRequest(const QUrl& Url, NavigationType Type, bool IsMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType Type) override;

private:
    TWebBrowser& FOwner;
};

// QWebEngineView inside a TWebBrowser; the history is cleared after every load.
class TWebEngineBrowser final : public TWebBrowser {
public:
    explicit TWebEngineBrowser(QWidget* Parent);
    ~TWebEngineBrowser() override;

    bool Navigate(const QString& Address, QString& Error) override;
    QString Address() const override;

private:
    QWebEngineProfile* FProfile;
    QWebEngineView* FView;
    TVendorPage* FPage;
};

// The module's root object: starts the engine once and makes the browsers, each
// with its own off-the-record profile without HTTP cache.
class TWebEngineFactory final : public QObject, public IWebBrowserFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IWebBrowserFactory_iid)
    Q_INTERFACES(IWebBrowserFactory)
public:
    TWebEngineFactory();
    TWebBrowser* CreateBrowser(QWidget* Parent, QString& Error) override;

private:
    bool StartEngine(QString& Error);

    bool FStarted = false;
};
