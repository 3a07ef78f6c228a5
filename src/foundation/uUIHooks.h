#pragma once

#include <QString>
#include <functional>

// What the core needs from a user interface. The program fills the table with
// Qt dialogs at start; tests fill it with scripted answers. An empty entry means
// "no user interface": warnings are dropped, questions answer No, Shift is up.
struct TUIHooks {
    std::function<void(const QString& Caption, const QString& Text)> ShowWarning;
    // A message that reports a success (information icon, not a warning).
    std::function<void(const QString& Caption, const QString& Text)> ShowInformation;
    std::function<bool(const QString& Caption, const QString& Text)> AskYesNo;
    std::function<bool()> IsShiftDown;
    // The message box of the highest log level. Always called on the thread of
    // the QCoreApplication instance: the logger hands lines of other threads over.
    std::function<void(const QString& Line)> ShowLogMessage;
};

TUIHooks& UIHooks();
