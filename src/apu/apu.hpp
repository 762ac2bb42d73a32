// The audio processing unit: two pulse channels, a triangle, a noise channel and the
// delta-modulation channel (DMC), driven by the frame sequencer and stepped once per two
// CPU cycles by the console.
//
// The sound registers have no storage here: like the PPU registers they are bytes of the
// CPU memory image, stored by the CPU bus after the register's side effect. The channels
// read their control bytes ($4000, $4001, $4004, $4005, $4008, $400C, $400E, $4017)
// straight from the image at every step; write_register() gives the other registers
// their effects on the fields below.
//
// Each step ends with the sampling rule: at 44100 samples per emulated second the five
// channel outputs are mixed linearly into a 16-bit sample, and every 1024 samples the
// block is published for the host (getAudio). A board with sound channels of its own
// (expansion_sound.hpp) adds its unit's output to the mix.
//
// cycle() is one step and the reference for every other path; catch_up() gives the
// results of as many cycle() calls while computing only the steps whose outputs are
// looked at (apu.cpp, quiet_steps.cpp).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "apu/expansion_sound.hpp"
#include "console/recycled_storage.hpp"

namespace NES {

class CPU;

// Envelope unit of pulse 1, pulse 2 and noise. Its register byte ($4000, $4004, $400C):
// bit 5 loop (and length halt), bit 4 constant volume, bits 0-3 volume or period.
struct Envelope {
    bool start = false;  // set by a length write; restarts the decay at the next clock
    uint8_t divider = 0; // counts the envelope period down
    uint8_t decay = 0;   // decay level 15..0, the channel's volume without constant volume

    // One clock (a quarter frame on the console) under the register byte `control`.
    void clock(uint8_t control);
};

// Sweep unit of a pulse channel. Its register byte ($4001, $4005): bit 7 enable,
// bits 4-6 divider period, bit 3 negate, bits 0-2 shift.
struct Sweep {
    uint8_t divider = 0;
    bool reload = false; // set by a write to the sweep register
    bool mute = false;   // at the last sweep clock the target was past 0x7FF or the period < 8
};

// The frame sequencer's phase, (cycles - frame_start) mod period as a signed remainder
// (negative while cycles is below frame_start after a CPU reset). Each step normally
// moves the offset on by one, so the phase is counted on from the previous step's
// instead of divided out; any other jump of the offset, or a change of period, divides.
struct SequencerPhase {
    int64_t offset = 0;
    int32_t period = 0; // none yet: the first call divides
    int32_t value = 0;

    int32_t phase(int64_t new_offset, int32_t new_period) {
        if (new_offset > 0 && new_offset == offset + 1 && new_period == period) {
            value = value + 1 == period ? 0 : value + 1;
        } else {
            value = int32_t(new_offset % new_period);
            period = new_period;
        }
        offset = new_offset;
        return value;
    }
};

class APU : public RecycledStorage<APU> {
public:
    static constexpr int BUFFER_LEN = 1024;       // samples per published block
    static constexpr int32_t SAMPLE_RATE = 44100; // what a console sets `sample_rate` to
    // The frame sequencer's period in APU steps: four-step mode, five-step mode.
    static constexpr int32_t FOUR_STEP_PERIOD = 14916;
    static constexpr int32_t FIVE_STEP_PERIOD = 18640;
    // Sample streams, in buffer order: the console's own, then for a board with sound
    // the board's channels together.
    enum Stream { MIXED, PULSE1, PULSE2, TRIANGLE, NOISE, DMC, EXPANSION };
    static constexpr int STREAMS = EXPANSION; // the console's own streams
    // The mix's weight of a pulse level (-15..15) and of a DMC level step: a board's sound
    // is weighed against them.
    static constexpr double PULSE_WEIGHT = 0.00752;
    static constexpr double DMC_WEIGHT = 0.00335;
    // One sample as the five channel levels every stream's value derives from, packed
    // so that 0 is silence: bits 0-4 pulse 1 and 5-9 pulse 2 (-15..15, two's complement),
    // 10-14 the triangle (-15..15), 15-18 the noise (0-15), 19-26 the DMC level less 64
    // (mod 256: level 64 adds nothing to the mix). A disabled channel is at its silent
    // level.
    using Levels = uint32_t;
    static constexpr Levels LEVEL_BITS = (Levels(1) << 27) - 1;
    using Block = std::array<Levels, BUFFER_LEN>;

    APU() = default;
    APU(APU const&) = delete;
    APU& operator=(APU const&) = delete;

    uint64_t cycles = 0; // APU steps since construction or the last CPU reset
    // Frame sequencer reference step; a $4017 write sets it to cycles - 1. $4017 bit 7
    // selects the five-step sequence.
    int64_t frame_start = 0;
    CPU* cpu = nullptr;
    // $4015 bits 0-4: pulse 1, pulse 2, triangle, noise, DMC.
    bool enabled[5] = {false, false, false, false, false};

    // Pulse channels. $4002/$4006: period bits 0-7. $4003/$4007: bits 3-7 length index,
    // bits 0-2 period bits 8-10.
    int8_t pulse_out[2] = {0, 0}; // -15..15
    static constexpr uint8_t duty_table[4][8] = {
        {0, 1, 0, 0, 0, 0, 0, 0}, // 12.5 %
        {0, 1, 1, 0, 0, 0, 0, 0}, // 25 %
        {0, 1, 1, 1, 1, 0, 0, 0}, // 50 %
        {1, 0, 0, 1, 1, 1, 1, 1}, // 75 %: 25 % inverted
    };
    uint8_t pulse_step[2] = {0, 0};    // position 0-7 in the duty sequence
    uint16_t pulse_timer[2] = {0, 0};  // counts up to the period, then steps the sequence
    uint16_t pulse_period[2] = {0, 0}; // 11 bits from the registers; sweeps may go beyond

    // Triangle. $4008: bit 7 control (length halt, keeps the linear reload flag), bits
    // 0-6 linear counter reload value. $400A: period bits 0-7. $400B: bits 3-7 length
    // index, bits 0-2 period bits 8-10.
    uint16_t triangle_period = 0;
    static constexpr uint8_t triangle_table[32] = {15, 14, 13, 12, 11, 10, 9,  8,  7,  6, 5,
                                                   4,  3,  2,  1,  0,  0,  1,  2,  3,  4, 5,
                                                   6,  7,  8,  9,  10, 11, 12, 13, 14, 15};
    float triangle_out = 0.0f; // -15.0..15.0
    uint8_t triangle_step = 0; // position 0-31
    uint16_t triangle_timer = 0;

    Envelope envelopes[3]; // pulse 1, pulse 2, noise
    uint8_t linear_counter = 0;
    bool linear_reload = false;

    // Noise. $400E: bit 7 mode (short sequence), bits 0-3 period index. $400F: bits 3-7
    // length index.
    uint16_t noise_shift = 1; // 15-bit linear-feedback shift register
    int8_t noise_out = 0;     // 0..15
    static constexpr int32_t noise_periods[16] = {4,   8,   16,  32,  64,  96,   128,  160,
                                                  202, 254, 380, 508, 762, 1016, 2034, 4068};
    int32_t noise_timer = 0;

    // DMC. $4010: bit 7 IRQ enable, bit 6 loop, bits 0-3 rate index. $4011: direct load
    // of the output level. $4012: sample address $C000 + 64 d. $4013: length 16 d + 1.
    int32_t dmc_level = 0;
    uint8_t dmc_buffer = 0; // last sample byte fetched
    uint8_t dmc_flags = 0;  // the last $4010 write
    static constexpr uint16_t dmc_rates[16] = {428, 380, 340, 320, 286, 254, 226, 214,
                                               190, 160, 142, 128, 106, 84,  72,  54};
    int32_t dmc_timer = 0;
    bool dmc_silent = true;
    uint8_t dmc_shift = 0;
    int32_t dmc_bits = 0; // bits left in the shift register
    bool dmc_buffer_empty = true;
    uint16_t dmc_sample_addr = 0;
    uint16_t dmc_sample_len = 0;
    // Pending $4011 load for the next output tick; -1 when none. A load of level 0 is
    // pending at power-up.
    int32_t dmc_direct = 0;
    uint16_t dmc_addr = 0;
    int32_t dmc_remaining = 0; // sample bytes left to fetch

    uint8_t length[4] = {0, 0, 0, 0}; // pulse 1, pulse 2, triangle, noise
    Sweep sweeps[2];

    // Hardware mode (apu_exact.cpp, dmc_exact.cpp). The frame counter counts CPU cycles
    // from the cycle its sequence last began (frame_origin), raises the frame IRQ and
    // takes a $4017 write 3 or 4 cycles late; $4015 reports every channel and both IRQ
    // flags; length loads wait for the channel's enable; the DMC keeps its sample buffer
    // apart from its shift register, ends a sample with an IRQ and stalls the CPU for each
    // byte. Every event up to CPU cycle exact_clock - 1 has happened.
    bool hardware = false;
    int64_t exact_clock = 0;
    int64_t frame_origin = 0;
    bool five_step = false;
    bool frame_irq_inhibit = false;
    int64_t frame_write_due = -1; // the cycle a pending $4017 write restarts the sequence
    uint8_t frame_write_value = 0;
    bool frame_irq = false;
    bool dmc_irq = false;
    // The last half-frame clock and the length counters just before it: a length load on
    // that cycle counts only for a counter the clock found at 0.
    int64_t half_clock_at = -1;
    // The DMC has asked the CPU for the halt of a sample fetch, which fills the buffer.
    bool dmc_fetch_requested = false;
    uint8_t length_before_half[4] = {0, 0, 0, 0};

    // The sample stream. The live block fills at index samples % BUFFER_LEN; the
    // published one is what the host reads (read_block), which works out the streams'
    // 16-bit values from the levels.
    Block buffers{};
    Block out_buffers{};
    std::atomic<bool> buffer_ready{false}; // a published block has not been fetched yet
    // A board's sound: its unit, and its terms of the samples in blocks beside the levels'
    // (filled and published with them). Null for every board without sound, which so
    // costs one test per sample.
    struct Expansion {
        ExpansionSound* unit = nullptr;
        std::array<float, BUFFER_LEN> buffers{};
        std::array<float, BUFFER_LEN> out_buffers{};
    };
    std::unique_ptr<Expansion> expansion;
    int32_t apu_clock = 0;   // APU steps per emulated second: the CPU clock / 2
    uint64_t samples = 0;    // samples taken since construction or the last CPU reset
    int32_t sample_rate = 0; // samples per emulated second; see SAMPLE_RATE

    void setCPU(CPU* cpu);
    // Mixes the board's sound unit in from now on; null (a board without sound) mixes
    // nothing. The board keeps the unit for the console's life.
    void attach_expansion(ExpansionSound* unit);
    // The step on which a board's sound unit takes an access on CPU cycle `cpu_cycle`:
    // the APU is first brought up to that cycle, so every sample before it is taken.
    uint64_t expansion_step(int64_t cpu_cycle) {
        catch_up_in_mode(cpu_cycle);
        return cycles;
    }
    // The streams read_block serves: the console's, and the board's when it has sound.
    int stream_count() const { return expansion ? STREAMS + 1 : STREAMS; }
    // The reset line: every channel silenced as by a $4015 write of 0, the triangle's
    // sequence back to its start, the DMC's output level down to its lowest bit.
    void press_reset();
    // Every field of the state in a console snapshot (persistence/snapshot.hpp).
    template <class Pass> void snapshot(Pass& s);
    void cycle();
    // Steps until the APU has caught up with `cpu_cycles` CPU cycles (one step per two);
    // exactly what as many cycle() calls would do.
    void catch_up(int64_t cpu_cycles);
    // Hardware mode's catch-up: every APU event on CPU cycles before `cpu_cycles`, the
    // frame counter's at its exact cycle.
    void catch_up_exactly(int64_t cpu_cycles);
    // The catch-up of the console's mode, for callers outside the stepping loops (the
    // fast mode's loops call catch_up itself and pay for no test).
    void catch_up_in_mode(int64_t cpu_cycles) {
        if (hardware)
            catch_up_exactly(cpu_cycles);
        else
            catch_up(cpu_cycles);
    }
    // Hardware mode's register access on CPU cycle `cycle`, after every event up to and
    // including that cycle.
    uint8_t read_status_exactly(int64_t cycle);
    void write_register_exactly(uint16_t addr, uint8_t value, int64_t cycle);
    // A DMC sample fetch: the request halts the CPU from cycle `halt_from` on, and the
    // DMA's read on cycle `cycle` completes it, filling the sample buffer with the byte
    // it returns.
    void request_dmc_fetch(int64_t halt_from);
    uint8_t complete_dmc_fetch(int64_t cycle);
    // The first CPU cycle after `cycle` at which the APU may pull the IRQ line or fetch a
    // DMC byte: the CPU must have caught it up by then. INT64_MAX when nothing is coming.
    int64_t next_cpu_event(int64_t cycle) const;
    // Power-up and reset as the frame counter sees them: a $4017 write of `value` some
    // cycles before the first instruction, the sequence restarting a few cycles on.
    void restart_frame_counter(uint8_t value, int64_t cycle);
    // True when a step could raise the DMC's IRQ: the CPU sees that without touching a
    // sound register, so the console must then keep the APU in step with every
    // instruction.
    bool irq_possible() const {
        return enabled[4] && dmc_remaining != 0 && (dmc_flags & 0xC0) == 0x80;
    }

    // Register side effects, called by the CPU bus before it stores the byte.
    void write_register(uint16_t addr, uint8_t value);
    // $4015 read: 1 while pulse 1's length counter runs, else 0.
    uint8_t read_status() const { return length[0] != 0; }

    void func_frame_counter();
    // The steps from the current one to the next on which func_frame_counter clocks a
    // unit (0 when it does on this one).
    int64_t steps_to_sequencer_action() const;
    void pulse(bool second);
    void triangle();
    void noise();
    void dmc();
    void clock_envs();
    void clock_linear();
    void clock_length();
    void clock_sweep();
    void start_sample();
    static uint8_t length_lookup(unsigned char i);

    // The last part of a step: takes a sample when samples < cycles * sample_rate /
    // apu_clock. Multiplied out, the test needs no division and gives the same result
    // for any positive apu_clock; an apu_clock of 0 (a 1 Hz clock) takes no samples.
    void sample() {
        if (apu_clock > 0 && int64_t(samples + 1) * apu_clock <= int64_t(cycles) * sample_rate)
            take_sample();
    }
    // The first step, from the current one on, whose sampling rule takes a sample: the
    // smallest c >= cycles with (samples + 1) * apu_clock <= c * sample_rate, while
    // samples stays as it is; UINT64_MAX when the rule can never hold.
    uint64_t next_sample_step() const {
        if (apu_clock <= 0 || sample_rate <= 0) return UINT64_MAX;
        int64_t const due = int64_t(samples + 1) * apu_clock;
        uint64_t const step = uint64_t((due + sample_rate - 1) / sample_rate);
        return step > cycles ? step : cycles;
    }
    // The host side of the published block: claims it if one is ready (clearing the
    // flag), and copies one stream of it out as 2048 little-endian bytes.
    bool claim_block();
    void read_block(Stream stream, unsigned char* out);
    // One stream's value of a sample; `board` is the term of a board's sound, which only
    // the mixed stream and the board's own stream hear.
    static int16_t stream_value(Levels levels, Stream stream);
    static int16_t stream_value(Levels levels, float board, Stream stream);

private:
    // A sound register byte as the bus last stored it.
    uint8_t reg(uint16_t addr) const { return registers[addr]; }
    void write_pulse_period_low(int n, uint8_t value);
    void write_pulse_period_high(int n, uint8_t value);
    void write_status(uint8_t value);
    void write_frame_counter(uint8_t value);
    int32_t sequencer_period() const;
    // EXACT_DMC: hardware mode's DMC (dmc_exact.cpp) in place of the fast mode's.
    template <bool EXACT_DMC = false> void step_channels();
    void shift_noise(uint8_t mode_period);
    template <bool EXACT_DMC = false> void skip_quiet_steps(int64_t steps);
    void skip_pulse(int n, int64_t steps);
    void skip_triangle(int64_t steps);
    void skip_noise(int64_t steps);
    void skip_dmc(int64_t steps);
    void fetch_dmc_byte();
    void run_dmc_output();
    // Hardware mode's parts (apu_exact.cpp, dmc_exact.cpp).
    int64_t next_frame_event() const;
    void run_frame_event(int64_t cycle);
    void quarter_frame();
    void half_frame(int64_t cycle);
    void raise_frame_irq();
    void update_irq_line() const;
    void run_steps_exactly(uint64_t last);
    void dmc_exactly();
    void skip_dmc_exactly(int64_t steps);
    // The halt cycle of a fetch refilling the buffer the output unit emptied, asked for
    // on the step after the emptying; a fetch answering a $4015 enable is asked for at
    // the write.
    static int64_t reload_halt_from(uint64_t step);
    void request_dmc_load(int64_t write_cycle);
    void finish_sample();
    void clock_dmc_output_exactly();
    // Steps from the current one to the one that asks for the DMC's next sample fetch (0:
    // this one), UINT64_MAX when none is coming; it may err early, never late.
    uint64_t steps_to_dmc_request() const;
    void write_status_exactly(uint8_t value, int64_t cycle);
    template <class Pass> void snapshot_exact_timing(Pass& s, uint64_t steps);
    // The board's terms of the samples in the blocks: the `filled` of the live one, and
    // the published one when it is `ready`.
    template <class Pass> void snapshot_board_terms(Pass& s, size_t filled, bool ready);
    void take_sample();
    [[gnu::noinline]] void sample_board(size_t pos);
    void publish();

    uint8_t const* registers = nullptr; // the CPU memory image, where the register bytes live
    SequencerPhase sequencer;
};

// The mixed sample of the current channel outputs.
int mix(APU* apu);

} // namespace NES
