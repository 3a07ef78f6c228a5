#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QAction;
class QEventLoop;
class QMenu;
class QToolButton;

// The drawn menu inside an ordinary window, for "show" where a program may not
// pop a menu up at the cursor (Wayland: the cursor position is unknown, and a
// pop-up needs a parent window and a recent click in it, or it lands anywhere).
// Submenus therefore open inside the same window, one level at a time, with a
// way back at the top; no pop-up is involved.
//
// The window behaves as a menu: a choice, Escape on the top level, or a click
// elsewhere (the window loses activation) closes it, and it never stays behind.
class TMenuWindow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TMenuWindow)
public:
    explicit TMenuWindow(QMenu& Menu);
    ~TMenuWindow() override;

    // Shows Menu in a window and returns when the window has closed; every menu
    // is a pop-up in its old place again afterwards.
    static void Exec(QMenu& Menu);
    // The window of a running Exec (null when none).
    static TMenuWindow* Current();

    // The menu shown now, and the way to a submenu and back.
    QMenu* CurrentMenu() const;
    int Depth() const { return static_cast<int>(FStack.size()) - 1; }
    bool OpenSubmenu(QAction* Entry);
    void Back();
    QToolButton* BackButton() const { return btnBack; }

protected:
    bool event(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

private:
    struct TEmbedded {
        QPointer<QMenu> Menu;
        QPointer<QObject> Parent; // where it belongs when it is a pop-up
        QPointer<QAction> Entry;  // the row that opened it
        int MinimumWidth = 0;
    };
    void Embed(QMenu& Menu, QAction* Entry);
    void Release(const TEmbedded& Entry);
    void ShowTop(QAction* Row);
    void CloseUnlessActive();

    QList<TEmbedded> FStack;
    QToolButton* btnBack;
    QEventLoop* FLoop = nullptr;
    bool FWasActive = false;
    int FTopWidth = 0;
};
