#include "TestSupport.h"

#include <QApplication>

// Shell tests need real widgets (offscreen platform, set by the shared main).
std::unique_ptr<QCoreApplication> MakeTestApplication(int& argc, char** argv) {
    return std::make_unique<QApplication>(argc, argv);
}
