// Assembly and stepping of a console.
#include "console/nes_unit.hpp"
#include "cartridge/mappers/default_mapper.hpp"
#include "console/progress.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

std::atomic<bool> const never_stop{false};

// A clock speed of zero or less means "as fast as possible": the largest speed.
int32_t clamp_clock_speed(int speed) {
    return speed > 0 ? speed : INT32_MAX;
}

void check_cartridge(std::string const& name, unsigned char const* image, size_t size) {
    try {
        NES::ROM::check_image(long(size), image);
    } catch (std::invalid_argument const& e) {
        throw std::invalid_argument(name + ": " + e.what());
    }
}

} // namespace

// CPU, PPU, clock speed, APU and controllers, in the order every cartridge-file
// constructor builds them; the APU takes its rate from the clock speed stored first.
void NESUnit::build_parts(int speed, NES::Accuracy accuracy) {
    mode = accuracy;
    cpu = std::make_unique<NES::CPU>(false);
    ppu = std::make_unique<NES::PPU>(cpu.get());
    cpu->clock_speed = clamp_clock_speed(speed);
    apu = std::make_unique<NES::APU>();
    cpu->apu = apu.get();
    apu->setCPU(cpu.get());
    apu->sample_rate = NES::APU::SAMPLE_RATE;
    cpu->set_controller(&controller1, 0);
    cpu->set_controller(&controller2, 1);
}

void NESUnit::attach_cartridge() {
    cpu->loadRom(rom.get(), true, battery_ram_path());
    ppu->loadRom(rom.get());
    power_on();
}

NESUnit::NESUnit(char const* rom_name, int speed, NES::Accuracy accuracy) {
    std::vector<unsigned char> const image = NES::read_whole_file(rom_name);
    build_from_image(rom_name, image.data(), image.size(), speed, accuracy);
}

NESUnit::NESUnit(std::string const& name, unsigned char const* image, size_t size, int speed,
                 NES::Accuracy accuracy) {
    build_from_image(name, image, size, speed, accuracy);
}

// The image is checked before the save folder is made, so a malformed cartridge leaves
// nothing behind.
void NESUnit::build_from_image(std::string const& name, unsigned char const* image, size_t size,
                               int speed, NES::Accuracy accuracy) {
    // The name becomes a folder name, and a path is cut at its first NUL.
    if (name.find('\0') != std::string::npos)
        throw std::invalid_argument("the cartridge name contains a NUL character");
    check_cartridge(name, image, size);
    built_from = name;
    built_from_image = true;
    detectOS(name.c_str());
    build_parts(speed, accuracy);
    rom = std::make_unique<NES::ROM>(long(size), image);
    attach_cartridge();
}

NESUnit::NESUnit(int speed, NES::Accuracy accuracy) : mode(accuracy) {
    NES::progress("No rom specified.\n");
    rom = std::make_unique<NES::ROM>();
    NES::progress("rom created.\n");
    cpu = std::make_unique<NES::CPU>(false);
    cpu->clock_speed = clamp_clock_speed(speed);
    apu = std::make_unique<NES::APU>();
    apu->setCPU(cpu.get());
    apu->sample_rate = NES::APU::SAMPLE_RATE;
    cpu->apu = apu.get();
    cpu->loadRom(rom.get(), true, battery_ram_path());
    cpu->set_controller(&controller1, 0);
    cpu->set_controller(&controller2, 1);
    // The CPU already holds the blank cartridge, so the PPU takes it as it is built.
    ppu = std::make_unique<NES::PPU>(cpu.get());
    power_on();
}

// Hardware mode powers up through the CPU's reset sequence, which takes cycles; the fast
// mode starts at the reset vector at cycle 0.
void NESUnit::power_on() {
    cpu->hardware = mode == NES::Accuracy::hardware;
    ppu->hardware = cpu->hardware;
    ppu->warming_up = cpu->hardware;
    if (ppu->hardware) ppu->keep_emphasis();
    // The fast mode's PPU starts a little into the first line; the console's starts at
    // its top-left dot.
    if (cpu->hardware) ppu->dot = 0;
    ppu->traces_a12 = cpu->hardware && rom->mapper->watches_a12();
    apu->hardware = cpu->hardware;
    if (apu->hardware) apu->restart_frame_counter(0, 0);
    apu->attach_expansion(rom->mapper->sound());
    cpu->reset();
    frames_seen = ppu->frame_count;
}

void NESUnit::press_reset() {
    CallerClaim const claim(*this, "reset", Reentry::share);
    if (mode == NES::Accuracy::hardware) sync_devices();
    ppu->press_reset();
    apu->press_reset();
    cpu->press_reset();
    cpu->plan_catch_up();
}

uint32_t NESUnit::mapper_number() const {
    return rom->mapper ? rom->mapper->number : 0;
}

bool NESUnit::board_emulated() const {
    return dynamic_cast<NES::DEFAULT_MAPPER const*>(rom->mapper.get()) == nullptr;
}

NESUnit::~NESUnit() {
    halt();
    rom.reset();
    cpu.reset();
    ppu.reset();
    apu.reset();
}

void NESUnit::single_cycle() {
    cpu->clock();
    catch_up();
}

// The APU first, then the PPU, which stops at the end of a frame so that the per-frame
// callable runs right after the dot that completed it. The callable may restore a
// snapshot, so the devices then catch up with the CPU as it stands after the call.
void NESUnit::catch_up() {
    int64_t cycles = cpu->cycles.load(std::memory_order_relaxed);
    apu->catch_up(cycles);
    while (ppu->dot_count < 3 * uint64_t(cycles)) {
        uint64_t const frame = ppu->frame_count;
        ppu->run_until(std::min(3 * uint64_t(cycles), ppu->frame_end_dot()));
        if (ppu->frame_count == frame) continue;
        ++frames_completed;
        frame_end_cycles = cycles;
        (*frame_callback())();
        cycles = cpu->cycles.load(std::memory_order_relaxed);
        apu->catch_up(cycles);
    }
}

// The end of a frame is a deadline, so the frame ends in the catch-up after the
// instruction that completes it, exactly where a full catch-up would end it, and
// everything is caught up when this returns.
void NESUnit::step_lazily() {
    cpu->clock();
    int64_t const c = cpu->cycles.load(std::memory_order_relaxed);
    if (cpu->catch_up_every_step || 3 * uint64_t(c) > cpu->ppu_deadline) {
        catch_up();
        cpu->plan_catch_up();
    }
}

void NESUnit::runFrame() {
    CallerClaim const claim(*this, "runFrame", Reentry::refuse);
    step_frames(1);
}

void NESUnit::runFrames(int64_t count) {
    run_frames_until(count, never_stop);
}

int64_t NESUnit::run_frames_until(int64_t count, std::atomic<bool> const& stop) {
    if (count < 0)
        throw std::invalid_argument("runFrames: count must be 0 or more, got " +
                                    std::to_string(count));
    CallerClaim const claim(*this, "runFrames", Reentry::refuse);
    return step_frames(count, &stop);
}

// The caller may have changed anything since the last step, so the catch-up is planned
// anew first. Frames are counted as they complete, not read off the PPU's frame count,
// which a snapshot restored by the per-frame callable may set back. A request to stop
// is read once per frame, outside the loops that step instructions.
int64_t NESUnit::step_frames(int64_t count, std::atomic<bool> const* stop) {
    auto const stop_requested = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    cpu->plan_catch_up();
    uint64_t const first = frames_completed;
    uint64_t const goal = first + uint64_t(count);
    if (mode == NES::Accuracy::hardware) {
        frames_seen = ppu->frame_count;
        while (frames_completed < goal && !stop_requested()) {
            uint64_t const frame_end = frames_completed + 1;
            while (frames_completed < frame_end)
                step_exactly();
        }
        sync_devices();
    } else {
        while (frames_completed < goal && !stop_requested()) {
            uint64_t const frame_end = frames_completed + 1;
            while (frames_completed < frame_end)
                step_lazily();
        }
    }
    return int64_t(frames_completed - first);
}

// In hardware mode the CPU brings the PPU to every cycle at which it could tell, and so
// the PPU may complete a frame in the middle of an instruction; the frame's callable runs
// after that instruction.
void NESUnit::step_exactly() {
    cpu->clock_exactly();
    if (ppu->frame_count.load(std::memory_order_relaxed) != frames_seen) finish_frames();
}

void NESUnit::finish_frames() {
    sync_devices();
    frames_seen = ppu->frame_count;
    ++frames_completed;
    frame_end_cycles = cpu->cycles.load(std::memory_order_relaxed);
    (*frame_callback())();
    // The callable may have restored a snapshot or pressed reset.
    frames_seen = ppu->frame_count;
    cpu->plan_catch_up();
}

void NESUnit::sync_devices() {
    apu->catch_up_in_mode(cpu->cycles.load(std::memory_order_relaxed));
    cpu->sync_ppu();
}

void NESUnit::setController(NES::Controller& controller, int port) {
    if (port < 0 || port > 1)
        throw std::invalid_argument("controller port must be 0 or 1, got " + std::to_string(port));
    cpu->set_controller(&controller, static_cast<unsigned char>(port));
}
