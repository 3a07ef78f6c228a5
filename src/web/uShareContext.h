#pragma once

#include <QOpenGLContext>

#include <dlfcn.h>

// Qt's setter of the OpenGL context every OpenGL user of the process shares. QtGui
// exports it without declaring it publicly (Qt WebEngine itself declares it by
// hand); the only public way, Qt::AA_ShareOpenGLContexts before the application
// object exists, creates a real context at every start and so loads the OpenGL
// driver into a program that may never show a page. Looked up at run time: a Qt
// without it leaves the web view unavailable with a reason instead of the module
// failing to load.
using TSetShareContext = void (*)(QOpenGLContext*);

inline constexpr const char* SetShareContextSymbol = "_Z30qt_gl_set_global_share_contextP14QOpenGLContext";

inline TSetShareContext FindShareContextSetter() {
    return reinterpret_cast<TSetShareContext>(::dlsym(RTLD_DEFAULT, SetShareContextSymbol));
}
