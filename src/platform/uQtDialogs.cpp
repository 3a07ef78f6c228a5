#include "uQtDialogs.h"

#include "uAccessKeys.h"
#include "uConst.h"
#include "uUIHooks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>

namespace {
// What the picture of a box says, for screen readers.
QString IconName(QMessageBox::Icon Icon, bool German) {
    switch (Icon) {
    case QMessageBox::Warning:
        return German ? QStringLiteral("Warnung") : QStringLiteral("Warning");
    case QMessageBox::Question:
        return German ? QStringLiteral("Frage") : QStringLiteral("Question");
    case QMessageBox::Critical:
        return German ? QStringLiteral("Fehler") : QStringLiteral("Error");
    default:
        return QStringLiteral("Information");
    }
}

// A box without owner that stays on top and comes to the front, like the
// platform boxes the program was designed with.
int RunBox(QMessageBox::Icon Icon, const QString& Caption, const QString& Text, QMessageBox::StandardButtons Buttons) {
    QMessageBox Box(Icon, Caption, Text, Buttons);
    // Qt's own button texts are English; the program speaks the user's language.
    const bool German = CurrentLanguage == 0;
    if (QAbstractButton* Yes = Box.button(QMessageBox::Yes))
        Yes->setText(German ? QStringLiteral("&Ja") : QStringLiteral("&Yes"));
    if (QAbstractButton* No = Box.button(QMessageBox::No))
        No->setText(German ? QStringLiteral("&Nein") : QStringLiteral("&No"));
    if (QAbstractButton* Ok = Box.button(QMessageBox::Ok))
        Ok->setText(QStringLiteral("&OK"));
    // Qt's own name for the picture; it shows which kind of message this is.
    if (auto* Picture = Box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label")))
        Picture->setAccessibleName(IconName(Icon, German));
    AssignWidgetAccessKeys(Box);
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
    Hooks.ShowInformation = [](const QString& Caption, const QString& Text) {
        RunBox(QMessageBox::Information, Caption, Text, QMessageBox::Ok);
    };
    Hooks.AskYesNo = [](const QString& Caption, const QString& Text) {
        return RunBox(QMessageBox::Question, Caption, Text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    Hooks.IsShiftDown = [] { return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier); };
    Hooks.ShowLogMessage = [](const QString& Line) {
        RunBox(QMessageBox::Information, QString::fromUtf8(ProgramName), Line, QMessageBox::Ok);
    };
}
