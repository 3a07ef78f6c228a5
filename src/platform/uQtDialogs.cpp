#include "uQtDialogs.h"

#include "uConst.h"
#include "uUIHooks.h"

#include <QApplication>
#include <QMessageBox>

namespace {
// A box without owner that stays on top and comes to the front, like the
// platform boxes the program was designed with.
int RunBox(QMessageBox::Icon Icon, const QString& Caption, const QString& Text, QMessageBox::StandardButtons Buttons) {
    QMessageBox Box(Icon, Caption, Text, Buttons);
    Box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    Box.show();
    Box.raise();
    Box.activateWindow();
    return Box.exec();
}
} // namespace

void InstallQtUIHooks() {
    TUIHooks& Hooks = UIHooks();
    Hooks.ShowWarning = [](const QString& Caption, const QString& Text) {
        RunBox(QMessageBox::Warning, Caption, Text, QMessageBox::Ok);
    };
    Hooks.AskYesNo = [](const QString& Caption, const QString& Text) {
        return RunBox(QMessageBox::Question, Caption, Text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    Hooks.IsShiftDown = [] { return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier); };
    Hooks.ShowLogMessage = [](const QString& Line) {
        RunBox(QMessageBox::Information, QString::fromUtf8(ProgramName), Line, QMessageBox::Ok);
    };
}
