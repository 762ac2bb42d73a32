// The frame sequencer and the units it clocks. It counts APU steps from `frame_start`
// in a period of 14916 steps (four-step mode) or 18640 (five-step mode, $4017 bit 7):
//
//   phase    3729     7458          11187    0
//   clocks   quarter  quarter+half  quarter  quarter+half
//
// A quarter frame clocks the envelopes and the triangle's linear counter, a half frame
// also the length counters and the sweeps. The sequencer never interrupts the CPU.
#include "apu/apu.hpp"

namespace NES {

namespace {

// The acting phases besides 0, in order.
constexpr int32_t QUARTER_1 = 3729;
constexpr int32_t HALF = 7458;
constexpr int32_t QUARTER_3 = 11187;

// The sweep target of pulse n: the period plus or minus the shifted period. Negation
// subtracts one more on pulse 2 than on pulse 1. The sum is a signed 16-bit value.
int16_t sweep_target(int n, uint16_t period, uint8_t control) {
    int change = period >> (control & 7);
    if (control & 0x08) change = n == 0 ? -change : -change - 1;
    return int16_t(period + change);
}

} // namespace

void Envelope::clock(uint8_t control) {
    uint8_t const period = control & 15;
    if (start) {
        start = false;
        decay = 15;
        divider = period;
    } else if (divider != 0) {
        --divider;
    } else {
        divider = period;
        if (decay != 0)
            --decay;
        else if (control & 0x20)
            decay = 15; // loop
    }
}

int32_t APU::sequencer_period() const {
    return (reg(0x4017) & 0x80) ? FIVE_STEP_PERIOD : FOUR_STEP_PERIOD;
}

void APU::func_frame_counter() {
    switch (sequencer.phase(int64_t(cycles) - frame_start, sequencer_period())) {
    case QUARTER_1:
    case QUARTER_3:
        clock_envs();
        clock_linear();
        break;
    case 0:
    case HALF:
        clock_envs();
        clock_linear();
        clock_length();
        clock_sweep();
        break;
    default: break;
    }
}

// The phase func_frame_counter switches on is (cycles - frame_start) % period, with C++'s
// remainder (SequencerPhase only saves the division). From a non-negative offset the
// next acting phase is the first of 0, 3729, 7458, 11187 and the next period's 0 at or
// past the remainder. A negative offset has a remainder in (-period, 0], which matches a
// clocking phase only at 0: the next multiple of the period.
int64_t APU::steps_to_sequencer_action() const {
    int32_t const period = sequencer_period();
    int64_t const phase = (int64_t(cycles) - frame_start) % period;
    if (phase <= 0) return -phase;
    for (int32_t acting : {QUARTER_1, HALF, QUARTER_3})
        if (phase <= acting) return acting - phase;
    return period - phase;
}

void APU::clock_envs() {
    envelopes[0].clock(reg(0x4000));
    envelopes[1].clock(reg(0x4004));
    envelopes[2].clock(reg(0x400C));
}

// The reload flag stays set while the control bit ($4008 bit 7) is set.
void APU::clock_linear() {
    uint8_t const control = reg(0x4008);
    if (linear_reload)
        linear_counter = control & 0x7F;
    else if (linear_counter != 0)
        --linear_counter;
    if (!(control & 0x80)) linear_reload = false;
}

void APU::clock_length() {
    bool const halted[4] = {bool(reg(0x4000) & 0x20), bool(reg(0x4004) & 0x20),
                            bool(reg(0x4008) & 0x80), bool(reg(0x400C) & 0x20)};
    for (int i = 0; i < 4; ++i) {
        if (!enabled[i])
            length[i] = 0;
        else if (length[i] != 0 && !halted[i])
            --length[i];
    }
}

// The mute flag is refreshed at every clock; the period changes when the divider has run
// out and the sweep is enabled, even while muted and even with shift 0.
void APU::clock_sweep() {
    for (int n = 0; n < 2; ++n) {
        uint8_t const control = reg(uint16_t(0x4001 + 4 * n));
        Sweep& s = sweeps[n];
        uint16_t& period = pulse_period[n];
        int16_t const target = sweep_target(n, period, control);
        s.mute = target > 0x7FF || period <= 7;
        if (s.divider == 0 && (control & 0x80)) period = target < 0 ? 0 : uint16_t(target);
        if (s.divider == 0 || s.reload) {
            s.divider = (control >> 4) & 7;
            s.reload = false;
        } else {
            --s.divider;
        }
    }
}

} // namespace NES
