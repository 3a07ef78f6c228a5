#include "TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

// Test folders that need widgets define a strong MakeTestApplication returning a QApplication.
__attribute__((weak)) std::unique_ptr<QCoreApplication> MakeTestApplication(int& argc, char** argv) {
    return std::make_unique<QCoreApplication>(argc, argv);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Keep every test away from the real home folder even before a fixture runs.
    static TTempEnvironment BaseEnvironment;
    ::testing::InitGoogleTest(&argc, argv);
    auto App = MakeTestApplication(argc, argv);
    return RUN_ALL_TESTS();
}
