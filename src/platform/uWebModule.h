#pragma once

#include <QString>
#include <QStringList>

class IWebBrowserFactory;

// File name of the web module (the only part of the program that links the web engine).
inline constexpr const char* WebModuleFileName = "quorvantis_web.so";

// Where the module is looked for, in order: <program folder>/../lib/quorvantis/
// (an install), <program folder>/ (the build tree), <install prefix>/lib/quorvantis/.
QStringList WebModuleFolders();
// Loads the module on first use and returns its factory; throws EQuorvantis with
// the loader's reason when no folder holds a loadable module. A failed attempt is
// repeated at the next call, so a module installed meanwhile is found.
IWebBrowserFactory& WebBrowserFactory();
// True once the module is loaded in this process.
bool WebModuleLoaded();
// Hands back what the engine keeps once no page is shown: the allocator's free
// memory, and the resident pages of the files that came in with the module.
void ReleaseEngineMemory();
