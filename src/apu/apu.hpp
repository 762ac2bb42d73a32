// The audio processing unit: two pulse channels, a triangle, a noise channel and the
// delta-modulation channel, driven by the frame sequencer, stepped once per two CPU
// cycles by the console.
#pragma once

#include <cstdint>

namespace NES {

class CPU;

class APU {
public:
    APU() = default;
    APU(APU const&) = delete;
    APU& operator=(APU const&) = delete;

    uint64_t cycles = 0; // APU steps since construction or the last CPU reset
    CPU* cpu = nullptr;
    int32_t apu_clock = 0;   // APU steps per emulated second: the CPU clock / 2
    uint64_t samples = 0;    // samples taken since construction or the last CPU reset
    int32_t sample_rate = 0; // samples per emulated second; the console sets 44100

    void setCPU(CPU* cpu);
    void cycle();
};

} // namespace NES
