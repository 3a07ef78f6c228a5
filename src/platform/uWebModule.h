#pragma once

#include <QByteArrayList>
#include <QString>
#include <QStringList>

class IWebBrowserFactory;
class QWidget;
class TWebBrowser;

// File name of the web module (the only part of the program that links the web engine).
inline constexpr const char* WebModuleFileName = "quorvantis_web.so";

// Sets the environment the web engine reads when it starts: the first thing main
// does, while no other thread can read the environment. Loads nothing.
void PrepareWebEngineEnvironment();
// Where the module is looked for, in order: <program folder>/../lib/quorvantis/
// (an install), <program folder>/ (the build tree), <install prefix>/lib/quorvantis/.
QStringList WebModuleFolders();
// Loads the module on first use and returns its factory; throws EQuorvantis with
// the loader's reason when no folder holds a loadable module. A failed attempt is
// repeated at the next call, so a module installed meanwhile is found.
IWebBrowserFactory& WebBrowserFactory();
// A new browser inside Parent from the module's factory (nullptr with Error filled
// when the engine cannot run here); throws like WebBrowserFactory.
TWebBrowser* CreateWebBrowser(QWidget* Parent, QString& Error);
// True once the module is loaded in this process.
bool WebModuleLoaded();
// The files the engine brought in: mapped by loading the module and starting the
// engine for the first browser, not mapped before. Empty until then.
QByteArrayList WebEngineFiles();
// Hands back what the engine keeps once no page is shown: the allocator's free
// memory, and the resident pages of the engine's own files (WebEngineFiles).
void ReleaseEngineMemory();
