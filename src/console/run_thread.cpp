// The run thread: steps the console without end and sleeps between steps so that the
// emulated clock keeps pace with the host's. The pace is a deadline that follows what the
// thread itself runs: each time the thread takes the console (started, resumed, or after
// a caller's runFrame) the CPU's cycle count is due now, and every cycle the thread runs
// after that moves the deadline on by its emulated duration. So a thread that fell behind
// steps without sleeping until it has caught up, and time spent paused or waiting is
// never made up afterwards. The cycle count itself may jump: a snapshot restored while
// the thread is paused, or by its per-frame callable, sets it anywhere. A frame's
// callable therefore ends the stretch the deadline was counted over: the frame's cycles,
// up to its end, are due, and the count the callable leaves starts the next stretch.
#include <chrono>
#include <cstdio>
#include <stdexcept>

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

// The consoles handed to their run threads and not yet destroyed. Never destroyed
// itself: a run thread may finish after static destruction has begun.
class HandedOver {
public:
    void add() {
        std::lock_guard<std::mutex> lock(mutex);
        ++count;
    }
    void finished() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            --count;
        }
        done.notify_all();
    }
    void wait_for_all() {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return count == 0; });
    }

private:
    std::mutex mutex;
    std::condition_variable done;
    int count = 0;
};

HandedOver& handed_over_consoles() {
    static HandedOver* const consoles = new HandedOver;
    return *consoles;
}

} // namespace

void NESUnit::hand_over_to_run_thread() {
    handed_over_consoles().add();
    handed_over = true;
    end_running();
}

void NESUnit::wait_for_handed_over_threads() {
    handed_over_consoles().wait_for_all();
}

void NESUnit::start() {
    if (claim_held_here())
        throw std::runtime_error("start: called from this console's per-frame callable, while "
                                 "the console is stepping; the run thread can start once it "
                                 "returns");
    std::lock_guard<std::mutex> control(control_mutex);
    if (run_thread.joinable()) {
        if (running)
            throw std::runtime_error(
                "start: the console already has a run thread; call stop() first");
        join_run_thread(); // stopped from its callable: ending or ended
    }
    // The CPU's start time is set under the claim: a caller may be stepping right now.
    wait_for_claim();
    cpu->start_time = wall_clock_ns();
    {
        std::lock_guard<std::mutex> lock(run_mutex);
        running = true;
        thread_active = true;
    }
    give_back_claim();
    try {
        run_thread = std::thread(&NESUnit::operation_thread, this);
    } catch (...) {
        std::lock_guard<std::mutex> lock(run_mutex);
        running = false;
        thread_active = false;
        throw;
    }
}

void NESUnit::join_run_thread() {
    if (run_thread.joinable()) run_thread.join();
}

// The flag changes under the mutex so that a thread about to wait cannot miss it.
bool NESUnit::end_running() {
    bool was_running;
    {
        std::lock_guard<std::mutex> lock(run_mutex);
        was_running = running.exchange(false);
    }
    run_signal.notify_all();
    return was_running;
}

void NESUnit::halt() {
    end_running();
    if (on_run_thread()) return; // it ends when the callable that called this returns
    std::lock_guard<std::mutex> control(control_mutex);
    join_run_thread();
}

// "Had a thread" means a thread started and not stopped since, whether or not it is
// still stepping (a failing callable ends it early).
void NESUnit::stop() {
    if (claim_held_here()) {
        stop_from_callable();
        return;
    }
    std::lock_guard<std::mutex> control(control_mutex);
    bool const had_thread = end_running();
    join_run_thread();
    // Written under the claim, once no thread changes memory, so it is the RAM as the
    // last step left it.
    wait_for_claim();
    {
        HeldClaim const held(*this);
        write_battery_ram();
    }
    if (!had_thread) throw std::runtime_error("stop: the console has no run thread");
}

// The caller holds the claim. On the run thread, the thread ends when the callable
// returns and writes battery RAM then; under runFrame, a run thread is parked or
// waiting for the claim, so it steps no more and the RAM can be written now.
void NESUnit::stop_from_callable() {
    bool const had_thread = end_running();
    if (had_thread && on_run_thread()) {
        battery_write_at_end = true;
        return;
    }
    write_battery_ram();
    if (!had_thread) throw std::runtime_error("stop: the console has no run thread");
}

void NESUnit::set_pause(bool pause) {
    if (claim_held_here()) {
        // The thread that steps is this one: the pause begins when the callable returns.
        set_pause_flags(pause);
        return;
    }
    std::lock_guard<std::mutex> control(control_mutex);
    set_pause_flags(pause);
    if (!pause) return;
    // Wait for the thread to finish its step, so that the caller may save, load or
    // step by itself as soon as this returns (unless someone resumed it meanwhile).
    std::unique_lock<std::mutex> lock(run_mutex);
    run_signal.wait(lock, [&] { return parked || !thread_active || !paused; });
}

// Waking the thread also cuts a pacing sleep short.
void NESUnit::set_pause_flags(bool pause) {
    {
        std::lock_guard<std::mutex> lock(run_mutex);
        if (paused == pause) return;
        paused = pause;
    }
    run_signal.notify_all();
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
    std::lock_guard<std::mutex> lock(run_mutex);
    return running && !paused && thread_active;
}

// A paused thread blocks (it does not spin) until it is resumed or stopped.
void NESUnit::park(std::unique_lock<std::mutex>& lock) {
    parked = true;
    run_signal.notify_all();
    run_signal.wait(lock, [&] { return !paused || !running; });
    parked = false;
}

// The product of cycles and nanoseconds outgrows 64 bits after about 86 minutes of
// emulated time at the default clock, so it is formed in 128 bits.
int64_t NESUnit::pace_target_ns(int64_t cycles, int32_t clock_speed, int64_t origin_ns) {
    __int128 const elapsed = static_cast<__int128>(cycles) * 1000000000 / clock_speed;
    return int64_t(elapsed) + origin_ns;
}

void NESUnit::begin_pacing() {
    pace_origin_ns = now_ns();
    pace_cycles = cpu->cycles.load(std::memory_order_relaxed);
    paced_frames = frames_completed;
}

// The frame's cycles up to its end are due; whatever its callable did to the count is
// not, forward or back.
void NESUnit::pace_past_frame() {
    pace_origin_ns =
        pace_target_ns(frame_end_cycles - pace_cycles, cpu->clock_speed, pace_origin_ns);
    pace_cycles = cpu->cycles.load(std::memory_order_relaxed);
    paced_frames = frames_completed;
}

// Sleeps until the cycles run are due; stop and pause cut it short.
void NESUnit::throttle() {
    if (frames_completed != paced_frames) pace_past_frame();
    int64_t const target = pace_target_ns(cpu->cycles.load(std::memory_order_relaxed) - pace_cycles,
                                          cpu->clock_speed, pace_origin_ns);
    if (now_ns() >= target) return;
    std::unique_lock<std::mutex> lock(run_mutex);
    run_signal.wait_until(lock, Clock::time_point(std::chrono::nanoseconds(target)),
                          [&] { return !running || paused; });
}

void NESUnit::operation_thread() {
    run_thread_id = std::this_thread::get_id();
    try {
        while (wait_for_turn())
            step_while_running();
    } catch (std::exception const& e) {
        // Nobody is waiting for this thread's result: report and end it cleanly.
        std::fprintf(stderr, "vandrel: the run thread stopped: %s\n", e.what());
    }
    finish_run_thread();
}

// Parks while paused and waits while a caller holds the claim; true once the thread
// holds it, false when it is to end.
bool NESUnit::wait_for_turn() {
    std::unique_lock<std::mutex> lock(run_mutex);
    bool waiting = false;
    auto stop_waiting = [&] {
        if (!waiting) return;
        waiting = false;
        --claim_waiters;
    };
    for (;;) {
        if (!running) break;
        if (paused) {
            stop_waiting();
            park(lock);
            continue;
        }
        if (try_claim(Stepper::run_thread)) {
            stop_waiting();
            return true;
        }
        if (!waiting) {
            waiting = true;
            ++claim_waiters;
        }
        run_signal.wait(lock,
                        [&] { return stepper.load() == Stepper::nobody || paused || !running; });
    }
    stop_waiting();
    return false;
}

// The devices are caught up before the claim is given back, so that whoever takes the
// console over finds it whole, and the plan and the pace are made anew after every wait,
// in which a caller may have changed anything.
void NESUnit::step_while_running() {
    HeldClaim const held(*this);
    cpu->plan_catch_up();
    begin_pacing();
    if (mode == NES::Accuracy::hardware) {
        frames_seen = ppu->frame_count;
        while (running && !paused) {
            step_exactly();
            throttle();
        }
        sync_devices();
        return;
    }
    while (running && !paused) {
        step_lazily();
        throttle();
    }
    catch_up();
}

// A console handed over by its owner is destroyed here, by the last code that uses it.
void NESUnit::finish_run_thread() {
    if (battery_write_at_end.exchange(false)) {
        try {
            wait_for_claim();
            HeldClaim const held(*this);
            write_battery_ram();
        } catch (std::exception const& e) {
            std::fprintf(stderr, "vandrel: the run thread could not write battery RAM: %s\n",
                         e.what());
        }
    }
    bool const destroy = handed_over;
    run_thread_id = std::thread::id();
    {
        std::lock_guard<std::mutex> lock(run_mutex);
        thread_active = false;
    }
    run_signal.notify_all();
    if (!destroy) return;
    // start() may still be storing this thread's handle (a first frame can end before the
    // constructor of std::thread has returned there); it does so under the control mutex.
    {
        std::lock_guard<std::mutex> control(control_mutex);
        run_thread.detach();
    }
    delete this;
    handed_over_consoles().finished();
}
