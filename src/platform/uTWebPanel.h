#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QUrl;
class TWebBrowser;

// The white area of a web window (panelBrowser). The embedded browser inside is
// made on the first Navigate, loading the web module then, and released by
// Release, so the engine's render processes end while the window is hidden. When
// the module or the engine fails, the panel says so in one line instead.
class TWebPanel final : public QWidget {
    Q_OBJECT
public:
    explicit TWebPanel(QWidget* Parent);
    ~TWebPanel() override;
    Q_DISABLE_COPY_MOVE(TWebPanel)

    // Makes the browser when needed and starts loading Address; throws EQuorvantis
    // (after showing the message line) when that is impossible.
    void Navigate(const QString& Address);
    // Drops the browser; the next Navigate makes a new one.
    void Release();
    bool HasBrowser() const { return !FBrowser.isNull(); }
    // The one-line message shown instead of a page ("" while none is shown).
    QString Message() const;

    // Where links of the page go (the user's browser) and where engine failures are
    // reported. Only a click or key of the user into the page lets one address
    // leave, at most one per click, and only an http, https or mailto address of
    // sane length (MayLeaveForBrowser): a page alone can never start the browser.
    std::function<void(const QString&)> OnOpenExternal;
    std::function<void(const QString&)> OnFailure;

    // Uses up the latest click into the page not yet used; false when there is none.
    bool TakeClick();
    // What the page asks to open elsewhere; passes it on when the rules above allow.
    // ClickTaken: the window it comes from has used up its click already.
    void LeavePage(const QUrl& Url, bool ClickTaken);

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void ShowMessage(const QString& Text);

    QElapsedTimer FClick; // valid from a user's click into the page until an address left

    QPointer<TWebBrowser> FBrowser;
    QLabel* FMessage;
};
