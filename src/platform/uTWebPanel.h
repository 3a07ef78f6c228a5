#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
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

    // Where links of the page go (the user's browser) and where engine failures are reported.
    std::function<void(const QString&)> OnOpenExternal;
    std::function<void(const QString&)> OnFailure;

private:
    void ShowMessage(const QString& Text);

    QPointer<TWebBrowser> FBrowser;
    QLabel* FMessage;
};
