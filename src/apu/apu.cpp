// The CPU link and one APU step.
#include "apu/apu.hpp"

#include "cpu/cpu.hpp"

namespace NES {

void APU::setCPU(CPU* c) {
    cpu = c;
    registers = reinterpret_cast<uint8_t const*>(c->memory);
    apu_clock = c->clock_speed / 2;
}

// One step: the sequencer, the channels (the triangle's timer runs at the CPU rate, so
// twice), then the sampling rule.
void APU::cycle() {
    func_frame_counter();
    pulse(false);
    pulse(true);
    triangle();
    triangle();
    noise();
    dmc();
    sample();
    ++cycles;
}

void APU::catch_up(int64_t cpu_cycles) {
    while (2 * int64_t(cycles) < cpu_cycles)
        cycle();
}

} // namespace NES
