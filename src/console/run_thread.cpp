// The run thread: steps the console without end and sleeps between steps so that the
// emulated clock keeps pace with the host's. The pace target is absolute: the C-th cycle
// since the start is due (C / clock speed) seconds after the start plus the time spent
// paused, so a thread that fell behind steps without sleeping until it has caught up,
// and time spent paused is never made up afterwards.
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "console/nes_unit.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// The host clock for pacing: steady, so that a change of the system time neither
// stalls nor rushes the emulation.
int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

int64_t wall_clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

void NESUnit::start() {
    if (run_thread.joinable())
        throw std::runtime_error("start: the console already has a run thread; call stop() first");
    running = true;
    int64_t const now = now_ns();
    start_time = now;
    cpu->start_time = wall_clock_ns();
    // A pause that began before the start counts from the start.
    pause_start = now;
    pause_offset = 0;
    start_cycles = cpu->cycles;
    {
        std::lock_guard<std::mutex> lock(run_mutex);
        thread_active = true;
    }
    try {
        run_thread = std::thread(&NESUnit::operation_thread, this);
    } catch (...) {
        running = false;
        std::lock_guard<std::mutex> lock(run_mutex);
        thread_active = false;
        throw;
    }
}

// The flags change under the mutex so that a thread about to wait cannot miss them.
void NESUnit::halt() {
    {
        std::lock_guard<std::mutex> lock(run_mutex);
        running = false;
    }
    run_signal.notify_all();
    if (run_thread.joinable()) run_thread.join();
}

void NESUnit::stop() {
    bool const had_thread = run_thread.joinable();
    halt();
    // Written once the thread no longer changes memory, so it is the RAM as it left it.
    write_battery_ram();
    if (!had_thread)
        throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                "stop: the console has no run thread");
}

void NESUnit::set_pause(bool pause) {
    if (pause && !paused) {
        pause_start = now_ns();
        std::unique_lock<std::mutex> lock(run_mutex);
        paused = true;
        run_signal.notify_all(); // cut a pacing sleep short
        // Wait for the thread to finish its step, so that the caller may save, load or
        // step by itself as soon as this returns.
        run_signal.wait(lock, [&] { return parked || !thread_active; });
    } else if (!pause && paused) {
        pause_offset += now_ns() - pause_start;
        {
            std::lock_guard<std::mutex> lock(run_mutex);
            paused = false;
        }
        run_signal.notify_all();
    }
}

// The previous callable is released after the new one is in place, outside the lock
// (releasing a Python callable takes the interpreter lock).
void NESUnit::perFrame(FrameCallback const& callback) {
    auto replacement = std::make_shared<FrameCallback const>(callback);
    std::lock_guard<std::mutex> lock(callback_mutex);
    perframefunc.swap(replacement);
}

std::shared_ptr<NESUnit::FrameCallback const> NESUnit::frame_callback() {
    std::lock_guard<std::mutex> lock(callback_mutex);
    return perframefunc;
}

bool NESUnit::stepping() {
    if (!run_thread.joinable() || !running || paused) return false;
    std::lock_guard<std::mutex> lock(run_mutex);
    return thread_active;
}

void NESUnit::refuse_while_stepping(char const* what) {
    if (stepping())
        throw std::runtime_error(std::string(what) +
                                 ": the console is running on its own thread; pause or stop it "
                                 "first");
}

// A paused thread blocks (it does not spin) until it is resumed or stopped.
void NESUnit::park() {
    std::unique_lock<std::mutex> lock(run_mutex);
    parked = true;
    run_signal.notify_all();
    run_signal.wait(lock, [&] { return !paused || !running; });
    parked = false;
}

// The product of cycles and nanoseconds outgrows 64 bits after about 86 minutes of
// emulated time at the default clock, so it is formed in 128 bits.
int64_t NESUnit::pace_target_ns(int64_t cycles, int32_t clock_speed, int64_t start_ns,
                                int64_t paused_ns) {
    __int128 const elapsed = static_cast<__int128>(cycles) * 1000000000 / clock_speed;
    return int64_t(elapsed) + start_ns + paused_ns;
}

// Sleeps until the cycles run since the start are due; stop and pause cut it short.
void NESUnit::throttle() {
    int64_t const target =
        pace_target_ns(cpu->cycles - start_cycles, cpu->clock_speed, start_time, pause_offset);
    if (now_ns() >= target) return;
    std::unique_lock<std::mutex> lock(run_mutex);
    run_signal.wait_until(lock, Clock::time_point(std::chrono::nanoseconds(target)),
                          [&] { return !running || paused; });
}

// The devices are caught up before the thread parks or ends, so that whoever takes the
// console over finds it whole, and the plan is made again after a pause, in which the
// caller may have changed anything.
void NESUnit::operation_thread() {
    try {
        cpu->plan_catch_up();
        while (running) {
            if (paused) {
                catch_up(cpu->cycles);
                park();
                cpu->plan_catch_up();
                continue;
            }
            step_lazily();
            throttle();
        }
        catch_up(cpu->cycles);
    } catch (std::exception const& e) {
        // Nobody is waiting for this thread's result: report and end it cleanly.
        std::fprintf(stderr, "vandrel: the run thread stopped: %s\n", e.what());
    }
    std::lock_guard<std::mutex> lock(run_mutex);
    thread_active = false;
    run_signal.notify_all();
}
