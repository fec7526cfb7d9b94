#include "platform/event_pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

// Every upload runs a pump pass after each 64 KiB block; GLib's dispatcher would make each
// pass a round of source bookkeeping on top of the poll.
TEST(EventPumpTest, RunsOnTheToolkitsOwnDispatcher) {
    platform::EnsureApplication();
    const auto* dispatcher = QAbstractEventDispatcher::instance();
    ASSERT_NE(dispatcher, nullptr);
    EXPECT_FALSE(dispatcher->inherits("QEventDispatcherGlib"));
    EXPECT_TRUE(dispatcher->inherits("QEventDispatcherUNIX"));
}

} // namespace
