// Test entry point for the layers below the windows: an application object must exist
// before any socket, timer or lookup is used.
#include "platform/broken_pipe.h"
#include "platform/event_pump.h"
#include "tests/support/leak_check.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    platform::IgnoreBrokenPipe();
    ::testing::InitGoogleTest(&argc, argv);
    platform::EnsureApplication();
    test_support::InstallLeakCheck();
    return RUN_ALL_TESTS();
}
