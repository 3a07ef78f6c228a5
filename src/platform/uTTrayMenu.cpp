#include "uTTrayMenu.h"

#include "uTImageList.h"

#include <QActionEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <QTimer>

namespace {

constexpr QColor Maroon(0x80, 0x00, 0x00);
constexpr double PictureWidth = 30.0;
constexpr double PictureHeight = 680.0;
constexpr const char* CascadeLeftProperty = "qvCascadeLeft";

QFont CaptionFont() {
    QFont Font;
    Font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Sans Serif")});
    Font.setPixelSize(19);
    Font.setBold(true);
    Font.setItalic(true);
    return Font;
}

// Where an element of the picture lands when the picture is scaled to the bar
// width and aligned with the bar's foot.
QRectF PlaceElement(const QSvgRenderer& Picture, const QString& Id, const QRect& Bar) {
    const double Scale = Bar.width() / PictureWidth;
    const QRectF Box = Picture.transformForElement(Id).mapRect(Picture.boundsOnElement(Id));
    const double Top = Bar.bottom() + 1 - PictureHeight * Scale;
    return {Bar.left() + Box.x() * Scale, Top + Box.y() * Scale, Box.width() * Scale, Box.height() * Scale};
}

// The part of the screen under the widget that windows may use: without the panels
// (_NET_WORKAREA on X11).
QRect UsableArea(const QWidget& Widget) {
    const QScreen* Screen = QGuiApplication::screenAt(Widget.geometry().center());
    if (Screen == nullptr)
        Screen = Widget.screen();
    return Screen != nullptr ? Screen->availableGeometry() : QRect();
}

// Moves Menu into Area as far as it fits: Qt places pop-ups within the whole
// screen when the platform theme asks for it (Plasma's does), over the panel.
void KeepInside(QMenu& Menu, const QRect& Area) {
    if (!Area.isValid())
        return;
    QRect Box = Menu.geometry();
    if (Box.right() > Area.right())
        Box.moveRight(Area.right());
    if (Box.left() < Area.left())
        Box.moveLeft(Area.left());
    if (Box.bottom() > Area.bottom())
        Box.moveBottom(Area.bottom());
    if (Box.top() < Area.top())
        Box.moveTop(Area.top());
    if (Box.topLeft() != Menu.pos())
        Menu.move(Box.topLeft());
}

} // namespace

TTrayMenu::TTrayMenu(QWidget* Parent) : QMenu(Parent) {
    const QMargins Margins = contentsMargins();
    setContentsMargins(Margins.left() + SideBarWidth, Margins.top(), Margins.right(), Margins.bottom());
}

TTrayMenu::~TTrayMenu() = default;

void TTrayMenu::SetSideBarCaption(const QString& Caption) {
    FCaption = Caption;
    setAccessibleName(Caption); // what a screen reader calls the menu, as the side bar does
    update();
}

void TTrayMenu::MarkTopRanked(QAction& Action) {
    Action.setProperty("tag", 1);
    QFont Font = Action.font();
    Font.setBold(true);
    Action.setFont(Font);
}

void TTrayMenu::actionEvent(QActionEvent* Event) {
    QMenu::actionEvent(Event);
    // Entries tagged by others than MarkTopRanked still come out bold.
    if (Event->type() == QEvent::ActionAdded) {
        QAction* Action = Event->action();
        if (Action->property("tag").toInt() == 1 && !Action->font().bold())
            MarkTopRanked(*Action);
    }
}

void TTrayMenu::showEvent(QShowEvent* Event) {
    setProperty(CascadeLeftProperty, false);
    // Not while it lives inside the menu window.
    if (isWindow())
        KeepInside(*this, UsableArea(*this));
    // Submenus are built as children of their parent menus; installing twice is harmless.
    for (QMenu* Submenu : findChildren<QMenu*>())
        Submenu->installEventFilter(this);
    QMenu::showEvent(Event);
    if (FHighlightFirst) {
        FHighlightFirst = false;
        // After the pop-up has settled, as the user's first Down would: it highlights
        // the first entry without opening it (setActiveAction would open a submenu).
        QTimer::singleShot(0, this, [this] {
            if (!isVisible() || activeAction() != nullptr)
                return;
            QKeyEvent Down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
            QCoreApplication::sendEvent(this, &Down);
        });
    }
}

bool TTrayMenu::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::Show)
        if (auto* Submenu = qobject_cast<QMenu*>(Watched))
            PlaceSubmenu(*Submenu);
    return QMenu::eventFilter(Watched, Event);
}

// Qt places a submenu to the right of its entry and, when that does not fit, to the
// left of the entry, which is right of our side bar; a third level then flips back
// over the menu. Beside the whole parent window, in the cascade's direction, instead.
void TTrayMenu::PlaceSubmenu(QMenu& Submenu) {
    const auto* Parent = qobject_cast<QMenu*>(Submenu.parentWidget());
    if (Parent == nullptr || !Parent->isVisible())
        return;
    const QRect Area = UsableArea(*Parent);
    if (!Area.isValid())
        return;
    const QRect Beside = Parent->geometry();
    const int Width = Submenu.width();
    const int RightX = Beside.right() + 1;
    const int LeftX = Beside.left() - Width;
    const bool RoomRight = RightX + Width <= Area.right() + 1;
    const bool RoomLeft = LeftX >= Area.left();
    bool Left = Parent->property(CascadeLeftProperty).toBool();
    if (Left && !RoomLeft && RoomRight)
        Left = false;
    else if (!Left && !RoomRight && RoomLeft)
        Left = true;
    else if (!RoomLeft && !RoomRight)
        Left = Beside.left() - Area.left() > Area.right() - Beside.right(); // the wider side
    const int X = Left ? qMax(LeftX, Area.left()) : qMin(RightX, Area.right() + 1 - Width);
    Submenu.setProperty(CascadeLeftProperty, Left);
    if (Submenu.x() != X)
        Submenu.move(X, Submenu.y());
    KeepInside(Submenu, Area);
}

void TTrayMenu::paintEvent(QPaintEvent* Event) {
    QMenu::paintEvent(Event);
    QPainter Painter(this);
    QStyleOption Option;
    Option.initFrom(this);
    const int Frame = style()->pixelMetric(QStyle::PM_MenuPanelWidth, &Option, this);
    const QRect Bar(Frame, Frame, SideBarWidth, height() - 2 * Frame);
    if (Bar.intersects(Event->rect()))
        PaintSideBar(Painter, Bar);
}

QSvgRenderer& TTrayMenu::Picture() {
    // Read when the bar is first painted, not while the program starts.
    if (!FPicture) {
        (void)TImageList::TrayIcon(); // makes sure the picture resources are registered
        FPicture = std::make_unique<QSvgRenderer>(QStringLiteral(":/pictures/sidebar.svg"));
    }
    return *FPicture;
}

const QImage& TTrayMenu::Backdrop(qreal Dpr) {
    const QSize Size(qRound(SideBarWidth * Dpr), qRound(PictureHeight * SideBarWidth / PictureWidth * Dpr));
    if (FBackdrop.size() == Size)
        return FBackdrop;
    FBackdrop = QImage(Size, QImage::Format_ARGB32_Premultiplied);
    FBackdrop.fill(Qt::transparent);
    QPainter Painter(&FBackdrop);
    QSvgRenderer& Picture = this->Picture();
    if (Picture.elementExists(QStringLiteral("backdrop")))
        Picture.render(&Painter, QStringLiteral("backdrop"), QRectF(QPointF(0, 0), Size));
    else
        Picture.render(&Painter, QRectF(QPointF(0, 0), Size));
    // Fade the picture in over its upper half: a menu taller than the picture shows
    // the gradient above it without an edge.
    QLinearGradient Fade(0, 0, 0, Size.height() / 2.0);
    Fade.setColorAt(0, QColor(0, 0, 0, 0));
    Fade.setColorAt(1, QColor(0, 0, 0, 255));
    Painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    Painter.fillRect(FBackdrop.rect(), Fade);
    Painter.end();
    FBackdrop.setDevicePixelRatio(Dpr);
    return FBackdrop;
}

void TTrayMenu::PaintSideBar(QPainter& Painter, const QRect& Bar) {
    Painter.save();
    Painter.setClipRect(Bar);
    Painter.setRenderHint(QPainter::Antialiasing);
    Painter.setRenderHint(QPainter::SmoothPixmapTransform);

    QLinearGradient Gradient(Bar.topLeft(), Bar.bottomLeft());
    Gradient.setColorAt(0, palette().color(QPalette::ToolTipBase));
    Gradient.setColorAt(1, Maroon);
    Painter.fillRect(Bar, Gradient);

    const QFont Font = CaptionFont();
    const QFontMetricsF Metrics(Font);
    const double CaptionLength = FCaption.isEmpty() ? 0.0 : Metrics.horizontalAdvance(FCaption);
    double CaptionFoot = Bar.bottom() - 6;
    QSvgRenderer& Picture = this->Picture();
    if (Picture.isValid()) {
        const QImage& Image = Backdrop(devicePixelRatioF());
        const QSizeF Size = Image.deviceIndependentSize();
        Painter.drawImage(QPointF(Bar.left(), Bar.bottom() + 1 - Size.height()), Image);
        const QString Logo = QStringLiteral("logo");
        const QString Name = QStringLiteral("name");
        if (Picture.elementExists(Logo)) {
            const QRectF LogoRect = PlaceElement(Picture, Logo, Bar);
            // In a short menu the caption gets the whole bar.
            if (CaptionLength == 0.0 || LogoRect.top() - 8 - CaptionLength >= Bar.top() + 4) {
                Picture.render(&Painter, Logo, LogoRect);
                CaptionFoot = LogoRect.top() - 8;
            }
        }
        if (FCaption.isEmpty() && Picture.elementExists(Name))
            Picture.render(&Painter, Name, PlaceElement(Picture, Name, Bar));
    }

    if (!FCaption.isEmpty()) {
        // Bottom-to-top: rotate by -90 degrees about the caption's foot.
        Painter.setFont(Font);
        Painter.setPen(Qt::white);
        Painter.translate(Bar.left() + (Bar.width() + Metrics.ascent() - Metrics.descent()) / 2.0, CaptionFoot);
        Painter.rotate(-90);
        Painter.drawText(QPointF(0, 0), FCaption);
    }
    Painter.restore();
}
