// Hardware mode's DMC. Its memory reader fills a one-byte sample buffer whenever the
// buffer is empty and sample bytes remain, each fetch stalling the CPU (cycle_bus.cpp);
// the last byte of a sample restarts it when looping, else raises the DMC IRQ when
// enabled. The output unit takes the buffer into its shift register at the start of
// every eight-bit cycle (falling silent for the cycle when the buffer is empty) and moves
// the level by 2 per bit within 0..127.
//
// Its timer counts down here, as the hardware's does, and reloads the period at each
// output clock: a rate written mid-bit takes effect from the next bit. (The fast mode's
// timer counts up to the rate's period, so a new rate applies at once.) `dmc_timer` holds
// the steps left until the next output clock.
#include <algorithm>

#include "apu/apu.hpp"
#include "apu/timers.hpp"
#include "cpu/cpu.hpp"

namespace NES {

namespace {

constexpr uint8_t DMC_IRQ_ENABLE = 0x80;
constexpr uint8_t DMC_LOOP = 0x40;

} // namespace

void APU::dmc_exactly() {
    if (dmc_buffer_empty && dmc_remaining != 0) fetch_dmc_byte_exactly();
    if (dmc_timer != 0) {
        --dmc_timer;
        return;
    }
    clock_dmc_output_exactly();
    dmc_timer = timers::DMC_MODULI[dmc_flags & 15] - 1;
}

void APU::fetch_dmc_byte_exactly() {
    dmc_buffer = cpu->read(cpu->memory + dmc_addr, false);
    dmc_buffer_empty = false;
    dmc_addr = dmc_addr == 0xFFFF ? 0x8000 : uint16_t(dmc_addr + 1);
    cpu->dmc_stall = dmc_load_pending ? CPU::DMC_HALT_ANY : CPU::DMC_HALT_ON_PUT;
    dmc_load_pending = false;
    if (--dmc_remaining != 0) return;
    if (dmc_flags & DMC_LOOP) {
        start_sample();
    } else if (dmc_flags & DMC_IRQ_ENABLE) {
        dmc_irq = true;
        update_irq_line();
    }
}

void APU::clock_dmc_output_exactly() {
    if (!dmc_silent) {
        if (dmc_shift & 1) {
            if (dmc_level <= 125) dmc_level += 2;
        } else if (dmc_level >= 2) {
            dmc_level -= 2;
        }
    }
    dmc_shift >>= 1;
    if (--dmc_bits > 0) return;
    dmc_bits = 8;
    dmc_silent = dmc_buffer_empty;
    if (dmc_buffer_empty) return;
    dmc_shift = dmc_buffer;
    dmc_buffer_empty = true;
}

// Only a fetch or an output clock changes anything but the timer; a fetch is due only
// with the buffer empty, which only an output clock makes so.
void APU::skip_dmc_exactly(int64_t steps) {
    while (steps > 0) {
        bool const fetch_due = dmc_buffer_empty && dmc_remaining != 0;
        if (fetch_due || dmc_timer == 0) {
            dmc_exactly();
            --steps;
            continue;
        }
        int32_t const counts = int32_t(std::min<int64_t>(steps, dmc_timer));
        dmc_timer -= counts;
        steps -= counts;
    }
}

// The next fetch comes at once when due, else on the step after the output clock that
// empties the buffer into the shift register: the clock that ends the current bit cycle.
uint64_t APU::steps_to_dmc_fetch_exactly() const {
    if (dmc_remaining == 0) return UINT64_MAX;
    if (dmc_buffer_empty) return 0;
    int32_t const modulus = timers::DMC_MODULI[dmc_flags & 15];
    int32_t const clocks_left = dmc_bits > 0 ? dmc_bits : 1;
    return uint64_t(dmc_timer) + uint64_t(clocks_left - 1) * uint64_t(modulus) + 1;
}

} // namespace NES
