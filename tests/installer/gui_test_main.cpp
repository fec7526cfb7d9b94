// Test entry point for the windows: a widget application on the offscreen platform, set up
// as the installer sets itself up (title, top-level error report).
#include "installer/window/apply_update_windows.h"
#include "platform/broken_pipe.h"
#include "platform/event_pump.h"
#include "tests/support/leak_check.h"

#include <QApplication>
#include <QMimeDatabase>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    platform::IgnoreBrokenPipe();
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::ChooseEventDispatcher();
    QApplication application(argc, argv);
    installer::InitializeApplication();
    // The file dialog of "Save Log As..." loads Qt's MIME database, which keeps its cache
    // open for the rest of the process: loaded here, before anything is counted.
    QMimeDatabase().mimeTypeForName(QStringLiteral("text/plain"));
    test_support::InstallLeakCheck();
    return RUN_ALL_TESTS();
}
