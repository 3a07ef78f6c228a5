#pragma once

#include <QString>
#include <optional>

// The text of `quorvantis --help`.
QString UsageText();

// Answers --help and --version on stdout. Runs first in main(): nothing else of
// the program has run, so no settings store, autostart entry, log, lock or display
// is touched. Returns the exit code when the first argument was one of them.
std::optional<int> AnswerInformationOption(int argc, char** argv);
