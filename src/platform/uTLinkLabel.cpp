#include "uTLinkLabel.h"

#include "uAccessibility.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

TLinkLabel::TLinkLabel(const QString& Text, QWidget* Parent) : QLabel(Text, Parent) {
    InstallAccessibleInterfaces();
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::StrongFocus);
    QFont Font = font();
    Font.setBold(true);
    Font.setUnderline(true);
    setFont(Font);
    setForegroundRole(QPalette::Link); // readable on light and dark themes alike
    setCursor(Qt::PointingHandCursor);
    // Its own buddy: an access key in the text is underlined and brings the focus here.
    setBuddy(this);
}

void TLinkLabel::Click() {
    Q_EMIT Clicked();
}

void TLinkLabel::keyPressEvent(QKeyEvent* Event) {
    const int Key = Event->key();
    if ((Key == Qt::Key_Return || Key == Qt::Key_Enter || Key == Qt::Key_Space) &&
        (Event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        Click();
        return;
    }
    QLabel::keyPressEvent(Event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()))
        Click();
    QLabel::mouseReleaseEvent(Event);
}

void TLinkLabel::paintEvent(QPaintEvent* Event) {
    QLabel::paintEvent(Event);
    if (!hasFocus())
        return;
    QStylePainter Painter(this);
    QStyleOptionFocusRect Option;
    Option.initFrom(this);
    Option.rect = contentsRect();
    Painter.drawPrimitive(QStyle::PE_FrameFocusRect, Option);
}
