// The channels' timers. Every timer counts up from 0 and wraps at its modulus; a wrap
// advances the channel's sequence. advance_timer is one count, as a step makes it;
// advance_timer_by makes many counts at once for the catch-up's quiet stretches.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "apu/apu.hpp"

namespace NES::timers {

// Timer moduli in APU steps: the tables count CPU cycles, two to a step.
template <typename T, size_t N> constexpr std::array<int32_t, N> halved(T const (&cpu_cycles)[N]) {
    std::array<int32_t, N> steps{};
    for (size_t i = 0; i < N; ++i)
        steps[i] = int32_t(cpu_cycles[i]) / 2;
    return steps;
}

inline constexpr auto NOISE_MODULI = halved(APU::noise_periods);
inline constexpr auto DMC_MODULI = halved(APU::dmc_rates);

// timer := (timer + 1) mod modulus; true when it wraps to 0. A period written below the
// running count keeps the exact remainder; only that rare case divides.
template <typename Counter> bool advance_timer(Counter& timer, int32_t modulus) {
    int32_t next = int32_t(timer) + 1;
    if (next >= modulus) next = next == modulus ? 0 : next % modulus;
    timer = Counter(next);
    return next == 0;
}

// `counts` calls of advance_timer at once; returns how many of them wrapped to 0. After
// the first count the timer is below the modulus (the one count from a running value
// past it is made by advance_timer itself), and from there counts add up: t + counts =
// wraps * modulus + remainder.
template <typename Counter>
int64_t advance_timer_by(Counter& timer, int32_t modulus, int64_t counts) {
    if (counts <= 0) return 0;
    int64_t wraps = 0;
    if (int32_t(timer) >= modulus) {
        wraps = advance_timer(timer, modulus);
        --counts;
    }
    int64_t const total = int64_t(timer) + counts;
    if (total < modulus) {
        timer = Counter(total);
        return wraps;
    }
    timer = Counter(total % modulus);
    return wraps + total / modulus;
}

// How many of the next `steps` steps find the timer at 0, for a timer below its modulus
// that counts once per step: the first at the step where it wraps, then one per modulus.
inline int64_t zeros_ahead(int32_t timer, int32_t modulus, int64_t steps) {
    int64_t const first = timer == 0 ? 0 : modulus - timer;
    return first >= steps ? 0 : 1 + (steps - 1 - first) / modulus;
}

} // namespace NES::timers
