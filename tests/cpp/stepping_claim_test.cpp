// The stepping claim and the run thread's life cycle under several threads: one stepper
// at a time, calls from the per-frame callable that never wait for themselves, and
// stop and start from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

#include "test_support.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// JMP $8000 for ever.
test::Image idle_loop() {
    return test::Image().at(0x8000, {0x4C, 0x00, 0x80}).vectors(0x8000, 0x8000, 0x8000);
}

// A battery cartridge that increments $6000 and then $7FFF for ever: between two
// instructions they differ by 0 or 1, whatever the moment; a copy taken while the CPU
// runs sees them drift apart.
test::Image twin_counters() {
    test::Image image = test::Image()
                            .at(0x8000, {0xEE, 0x00, 0x60,  // INC $6000
                                         0xEE, 0xFF, 0x7F,  // INC $7FFF
                                         0x4C, 0x00, 0x80}) // JMP $8000
                            .vectors(0x8000, 0x8000, 0x8000);
    image.flags6 |= 0x02; // battery-backed PRG RAM
    return image;
}

// Runs `body` on `threads` threads until `duration` has passed.
template <typename Body> void run_for(std::chrono::milliseconds duration, int threads, Body body) {
    auto const until = Clock::now() + duration;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            while (Clock::now() < until)
                body(t);
        });
    for (std::thread& thread : pool)
        thread.join();
}

class SteppingClaim : public ::testing::Test {
protected:
    test::TempHome home;
};

// A caller stepping in a loop while another thread pauses and resumes the run thread:
// at no moment may both step. The per-frame callable notices two steppers inside it.
TEST_F(SteppingClaim, ResumingNeverLetsTwoThreadsStep) {
    auto nes = test::console(home.path(), idle_loop(), "test.nes", 0);
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> frames_by_caller{0};
    nes->perFrame([&] {
        if (inside.fetch_add(1) != 0) ++overlaps;
        std::this_thread::sleep_for(50us);
        inside.fetch_sub(1);
    });
    nes->set_pause(true);
    nes->start();
    run_for(1500ms, 2, [&](int t) {
        if (t == 0) {
            nes->set_pause(false);
            std::this_thread::sleep_for(200us);
            nes->set_pause(true);
        } else {
            try {
                nes->runFrame();
                ++frames_by_caller;
            } catch (std::runtime_error const&) {
            }
        }
    });
    nes->stop();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(frames_by_caller.load(), 0);
}

// stop writes battery RAM as one whole picture of PRG RAM between two instructions,
// even while another thread steps the console with runFrame.
TEST_F(SteppingClaim, BatteryRamIsNeverWrittenWhileAnotherThreadSteps) {
    auto nes = test::console(home.path(), twin_counters(), "twin.nes");
    std::string const ram = nes->battery_ram_path();
    int torn = 0;
    int writes = 0;
    run_for(1500ms, 2, [&](int t) {
        if (t == 1) {
            try {
                nes->runFrame();
            } catch (std::runtime_error const&) {
            }
            return;
        }
        EXPECT_THROW(nes->stop(), std::runtime_error); // no run thread: it only writes
        std::ifstream in(ram, std::ios::binary);
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
        ASSERT_EQ(bytes.size(), 0x2000u);
        uint8_t const drift = uint8_t(bytes[0] - bytes[0x1FFF]);
        torn += drift > 1;
        ++writes;
    });
    EXPECT_EQ(torn, 0) << "of " << writes << " writes";
}

TEST_F(SteppingClaim, CallsFromTheRunThreadsCallableTakeEffectWhenItReturns) {
    auto nes = test::console(home.path(), twin_counters(), "twin.nes", 0);
    std::atomic<int> calls{0};
    std::atomic<bool> refused_run_frame{false}, refused_start{false}, saved_and_loaded{false};
    nes->perFrame([&] {
        if (++calls != 3) return;
        try {
            nes->runFrame();
        } catch (std::runtime_error const&) {
            refused_run_frame = true;
        }
        try {
            nes->start();
        } catch (std::runtime_error const&) {
            refused_start = true;
        }
        nes->save(1);
        saved_and_loaded = nes->load(1);
        nes->set_pause(true);
    });
    nes->start();
    while (calls < 3)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);
    int64_t const parked_at = nes->cycle_count();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(nes->cycle_count(), parked_at) << "the pause did not take effect";
    EXPECT_EQ(calls.load(), 3);
    EXPECT_TRUE(refused_run_frame);
    EXPECT_TRUE(refused_start);
    EXPECT_TRUE(saved_and_loaded);
    nes->stop();
}

TEST_F(SteppingClaim, StopFromTheCallableEndsTheThreadAndWritesBatteryRamOnce) {
    auto nes = test::console(home.path(), twin_counters(), "twin.nes", 0);
    std::atomic<int> calls{0};
    nes->perFrame([&] {
        if (++calls == 2) nes->stop();
    });
    nes->start();
    for (int i = 0; i < 500 && nes->stepping(); ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_FALSE(nes->stepping());
    for (int i = 0; i < 500 && !std::filesystem::exists(nes->battery_ram_path()); ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_TRUE(std::filesystem::exists(nes->battery_ram_path()));
    EXPECT_EQ(calls.load(), 2);
    // The thread was stopped already: a second stop behaves as one without a thread.
    EXPECT_THROW(nes->stop(), std::runtime_error);
    nes->start(); // and the console can run again
    EXPECT_TRUE(nes->stepping());
    nes->perFrame([] {});
    EXPECT_NO_THROW(nes->stop());
}

TEST_F(SteppingClaim, StopFromRunFramesCallableEndsAParkedThread) {
    auto nes = test::console(home.path(), twin_counters(), "twin.nes", 0);
    nes->set_pause(true);
    nes->start();
    bool stopped = false;
    nes->perFrame([&] {
        if (stopped) return;
        stopped = true;
        nes->stop();
    });
    nes->runFrame();
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(std::filesystem::exists(nes->battery_ram_path()));
    EXPECT_THROW(nes->stop(), std::runtime_error);
}

// Several threads stopping, starting and pausing one console: every stop returns, and
// exactly the stops that found a running thread succeed.
TEST_F(SteppingClaim, ConcurrentStopsStartsAndPausesNeverHang) {
    auto nes = test::console(home.path(), idle_loop(), "test.nes", 0);
    std::atomic<int> started{0}, stopped{0};
    run_for(1000ms, 4, [&](int t) {
        try {
            switch (t) {
            case 0:
                nes->start();
                ++started;
                break;
            case 1:
                nes->set_pause(true);
                nes->set_pause(false);
                break;
            default: nes->stop(); ++stopped;
            }
        } catch (std::runtime_error const&) {
        }
    });
    try {
        nes->stop();
        ++stopped;
    } catch (std::runtime_error const&) {
    }
    EXPECT_EQ(started.load(), stopped.load());
}

TEST_F(SteppingClaim, ACallerIsRefusedWhileAnotherHoldsTheClaim) {
    auto nes = test::console(home.path(), idle_loop());
    std::atomic<bool> in_callable{false}, release{false};
    nes->perFrame([&] {
        in_callable = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
    });
    std::thread stepper([&] { nes->runFrame(); });
    while (!in_callable)
        std::this_thread::sleep_for(1ms);
    EXPECT_THROW(nes->runFrame(), std::runtime_error);
    EXPECT_THROW(nes->save(0), std::runtime_error);
    EXPECT_THROW(nes->load(0), std::runtime_error);
    release = true;
    stepper.join();
    nes->perFrame([] {});
    EXPECT_NO_THROW(nes->runFrame());
}

// An owner letting go on the run thread itself (a callable dropping the last reference):
// the thread finishes its step and destroys the console; ASan tells a leak or a use
// after free.
TEST_F(SteppingClaim, AConsoleHandedToItsRunThreadIsDestroyedThere) {
    NESUnit* const nes = test::console(home.path(), idle_loop(), "test.nes", 0).release();
    std::atomic<bool> handed{false};
    nes->perFrame([nes, &handed] {
        if (!handed.exchange(true)) nes->hand_over_to_run_thread();
    });
    nes->start();
    while (!handed)
        std::this_thread::sleep_for(1ms);
    NESUnit::wait_for_handed_over_threads();
}

} // namespace
