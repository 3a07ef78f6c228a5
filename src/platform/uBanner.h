#pragma once

#include <QPixmap>

class QLabel;
class QWidget;

// The banner across the top of the update, info and help windows: the program's
// picture and name on a blue gradient, drawn for the given size.
QPixmap BannerPixmap(int Width, int Height, qreal DevicePixelRatio = 1.0);
// A label named "imgTop" at the top of Parent showing the banner.
QLabel* CreateBanner(QWidget* Parent, int Width, int Height);
