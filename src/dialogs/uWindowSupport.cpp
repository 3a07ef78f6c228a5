#include "uWindowSupport.h"

#include "uAccessibility.h"
#include "uConst.h"
#include "uErrors.h"
#include "uTLogger.h"
#include "ufrmQuorvantis.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QWidget>

void LogWindowError(const QString& Text) {
    if (TfrmQuorvantis* Main = frmQuorvantis()) {
        Main->Logger().Error(Text);
        return;
    }
    TLogger(QString::fromUtf8(ProgramName)).Error(Text);
}

TfrmQuorvantis& RequireMainWindow() {
    TfrmQuorvantis* Window = frmQuorvantis();
    if (Window == nullptr)
        throw EQuorvantis(QStringLiteral("The main window does not exist"));
    return *Window;
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

void CentreOnScreen(QWidget& Window) {
    const QScreen* Screen = Window.screen() ? Window.screen() : QGuiApplication::primaryScreen();
    if (Screen)
        Window.move(Screen->availableGeometry().center() - Window.rect().center());
}

void ShowAndRaise(QWidget& Window) {
    if (!Window.isVisible())
        CentreOnScreen(Window);
    Window.show();
    Window.raise();
    Window.activateWindow();
}

QLabel* CreateBanner(QWidget& Window, int Width) {
    auto* Banner = new QLabel(&Window);
    Banner->setObjectName(QStringLiteral("imgTop"));
    Banner->setGeometry(0, 0, Width, 33);
    QPixmap Picture(Width * 2, 66); // drawn at twice the size: sharp on high-density screens
    Picture.setDevicePixelRatio(2);
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
