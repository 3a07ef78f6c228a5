#pragma once

#include <QImage>
#include <QMenu>
#include <memory>

class QSvgRenderer;

// The top-level tray menu, drawn by us: a 28-pixel side bar at the left edge with
// a gradient from the tool-tip colour to maroon, the side-bar picture and the
// caption bottom-to-top in bold italic white. Entries whose action carries the
// property "tag" == 1 (top shops) are drawn bold.
//
// The bar is reserved through the left contents margin, so QMenu lays its entries
// out to the right of it and counts it in the menu width. Submenus are plain
// QMenus and have no bar. The side-bar picture (white fading into dark red with
// the cart logo and the product name at its foot) is drawn bottom-aligned over
// the gradient, faded in at its top so no seam shows in tall menus. When a caption
// is set it takes the place of the picture's own lettering above the logo.
//
// Submenus never cover their parent menu (side bar included): a cascade opens to
// the right while there is room and, once it turned left (at the notification area
// in a screen corner), keeps opening to the left. The menu and its submenus stay
// within the screen's free area, off the panels.
class TTrayMenu final : public QMenu {
    Q_OBJECT
public:
    static constexpr int SideBarWidth = 28;

    explicit TTrayMenu(QWidget* Parent = nullptr);
    ~TTrayMenu() override;
    Q_DISABLE_COPY_MOVE(TTrayMenu)

    void SetSideBarCaption(const QString& Caption);
    QString SideBarCaption() const { return FCaption; }

    // Marks an entry as a top shop: property "tag" = 1 and a bold font, which
    // also holds in plain submenus.
    static void MarkTopRanked(QAction& Action);
    // The next showing highlights the first entry, as a menu opened by keyboard does,
    // so that a screen reader announces it.
    void HighlightFirstEntryWhenShown() { FHighlightFirst = true; }

protected:
    void paintEvent(QPaintEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void actionEvent(QActionEvent* Event) override;

private:
    void PlaceSubmenu(QMenu& Submenu);
    void PaintSideBar(QPainter& Painter, const QRect& Bar);
    const QImage& Backdrop(qreal Dpr);
    QSvgRenderer& Picture();

    QString FCaption;
    bool FHighlightFirst = false;
    std::unique_ptr<QSvgRenderer> FPicture;
    QImage FBackdrop; // the picture without logo and lettering, faded in at its top
};
