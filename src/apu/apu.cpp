#include "apu/apu.hpp"

#include "cpu/cpu.hpp"

namespace NES {

void APU::setCPU(CPU* c) {
    cpu = c;
    apu_clock = c->clock_speed / 2;
}

void APU::cycle() {
    ++cycles;
}

} // namespace NES
