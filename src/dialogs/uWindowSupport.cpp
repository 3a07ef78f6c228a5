#include "uWindowSupport.h"

#include "uAccessibility.h"
#include "uConst.h"
#include "uErrors.h"
#include "uTLogger.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QWidget>

void LogWindowError(const QString& Text) {
    // The log file is opened, appended and closed per line: any logger writes the same way.
    TLogger(QString::fromUtf8(ProgramName)).Error(Text);
}

QLabel* CreateSearchLabel(QWidget& Window) {
    auto* Label = new QLabel(&Window);
    Label->setObjectName(QStringLiteral("labSearch"));
    Label->setGeometry(10, 43, 108, 32);
    Label->setWordWrap(true);
    Label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    MakeBold(*Label);
    return Label;
}

void SetupToolWindow(QWidget& Window, const QString& Name, int ClientWidth, int ClientHeight) {
    Window.setObjectName(Name);
    Window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint);
    Window.setFixedSize(ClientWidth, ClientHeight);
    QFont Font = Window.font();
    Font.setPixelSize(11);
    Window.setFont(Font);
}

namespace {

const QScreen* ScreenOf(const QWidget& Window) {
    return Window.screen() ? Window.screen() : QGuiApplication::primaryScreen();
}

int TitleBarHeight(const QWidget& Window) {
    const int Known = Window.frameGeometry().height() - Window.height();
    return Known > 0 ? Known : AssumedTitleBarHeight;
}

constexpr const char* DesignHeightProperty = "qvDesignHeight";
constexpr const char* StretchHeightProperty = "qvDesignStretchHeight";

// Shrinks (Delta > 0) or grows Stretch by Delta and moves what lies below it, at
// every level from Stretch up to Window, by the same amount.
void ResizeStretch(QWidget& Window, QWidget& Stretch, int Delta) {
    for (QWidget* Part = &Stretch; Part != nullptr && Part != &Window; Part = Part->parentWidget()) {
        QWidget* Parent = Part->parentWidget();
        if (Parent == nullptr)
            break;
        const int Bottom = Part->geometry().bottom();
        for (QObject* Object : Parent->children()) {
            auto* Sibling = qobject_cast<QWidget*>(Object);
            if (Sibling != nullptr && Sibling != Part && !Sibling->isWindow() && Sibling->y() > Bottom)
                Sibling->move(Sibling->x(), Sibling->y() - Delta);
        }
        Part->resize(Part->width(), Part->height() - Delta);
    }
}

} // namespace

void CentreOnScreen(QWidget& Window) {
    const QScreen* Screen = ScreenOf(Window);
    if (!Screen)
        return;
    const QRect Area = Screen->availableGeometry();
    const int Title = TitleBarHeight(Window);
    QPoint Position = Area.center() - Window.rect().center();
    // The frame's top-left corner stays inside the area even when the window does not fit.
    Position.setX(qMax(Area.left(), qMin(Position.x(), Area.right() + 1 - Window.width())));
    Position.setY(qMax(Area.top() + Title, qMin(Position.y(), Area.bottom() + 1 - Window.height())));
    Window.move(Position);
}

void FitIntoArea(QWidget& Window, QWidget& Stretch, const QRect& Area) {
    if (!Window.property(DesignHeightProperty).isValid()) {
        Window.setProperty(DesignHeightProperty, Window.height());
        Window.setProperty(StretchHeightProperty, Stretch.height());
    }
    const int Design = Window.property(DesignHeightProperty).toInt();
    const int StretchDesign = Window.property(StretchHeightProperty).toInt();
    const int Room = Area.height() - TitleBarHeight(Window);
    // The stretching part keeps a few lines at least.
    const int Wanted = qMax(Design - (StretchDesign - 60), qMin(Design, Room));
    const int Delta = Window.height() - Wanted;
    if (Delta == 0)
        return;
    ResizeStretch(Window, Stretch, Delta);
    Window.setFixedSize(Window.width(), Wanted);
}

void FitOnScreen(QWidget& Window, QWidget& Stretch) {
    if (const QScreen* Screen = ScreenOf(Window))
        FitIntoArea(Window, Stretch, Screen->availableGeometry());
}

void ShowAndRaise(QWidget& Window, QWidget* Stretch) {
    if (!Window.isVisible()) {
        if (Stretch != nullptr)
            FitOnScreen(Window, *Stretch);
        CentreOnScreen(Window);
    }
    Window.show();
    Window.raise();
    Window.activateWindow();
}

QLabel* CreateBanner(QWidget& Window, int Width) {
    auto* Banner = new QLabel(&Window);
    Banner->setObjectName(QStringLiteral("imgTop"));
    Banner->setGeometry(0, 0, Width, 33);
    // Drawn for the window's screen: sharp on high-density screens, and on others
    // neither four times the pixels nor the label's scaled copy of them.
    const qreal Ratio = qMax<qreal>(1, Window.devicePixelRatioF());
    QPixmap Picture(QSize(Width, 33) * Ratio);
    Picture.setDevicePixelRatio(Ratio);
    Picture.fill(Qt::transparent);
    QPainter Painter(&Picture);
    QSvgRenderer(QStringLiteral(":/pictures/banner.svg"))
        .render(&Painter, QRectF(0, 0, qMax(Width, 570), 33)); // narrower windows cut the right end
    Painter.end();
    Banner->setPixmap(Picture);
    MarkDecorative(*Banner);
    return Banner;
}

QPushButton* CreatePictureButton(QWidget& Window, const QString& Name, const QString& Picture) {
    auto* Button = new QPushButton(&Window);
    Button->setObjectName(Name);
    Button->setIcon(QIcon(QStringLiteral(":/pictures/") + Picture + QStringLiteral(".svg")));
    // Return or Enter presses the button that has the focus (a plain window has no default button).
    Button->setAutoDefault(true);
    return Button;
}

void SetCaptionAndHint(QPushButton& Button, const QString& Caption, const QString& Hint) {
    Button.setText(Caption);
    Button.setToolTip(Hint);
    Button.setStatusTip(Hint);
}

void MakeBold(QLabel& Label, int PixelHeight) {
    QFont Font = Label.font();
    Font.setBold(true);
    if (PixelHeight > 0)
        Font.setPixelSize(PixelHeight);
    Label.setFont(Font);
}
