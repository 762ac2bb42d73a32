// The MMC5's sound: two pulse channels and an 8-bit PCM channel, mixed with the console's
// (apu/expansion_sound.hpp). The MMC5 board owns the unit and passes it its register
// accesses, each on the APU step the board got from APU::expansion_step.
//
//   $5000-$5003  pulse 1, laid out as the APU's $4000-$4003: `DDLC VVVV` (duty, length
//                halt and envelope loop, constant volume, volume or envelope period),
//                $5001 the APU's sweep register, which does nothing here, period low,
//                `LLLL LHHH` length index and period high
//   $5004-$5007  pulse 2, the same
//   $5010        write: bit 0 PCM mode (0 write, 1 read), bit 7 PCM IRQ enable;
//                read: bit 7 the IRQ flag, which the read clears
//   $5011        the PCM's 8-bit DAC value in write mode (a write of $00 changes
//                nothing); ignored in read mode
//   $5015        bits 0-1 enable pulse 1 and 2 as $4015 does; read: their length
//                counters running
//
// The pulses are the APU's but for three things: there is no sweep, so a period below 8
// is not muted (the tone is ultrasonic), and there is no frame sequencer: the envelopes
// and the length counters are clocked together at a fixed 240 Hz, every 7457 CPU cycles
// (so the lengths run out about twice as fast as the APU's). As on the APU a length
// write restarts the envelope and the duty sequence, and loads the counter only while
// the channel is enabled.
//
// In read mode every CPU read of $8000-$BFFF sends the byte read to the DAC; a byte of
// $00 leaves the DAC as it is and trips the IRQ, and a later non-zero byte clears the
// trip. The IRQ output is the trip while the IRQ is enabled; the board drives /IRQ with
// it and its scanline IRQ.
//
// Loudness and polarity: the console's mix here holds a pulse at volume v as +v or -v by
// its duty bit, weighted by APU::PULSE_WEIGHT. The MMC5's pulses are as loud and of
// inverted polarity (the duty bit's high half gives -v). The PCM is inverted too: DAC
// value d gives -d x APU::DMC_WEIGHT / 2, so that its 8 bits span what the DMC's 7-bit
// level spans, and a DAC left at 0 adds nothing.
#pragma once

#include <cstdint>

#include "apu/apu.hpp"
#include "apu/expansion_sound.hpp"

namespace NES {

class Snapshot;

class Mmc5Sound final : public ExpansionSound {
public:
    // The CPU cycles between two clocks of the envelopes and length counters (240 Hz).
    static constexpr int32_t FRAME_CYCLES = 7457;
    static constexpr uint8_t PCM_READ_MODE = 0x01, PCM_IRQ_ENABLE = 0x80;

    // A write to $5000-$5015 on APU step `step`; other addresses are ignored.
    void write(uint16_t addr, uint8_t value, uint64_t step);
    // $5010 read: bit 7 the IRQ flag, cleared by the read.
    uint8_t read_pcm_status();
    // $5015 read on APU step `step`: bit 0 pulse 1's, bit 1 pulse 2's length counter is
    // not 0.
    uint8_t read_status(uint64_t step);
    // Read mode ($5010 bit 0): the board need tell of reads (and bring the APU up to
    // them) only then.
    bool pcm_read_mode() const { return pcm_control & PCM_READ_MODE; }
    // A CPU read of $8000-$BFFF on APU step `step` that returned `byte`: in read mode it
    // goes to the DAC.
    void pcm_read(uint8_t byte, uint64_t step);
    // The PCM IRQ output.
    bool irq() const { return pcm_tripped && (pcm_control & PCM_IRQ_ENABLE); }

    float sample(uint64_t step) override;
    // The unit's state as of the snapshot's APU step (a saved unit is first run up to it).
    void snapshot(Snapshot& s);

    // The level each pulse has now, -15..15 with the MMC5's polarity, and the DAC value.
    int pulse_level(int n) const;
    uint8_t dac() const { return pcm_dac; }

private:
    struct Pulse {
        uint8_t control = 0;  // $5000 / $5004
        uint16_t period = 0;  // 11 bits
        uint16_t timer = 0;   // counts up to the period, then steps the duty sequence
        uint8_t position = 0; // 0-7 in the duty sequence
        uint8_t length = 0;
        bool enabled = false; // $5015
        Envelope envelope;
    };

    void run_to(uint64_t step);
    void run_pulses(int64_t steps);
    void clock_frame();
    void write_pulse(Pulse& p, int reg, uint8_t value);

    Pulse pulses[2];
    uint8_t pcm_control = 0; // $5010
    uint8_t pcm_dac = 0;
    bool pcm_tripped = false;
    uint64_t now = 0;        // the APU steps run
    int32_t frame_clock = 0; // CPU cycles since the last 240 Hz clock, below FRAME_CYCLES
};

} // namespace NES
