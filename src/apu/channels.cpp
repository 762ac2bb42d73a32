// The channels' per-step units. Every timer counts up from 0 and wraps at its modulus;
// a wrap advances the channel's sequence. Outputs: pulses -15..15 (the duty bit picks
// the sign of the volume), triangle -15.0..15.0, noise 0..15, DMC level 0..127 (a $4011
// load may put up to 255 there).
#include "apu/apu.hpp"

#include <array>
#include <cstddef>

#include "apu/timers.hpp"
#include "cpu/cpu.hpp"

namespace NES {

namespace {

using timers::advance_timer;
using timers::DMC_MODULI;
using timers::NOISE_MODULI;

// The triangle's output for each sequence position: 2 x (level - 7.5).
constexpr std::array<float, 32> triangle_levels() {
    std::array<float, 32> out{};
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = 2.0f * (float(APU::triangle_table[i]) - 7.5f);
    return out;
}

constexpr auto TRIANGLE_LEVELS = triangle_levels();

} // namespace

// Silent while the length counter is 0, the period is below 8, or an enabled sweep is
// muted; the volume is the constant volume (control bit 4) or the envelope's decay level.
void APU::pulse(bool second) {
    int const n = second;
    uint16_t const period = pulse_period[n];
    bool const swept_out = sweeps[n].mute && (reg(uint16_t(0x4001 + 4 * n)) & 0x80);
    if (length[n] == 0 || period <= 7 || swept_out) {
        pulse_out[n] = 0;
    } else {
        uint8_t const control = reg(uint16_t(0x4000 + 4 * n));
        int const volume = (control & 0x10) ? control & 15 : envelopes[n].decay;
        bool const high = duty_table[control >> 6][pulse_step[n]];
        pulse_out[n] = int8_t(high ? volume : -volume);
    }
    if (advance_timer(pulse_timer[n], period + 1)) pulse_step[n] = (pulse_step[n] + 1) & 7;
}

// Silent while either counter is 0 or the period is 0 or 1; the sequence keeps moving.
void APU::triangle() {
    uint16_t const period = triangle_period;
    bool const sounding = linear_counter != 0 && length[2] != 0 && period > 1;
    triangle_out = sounding ? TRIANGLE_LEVELS[triangle_step] : 0.0f;
    if (advance_timer(triangle_timer, period + 1)) triangle_step = (triangle_step + 1) & 31;
}

// The shift register steps when the timer is at 0; feedback from bit 6 in the short
// mode ($400E bit 7), else from bit 1. Bit 0 set silences the output.
void APU::noise() {
    uint8_t const mode_period = reg(0x400E);
    if (noise_timer == 0) shift_noise(mode_period);
    if (length[3] == 0 || (noise_shift & 1)) {
        noise_out = 0;
    } else {
        uint8_t const control = reg(0x400C);
        noise_out = int8_t((control & 0x10) ? control & 15 : envelopes[2].decay);
    }
    advance_timer(noise_timer, NOISE_MODULI[mode_period & 15]);
}

void APU::shift_noise(uint8_t mode_period) {
    int const tap = (mode_period & 0x80) ? 6 : 1;
    int const feedback = (noise_shift ^ (noise_shift >> tap)) & 1;
    noise_shift = uint16_t((noise_shift >> 1) | (feedback << 14));
}

void APU::dmc() {
    if (enabled[4] && dmc_buffer_empty && dmc_remaining != 0) fetch_dmc_byte();
    if (dmc_timer == 0) run_dmc_output();
    advance_timer(dmc_timer, DMC_MODULI[dmc_flags & 15]);
}

// The reader reads through the bus without telling the mapper; the address wraps from
// $FFFF to $8000. The fetched byte goes straight into the shift register.
void APU::fetch_dmc_byte() {
    uint8_t const byte = cpu->read(cpu->memory + dmc_addr, false);
    dmc_buffer = byte;
    dmc_addr = dmc_addr == 0xFFFF ? 0x8000 : uint16_t(dmc_addr + 1);
    if (--dmc_remaining == 0) {
        if (dmc_flags & 0x40)
            start_sample();
        else if (dmc_flags & 0x80)
            cpu->irq_pending = true;
    }
    dmc_shift = byte;
    dmc_bits = 8;
    dmc_silent = false;
    dmc_buffer_empty = false;
}

// One output tick: a pending $4011 load wins; otherwise each bit moves the level by 2
// within 0..127. When the shift register runs out with no byte fetched, the level
// jumps to 64 and the unit falls silent.
void APU::run_dmc_output() {
    if (dmc_direct != -1) {
        dmc_level = dmc_direct;
        dmc_direct = -1;
        return;
    }
    if (dmc_silent) return;
    if (dmc_shift & 1) {
        if (dmc_level + 2 <= 127) dmc_level += 2;
    } else {
        if (dmc_level - 2 >= 0) dmc_level -= 2;
    }
    dmc_shift >>= 1;
    if (--dmc_bits != 0) return;
    dmc_bits = 8;
    if (dmc_buffer_empty) {
        dmc_silent = true;
        dmc_level = 64;
    } else {
        dmc_silent = false;
        dmc_buffer_empty = true;
    }
}

} // namespace NES
