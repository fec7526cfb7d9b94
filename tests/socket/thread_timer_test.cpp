// The rules of the time-out timer: when it runs, which assignments restart its period, and
// that its ticks are events of the owning thread.
#include "platform/application_exception.h"
#include "platform/event_pump.h"
#include "socket/thread_timer.h"
#include "tests/socket/socket_peer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace {

using test_support::PumpUntil;

// A fast periodic timer whose ticks serve as the clock of a test: observations are made in
// ticks of this timer, not in milliseconds.
struct Metronome {
    explicit Metronome(std::function<void()> onBeat = {}) : beat(std::move(onBeat)) {
        timer.SetInterval(30);
        timer.SetOnTimer([this](TObject*) {
            ++beats;
            if (beat)
                beat();
        });
    }
    TThreadTimer timer;
    int beats = 0;
    std::function<void()> beat;
};

TEST(ThreadTimerRules, NewTimerIsEnabledWithOneSecondAndDoesNotRunWithoutHandler) {
    TThreadTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.OnTimer());
}

TEST(ThreadTimerRules, TicksPeriodicallyWhileEnabledWithIntervalAndHandler) {
    TThreadTimer timer;
    int ticks = 0;
    TObject* sender = nullptr;
    timer.SetInterval(10);
    timer.SetOnTimer([&](TObject* s) {
        ++ticks;
        sender = s;
    });
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    EXPECT_EQ(sender, &timer);
}

TEST(ThreadTimerRules, IntervalZeroDisabledOrNoHandlerMeansNoTicks) {
    TThreadTimer zero;
    int zeroTicks = 0;
    zero.SetInterval(0);
    zero.SetOnTimer([&](TObject*) { ++zeroTicks; });

    TThreadTimer disabled;
    int disabledTicks = 0;
    disabled.SetInterval(10);
    disabled.SetEnabled(false);
    disabled.SetOnTimer([&](TObject*) { ++disabledTicks; });

    TThreadTimer removed;
    int removedTicks = 0;
    removed.SetInterval(10);
    removed.SetOnTimer([&](TObject*) { ++removedTicks; });
    ASSERT_TRUE(PumpUntil([&] { return removedTicks >= 1; }));
    removed.SetOnTimer(nullptr); // an unassigned handler stops the timer
    const int removedBefore = removedTicks;

    Metronome clock;
    ASSERT_TRUE(PumpUntil([&] { return clock.beats >= 10; }));
    EXPECT_EQ(zeroTicks, 0);
    EXPECT_EQ(disabledTicks, 0);
    EXPECT_EQ(removedTicks, removedBefore);
}

TEST(ThreadTimerRules, EqualEnabledOrIntervalDoesNotRestartThePeriod) {
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(100);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    // Every beat re-assigns the values it already has. Were the period restarted each
    // time, the timer (100 ms) could never outrun the beat (30 ms).
    Metronome clock([&] {
        timer.SetEnabled(true);
        timer.SetInterval(100);
    });
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 1 || clock.beats >= 200; }));
    EXPECT_GE(ticks, 1);
}

TEST(ThreadTimerRules, AssigningTheHandlerAgainRestartsThePeriod) {
    TThreadTimer timer;
    int ticks = 0;
    const TNotifyEvent handler = [&](TObject*) { ++ticks; };
    timer.SetInterval(100);
    timer.SetOnTimer(handler);
    Metronome clock([&] { timer.SetOnTimer(handler); });
    ASSERT_TRUE(PumpUntil([&] { return clock.beats >= 20; }));
    EXPECT_EQ(ticks, 0);
}

TEST(ThreadTimerRules, ChangedIntervalRestartsThePeriod) {
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(100);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    bool flip = false;
    Metronome clock([&] {
        flip = !flip;
        timer.SetInterval(flip ? 101 : 100);
    });
    ASSERT_TRUE(PumpUntil([&] { return clock.beats >= 20; }));
    EXPECT_EQ(ticks, 0);
}

TEST(ThreadTimerRules, TicksArriveOnlyWhileTheThreadProcessesEvents) {
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 1; }));
}

TEST(ThreadTimerRules, HandlerExceptionGoesToApplicationHandlerAndNextTickComes) {
    std::vector<std::string> reported;
    platform::SetExceptionHandler([&](const std::string& message) { reported.push_back(message); });
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(10);
    timer.SetOnTimer([&](TObject*) {
        if (++ticks == 1)
            throw std::runtime_error("tick failed");
    });
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }));
    platform::SetExceptionHandler(nullptr);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], "tick failed");
}

TEST(ThreadTimerRules, RefusedTimerRaisesNoTimerAndKeepsTheNewValue) {
    TThreadTimer timer;
    timer.SetOnTimer([](TObject*) {});
    try {
        timer.SetInterval(0xFFFFFFFFu); // beyond what the platform accepts
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "No Timer");
    }
    EXPECT_EQ(timer.Interval(), 0xFFFFFFFFu);
}

TEST(ThreadTimerRules, HandlerMayRemoveItselfWhileRunning) {
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TObject*) {
        ++ticks;
        timer.SetOnTimer(nullptr);
    });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }));
    Metronome clock;
    ASSERT_TRUE(PumpUntil([&] { return clock.beats >= 5; }));
    EXPECT_EQ(ticks, 1);
}

} // namespace
