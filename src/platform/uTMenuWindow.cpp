#include "uTMenuWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {
QPointer<TMenuWindow> Running;
}

TMenuWindow::TMenuWindow(QMenu& Menu) : QWidget(nullptr, Qt::Window), FMenu(Menu) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QApplication::applicationName());
    setWindowIcon(QApplication::windowIcon());
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    FMenu.setParent(this, Qt::Widget);
    Layout->addWidget(&FMenu);
    FMenu.show();
    setFixedSize(sizeHint());
    // An embedded menu hides itself on a choice and on Escape, as a pop-up would.
    connect(&FMenu, &QMenu::aboutToHide, this, &QWidget::close);
    connect(&FMenu, &QMenu::triggered, this, &QWidget::close);
    // A submenu closed by a click elsewhere leaves the window inactive.
    qApp->installEventFilter(this);
}

TMenuWindow::~TMenuWindow() {
    qApp->removeEventFilter(this);
    disconnect(&FMenu, nullptr, this, nullptr);
    FMenu.hide();
    layout()->removeWidget(&FMenu);
    FMenu.setParent(nullptr, Qt::Popup);
}

TMenuWindow* TMenuWindow::Current() {
    return Running;
}

void TMenuWindow::Exec(QMenu& Menu) {
    TMenuWindow Window(Menu);
    QEventLoop Loop;
    Window.FLoop = &Loop;
    Running = &Window;
    Window.show();
    Window.raise();
    Window.activateWindow();
    Menu.setFocus(Qt::PopupFocusReason);
    Loop.exec();
    Running = nullptr;
}

bool TMenuWindow::event(QEvent* Event) {
    switch (Event->type()) {
    case QEvent::WindowActivate:
        FWasActive = true;
        break;
    case QEvent::WindowDeactivate:
        QTimer::singleShot(0, this, &TMenuWindow::CloseUnlessActive);
        break;
    default:
        break;
    }
    return QWidget::event(Event);
}

bool TMenuWindow::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::Hide && Watched != &FMenu) {
        auto* Widget = qobject_cast<QWidget*>(Watched);
        if (Widget != nullptr && Widget->windowType() == Qt::Popup)
            QTimer::singleShot(0, this, &TMenuWindow::CloseUnlessActive);
    }
    return QWidget::eventFilter(Watched, Event);
}

void TMenuWindow::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(Event);
}

void TMenuWindow::closeEvent(QCloseEvent* Event) {
    Event->accept();
    if (FLoop != nullptr)
        FLoop->quit();
}

void TMenuWindow::CloseUnlessActive() {
    // A window that never had the focus (a desktop that keeps new windows in the
    // background) waits for the user rather than vanishing.
    if (!isVisible() || !FWasActive || isActiveWindow() || QApplication::activePopupWidget() != nullptr)
        return;
    close();
}
