// The APU's part of a console snapshot: every channel's timers, sequences, envelopes,
// sweeps and length counters, the DMC's reader, the frame sequencer's phase, and the
// sample blocks being filled and awaiting pickup, so that the sound after a restore is
// the sound the original would have made.
//
// The samples' channel levels and the register-derived periods may hold anything. Every counter
// is held to the range its unit keeps it in (a timer past any period would count for
// ever, a level past its table would overflow the mixer), and the two derived counts are
// checked against what they derive from: the samples taken against the steps made, and
// the frame sequencer's remembered phase against its offset.
//
// With a board's sound, the board's terms of the same samples follow; the unit itself is
// the board's (Mapper::snapshot). A board without sound adds nothing.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "apu/apu.hpp"
#include "apu/timers.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

namespace {

// The largest count a timer can hold: it can be left past a shortened period, but never
// past the longest.
constexpr int32_t NOISE_TIMER_MAX =
    *std::max_element(timers::NOISE_MODULI.begin(), timers::NOISE_MODULI.end()) - 1;
constexpr int32_t DMC_TIMER_MAX =
    *std::max_element(timers::DMC_MODULI.begin(), timers::DMC_MODULI.end()) - 1;
constexpr uint8_t LONGEST_LENGTH = 254;   // the length table's largest load
constexpr uint16_t LONGEST_SAMPLE = 4081; // $4013 = $FF: 16 x 255 + 1 bytes
constexpr int32_t MAX_DMC_LEVEL = 255;    // a $4011 load may set any byte
constexpr int64_t MAX_SEQUENCER_OFFSET = int64_t(1) << 62;
// Hardware mode: the five-step sequence's length in CPU cycles, and the furthest a
// $4017 write (or power-up) schedules the sequence's restart.
constexpr int64_t LONGEST_FRAME_SEQUENCE = 37282;
constexpr int64_t MAX_FRAME_WRITE_DELAY = 4;
// Far past any board's loudest term: a sample of it is clipped, but it must be a number.
constexpr float MAX_BOARD_TERM = 16.0f;

// The triangle's output is 0 or a level of its table, 2 x (level - 7.5): an odd whole
// number from -15 to 15. Anything else (a NaN included) is no output it can have.
bool triangle_output(float value) {
    if (value == 0.0f) return true;
    if (!(value >= -15.0f && value <= 15.0f) || value != std::floor(value)) return false;
    return int(value) % 2 != 0;
}

// The samples taken after `steps` steps (APU::sample): one at every step c whose rule
// (samples + 1) x apu_clock <= c x sample_rate holds, at most one a step, none before
// step 1 and none at all without an APU clock. So min(steps - 1, (steps - 1) x rate /
// clock), computed in 128 bits since `steps` is not yet checked here.
uint64_t samples_after(uint64_t steps, int32_t apu_clock, int32_t sample_rate) {
    if (apu_clock <= 0 || steps == 0) return 0;
    unsigned __int128 const due =
        (unsigned __int128)(steps - 1) * uint64_t(sample_rate) / uint64_t(apu_clock);
    return uint64_t(std::min<unsigned __int128>(steps - 1, due));
}

// SequencerPhase keeps value = offset % period once it has a period (none yet: all zero).
bool sequencer_consistent(int64_t offset, int32_t period, int32_t value) {
    if (offset <= -MAX_SEQUENCER_OFFSET || offset >= MAX_SEQUENCER_OFFSET) return false;
    if (period == 0) return offset == 0 && value == 0;
    if (period != APU::FOUR_STEP_PERIOD && period != APU::FIVE_STEP_PERIOD) return false;
    return value == offset % period;
}

} // namespace

template <class Pass> void APU::snapshot(Pass& s) {
    uint64_t const steps = s.field(cycles);
    s.clocks.apu_steps = steps;
    // A $4017 write sets it to the step before the current one.
    int64_t const start = s.field(frame_start);
    s.require(start >= -1 && (start < 0 || uint64_t(start) <= steps));
    s.field(enabled);
    for (int8_t const out : s.elements(pulse_out))
        s.require(out >= -15 && out <= 15);
    s.bounded(pulse_step[0], uint8_t(0), uint8_t(7));
    s.bounded(pulse_step[1], uint8_t(0), uint8_t(7));
    s.field(pulse_timer);
    s.field(pulse_period);
    s.field(triangle_period);
    s.require(triangle_output(s.field(triangle_out)));
    s.bounded(triangle_step, uint8_t(0), uint8_t(31));
    s.field(triangle_timer);
    for (Envelope& e : envelopes) {
        s.field(e.start);
        s.bounded(e.divider, uint8_t(0), uint8_t(15));
        s.bounded(e.decay, uint8_t(0), uint8_t(15));
    }
    s.bounded(linear_counter, uint8_t(0), uint8_t(0x7F));
    s.field(linear_reload);
    s.bounded(noise_shift, uint16_t(1), uint16_t(0x7FFF)); // 15 bits, never all clear
    s.bounded(noise_out, int8_t(0), int8_t(15));
    s.bounded(noise_timer, 0, NOISE_TIMER_MAX);
    s.bounded(dmc_level, 0, MAX_DMC_LEVEL);
    s.field(dmc_buffer);
    s.field(dmc_flags);
    s.bounded(dmc_timer, 0, DMC_TIMER_MAX);
    bool const silent = s.field(dmc_silent);
    s.field(dmc_shift);
    // Eight bits after every byte; none only while the unit has been silent since power-up.
    int32_t const bits = s.bounded(dmc_bits, 0, 8);
    s.require(bits != 0 || silent);
    s.field(dmc_buffer_empty);
    s.field(dmc_sample_addr);
    s.bounded(dmc_sample_len, uint16_t(0), LONGEST_SAMPLE);
    s.bounded(dmc_direct, -1, MAX_DMC_LEVEL);
    s.field(dmc_addr);
    s.bounded(dmc_remaining, 0, int32_t(LONGEST_SAMPLE));
    for (uint8_t const count : s.elements(length))
        s.require(count <= LONGEST_LENGTH);
    for (Sweep& sweep : sweeps) {
        s.bounded(sweep.divider, uint8_t(0), uint8_t(7));
        s.field(sweep.reload);
        s.field(sweep.mute);
    }
    int32_t const clock = s.field(apu_clock);
    s.clocks.apu_clock = clock;
    uint64_t const taken = s.field(samples);
    int32_t const rate = s.field(sample_rate);
    s.require(rate == SAMPLE_RATE && taken == samples_after(steps, clock, rate));
    // The samples of the block being filled (a full block is published by the next
    // sample), and the published block while the host has not fetched it.
    uint64_t const filled = taken == 0 ? 0 : (taken - 1) % BUFFER_LEN + 1;
    s.bytes(buffers.data(), filled * sizeof(Levels));
    bool const ready = s.field(buffer_ready);
    if (ready) s.bytes(out_buffers.data(), sizeof out_buffers);
    if (expansion) snapshot_board_terms(s, size_t(filled), ready);
    int64_t const offset = s.field(sequencer.offset);
    int32_t const period = s.field(sequencer.period);
    s.require(sequencer_consistent(offset, period, s.field(sequencer.value)));
    if (hardware) snapshot_exact_timing(s, steps);
}

template <class Pass> void APU::snapshot_board_terms(Pass& s, size_t filled, bool ready) {
    auto const terms = [&s](float* values, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            float const term = s.field(values[i]);
            s.require(std::isfinite(term) && std::fabs(term) <= MAX_BOARD_TERM);
        }
    };
    terms(expansion->buffers.data(), filled);
    if (ready) terms(expansion->out_buffers.data(), BUFFER_LEN);
}

// Hardware mode's frame counter: its sequence began at or before the last event
// processed and no longer ago than its longest period, and a pending $4017 write lands
// within a few cycles.
template <class Pass> void APU::snapshot_exact_timing(Pass& s, uint64_t steps) {
    int64_t const clock = s.field(exact_clock);
    s.require(clock >= 0 && (ClockMath(clock) + 1) / 2 <= ClockMath(steps) + 1);
    int64_t const origin = s.field(frame_origin);
    s.require(ClockMath(origin) <= ClockMath(clock) + MAX_FRAME_WRITE_DELAY &&
              ClockMath(clock) - origin <= LONGEST_FRAME_SEQUENCE);
    s.field(five_step);
    s.field(frame_irq_inhibit);
    int64_t const due = s.field(frame_write_due);
    s.require(due == -1 ||
              (due >= clock && ClockMath(due) <= ClockMath(clock) + MAX_FRAME_WRITE_DELAY));
    s.field(frame_write_value);
    s.field(frame_irq);
    s.field(dmc_irq);
    s.field(half_clock_at);
    // The CPU's part comes first: a fetch asked for is a halt it has pending.
    s.require(s.field(dmc_fetch_requested) == s.clocks.dmc_halt_requested);
    for (uint8_t const count : s.elements(length_before_half))
        s.require(count <= LONGEST_LENGTH);
}

// The passes the console runs: its own, fixed when compiled, and the general one.
template void APU::snapshot(Snapshot&);
template void APU::snapshot(SavingPass&);
template void APU::snapshot(CheckingPass&);
template void APU::snapshot(LoadingPass&);

} // namespace NES
