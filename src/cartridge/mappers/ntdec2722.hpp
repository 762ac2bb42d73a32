// NTDEC 2722, mapper 40: a fixed PRG layout with one switchable 8 KiB bank and a timer
// that interrupts the CPU every 4096 CPU cycles.
//
// PRG, in 8 KiB banks: bank 6 at $6000, 4 at $8000, 5 at $A000, the switchable bank at
// $C000 and bank 7 at $E000 (the CPU attach places the fixed ones). CHR is 8 KiB that
// never moves. Registers, by address range:
//   $8000-$9FFF  stop the timer and reset it
//   $A000-$BFFF  start the timer
//   $C000-$DFFF  nothing
//   $E000-$FFFF  the 8 KiB bank at $C000
// The timer counts PPU dots (three per CPU cycle), so it runs in clock().
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class NTDEC2722 : public Mapper {
public:
    static constexpr uint16_t TIMER_PERIOD = 12288; // PPU dots: 4096 CPU cycles

    NTDEC2722() : Mapper(40, true) {}

    uint16_t irq_counter = TIMER_PERIOD; // dots left until the next IRQ
    bool irq_enable = true;              // the timer runs

    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    // Save-state record: nothing in the first part; extension 0-1 the timer's dots left
    // (little-endian), 2 whether it runs.
    bool extends_record() const override { return true; }
    void save_extension(void** args, char* extension, unsigned char* trailer) override;
    void load_extension(void** args, char const* extension, unsigned char const* trailer) override;
    void clock(void** args) override;
    // The IRQ comes on the dot that runs the counter down to 0.
    uint64_t quiet_dots(PPU const& ppu) const override;
};

} // namespace NES
