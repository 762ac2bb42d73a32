#include "cartridge/mappers/sunsoft_5b_sound.hpp"

#include <array>
#include <cmath>
#include <cstring>

#include "apu/apu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

namespace {

constexpr int MIXER = 7, VOLUME = 8, ENVELOPE_LOW = 11, ENVELOPE_HIGH = 12, SHAPE = 13;
constexpr uint8_t USE_ENVELOPE = 0x10;
constexpr uint8_t SHAPE_CONTINUE = 0x08, SHAPE_ATTACK = 0x04, SHAPE_ALTERNATE = 0x02,
                  SHAPE_HOLD = 0x01;
constexpr int TOP_LEVEL = 31;
constexpr double DB_PER_LEVEL = 1.5;
constexpr double GAIN = 2.0; // the top level against an APU pulse at volume 15
constexpr int STEPS_PER_TICK = Sunsoft5BSound::CPU_CYCLES_PER_TICK / 2;
constexpr uint32_t NOISE_BITS = (uint32_t(1) << 17) - 1;

// A channel's amplitude at each level of the 32-level scale, in the mix's terms.
std::array<double, TOP_LEVEL + 1> amplitudes() {
    std::array<double, TOP_LEVEL + 1> out{};
    double const top = GAIN * 15 * APU::PULSE_WEIGHT;
    for (int level = 1; level <= TOP_LEVEL; ++level)
        out[level] = top * std::pow(10.0, -(TOP_LEVEL - level) * DB_PER_LEVEL / 20.0);
    return out;
}

std::array<double, TOP_LEVEL + 1> const AMPLITUDES = amplitudes();

} // namespace

void Sunsoft5BSound::write(uint8_t value, uint64_t step) {
    run_to(step);
    regs[selected] = value;
    if (selected == SHAPE) restart_envelope();
}

int Sunsoft5BSound::tone_period(int ch) const {
    int const period = regs[2 * ch] | (regs[2 * ch + 1] & 0x0F) << 8;
    return period == 0 ? 1 : period;
}

bool Sunsoft5BSound::channel_on(int ch) const {
    bool const tone_off = regs[MIXER] & (1 << ch);
    bool const noise_off = regs[MIXER] & (8 << ch);
    return (tone_high[ch] || tone_off) && ((noise_shift & 1) || noise_off);
}

int Sunsoft5BSound::channel_level(int ch) const {
    uint8_t const volume = regs[VOLUME + ch];
    if (volume & USE_ENVELOPE)
        return envelope_rising ? envelope_position : TOP_LEVEL - envelope_position;
    int const fixed = volume & 0x0F;
    return fixed == 0 ? 0 : 2 * fixed + 1;
}

float Sunsoft5BSound::sample(uint64_t step) {
    run_to(step);
    double sum = 0;
    for (int ch = 0; ch < 3; ++ch) {
        double const amplitude = AMPLITUDES[channel_level(ch)];
        sum += channel_on(ch) ? amplitude : -amplitude;
    }
    return float(sum);
}

// A tick at the end of every eighth step.
void Sunsoft5BSound::run_to(uint64_t step) {
    if (step <= now) return;
    uint64_t const steps = step - now + tick_phase;
    for (uint64_t ticks = steps / STEPS_PER_TICK; ticks > 0; --ticks)
        tick();
    tick_phase = uint8_t(steps % STEPS_PER_TICK);
    now = step;
}

void Sunsoft5BSound::tick() {
    for (int ch = 0; ch < 3; ++ch) {
        if (++tone_count[ch] < tone_period(ch)) continue;
        tone_count[ch] = 0;
        tone_high[ch] = !tone_high[ch];
    }
    noise_half = !noise_half;
    if (!noise_half) tick_noise();
    tick_envelope();
}

void Sunsoft5BSound::tick_noise() {
    int const period = regs[6] & 0x1F;
    if (++noise_count < (period == 0 ? 1 : period)) return;
    noise_count = 0;
    uint32_t const feedback = (noise_shift ^ (noise_shift >> 3)) & 1;
    noise_shift = (noise_shift >> 1) | feedback << 16;
}

// After a cycle's 32 levels: shapes without `continue` drop to 0 and hold there; `hold`
// keeps the last level (the other end with `alternate`); `alternate` alone turns the
// direction; otherwise the cycle repeats.
void Sunsoft5BSound::tick_envelope() {
    if (envelope_holding) return;
    int const period = regs[ENVELOPE_LOW] | regs[ENVELOPE_HIGH] << 8;
    if (++envelope_count < (period == 0 ? 1 : period)) return;
    envelope_count = 0;
    if (++envelope_position <= TOP_LEVEL) return;
    uint8_t const shape = regs[SHAPE];
    if (!(shape & SHAPE_CONTINUE)) {
        envelope_holding = true;
        envelope_rising = false;
        envelope_position = TOP_LEVEL;
        return;
    }
    if (shape & SHAPE_ALTERNATE) envelope_rising = !envelope_rising;
    if (shape & SHAPE_HOLD) {
        envelope_holding = true;
        envelope_position = TOP_LEVEL;
        return;
    }
    envelope_position = 0;
}

void Sunsoft5BSound::restart_envelope() {
    envelope_count = 0;
    envelope_position = 0;
    envelope_rising = regs[SHAPE] & SHAPE_ATTACK;
    envelope_holding = false;
}

void Sunsoft5BSound::save_registers(char* record) const {
    record[0] = char(selected);
    std::memcpy(record + 1, regs, REGISTERS);
}

// The counters go on as they stand; the envelope's position is taken as it is.
void Sunsoft5BSound::restore_registers(char const* record) {
    selected = uint8_t(record[0]) & 0x0F;
    std::memcpy(regs, record + 1, REGISTERS);
}

// Saved as run up to the snapshot's step, which changes nothing the unit will do; loaded
// as standing there. Any count is safe: a counter past its period wraps at its next tick.
void Sunsoft5BSound::snapshot(Snapshot& s) {
    uint64_t const step = s.clocks.apu_steps;
    if (s.saving()) run_to(step);
    s.bounded(selected, uint8_t(0), uint8_t(REGISTERS - 1));
    s.field(regs);
    s.field(tone_count);
    s.field(tone_high);
    s.field(noise_half);
    s.field(noise_count);
    s.bounded(noise_shift, uint32_t(1), NOISE_BITS);
    s.field(envelope_count);
    s.bounded(envelope_position, uint8_t(0), uint8_t(TOP_LEVEL));
    s.field(envelope_rising);
    s.field(envelope_holding);
    s.bounded(tick_phase, uint8_t(0), uint8_t(STEPS_PER_TICK - 1));
    if (s.loading()) now = step;
}

} // namespace NES
