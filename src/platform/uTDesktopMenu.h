#pragma once

#include <QObject>
#include <QPointer>

class QAction;
class QMenu;

// True when the program runs as a native Wayland client. There a program neither
// knows the global cursor position nor may place a pop-up where it likes, so the
// tray menu is handed to the desktop, which draws it at the icon.
bool IsWaylandSession();

// The tray menu as the desktop gets it (StatusNotifierItem with its exported
// menu): a mirror of the drawn menu that shares its entries, so a choice runs
// exactly what it runs in the drawn menu, and a re-labelled fixed entry changes
// in both. The desktop draws entries with text and icon only: no side bar, no
// bold top shops.
//
// Only the submenu skeleton is mirrored at once. The entries of a submenu join
// its mirror when the desktop announces that it opens it, so a catalogue of
// 10,000 shops does not cross the session bus at start or after each rebuild.
// The drawn submenu is told it is about to show first: it may fill itself then.
// A drawn submenu that lists its entries (TMenuListing) is mirrored as a listing
// instead: the exported menu reads its entries without an action for each.
class TDesktopMenu final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TDesktopMenu)
public:
    explicit TDesktopMenu(QObject* Parent = nullptr);
    ~TDesktopMenu() override;

    // Builds a fresh mirror of Source and returns it (owned by this object). The
    // previous mirror is deleted later, as it may be handling a choice right
    // now: hand the new one to the tray icon before control returns to the
    // event loop (the tray icon's exporter must never outlive its menu).
    QMenu* Mirror(QMenu& Source);
    QMenu* Root() const { return FRoot; }
    // Lets go of the shared entries without telling the desktop about each one;
    // call it before the drawn menu is rebuilt (which deletes them), then Mirror.
    void Detach();

private:
    QPointer<QMenu> FRoot;
};
