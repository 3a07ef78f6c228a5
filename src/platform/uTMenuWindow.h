#pragma once

#include <QWidget>

class QEventLoop;
class QMenu;

// The drawn menu inside an ordinary window, for "show" where a program may not
// pop a menu up at the cursor (Wayland: a pop-up needs a parent window and a
// recent input event in it, and the position of the cursor is unknown). The
// window behaves as a menu: a choice, Escape, or a click elsewhere (the window
// loses activation) closes it, and it never stays behind once closed.
class TMenuWindow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TMenuWindow)
public:
    explicit TMenuWindow(QMenu& Menu);
    ~TMenuWindow() override;

    // Shows Menu in a window and returns when the window has closed; Menu is a
    // pop-up again afterwards.
    static void Exec(QMenu& Menu);
    // The window of a running Exec (null when none).
    static TMenuWindow* Current();

protected:
    bool event(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

private:
    void CloseUnlessActive();

    QMenu& FMenu;
    QEventLoop* FLoop = nullptr;
    bool FWasActive = false;
};
