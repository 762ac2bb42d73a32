#include "cartridge/mappers/mmc5_sound.hpp"

#include <algorithm>

#include "apu/timers.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

namespace {

constexpr uint8_t CONSTANT_VOLUME = 0x10, LENGTH_HALT = 0x20;
constexpr uint8_t LONGEST_LENGTH = 254; // the length table's largest load

} // namespace

void Mmc5Sound::write(uint16_t addr, uint8_t value, uint64_t step) {
    run_to(step);
    if (addr >= 0x5000 && addr <= 0x5007)
        return write_pulse(pulses[(addr >> 2) & 1], addr & 3, value);
    switch (addr) {
    case 0x5010: pcm_control = value; break;
    case 0x5011:
        if (!pcm_read_mode() && value != 0) pcm_dac = value;
        break;
    case 0x5015:
        for (int n = 0; n < 2; ++n) {
            pulses[n].enabled = value & (1 << n);
            if (!pulses[n].enabled) pulses[n].length = 0;
        }
        break;
    default: break;
    }
}

// Register 1, the APU's sweep, does nothing.
void Mmc5Sound::write_pulse(Pulse& p, int reg, uint8_t value) {
    switch (reg) {
    case 0: p.control = value; break;
    case 2: p.period = uint16_t((p.period & 0x700) | value); break;
    case 3:
        p.period = uint16_t((p.period & 0xFF) | (value & 7) << 8);
        if (p.enabled) p.length = APU::length_lookup(value >> 3);
        p.envelope.start = true;
        p.position = 0;
        break;
    default: break;
    }
}

uint8_t Mmc5Sound::read_pcm_status() {
    uint8_t const status = pcm_tripped ? 0x80 : 0x00;
    pcm_tripped = false;
    return status;
}

uint8_t Mmc5Sound::read_status(uint64_t step) {
    run_to(step);
    return uint8_t((pulses[0].length != 0 ? 1 : 0) | (pulses[1].length != 0 ? 2 : 0));
}

void Mmc5Sound::pcm_read(uint8_t byte, uint64_t step) {
    run_to(step);
    if (!pcm_read_mode()) return;
    if (byte == 0) {
        pcm_tripped = true;
    } else {
        pcm_dac = byte;
        pcm_tripped = false;
    }
}

// Silent only while the length counter is 0: no sweep mutes it, nor a short period.
int Mmc5Sound::pulse_level(int n) const {
    Pulse const& p = pulses[n];
    if (p.length == 0) return 0;
    int const volume = (p.control & CONSTANT_VOLUME) ? p.control & 15 : p.envelope.decay;
    bool const high = APU::duty_table[p.control >> 6][p.position];
    return high ? -volume : volume;
}

float Mmc5Sound::sample(uint64_t step) {
    run_to(step);
    double const pulses_term = (pulse_level(0) + pulse_level(1)) * APU::PULSE_WEIGHT;
    return float(pulses_term - pcm_dac * (APU::DMC_WEIGHT / 2));
}

// The pulses' timers count once a step and move on between the 240 Hz clocks in whole
// runs; a clock lands at the end of the step that brings the count of CPU cycles to it.
void Mmc5Sound::run_to(uint64_t step) {
    while (now < step) {
        uint64_t const to_clock = uint64_t(FRAME_CYCLES - frame_clock + 1) / 2;
        uint64_t const steps = std::min(step - now, to_clock);
        run_pulses(int64_t(steps));
        now += steps;
        frame_clock += int32_t(2 * steps);
        if (frame_clock >= FRAME_CYCLES) {
            frame_clock -= FRAME_CYCLES;
            clock_frame();
        }
    }
}

void Mmc5Sound::run_pulses(int64_t steps) {
    for (Pulse& p : pulses) {
        int64_t const wraps = timers::advance_timer_by(p.timer, p.period + 1, steps);
        p.position = uint8_t((p.position + wraps) & 7);
    }
}

void Mmc5Sound::clock_frame() {
    for (Pulse& p : pulses) {
        p.envelope.clock(p.control);
        if (p.length != 0 && !(p.control & LENGTH_HALT)) --p.length;
    }
}

// Saved as run up to the snapshot's step, which changes nothing the unit will do; loaded
// as standing there.
void Mmc5Sound::snapshot(Snapshot& s) {
    uint64_t const step = s.clocks.apu_steps;
    if (s.saving()) run_to(step);
    for (Pulse& p : pulses) {
        s.field(p.control);
        s.bounded(p.period, uint16_t(0), uint16_t(0x7FF));
        s.field(p.timer); // past the period it wraps at its next count
        s.bounded(p.position, uint8_t(0), uint8_t(7));
        s.bounded(p.length, uint8_t(0), LONGEST_LENGTH);
        s.field(p.enabled);
        s.field(p.envelope.start);
        s.bounded(p.envelope.divider, uint8_t(0), uint8_t(15));
        s.bounded(p.envelope.decay, uint8_t(0), uint8_t(15));
    }
    s.field(pcm_control);
    s.field(pcm_dac);
    s.field(pcm_tripped);
    s.bounded(frame_clock, 0, FRAME_CYCLES - 1);
    if (s.loading()) now = step;
}

} // namespace NES
