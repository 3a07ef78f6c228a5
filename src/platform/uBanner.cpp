#include "uBanner.h"

#include "uAccessibility.h"
#include "uConst.h"
#include "uTImageList.h"

#include <QFont>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>

QPixmap BannerPixmap(int Width, int Height, qreal DevicePixelRatio) {
    QPixmap Picture(QSize(Width, Height) * DevicePixelRatio);
    Picture.setDevicePixelRatio(DevicePixelRatio);
    QPainter Painter(&Picture);
    Painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient Gradient(0, 0, Width, 0);
    Gradient.setColorAt(0.0, QColor(0x10, 0x2a, 0x6b));
    Gradient.setColorAt(1.0, QColor(0x3c, 0x7d, 0xd9));
    Painter.fillRect(QRect(0, 0, Width, Height), Gradient);

    const int IconSize = Height - 8;
    TImageList::TrayIcon().paint(&Painter, QRect(8, 4, IconSize, IconSize));
    QFont Font = Painter.font();
    Font.setBold(true);
    Font.setPixelSize(qMax(10, Height / 2));
    Painter.setFont(Font);
    Painter.setPen(Qt::white);
    Painter.drawText(QRect(16 + IconSize, 0, Width - 24 - IconSize, Height), Qt::AlignVCenter | Qt::AlignLeft,
                     QString::fromUtf8(ProgramName));
    return Picture;
}

QLabel* CreateBanner(QWidget* Parent, int Width, int Height) {
    auto* Label = new QLabel(Parent);
    Label->setObjectName(QStringLiteral("imgTop"));
    Label->setGeometry(0, 0, Width, Height);
    Label->setPixmap(BannerPixmap(Width, Height, Parent->devicePixelRatioF()));
    MarkDecorative(*Label); // the window title already names the program
    return Label;
}
