// The CPU link, one APU step and the catch-up.
#include "apu/apu.hpp"

#include <algorithm>

#include "cpu/cpu.hpp"

namespace NES {

void APU::setCPU(CPU* c) {
    cpu = c;
    registers = reinterpret_cast<uint8_t const*>(c->memory);
    apu_clock = c->clock_speed / 2;
}

// One step: the sequencer, the channels, then the sampling rule.
void APU::cycle() {
    func_frame_counter();
    step_channels();
    sample();
    ++cycles;
}

// The channels' part of a step; the triangle's timer runs at the CPU rate, so twice.
// Flattened: with two instances the channels' per-step code would otherwise be called
// rather than inlined, and this runs every step that matters.
template <bool EXACT_DMC> [[gnu::flatten]] void APU::step_channels() {
    pulse(false);
    pulse(true);
    triangle();
    triangle();
    noise();
    if constexpr (EXACT_DMC)
        dmc_exactly();
    else
        dmc();
}

template void APU::step_channels<false>();
template void APU::step_channels<true>();

// Nothing outside the APU changes during a call, so between two steps where the frame
// sequencer clocks a unit the channels' parameters hold still, and a step matters to
// anyone only when it takes a sample or ends the call (its outputs are left in the
// fields, as cycle() leaves them). The catch-up runs those steps with the channels'
// own per-step code and jumps the quiet steps between them (skip_quiet_steps). The
// sequencer's steps run as cycle(); the others leave out func_frame_counter, which does
// nothing there (its SequencerPhase then divides at the next cycle(): the value it keeps
// is always offset % period, so the phases come out the same).
void APU::catch_up(int64_t cpu_cycles) {
    if (2 * int64_t(cycles) >= cpu_cycles) return;
    // The last step of the call: the one that covers CPU cycle cpu_cycles - 1.
    uint64_t const last = uint64_t(cpu_cycles / 2 + (cpu_cycles & 1)) - 1;
    uint64_t acting = cycles + uint64_t(steps_to_sequencer_action());
    while (cycles <= last) {
        uint64_t const full = std::min({acting, next_sample_step(), last});
        skip_quiet_steps(int64_t(full - cycles));
        if (cycles == acting) {
            cycle();
            acting = cycles + uint64_t(steps_to_sequencer_action());
        } else {
            step_channels();
            sample();
            ++cycles;
        }
    }
}

} // namespace NES
