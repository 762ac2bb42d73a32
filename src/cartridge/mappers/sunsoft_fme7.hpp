// Sunsoft FME-7, mapper 69 (the 5A and 5B are the same banking; the 5B adds sound,
// sunsoft_5b_sound.hpp): 1 KiB CHR banks, 8 KiB PRG banks, ROM or RAM at $6000, the
// four nametable arrangements and an IRQ counter that counts CPU cycles. The three chips
// share the mapper number, so every board of it has the 5B's sound: on the others the
// sound registers are never written, and the unit stays silent.
//
// Registers: $8000-$9FFF selects a command (bits 0-3), $A000-$BFFF writes its parameter:
//   $0-$7  1 KiB CHR bank at $0000, $0400, ... $1C00
//   $8     $6000-$7FFF: `ERbb bbbb`: R set RAM, clear the ROM bank b; E enables the RAM
//          (RAM selected but not enabled drives nothing: the open bus)
//   $9-$B  8 KiB PRG bank at $8000, $A000, $C000 (6 bits); $E000 keeps the last bank
//   $C     nametables: 0 vertical, 1 horizontal, 2 one-screen lower, 3 upper
//   $D     IRQ control `C... ...T`: C the counter counts, T its wrap raises /IRQ; any
//          write releases /IRQ
//   $E/$F  the counter's low and high byte, loaded at once
//   $C000-$DFFF selects a sound register, $E000-$FFFF writes it
// No bus conflicts.
//
// $6000-$7FFF: the CPU image holds what the window shows. While it shows ROM (or nothing:
// the bytes the open bus would most often hold there, the high byte of the address) the
// 8 KiB of RAM wait in `ram_aside`, which battery files, save-state records and snapshots
// take; when the RAM comes back it returns to the image and `ram_aside` is cleared.
//
// The counter steps once per CPU cycle. It is kept lazily: its value as of a cycle
// (`counted_to`), from which any later value follows, and so the cycle of its next wrap.
// A register write at cycle w takes effect at the end of that cycle: the counter first
// takes the steps of every cycle up to w, and steps again from cycle w + 1. A wrap in
// cycle k is the CPU's to see at the end of cycle k: the board asks the PPU to call
// `clock` when its dot count reaches 3 (k + 1), where the CPU's sample at the end of
// cycle k brings it (the CPU's dot_of_cycle and nmi_sample_dot), and the fast mode's
// catch-up after the instruction that ends past cycle k.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"
#include "cartridge/mappers/sunsoft_5b_sound.hpp"

namespace NES {

class SunsoftFME7 : public Mapper {
public:
    static constexpr uint8_t RAM_SELECT = 0x40, RAM_ENABLE = 0x80;
    static constexpr uint8_t COUNTING = 0x80, IRQ_ENABLE = 0x01;
    static constexpr int LOW_WINDOW_SIZE = 0x2000;

    SunsoftFME7() : Mapper(69, true) {}

    uint8_t command = 0; // $8000: the register the next $A000 write fills, 0-15
    // Register 8. The power-on value is undefined; RAM in place keeps the battery RAM
    // where the console loads it.
    uint8_t low_window = RAM_SELECT | RAM_ENABLE;
    uint16_t counter = 0;     // the counter's value as cycle `counted_to` begins
    int64_t counted_to = 0;   // the CPU cycle up to which the counter has stepped
    bool counting = false;    // register 13 bit 7
    bool irq_enabled = false; // register 13 bit 0
    bool irq_line = false;    // /IRQ held low: a wrap with IRQs on, not yet released
    signed char ram_aside[LOW_WINDOW_SIZE] = {};
    Sunsoft5BSound audio;

    void map_write(void** args, signed char* addr, signed char* value) override;
    // The counter's wrap, once the PPU reaches its dot.
    void clock(void** args) override;
    uint64_t quiet_dots(PPU const& ppu) const override;
    signed char const* parked_prg_ram() const override;
    ExpansionSound* sound() override { return &audio; }
    // Record: 0 command, 1 register 8, 2-3 the counter now (little-endian), 4 register
    // 13 (bits 7 and 0), 5 irq_line, 6 the nametable arrangement, 7 the selected sound
    // register and 8-23 the sound registers (not the sound's counters). $6000-$7FFF of
    // the record's CPU image holds the RAM.
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;
    void snapshot(Snapshot& s) override;

private:
    // The PPU dot count at which the next wrap raises /IRQ; UINT64_MAX when none will.
    uint64_t alarm_dot = UINT64_MAX;

    void write_parameter(CPU& cpu, PPU& ppu, uint8_t value);
    void select_low_window(CPU& cpu, uint8_t value);
    void show_low_window(CPU& cpu) const;
    static bool shows_ram(uint8_t window) {
        return (window & (RAM_SELECT | RAM_ENABLE)) == (RAM_SELECT | RAM_ENABLE);
    }
    void control_irq(CPU& cpu, uint8_t value);
    // Takes the counter's steps for the cycles before `cycle`, raising /IRQ on a wrap.
    void count_to(CPU& cpu, int64_t cycle);
    uint16_t counter_at(int64_t cycle) const;
    void raise_irq(CPU& cpu);
    void release_irq(CPU& cpu);
    void set_alarm();
};

} // namespace NES
