// main() for tests that need widgets: headless unless told otherwise, with
// the real message box and wait cursor hooks (tests replace them as needed).
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/Dialog.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    InstallGuiPlatformHooks();
    return RUN_ALL_TESTS();
}
