// The run thread: its states and transitions, pacing, and the failures it must survive.
// Timings on shared machines are noisy, so time-based checks use generous margins.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "test_support.hpp"

namespace {

using namespace std::chrono_literals;

class RunThread : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes = test::console(
        home.path(), test::Image().at(0x8000, {0x4C, 0x00, 0x80}).vectors(0x8000, 0x8000, 0x8000));
};

TEST_F(RunThread, KeepsPaceWithTheHostClock) {
    nes->start();
    std::this_thread::sleep_for(500ms);
    int64_t const cycles = nes->cycle_count();
    nes->stop();
    EXPECT_GT(cycles, 1789773 / 100) << "hardly ran"; // sanitizer builds run slowly
    EXPECT_LT(cycles, 1789773 * 3 / 4) << "ran ahead of the host clock";
}

TEST_F(RunThread, PauseStopsSteppingAtOnceAndResumesWithoutRushing) {
    nes->start();
    std::this_thread::sleep_for(100ms);
    nes->set_pause(true);
    int64_t const paused_at = nes->cycle_count();
    EXPECT_FALSE(nes->stepping());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(nes->cycle_count(), paused_at);
    nes->set_pause(false);
    std::this_thread::sleep_for(100ms);
    int64_t const after = nes->cycle_count() - paused_at;
    nes->stop();
    EXPECT_LT(after, 1789773 / 4) << "made up the paused time";
}

TEST_F(RunThread, StepsOnlyWhileStartedAndNotPaused) {
    EXPECT_FALSE(nes->stepping());
    nes->set_pause(true);
    nes->start();
    EXPECT_FALSE(nes->stepping());
    EXPECT_THROW(nes->start(), std::runtime_error);
    nes->set_pause(false);
    EXPECT_TRUE(nes->stepping());
    EXPECT_THROW(nes->runFrame(), std::runtime_error);
    EXPECT_THROW(nes->save(0), std::runtime_error);
    EXPECT_THROW(nes->load(0), std::runtime_error);
    nes->stop();
    EXPECT_FALSE(nes->stepping());
    EXPECT_THROW(nes->stop(), std::runtime_error);
}

TEST_F(RunThread, RestartContinuesTheCycleCount) {
    nes->start();
    std::this_thread::sleep_for(50ms);
    nes->stop();
    int64_t const first = nes->cycle_count();
    nes->start();
    std::this_thread::sleep_for(50ms);
    nes->stop();
    EXPECT_GE(nes->cycle_count(), first);
    // Cycles run before the start are not waited for again.
    EXPECT_GT(nes->cycle_count() - first, 1000);
}

TEST_F(RunThread, AFailingCallableEndsTheThreadAndStopStillWorks) {
    nes->perFrame([] { throw std::runtime_error("boom"); });
    testing::internal::CaptureStderr();
    nes->start();
    for (int i = 0; i < 200 && nes->stepping(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(nes->stepping());
    EXPECT_NO_THROW(nes->stop());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("boom"), std::string::npos);
}

TEST_F(RunThread, ReplacingTheCallableWhileItRunsIsSafe) {
    std::atomic<int> calls{0};
    nes->start();
    for (int i = 0; i < 200; ++i) {
        nes->perFrame([&calls, i] { calls += i >= 0; });
        std::this_thread::sleep_for(1ms);
    }
    nes->stop();
    EXPECT_GT(calls.load(), 0);
}

TEST_F(RunThread, DestroyingARunningConsoleEndsItsThread) {
    nes->perFrame([] {});
    nes->start();
    std::this_thread::sleep_for(20ms);
    EXPECT_NO_THROW(nes.reset());
}

TEST(Pacing, TargetDoesNotOverflowAfterHoursOfEmulatedTime) {
    int64_t const hours_10 = int64_t(1789773) * 36000;
    EXPECT_EQ(NESUnit::pace_target_ns(hours_10, 1789773, 12), 36000LL * 1000000000 + 12);
    EXPECT_EQ(NESUnit::pace_target_ns(3, 2, 0), 1500000000);
}

} // namespace
