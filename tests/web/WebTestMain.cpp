#include "TestSupport.h"
#include "uWebModule.h"

#include <QApplication>

// The web windows need real widgets on a real display (the engine draws with OpenGL).
std::unique_ptr<QCoreApplication> MakeTestApplication(int& argc, char** argv) {
    PrepareWebEngineEnvironment(); // as the program's main does, before any thread
    return std::make_unique<QApplication>(argc, argv);
}
