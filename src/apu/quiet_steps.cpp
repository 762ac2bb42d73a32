// The catch-up's quiet steps: steps on which the frame sequencer clocks nothing, no
// sample is taken and the call does not end. Nobody looks at the channel outputs of such
// a step (the next step that matters computes its own), and the channels' parameters
// (periods, register bytes, enables) cannot change across them, so only what carries
// from step to step is advanced: timers, sequence positions, the noise shift register
// and the DMC's reader and output unit. Each channel does many steps at once, in the
// same order of events as its per-step code in channels.cpp.
#include "apu/apu.hpp"

#include <algorithm>

#include "apu/timers.hpp"

namespace NES {

using timers::advance_timer_by;

// The shift register steps once for every step that finds the timer at 0. A timer left
// past a shortened period takes its one irregular count in a step of noise() itself.
// Inlined into both modes' skip_quiet_steps, as the fast mode's alone had it.
[[gnu::always_inline]] inline void APU::skip_noise(int64_t steps) {
    uint8_t const mode_period = reg(0x400E);
    int32_t const modulus = timers::NOISE_MODULI[mode_period & 15];
    if (noise_timer >= modulus) {
        noise();
        --steps;
    }
    for (int64_t shifts = timers::zeros_ahead(noise_timer, modulus, steps); shifts > 0; --shifts)
        shift_noise(mode_period);
    advance_timer_by(noise_timer, modulus, steps);
}

template <bool EXACT_DMC> void APU::skip_quiet_steps(int64_t steps) {
    if (steps <= 0) return;
    skip_pulse(0, steps);
    skip_pulse(1, steps);
    skip_triangle(steps);
    skip_noise(steps);
    if constexpr (EXACT_DMC)
        skip_dmc_exactly(steps);
    else
        skip_dmc(steps);
    cycles += uint64_t(steps);
}

template void APU::skip_quiet_steps<false>(int64_t);
template void APU::skip_quiet_steps<true>(int64_t);

// One timer count per step; each wrap moves the duty position.
void APU::skip_pulse(int n, int64_t steps) {
    int64_t const wraps = advance_timer_by(pulse_timer[n], pulse_period[n] + 1, steps);
    pulse_step[n] = uint8_t((pulse_step[n] + wraps) & 7);
}

// Two timer counts per step; each wrap moves the sequence position.
void APU::skip_triangle(int64_t steps) {
    int64_t const wraps = advance_timer_by(triangle_timer, triangle_period + 1, 2 * steps);
    triangle_step = uint8_t((triangle_step + wraps) & 31);
}

// The DMC acts on a step when its reader fetches (the buffer is empty and bytes remain)
// or its timer reads 0 (an output tick); those steps, and a count from a timer past a
// shortened period, run as dmc() itself. Between them only the timer counts: no fetch
// can become due without a tick, since only a tick empties the buffer. A unit that is
// silent with no $4011 load pending and no fetch due stays so (its ticks do nothing,
// and only a fetch ends the silence), so then the timer alone counts to the end.
void APU::skip_dmc(int64_t steps) {
    int32_t const modulus = timers::DMC_MODULI[dmc_flags & 15];
    while (steps > 0) {
        bool const fetch_due = enabled[4] && dmc_buffer_empty && dmc_remaining != 0;
        if (!fetch_due && dmc_silent && dmc_direct == -1) {
            advance_timer_by(dmc_timer, modulus, steps);
            return;
        }
        if (fetch_due || dmc_timer == 0 || dmc_timer >= modulus) {
            dmc();
            --steps;
            continue;
        }
        int64_t const counts = std::min<int64_t>(steps, modulus - dmc_timer);
        advance_timer_by(dmc_timer, modulus, counts);
        steps -= counts;
    }
}

} // namespace NES
