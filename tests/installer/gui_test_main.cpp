// Test entry point for the windows: a widget application on the offscreen platform, set up
// as the installer sets itself up (title, top-level error report).
#include "installer/apply_update_windows.h"
#include "platform/event_pump.h"
#include "tests/support/leak_check.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::ChooseEventDispatcher();
    QApplication application(argc, argv);
    installer::InitializeApplication();
    test_support::InstallLeakCheck();
    return RUN_ALL_TESTS();
}
