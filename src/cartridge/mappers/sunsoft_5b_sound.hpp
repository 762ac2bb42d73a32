// The Sunsoft 5B's sound: a YM2149F (AY-3-8910 family) sound generator on the FME-7's
// bank logic, mixed with the console's (apu/expansion_sound.hpp). The board passes it
// the CPU's writes to $C000-$DFFF (select a register: bits 0-3) and $E000-$FFFF (write
// the selected register), each on the APU step the board got from APU::expansion_step.
//
// The registers, as commonly documented for the AY/YM family:
//   0-5   tone periods of channels A, B, C: low 8 bits, then high 4 bits
//   6     noise period (5 bits)
//   7     mixer, active low: bits 0-2 tone off for A, B, C; bits 3-5 noise off
//   8-10  channel volumes: bits 0-3 a fixed volume, bit 4 the envelope's level instead
//   11-12 envelope period, low and high byte
//   13    envelope shape: bit 3 continue, bit 2 attack, bit 1 alternate, bit 0 hold;
//         a write restarts the envelope
//   14-15 the chip's I/O ports, unused on the cartridge: stored, no effect
//
// Timing: the 5B divides the CPU clock by 2, and its counters count once per 8 of those
// clocks, so once per 16 CPU cycles (a "tick"). A tone output toggles when its counter
// reaches the period (0 counts as 1): frequency = CPU clock / (32 x period). The noise
// counter runs at half that rate and steps a 17-bit shift register (taps at bits 0 and
// 3) at its period. The envelope steps through its 32 levels once per period's ticks.
//
// A channel sounds while (tone output or tone off) and (noise bit or noise off). Its
// level is the envelope's (0-31) or the fixed volume v on the envelope's 32-level scale
// (2v + 1, and 0 for v = 0); the scale is logarithmic at 1.5 dB a level, level 0 silent.
// The mix here holds a channel as +amplitude while it sounds and -amplitude while not,
// as it holds the APU's pulses (the chip's own output is one-sided; that differs only
// by a constant). Gain, a choice: the chip is louder than the console's pulses, and a
// channel at the top volume swings twice as far as an APU pulse at volume 15, which
// leaves three such channels and the console's own mostly clear of full scale.
#pragma once

#include <cstdint>

#include "apu/expansion_sound.hpp"

namespace NES {

class Snapshot;

class Sunsoft5BSound final : public ExpansionSound {
public:
    static constexpr int REGISTERS = 16;
    static constexpr int CPU_CYCLES_PER_TICK = 16;

    // $C000: selects the register that the next data write fills.
    void select(uint8_t value) { selected = value & 0x0F; }
    // $E000 on APU step `step`: writes the selected register.
    void write(uint8_t value, uint64_t step);
    float sample(uint64_t step) override;
    void snapshot(Snapshot& s);

    // The save-state record's part: the selected register and the 16 registers (no
    // counters), REGISTERS + 1 bytes.
    void save_registers(char* record) const;
    void restore_registers(char const* record);

    // Whether channel `ch` (0-2) sounds now, and its level (0-31) on the envelope scale.
    bool channel_on(int ch) const;
    int channel_level(int ch) const;

private:
    void run_to(uint64_t step);
    void tick();
    void tick_noise();
    void tick_envelope();
    void restart_envelope();
    int tone_period(int ch) const;

    uint8_t selected = 0;
    uint8_t regs[REGISTERS] = {};
    uint16_t tone_count[3] = {0, 0, 0};
    bool tone_high[3] = {false, false, false};
    bool noise_half = false; // the noise counter counts on every second tick
    uint8_t noise_count = 0;
    uint32_t noise_shift = 1; // 17 bits, never all clear
    uint16_t envelope_count = 0;
    uint8_t envelope_position = 0; // 0-31 through the current cycle
    bool envelope_rising = false;
    bool envelope_holding = false;
    uint8_t tick_phase = 0; // APU steps since the last tick, 0-7
    uint64_t now = 0;       // the APU steps run
};

} // namespace NES
