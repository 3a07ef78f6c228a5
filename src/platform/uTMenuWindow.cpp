#include "uTMenuWindow.h"

#include "uAccessibility.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QPointer<TMenuWindow> Running;

QString PlainCaption(QString Caption) {
    Caption.replace(QLatin1String("&&"), QString(QChar(0xE000)));
    Caption.remove(QLatin1Char('&'));
    return Caption.replace(QChar(0xE000), QLatin1Char('&'));
}

// Moves the highlight to Row the way the Down key does: unlike setActiveAction,
// which pops the row's submenu up at once, keyboard selection never does.
void Highlight(QMenu& Menu, QAction* Row) {
    Menu.setActiveAction(nullptr);
    for (qsizetype Step = 0; Step < Menu.actions().size(); ++Step) {
        QKeyEvent Down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QCoreApplication::sendEvent(&Menu, &Down);
        if (Menu.activeAction() == Row || Row == nullptr)
            return;
    }
}

} // namespace

TMenuWindow::TMenuWindow(QMenu& Menu)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      btnBack(new QToolButton(this)) {
    InstallAccessibleInterfaces();
    setWindowTitle(QApplication::applicationName());
    setWindowIcon(QApplication::windowIcon());
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    btnBack->setObjectName(QStringLiteral("btnBack"));
    btnBack->setArrowType(Qt::LeftArrow);
    btnBack->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnBack->setAutoRaise(true);
    btnBack->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    btnBack->setFocusPolicy(Qt::NoFocus);
    connect(btnBack, &QToolButton::clicked, this, &TMenuWindow::Back);
    Layout->addWidget(btnBack);
    Embed(Menu, nullptr);
    ShowTop(nullptr);
}

TMenuWindow::~TMenuWindow() {
    while (!FStack.isEmpty())
        Release(FStack.takeLast());
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
    Loop.exec();
    Running = nullptr;
}

QMenu* TMenuWindow::CurrentMenu() const {
    return FStack.isEmpty() ? nullptr : FStack.last().Menu.data();
}

void TMenuWindow::Embed(QMenu& Menu, QAction* Entry) {
    FStack.append({&Menu, Menu.parent(), Entry, Menu.minimumWidth()});
    Menu.setParent(this, Qt::Widget);
    Menu.setActiveAction(nullptr);
    Menu.installEventFilter(this);
    // The level that gets the focus is announced by its caption.
    if (Menu.accessibleName().isEmpty())
        Menu.setAccessibleName(PlainCaption(Menu.title()));
    static_cast<QVBoxLayout*>(layout())->addWidget(&Menu);
    // A choice closes the window; a menu deleted under us (rebuilt) does too.
    connect(&Menu, &QMenu::triggered, this, &QWidget::close);
    connect(&Menu, &QObject::destroyed, this, &QWidget::close);
}

void TMenuWindow::Release(const TEmbedded& Entry) {
    QMenu* Menu = Entry.Menu;
    if (Menu == nullptr)
        return;
    disconnect(Menu, nullptr, this, nullptr);
    Menu->hide();
    // A pop-up delay still running finds no entry to pop up.
    Menu->setActiveAction(nullptr);
    Menu->removeEventFilter(this);
    layout()->removeWidget(Menu);
    Menu->setMinimumWidth(Entry.MinimumWidth);
    Menu->setParent(qobject_cast<QWidget*>(Entry.Parent.data()), Qt::Popup);
    if (Entry.Parent == nullptr && Menu->parent() != nullptr)
        Menu->setParent(nullptr, Qt::Popup);
}

void TMenuWindow::ShowTop(QAction* Row) {
    for (qsizetype I = 0; I + 1 < FStack.size(); ++I) {
        if (QMenu* Below = FStack[I].Menu) {
            Below->setActiveAction(nullptr);
            Below->hide();
        }
    }
    QMenu* Top = CurrentMenu();
    btnBack->setVisible(Depth() > 0);
    if (Depth() > 0) {
        QStringList Path;
        for (qsizetype I = 1; I < FStack.size(); ++I)
            Path << (FStack[I].Menu ? PlainCaption(FStack[I].Menu->title()) : QString());
        // Names as written: the button would read a single "&" as its hotkey.
        btnBack->setText(Path.join(QStringLiteral(" \u203A ")).replace(QLatin1Char('&'), QLatin1String("&&")));
    }
    if (Top == nullptr)
        return;
    if (Depth() > 0)
        Top->setMinimumWidth(FTopWidth); // the entries span the whole window
    Top->show();
    Top->setFocus(Qt::OtherFocusReason);
    layout()->activate();
    // Every level at least as wide as the top one, so the window does not jump.
    if (Depth() == 0)
        FTopWidth = sizeHint().width();
    // Wide enough for the title bar to show the whole name beside its close
    // button (GNOME's decoration cut "Quorvantis" short over a narrow menu).
    const int TitleWidth =
        QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(windowTitle()) * 3 / 2 + 96;
    setFixedSize(std::max({sizeHint().width(), FTopWidth, TitleWidth}), sizeHint().height());
    // Right and Return work at once: the first row, or the one we came back from.
    Highlight(*Top, Row);
}

bool TMenuWindow::OpenSubmenu(QAction* Entry) {
    if (Entry == nullptr || Entry->menu() == nullptr || !Entry->isEnabled())
        return false;
    QMenu* Sub = Entry->menu();
    // A submenu gets its entries when it is about to show, here as in a pop-up.
    Q_EMIT Sub->aboutToShow();
    Embed(*Sub, Entry);
    ShowTop(nullptr);
    return true;
}

void TMenuWindow::Back() {
    if (Depth() <= 0)
        return;
    const TEmbedded Left = FStack.takeLast();
    Release(Left);
    ShowTop(Left.Entry);
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
    auto* Menu = qobject_cast<QMenu*>(Watched);
    if (Menu == nullptr)
        return QWidget::eventFilter(Watched, Event);
    if (Event->type() == QEvent::Timer) {
        // Pointing at a submenu entry starts the menu's pop-up delay; here the
        // submenu opens in the window on a click or a key instead. So the delay
        // runs out with the submenu switched off for that moment: the timer
        // stops, nothing pops up, and the entry keeps its highlight.
        QAction* Active = Menu->activeAction();
        QMenu* Sub = Active != nullptr ? Active->menu() : nullptr;
        if (Sub == nullptr || !Sub->isEnabled())
            return QWidget::eventFilter(Watched, Event);
        const QSignalBlocker QuietEntry(Active);
        const QSignalBlocker QuietMenuEntry(Sub->menuAction());
        Sub->setEnabled(false);
        static_cast<QObject*>(Menu)->event(Event);
        Sub->setEnabled(true);
        return true;
    }
    if (Menu != CurrentMenu())
        return QWidget::eventFilter(Watched, Event);
    switch (Event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        auto* Mouse = static_cast<QMouseEvent*>(Event);
        QAction* Entry = Menu->actionAt(Mouse->position().toPoint());
        if (Entry == nullptr || Entry->menu() == nullptr)
            break;
        if (Event->type() == QEvent::MouseButtonRelease && Mouse->button() == Qt::LeftButton)
            OpenSubmenu(Entry);
        return true; // a submenu entry never pops up here
    }
    case QEvent::KeyPress: {
        const int Key = static_cast<QKeyEvent*>(Event)->key();
        QAction* Entry = Menu->activeAction();
        if ((Key == Qt::Key_Right || Key == Qt::Key_Return || Key == Qt::Key_Enter || Key == Qt::Key_Space) &&
            Entry != nullptr && Entry->menu() != nullptr) {
            OpenSubmenu(Entry);
            return true;
        }
        if (Key == Qt::Key_Left || Key == Qt::Key_Backspace || Key == Qt::Key_Escape) {
            if (Depth() > 0)
                Back();
            else if (Key == Qt::Key_Escape)
                close();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(Watched, Event);
}

void TMenuWindow::closeEvent(QCloseEvent* Event) {
    Event->accept();
    if (FLoop != nullptr)
        FLoop->quit();
}

void TMenuWindow::CloseUnlessActive() {
    // A window that never had the focus (a desktop that keeps new windows in the
    // background) waits for the user rather than vanishing.
    if (!isVisible() || !FWasActive || isActiveWindow())
        return;
    close();
}
