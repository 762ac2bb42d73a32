#include "batch/batch_stepper.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "batch/palette_luma.hpp"
#include "console/nes_unit.hpp"
#include "console/progress.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

// The console's own clock speed: it sets the APU's sample rate, so the sound is the same
// as any console's.
constexpr int CLOCK_SPEED = 1789773;

// SplitMix64: a tiny, well-mixed generator whose whole state is the seed, so a console's
// sticky actions and no-op counts follow from its seed alone.
uint64_t next_random(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double next_uniform(uint64_t& state) {
    return double(next_random(state) >> 11) * 0x1.0p-53;
}

int pool_size(BatchOptions const& options) {
    int threads = options.threads;
    if (threads <= 0) threads = int(std::max(1u, std::thread::hardware_concurrency()));
    return std::max(1, std::min(threads, options.count));
}

void check_options(BatchOptions const& options) {
    auto require = [](bool ok, std::string const& message) {
        if (!ok) throw std::invalid_argument(message);
    };
    require(options.count >= 1 && options.count <= 4096,
            "count must be 1-4096, got " + std::to_string(options.count));
    require(options.threads >= 0,
            "threads must be 0 (one per core) or more, got " + std::to_string(options.threads));
    require(options.frame_skip >= 1 && options.frame_skip <= 1000,
            "frame_skip must be 1-1000, got " + std::to_string(options.frame_skip));
    require(options.start_frames >= 0,
            "start_frames must be 0 or more, got " + std::to_string(options.start_frames));
    require(options.noop_max >= 0 && options.noop_max <= MAX_NOOPS,
            "noop_max must be 0-" + std::to_string(MAX_NOOPS) + ", got " +
                std::to_string(options.noop_max));
    require(options.repeat_action_probability >= 0.0 && options.repeat_action_probability <= 1.0,
            "repeat_action_probability must be between 0 and 1, got " +
                std::to_string(options.repeat_action_probability));
    check_table(options.scenario);
}

} // namespace

struct BatchStepper::Console {
    std::unique_ptr<NESUnit> unit;
    uint64_t random = 0;
    uint8_t previous[2] = {0, 0}; // the buttons of the last frame, for sticky actions
    // The frame before the last, for max-pooling: its palette values and (hardware
    // mode) emphasis bits.
    std::vector<uint8_t> pooled;
    std::vector<uint8_t> pooled_tints;
    bool has_pooled = false;

    uint8_t const* pooled_picture() const { return has_pooled ? pooled.data() : nullptr; }
    uint8_t const* pooled_emphasis() const {
        return has_pooled && !pooled_tints.empty() ? pooled_tints.data() : nullptr;
    }
};

namespace {

// Scratch space of the thread that writes an observation: the RGB forms of the two
// pictures and the luma plane. Per thread, not per console: a batch console keeps its
// pictures as palette values only.
struct ObservationScratch {
    std::vector<uint8_t> rgb = std::vector<uint8_t>(size_t(FRAME_BYTES));
    std::vector<uint8_t> pooled_rgb = std::vector<uint8_t>(size_t(FRAME_BYTES));
    std::vector<uint8_t> luma = std::vector<uint8_t>(size_t(GRAY84_LUMA_BYTES));
};

ObservationScratch& scratch() {
    thread_local ObservationScratch space;
    return space;
}

// The console's finished picture, as palette values and emphasis bits, into `values`
// and (when the console keeps emphasis) `tints`.
void keep_finished_picture(PPU const& ppu, std::vector<uint8_t>& values,
                           std::vector<uint8_t>& tints) {
    std::memcpy(values.data(), ppu.finished_values(), size_t(PIXELS));
    if (!tints.empty()) std::memcpy(tints.data(), ppu.finished_tints(), size_t(PIXELS));
}

} // namespace

class BatchStepper::Busy {
public:
    explicit Busy(std::mutex& busy) : lock(busy, std::try_to_lock) {
        if (!lock.owns_lock())
            throw std::runtime_error("Batch: another thread is stepping or resetting this batch");
    }

private:
    std::unique_lock<std::mutex> lock;
};

BatchStepper::BatchStepper(std::string const& name, std::vector<unsigned char> const& image,
                           BatchOptions const& options, std::atomic<bool> const& stop)
    : config((check_options(options), options)), pool(pool_size(options)) {
    size_t const count = size_t(config.count);
    bool const pools =
        config.max_pool && config.frame_skip >= 2 && config.observation != Observation::ram;
    QuietHere const quiet_while_building;
    for (size_t i = 0; i < count; ++i) {
        auto console = std::make_unique<Console>();
        console->unit = std::make_unique<NESUnit>(name, image.data(), image.size(), CLOCK_SPEED,
                                                  config.accuracy);
        console->random = config.seed + i;
        if (pools) {
            console->pooled.resize(size_t(PIXELS));
            if (config.accuracy == Accuracy::hardware) console->pooled_tints.resize(size_t(PIXELS));
        }
        consoles.push_back(std::move(console));
    }
    NESUnit& first = *consoles[0]->unit;
    if (!config.start_state.empty()) {
        NESUnit::SnapshotVerdict const verdict =
            first.restore_snapshot(config.start_state.data(), config.start_state.size());
        if (verdict != NESUnit::SnapshotVerdict::restored) throw StartStateRefused(verdict);
    }
    first.run_frames_until(config.start_frames, stop);
    start_snapshot = first.take_snapshot();
    observation_data.resize(count * observation_bytes(config.observation));
    ram_data.resize(count * RAM_SIZE);
    frame_data.resize(count);
    size_t const variables = config.scenario.variables.size();
    value_data.resize(count * variables);
    previous_value_data.resize(count * variables);
    reward_data.resize(count);
    done_data.resize(count);
    std::vector<size_t> all(count);
    for (size_t i = 0; i < count; ++i)
        all[i] = i;
    reset(std::move(all), stop);
}

BatchStepper::~BatchStepper() = default;

Accuracy BatchStepper::accuracy() const {
    return consoles.front()->unit->accuracy();
}

uint32_t BatchStepper::mapper_number() const {
    return consoles.front()->unit->mapper_number();
}

bool BatchStepper::board_emulated() const {
    return consoles.front()->unit->board_emulated();
}

void BatchStepper::step(uint8_t const* actions, int ports, uint8_t const* reset_flags,
                        std::atomic<bool> const& stop) {
    Busy const busy_now(busy);
    auto const began = std::chrono::steady_clock::now();
    pool.run(consoles.size(), [&](size_t i) {
        Console& console = *consoles[i];
        bool const restarted = reset_flags && reset_flags[i];
        if (restarted) {
            reset_console(console, stop);
            frame_data[i] = 0;
        } else {
            frame_data[i] += step_console(console, actions + i * size_t(ports), ports, stop);
        }
        write_observation(console, i);
        score(i, restarted);
    });
    call_seconds.store(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(),
        std::memory_order_relaxed);
}

// An index named twice is reset once: two threads never share a console.
void BatchStepper::reset(std::vector<size_t> indices, std::atomic<bool> const& stop) {
    Busy const busy_now(busy);
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    for (size_t i : indices)
        if (i >= consoles.size())
            throw std::out_of_range("Batch.reset: index " + std::to_string(i) +
                                    " is out of range for " + std::to_string(consoles.size()) +
                                    " consoles");
    auto const began = std::chrono::steady_clock::now();
    pool.run(indices.size(), [&](size_t k) {
        size_t const i = indices[k];
        reset_console(*consoles[i], stop);
        frame_data[i] = 0;
        write_observation(*consoles[i], i);
        score(i, true);
    });
    call_seconds.store(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(),
        std::memory_order_relaxed);
}

void BatchStepper::seed(std::vector<uint64_t> const& seeds, std::vector<size_t> const& indices) {
    Busy const busy_now(busy);
    if (seeds.size() != indices.size())
        throw std::invalid_argument("Batch.seed: " + std::to_string(indices.size()) +
                                    " seeds needed, got " + std::to_string(seeds.size()));
    for (size_t i : indices)
        if (i >= consoles.size())
            throw std::out_of_range("Batch.seed: index " + std::to_string(i) +
                                    " is out of range for " + std::to_string(consoles.size()) +
                                    " consoles");
    for (size_t k = 0; k < indices.size(); ++k)
        consoles[indices[k]]->random = seeds[k];
}

void BatchStepper::check_index(size_t index, char const* what) const {
    if (index >= consoles.size())
        throw std::out_of_range(std::string(what) + ": index " + std::to_string(index) +
                                " is out of range for " + std::to_string(consoles.size()) +
                                " consoles");
}

void BatchStepper::picture(size_t index, uint8_t* out) {
    Busy const busy_now(busy);
    check_index(index, "Batch.picture");
    PPU const& ppu = *consoles[index]->unit->ppu;
    PPU::paint(ppu.finished_values(), ppu.finished_tints(), out);
}

void BatchStepper::write_ram(size_t index, size_t address, uint8_t const* data, size_t size) {
    Busy const busy_now(busy);
    check_index(index, "Batch.write_ram");
    if (address > size_t(RAM_SIZE) || size > size_t(RAM_SIZE) - address)
        throw std::out_of_range("Batch.write_ram: " + std::to_string(size) + " bytes at " +
                                std::to_string(address) + " reach beyond work RAM ($0000-$07FF)");
    std::memcpy(consoles[index]->unit->cpu->memory + address, data, size);
    std::memcpy(ram_data.data() + index * RAM_SIZE + address, data, size);
}

std::vector<unsigned char> BatchStepper::snapshot(size_t index, bool picture) {
    Busy const busy_now(busy);
    check_index(index, "Batch.snapshot");
    return consoles[index]->unit->take_snapshot(nullptr, picture);
}

NESUnit::SnapshotVerdict BatchStepper::restore(size_t index, unsigned char const* data, size_t size,
                                               int64_t frame) {
    Busy const busy_now(busy);
    check_index(index, "Batch.restore");
    Console& console = *consoles[index];
    NESUnit::SnapshotVerdict const verdict = console.unit->restore_snapshot(data, size);
    if (verdict != NESUnit::SnapshotVerdict::restored) return verdict;
    console.has_pooled = false;
    if (frame >= 0) frame_data[index] = frame;
    write_observation(console, index);
    score(index, true);
    return verdict;
}

// The source's snapshot is taken once, without the picture, and loaded on the pool's
// threads without the checks a snapshot from outside needs; the targets share the
// source's finished picture until they publish their own. A target named twice, or the source
// itself, is written once or not at all.
void BatchStepper::clone(size_t source, std::vector<size_t> targets) {
    Busy const busy_now(busy);
    check_index(source, "Batch.clone");
    for (size_t i : targets)
        check_index(i, "Batch.clone");
    std::sort(targets.begin(), targets.end());
    targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
    targets.erase(std::remove(targets.begin(), targets.end(), source), targets.end());
    Console const& from = *consoles[source];
    std::vector<unsigned char> const state = from.unit->take_snapshot(nullptr, false);
    from.unit->ppu->mark_finished_shared();
    size_t const observation_size = observation_bytes(config.observation);
    uint8_t const* const observation = observation_data.data() + source * observation_size;
    pool.run(targets.size(), [&](size_t k) {
        size_t const i = targets[k];
        Console& to = *consoles[i];
        to.unit->load_trusted_snapshot(state.data(), state.size());
        to.unit->ppu->share_finished_picture(*from.unit->ppu);
        to.previous[0] = from.previous[0];
        to.previous[1] = from.previous[1];
        // The max-pooling frame is kept anew by every step before it is looked at.
        to.has_pooled = false;
        frame_data[i] = frame_data[source];
        std::memcpy(ram_data.data() + i * RAM_SIZE, ram_data.data() + source * RAM_SIZE,
                    size_t(RAM_SIZE));
        std::memcpy(observation_data.data() + i * observation_size, observation, observation_size);
        score(i, true);
    });
}

// The frame before the last is kept for max-pooling as it completes. The frames before
// those are never looked at, so they are not drawn; a step that stops early draws its
// next frame, so that the observation shows the last frame run.
int BatchStepper::step_console(Console& console, uint8_t const* action, int ports,
                               std::atomic<bool> const& stop) {
    console.has_pooled = false;
    int const first_seen = config.frame_skip - (console.pooled.empty() ? 1 : 2);
    for (int f = 0; f < config.frame_skip; ++f) {
        bool const stopping = f > 0 && stop.load(std::memory_order_relaxed);
        if (stopping && console.unit->ppu->draw_pictures) return f;
        console.unit->ppu->draw_pictures = stopping || f >= first_seen;
        run_frame(console, action, ports);
        if (stopping) return f + 1;
        if (f == config.frame_skip - 2 && !console.pooled.empty()) {
            keep_finished_picture(*console.unit->ppu, console.pooled, console.pooled_tints);
            console.has_pooled = true;
        }
    }
    return config.frame_skip;
}

void BatchStepper::run_frame(Console& console, uint8_t const* action, int ports) {
    NES::Controller* const pads[2] = {&console.unit->controller1, &console.unit->controller2};
    for (int p = 0; p < ports; ++p) {
        bool const sticky = config.repeat_action_probability > 0.0 &&
                            next_uniform(console.random) < config.repeat_action_probability;
        if (!sticky) console.previous[p] = action[p];
        pads[p]->set_buttons(console.previous[p]);
    }
    console.unit->runFrames(1);
}

void BatchStepper::reset_console(Console& console, std::atomic<bool> const& stop) {
    NESUnit& unit = *console.unit;
    if (unit.restore_snapshot(start_snapshot.data(), start_snapshot.size()) !=
        NESUnit::SnapshotVerdict::restored)
        throw std::logic_error("Batch: the start state could not be restored");
    console.previous[0] = console.previous[1] = 0;
    unit.controller1.set_buttons(0);
    unit.controller2.set_buttons(0);
    console.has_pooled = false;
    if (config.noop_max == 0) return;
    int64_t const noops = int64_t(next_random(console.random) % (uint64_t(config.noop_max) + 1));
    if (noops == 0) return;
    unit.ppu->draw_pictures = false;
    unit.run_frames_until(noops - 1, stop);
    unit.ppu->draw_pictures = true;
    unit.runFrames(1);
}

void BatchStepper::score(size_t index, bool restarted) {
    ScenarioTable const& table = config.scenario;
    if (table.empty()) return;
    size_t const n = table.variables.size();
    int64_t* const values = value_data.data() + index * n;
    int64_t* const previous = previous_value_data.data() + index * n;
    decode_variables(table, ram_data.data() + index * RAM_SIZE, values);
    // A restarted console has no step before it: its changes count from now.
    int64_t const* const before = restarted ? values : previous;
    reward_data[index] = restarted ? 0.0 : scenario_reward(table, values, before);
    done_data[index] = scenario_done(table, values, before);
    std::copy(values, values + n, previous);
}

void BatchStepper::write_observation(Console& console, size_t index) {
    NESUnit& unit = *console.unit;
    std::memcpy(ram_data.data() + index * RAM_SIZE, unit.cpu->memory, size_t(RAM_SIZE));
    uint8_t* const out = observation_data.data() + index * observation_bytes(config.observation);
    PPU const& ppu = *unit.ppu;
    uint8_t const* const values = ppu.finished_values();
    uint8_t const* const tints = ppu.finished_tints();
    ObservationScratch& space = scratch();
    switch (config.observation) {
    case Observation::rgb:
        PPU::paint(values, tints, out);
        if (!console.has_pooled) break;
        PPU::paint(console.pooled.data(), console.pooled_emphasis(), space.pooled_rgb.data());
        max_of(out, space.pooled_rgb.data(), out, size_t(FRAME_BYTES));
        break;
    case Observation::gray84:
        // Without emphasis a colour's luma is known from its palette value alone.
        if (!tints) {
            palette_luma(values, console.pooled_picture(), space.luma.data());
            gray84_shrink(space.luma.data(), out);
            break;
        }
        PPU::paint(values, tints, space.rgb.data());
        if (console.has_pooled)
            PPU::paint(console.pooled.data(), console.pooled_emphasis(), space.pooled_rgb.data());
        gray84(space.rgb.data(), console.has_pooled ? space.pooled_rgb.data() : nullptr,
               space.luma.data(), out);
        break;
    case Observation::ram: std::memcpy(out, unit.cpu->memory, size_t(RAM_SIZE)); break;
    }
}

} // namespace NES
