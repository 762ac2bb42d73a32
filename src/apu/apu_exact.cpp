// Hardware mode's sound chip timing. The channels' own units (pulse, triangle, noise,
// envelopes, sweeps) and the sampling are the fast mode's; what the CPU can see of the
// chip runs here on the CPU's clock:
//
// - The frame counter counts CPU cycles from the start of its sequence. In the four-step
//   sequence it clocks quarter frames at 7457, 14913, 22371 and 29829 cycles, half frames
//   at 14913 and 29829, and sets the frame IRQ flag on 29828, 29829 and 29830 (unless the
//   IRQ is inhibited), where the sequence starts over. The five-step sequence clocks at
//   7457, 14913, 22371 and 37281 and starts over at 37282, never interrupting. A $4017
//   write restarts the sequence 3 or 4 cycles later, by the parity of the write's cycle
//   (the sequencer only starts on an APU cycle boundary); a five-step write clocks a
//   quarter and a half frame as it restarts. Setting the inhibit bit clears the flag.
// - $4015 reads every length counter, the DMC's bytes remaining and both IRQ flags, and
//   clears the frame flag (a read on a cycle the sequencer sets it still clears it: the
//   flag is set on three cycles in a row so that one read cannot miss it).
// - A length load is ignored while the channel is disabled, and on the cycle of a half
//   frame clock it counts only if the clock found the counter at 0.
//
// The APU still runs lazily behind the CPU: the CPU catches it up at every access to its
// registers and by the next cycle on which it may raise an IRQ or fetch a DMC byte
// (next_cpu_event), so the IRQ line changes on its exact cycle.
#include <algorithm>

#include "apu/apu.hpp"
#include "cpu/cpu.hpp"

namespace NES {

namespace {

// Frame counter events, in CPU cycles from the start of the sequence.
constexpr int64_t QUARTER_1 = 7457;
constexpr int64_t HALF_1 = 14913;
constexpr int64_t QUARTER_3 = 22371;
constexpr int64_t FOUR_STEP_IRQ = 29828;  // the flag is set here and on the next two
constexpr int64_t FOUR_STEP_HALF = 29829; // quarter + half, and the flag again
constexpr int64_t FOUR_STEP_END = 29830;  // the flag a third time; the sequence restarts
constexpr int64_t FIVE_STEP_HALF = 37281; // quarter + half
constexpr int64_t FIVE_STEP_END = 37282;  // the sequence restarts
constexpr int64_t FOUR_STEP_EVENTS[] = {QUARTER_1,     HALF_1,         QUARTER_3,
                                        FOUR_STEP_IRQ, FOUR_STEP_HALF, FOUR_STEP_END};
constexpr int64_t FIVE_STEP_EVENTS[] = {QUARTER_1, HALF_1, QUARTER_3, FIVE_STEP_HALF,
                                        FIVE_STEP_END};

// The sequence restarts this many cycles after a $4017 write on an even or an odd cycle.
constexpr int64_t RESTART_DELAY_EVEN = 3;
constexpr int64_t RESTART_DELAY_ODD = 4;
// At power-up and reset the console behaves as if $4017 had been written this many
// cycles before its first instruction, which the 7-cycle reset sequence precedes.
constexpr int64_t POWER_WRITE_LEAD = 9;
constexpr int64_t RESET_SEQUENCE_CYCLES = 7;

constexpr uint8_t FIVE_STEP_BIT = 0x80;
constexpr uint8_t INHIBIT_BIT = 0x40;
constexpr uint8_t DMC_IRQ_ENABLE = 0x80;

int64_t restart_cycle(int64_t write_cycle) {
    return write_cycle + ((write_cycle & 1) ? RESTART_DELAY_ODD : RESTART_DELAY_EVEN);
}

// The channel whose length counter a register's write loads; -1 for the others.
int length_channel(uint16_t addr) {
    switch (addr) {
    case 0x4003: return 0;
    case 0x4007: return 1;
    case 0x400B: return 2;
    case 0x400F: return 3;
    default: return -1;
    }
}

} // namespace

void APU::catch_up_exactly(int64_t cpu_cycles) {
    while (exact_clock < cpu_cycles) {
        int64_t const event = next_frame_event();
        int64_t const until = std::min(event, cpu_cycles);
        // The steps covering cycles before `until`: step s covers cycles 2s and 2s + 1.
        if (until > 0) run_steps_exactly(uint64_t((until + 1) / 2) - 1);
        exact_clock = until;
        if (event < cpu_cycles) {
            run_frame_event(event);
            exact_clock = event + 1;
        }
    }
}

// The catch-up's loop without the fast mode's sequencer: the steps that take a sample or
// end the call run in full, the ones between are skipped.
void APU::run_steps_exactly(uint64_t last) {
    while (cycles <= last) {
        uint64_t const full = std::min(next_sample_step(), last);
        skip_quiet_steps<true>(int64_t(full - cycles));
        step_channels<true>();
        sample();
        ++cycles;
    }
}

int64_t APU::next_frame_event() const {
    int64_t const count = exact_clock - frame_origin;
    auto const first_from = [&](auto const& events) {
        for (int64_t const at : events)
            if (at >= count) return frame_origin + at;
        return int64_t(INT64_MAX);
    };
    int64_t next = five_step ? first_from(FIVE_STEP_EVENTS) : first_from(FOUR_STEP_EVENTS);
    if (frame_write_due >= exact_clock) next = std::min(next, frame_write_due);
    return next;
}

void APU::run_frame_event(int64_t cycle) {
    if (cycle == frame_write_due) {
        frame_write_due = -1;
        frame_origin = cycle;
        five_step = frame_write_value & FIVE_STEP_BIT;
        if (five_step) {
            quarter_frame();
            half_frame(cycle);
        }
        return;
    }
    switch (cycle - frame_origin) {
    case QUARTER_1:
    case QUARTER_3: quarter_frame(); break;
    case HALF_1:
        quarter_frame();
        half_frame(cycle);
        break;
    case FOUR_STEP_IRQ: raise_frame_irq(); break;
    case FOUR_STEP_HALF:
        quarter_frame();
        half_frame(cycle);
        raise_frame_irq();
        break;
    case FOUR_STEP_END:
        raise_frame_irq();
        frame_origin = cycle;
        break;
    case FIVE_STEP_HALF:
        quarter_frame();
        half_frame(cycle);
        break;
    case FIVE_STEP_END: frame_origin = cycle; break;
    default: break;
    }
}

void APU::quarter_frame() {
    clock_envs();
    clock_linear();
}

void APU::half_frame(int64_t cycle) {
    std::copy(std::begin(length), std::end(length), std::begin(length_before_half));
    half_clock_at = cycle;
    clock_length();
    clock_sweep();
}

void APU::raise_frame_irq() {
    if (frame_irq_inhibit) return;
    frame_irq = true;
    update_irq_line();
}

void APU::update_irq_line() const {
    cpu->apu_irq = frame_irq || dmc_irq;
}

uint8_t APU::read_status_exactly(int64_t cycle) {
    catch_up_exactly(cycle + 1);
    uint8_t status = 0;
    for (int i = 0; i < 4; ++i)
        if (length[i] != 0) status |= uint8_t(1 << i);
    if (dmc_remaining != 0) status |= 0x10;
    if (frame_irq) status |= 0x40;
    if (dmc_irq) status |= 0x80;
    frame_irq = false;
    update_irq_line();
    return status;
}

void APU::write_register_exactly(uint16_t addr, uint8_t value, int64_t cycle) {
    catch_up_exactly(cycle + 1);
    switch (addr) {
    case 0x4010:
        dmc_flags = value;
        if (!(value & DMC_IRQ_ENABLE)) {
            dmc_irq = false;
            update_irq_line();
        }
        return;
    case 0x4011:
        // The output level takes the load at once.
        dmc_level = value & 0x7F;
        dmc_direct = -1;
        return;
    case 0x4015: return write_status_exactly(value, cycle);
    case 0x4017:
        frame_irq_inhibit = value & INHIBIT_BIT;
        if (frame_irq_inhibit) {
            frame_irq = false;
            update_irq_line();
        }
        frame_write_value = value;
        frame_write_due = restart_cycle(cycle);
        return;
    default: break;
    }
    int const channel = length_channel(addr);
    if (channel < 0) return write_register(addr, value);
    uint8_t const kept = length[channel];
    write_register(addr, value);
    bool const clocked_now = half_clock_at == cycle && length_before_half[channel] != 0;
    if (!enabled[channel] || clocked_now) length[channel] = kept;
}

// A cleared enable bit zeroes its length counter (or, for the DMC, the bytes remaining);
// a set DMC bit restarts a finished sample. Either way the DMC IRQ flag clears.
void APU::write_status_exactly(uint8_t value, int64_t cycle) {
    for (int i = 0; i < 4; ++i) {
        enabled[i] = value & (1 << i);
        if (!enabled[i]) length[i] = 0;
    }
    enabled[4] = value & 0x10;
    if (!enabled[4]) {
        dmc_remaining = 0;
    } else if (dmc_remaining == 0) {
        start_sample();
        request_dmc_load(cycle);
    }
    dmc_irq = false;
    update_irq_line();
}

int64_t APU::next_cpu_event(int64_t cycle) const {
    int64_t deadline = INT64_MAX;
    int64_t const event = next_frame_event();
    if (event != INT64_MAX) deadline = std::max(event + 1, cycle + 1);
    uint64_t const steps = steps_to_dmc_request();
    if (steps != UINT64_MAX) deadline = std::min(deadline, reload_halt_from(cycles + steps));
    return deadline;
}

void APU::restart_frame_counter(uint8_t value, int64_t cycle) {
    frame_irq = false;
    dmc_irq = false;
    update_irq_line();
    frame_irq_inhibit = value & INHIBIT_BIT;
    frame_write_value = value;
    int64_t const write = cycle + RESET_SEQUENCE_CYCLES - POWER_WRITE_LEAD;
    frame_write_due = std::max(restart_cycle(write), exact_clock);
}

} // namespace NES
