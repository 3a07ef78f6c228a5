#pragma once

#include <QString>

// What the first instance checks before it writes anything or opens a window:
// a program that cannot show or store anything must say so and end, not look
// alive while doing nothing.

// Whether a display server the program can draw on is there: the Wayland socket
// or the X display named by the environment (a platform other than xcb and
// wayland, such as offscreen, needs none). Otherwise Why tells what is missing.
bool DisplayAvailable(QString& Why);
// Says on stderr that there is no display (the log lives where the store says, and
// opening the store would create it); the exit code to end with.
int ReportMissingDisplay(const QString& Why);

// Writes the program's version into the settings store; the problem text when the
// store cannot be written (a read-only or full folder, registry.db a folder, the
// folder below a file), else empty.
QString SettingsStoreProblem();
// Tells the user what is wrong and where: one ERROR line, a line on stderr and a
// message box (closed by SIGTERM too). Needs the application object; returns the
// exit code to end with.
int ReportUnusableStore(const QString& Problem);
