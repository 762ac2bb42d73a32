// The APU's part of a console snapshot: every channel's timers, sequences, envelopes,
// sweeps and length counters, the DMC's reader, the frame sequencer's phase, and the
// sample blocks being filled and awaiting pickup, so that the sound after a restore is
// the sound the original would have made.
#include "apu/apu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

void APU::snapshot(Snapshot& s) {
    s.field(cycles);
    s.field(frame_start);
    s.field(enabled);
    s.field(pulse_out);
    s.bounded(pulse_step[0], uint8_t(0), uint8_t(7));
    s.bounded(pulse_step[1], uint8_t(0), uint8_t(7));
    s.field(pulse_timer);
    s.field(pulse_period);
    s.field(triangle_period);
    s.field(triangle_out);
    s.bounded(triangle_step, uint8_t(0), uint8_t(31));
    s.field(triangle_timer);
    s.field(envelopes);
    s.field(linear_counter);
    s.field(linear_reload);
    s.field(noise_shift);
    s.field(noise_out);
    s.field(noise_timer);
    s.field(dmc_level);
    s.field(dmc_buffer);
    s.field(dmc_flags);
    s.field(dmc_timer);
    s.field(dmc_silent);
    s.field(dmc_shift);
    s.field(dmc_bits);
    s.field(dmc_buffer_empty);
    s.field(dmc_sample_addr);
    s.field(dmc_sample_len);
    s.field(dmc_direct);
    s.field(dmc_addr);
    s.field(dmc_remaining);
    s.field(length);
    s.field(sweeps);
    s.field(buffers);
    s.field(out_buffers);
    s.field(buffer_ready);
    s.field(apu_clock);
    s.field(samples);
    s.field(sample_rate);
    s.field(sequencer);
}

} // namespace NES
