// The batch stepper: N consoles of one cartridge, stepped together by a pool of native
// threads, for reinforcement learning. One call steps every console by one agent step
// (frame_skip frames holding its action) and writes every observation into arrays the
// stepper owns for its whole life, so a caller can keep views of them.
//
// Every console starts from one start state: power-on (or a snapshot given as the start
// state) plus start_frames frames without input, taken once as a snapshot. A reset restores that
// snapshot and then runs a random number of no-input frames (0 to noop_max), drawn from the
// console's own random generator, which also decides sticky actions: at every frame, with
// probability repeat_action_probability, the console keeps the buttons of the previous frame
// instead of the new action. Seeding the generators makes both reproducible. Every console of a
// stepper runs in the one accuracy mode of its options.
//
// A batch given a scenario (scenario_table.hpp) evaluates it for every console after every
// step and reset: each variable's value, the step's reward and whether the episode ended.
//
// Its consoles print no progress lines. A stepper is used by one caller at a time: a
// second call while one runs is refused with std::runtime_error.
//
// Building, stepping and resetting take a stop flag, read between frames: once it is
// set, every console ends the call after the frame it is in, each console's frame
// counter counting the frames it ran, and its observation showing the last of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/observation.hpp"
#include "batch/scenario_table.hpp"
#include "batch/worker_pool.hpp"
#include "console/accuracy.hpp"
#include "console/nes_unit.hpp"

namespace NES {

// The most no-op frames a reset may play: nearly half an hour of play at 60 frames a
// second, far beyond any use, and far from the ends of the integers it is drawn with.
inline constexpr int MAX_NOOPS = 100000;

struct BatchOptions {
    int count = 1;
    int threads = 0; // 0: one per host core, at most one per console
    int frame_skip = 4;
    bool max_pool = true;
    Observation observation = Observation::rgb;
    int start_frames = 0;
    int noop_max = 0; // at most MAX_NOOPS
    double repeat_action_probability = 0.0;
    uint64_t seed = 0;
    Accuracy accuracy = Accuracy::fast; // every console's mode
    // A snapshot of this cartridge in this mode to start from instead of power-on (empty:
    // power-on).
    std::vector<unsigned char> start_state;
    ScenarioTable scenario; // empty: nothing to evaluate
};

// The consoles refused the start state: `verdict` says why.
struct StartStateRefused : std::invalid_argument {
    explicit StartStateRefused(NESUnit::SnapshotVerdict why)
        : std::invalid_argument("the consoles refuse the start state"), verdict(why) {}
    NESUnit::SnapshotVerdict verdict;
};

class BatchStepper {
public:
    // The stop flag of a call that runs to its end.
    static inline std::atomic<bool> const never_stop{false};

    // std::invalid_argument for options out of range, a malformed cartridge image or a
    // scenario out of range, StartStateRefused for a start state the consoles refuse; `name` names
    // the consoles' save folder as a cartridge path would.
    BatchStepper(std::string const& name, std::vector<unsigned char> const& image,
                 BatchOptions const& options, std::atomic<bool> const& stop = never_stop);
    ~BatchStepper();
    BatchStepper(BatchStepper const&) = delete;
    BatchStepper& operator=(BatchStepper const&) = delete;

    BatchOptions const& options() const { return config; }
    int threads() const { return pool.threads(); }
    // The mode the consoles run in, as the first console reports it.
    Accuracy accuracy() const;
    // The cartridge's mapper number and whether its board is emulated (NESUnit's).
    uint32_t mapper_number() const;
    bool board_emulated() const;

    // The arrays the stepper writes: count observations, count x 2048 bytes of RAM, and
    // count frame counters (frames since each console's reset, its no-ops not counted).
    uint8_t* observations() { return observation_data.data(); }
    uint8_t* ram() { return ram_data.data(); }
    int64_t* frames() { return frame_data.data(); }
    // The scenario's results: count x variables values, count rewards of the last step
    // (0 after a reset, restore or clone) and count end-of-episode flags.
    int64_t* values() { return value_data.data(); }
    double* rewards() { return reward_data.data(); }
    uint8_t* done() { return done_data.data(); }

    // `actions` holds count x ports button masks (ports 1 or 2, console-major). Consoles
    // whose entry in `reset` (count flags, or null) is set are reset instead of stepped.
    void step(uint8_t const* actions, int ports, uint8_t const* reset,
              std::atomic<bool> const& stop = never_stop);
    void reset(std::vector<size_t> indices, std::atomic<bool> const& stop = never_stop);
    // Reseeds the consoles named in `indices` (in order) from `seeds`, one each.
    void seed(std::vector<uint64_t> const& seeds, std::vector<size_t> const& indices);
    // The last finished picture of one console, FRAME_BYTES of RGB.
    void picture(size_t index, uint8_t* out);
    // Writes `size` bytes of work RAM of one console from `address` on (within $0000-$07FF,
    // else std::out_of_range), as a game's own store would, and into the RAM array. The
    // scenario's values are left as the last step saw them, so the next step's changes
    // count the write.
    void write_ram(size_t index, size_t address, uint8_t const* data, size_t size);
    // Search: one console's snapshot (as a console's own), and its restore. A restored
    // console drops its max-pooling frame and shows the restored picture; its frame
    // counter becomes `frame` (left as it was when negative), its sticky-action memory
    // is left as it was. The verdict says why a snapshot was refused; the console is
    // then unchanged.
    std::vector<unsigned char> snapshot(size_t index, bool picture = true);
    NESUnit::SnapshotVerdict restore(size_t index, unsigned char const* data, size_t size,
                                     int64_t frame);
    // Copies the whole of console `source` (console, frame counter, sticky-action memory,
    // observation) onto each of `targets`, which keep their own random streams. (The
    // max-pooling frame is kept anew by the next step before it is looked at.)
    void clone(size_t source, std::vector<size_t> targets);
    // Host seconds the last step or reset took inside the stepper. Any thread may ask,
    // even while a step runs (it then sees the call before).
    double last_call_seconds() const { return call_seconds.load(std::memory_order_relaxed); }

private:
    struct Console;

    class Busy;
    // The frames the console ran.
    int step_console(Console& console, uint8_t const* action, int ports,
                     std::atomic<bool> const& stop);
    void reset_console(Console& console, std::atomic<bool> const& stop);
    void run_frame(Console& console, uint8_t const* action, int ports);
    void write_observation(Console& console, size_t index);
    // Evaluates the scenario for console `index` after a step, or (`restarted`) after a
    // reset, restore or clone, when there is no step to reward.
    void score(size_t index, bool restarted);
    void check_index(size_t index, char const* what) const;

    BatchOptions config;
    std::vector<std::unique_ptr<Console>> consoles;
    std::vector<unsigned char> start_snapshot;
    std::vector<uint8_t> observation_data;
    std::vector<uint8_t> ram_data;
    std::vector<int64_t> frame_data;
    std::vector<int64_t> value_data;
    std::vector<int64_t> previous_value_data;
    std::vector<double> reward_data;
    std::vector<uint8_t> done_data;
    WorkerPool pool;
    std::mutex busy;
    std::atomic<double> call_seconds{0.0};
};

} // namespace NES
