// The sound registers' side effects. The bus stores every byte in the CPU memory image
// after calling write_register, so a register read back from the image here still holds
// its previous value.
#include "apu/apu.hpp"
#include "cpu/cpu.hpp"

namespace NES {

namespace {

// The length counter load values, indexed by bits 3-7 of a length write.
constexpr uint8_t LENGTHS[32] = {
    10, 254, 20, 2,  40, 4,  80, 6,  160, 8,  60, 10, 14, 12, 26, 14,
    12, 16,  24, 18, 48, 20, 96, 22, 192, 24, 72, 26, 16, 28, 32, 30,
};

} // namespace

uint8_t APU::length_lookup(unsigned char i) {
    return LENGTHS[i & 31];
}

void APU::write_register(uint16_t addr, uint8_t value) {
    switch (addr) {
    case 0x4001: sweeps[0].reload = true; break;
    case 0x4005: sweeps[1].reload = true; break;
    case 0x4002: write_pulse_period_low(0, value); break;
    case 0x4006: write_pulse_period_low(1, value); break;
    case 0x4003: write_pulse_period_high(0, value); break;
    case 0x4007: write_pulse_period_high(1, value); break;
    case 0x400A: triangle_period = uint16_t(((reg(0x400B) << 8) & 0x700) | value); break;
    case 0x400B:
        triangle_period = uint16_t(((value << 8) & 0x700) | reg(0x400A));
        length[2] = length_lookup(value >> 3);
        linear_reload = true;
        break;
    case 0x400F:
        length[3] = length_lookup(value >> 3);
        envelopes[2].start = true;
        break;
    case 0x4010: dmc_flags = value; break;
    case 0x4011: dmc_direct = value; break;
    case 0x4012: dmc_sample_addr = uint16_t(0xC000 + 64 * value); break;
    case 0x4013: dmc_sample_len = uint16_t(16 * value + 1); break;
    case 0x4015: write_status(value); break;
    case 0x4017: write_frame_counter(value); break;
    default: break; // the other registers are only stored; the channels read them
    }
}

void APU::write_pulse_period_low(int n, uint8_t value) {
    pulse_period[n] = uint16_t(((reg(0x4003 + 4 * n) << 8) & 0x700) | value);
}

// Loads the length counter (enabled or not) and restarts the envelope; the duty
// position carries on.
void APU::write_pulse_period_high(int n, uint8_t value) {
    length[n] = length_lookup(value >> 3);
    pulse_period[n] = uint16_t(((value << 8) & 0x700) | reg(0x4002 + 4 * n));
    envelopes[n].start = true;
}

void APU::write_status(uint8_t value) {
    for (int i = 0; i < 4; ++i) {
        enabled[i] = value & (1 << i);
        if (!enabled[i]) length[i] = 0;
    }
    enabled[4] = value & 0x10;
    if (!enabled[4])
        dmc_remaining = 0;
    else if (dmc_remaining == 0)
        start_sample();
}

// Restarts the sequence; with bit 7 (five-step mode) every unit is clocked at once.
void APU::write_frame_counter(uint8_t value) {
    frame_start = int64_t(cycles) - 1;
    if (!(value & 0x80)) return;
    clock_envs();
    clock_length();
    clock_linear();
    clock_sweep();
}

void APU::start_sample() {
    dmc_addr = dmc_sample_addr;
    dmc_remaining = dmc_sample_len;
}

} // namespace NES

namespace NES {

void APU::press_reset() {
    int64_t const cycle = cpu->cycles.load(std::memory_order_relaxed);
    catch_up_in_mode(cycle);
    if (hardware) {
        write_status_exactly(0, cycle);
        restart_frame_counter(reg(0x4017), cycle);
    } else {
        write_register(0x4015, 0);
    }
    cpu->memory[0x4015] = 0;
    triangle_step = 0;
    dmc_level &= 1;
}

} // namespace NES
