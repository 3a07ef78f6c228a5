#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <QtPlugin>
#include <functional>

// An embedded browser view for vendor pages, made by the separately loaded web
// module. It keeps no history and uses no HTTP cache, so every Navigate fetches the
// page afresh. Header-only: the module implements it without linking the program.
class TWebBrowser : public QWidget {
public:
    explicit TWebBrowser(QWidget* Parent) : QWidget(Parent) {}
    ~TWebBrowser() override = default;
    Q_DISABLE_COPY_MOVE(TWebBrowser)

    // Starts loading the absolute http Address and returns at once. False with
    // Error filled when the load could not even be started.
    virtual bool Navigate(const QString& Address, QString& Error) = 0;
    // The address of the page shown or being loaded ("" before the first Navigate).
    virtual QString Address() const = 0;

    // A link the user followed (or a window the page opened): it belongs in the
    // user's own browser, the embedded page stays as it is. ClickTaken: the window
    // that leads there already used up the user's click (TakeClick).
    std::function<void(const QUrl&, bool ClickTaken)> OnLeavePage;
    // The engine gave up on the page (its render process ended abnormally).
    std::function<void(const QString&)> OnFailure;
    // Uses up the user's latest click into the page; false when there is none. A
    // window the page opens without one is refused at once, and one click opens one.
    std::function<bool()> TakeClick;
};

// The root object of the web module.
class IWebBrowserFactory {
public:
    virtual ~IWebBrowserFactory() = default;
    // A new browser inside Parent, or nullptr with Error filled when the engine
    // cannot run here (e.g. no OpenGL).
    virtual TWebBrowser* CreateBrowser(QWidget* Parent, QString& Error) = 0;
};

#define IWebBrowserFactory_iid "org.quorvantis.WebBrowserFactory/1.0"
Q_DECLARE_INTERFACE(IWebBrowserFactory, IWebBrowserFactory_iid)
