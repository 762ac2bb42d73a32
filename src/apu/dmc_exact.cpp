// Hardware mode's DMC. Its memory reader fills a one-byte sample buffer whenever the
// buffer is empty and sample bytes remain: it asks the CPU for a halt, and the byte
// arrives with the DMA's read a few cycles later (cycle_bus.cpp). Only then do the
// address and the bytes remaining move, so $4015 sees the count drop on the read's
// cycle; the last byte of a sample restarts it when looping, else raises the DMC IRQ
// when enabled. The output unit takes the buffer into its shift register at the start of
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

// The halt a $4015 enable asks for lands on the get cycle of the second APU cycle after
// the write's (APU cycles run get, put): 4 cycles after a write on a get, 3 after one
// on a put.
constexpr int64_t LOAD_HALT_DELAY = 3;

int64_t first_put_from(int64_t cycle) {
    return CPU::get_cycle(cycle) ? cycle + 1 : cycle;
}

int64_t first_get_from(int64_t cycle) {
    return CPU::get_cycle(cycle) ? cycle : cycle + 1;
}

} // namespace

// The step after an output clock emptied the buffer asks for the halt from the put cycle
// that starts the step after it.
int64_t APU::reload_halt_from(uint64_t step) {
    return first_put_from(2 * int64_t(step + 1));
}

void APU::request_dmc_load(int64_t write_cycle) {
    if (dmc_buffer_empty && !dmc_fetch_requested)
        request_dmc_fetch(first_get_from(write_cycle + LOAD_HALT_DELAY));
}

void APU::dmc_exactly() {
    if (dmc_buffer_empty && dmc_remaining != 0 && !dmc_fetch_requested)
        request_dmc_fetch(reload_halt_from(cycles));
    if (dmc_timer != 0) {
        --dmc_timer;
        return;
    }
    clock_dmc_output_exactly();
    dmc_timer = timers::DMC_MODULI[dmc_flags & 15] - 1;
}

void APU::request_dmc_fetch(int64_t halt_from) {
    dmc_fetch_requested = true;
    cpu->dmc_halt_requested = true;
    cpu->dmc_halt_from = halt_from;
}

uint8_t APU::complete_dmc_fetch(int64_t cycle) {
    catch_up_exactly(cycle + 1);
    dmc_fetch_requested = false;
    dmc_buffer = cpu->read(cpu->memory + dmc_addr, false);
    dmc_buffer_empty = false;
    // A sample stopped since the request still gets its byte; nothing more happens.
    if (dmc_remaining == 0) return dmc_buffer;
    dmc_addr = dmc_addr == 0xFFFF ? 0x8000 : uint16_t(dmc_addr + 1);
    if (--dmc_remaining == 0) finish_sample();
    return dmc_buffer;
}

void APU::finish_sample() {
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
uint64_t APU::steps_to_dmc_request() const {
    if (dmc_remaining == 0 || dmc_fetch_requested) return UINT64_MAX;
    if (dmc_buffer_empty) return 0;
    int32_t const modulus = timers::DMC_MODULI[dmc_flags & 15];
    int32_t const clocks_left = dmc_bits > 0 ? dmc_bits : 1;
    return uint64_t(dmc_timer) + uint64_t(clocks_left - 1) * uint64_t(modulus) + 1;
}

} // namespace NES
