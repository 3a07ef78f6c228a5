#pragma once

#include <QMenu>
#include <QPixmap>

// The top-level tray menu, drawn by us: a 28-pixel side bar at the left edge with
// a gradient from the tool-tip colour to maroon, the side-bar picture and the
// caption bottom-to-top in bold italic white. Entries whose action carries the
// property "tag" == 1 (top shops) are drawn bold.
class TTrayMenu final : public QMenu {
    Q_OBJECT
public:
    static constexpr int SideBarWidth = 28;

    explicit TTrayMenu(QWidget* Parent = nullptr);
    void SetSideBarCaption(const QString& Caption);
    QString SideBarCaption() const { return FCaption; }

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QString FCaption;
    QPixmap FSideBarPicture;
};
