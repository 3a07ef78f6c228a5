#pragma once

// Fills the core's UI hook table with Qt message boxes (warning, question, the
// log's message box) and the keyboard query. Call once the QApplication exists.
void InstallQtUIHooks();
