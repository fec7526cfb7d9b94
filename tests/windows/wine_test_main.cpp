// Test entry point of the Windows build: an application object must exist before any
// socket, timer or lookup is used.
#include "platform/event_pump.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    platform::EnsureApplication();
    return RUN_ALL_TESTS();
}
