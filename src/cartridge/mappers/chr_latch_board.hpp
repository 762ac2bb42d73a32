// Nintendo's MMC2 (mapper 9, Punch-Out!!) and MMC4 (mapper 10, Fire Emblem): one
// switchable PRG window at $8000, and two 4 KiB CHR windows each with two bank registers,
// of which a latch chooses one. The latches follow the PPU's own pattern reads, so a game
// switches CHR banks in mid-picture by placing marker tiles $FD and $FE.
//
// Registers (no bus conflicts, no IRQ):
//   $A000-$AFFF  PRG bank at $8000, 4 bits: 8 KiB on MMC2, 16 KiB on MMC4
//   $B000-$BFFF  CHR bank at $0000 while latch 0 holds $FD   (4 KiB, 5 bits each)
//   $C000-$CFFF  CHR bank at $0000 while latch 0 holds $FE
//   $D000-$DFFF  CHR bank at $1000 while latch 1 holds $FD
//   $E000-$EFFF  CHR bank at $1000 while latch 1 holds $FE
//   $F000-$FFFF  bit 0: 0 vertical, 1 horizontal mirroring
// The rest of PRG is fixed: the last three 8 KiB banks at $A000 on MMC2, the last 16 KiB
// at $C000 on MMC4, which also has 8 KiB of RAM at $6000 (battery-backed when the header
// says so; the CPU bus keeps it, as for every board).
//
// Latch triggers are reads of the second plane of tiles $FD and $FE: $1FD8-$1FDF sets
// latch 1 to $FD and $1FE8-$1FEF to $FE; $0FD8-$0FDF and $0FE8-$0FEF do the same for
// latch 0 on MMC4, while MMC2 reacts only to the tiles' first rows, $0FD8 and $0FE8. The
// window switches after the triggering read, so the marker tile itself still comes from
// the old bank. A latch that does not change copies nothing.
//
// Record: 0 the PRG register, 1-4 the CHR registers ($B000, $C000, $D000, $E000), 5-6
// the latches (1 for $FE), 7 the mirroring (1 horizontal).
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class ChrLatchBoard : public Mapper {
public:
    // `prg_window_kib`: the switchable PRG window's size; `whole_low_markers`: latch 0
    // reacts to every row of the marker tiles, not only the first.
    ChrLatchBoard(uint32_t number, int prg_window_kib, bool whole_low_markers)
        : Mapper(number), prg_window_kib(prg_window_kib), whole_low_markers(whole_low_markers) {}

    uint8_t prg_bank = 0;
    // Indexed by register: [2h] the bank of window h while latch h holds $FD, [2h + 1]
    // while it holds $FE. At power-on the windows show what the PPU's attach copied:
    // the first 4 KiB bank at $0000 and the second at $1000.
    uint8_t chr_banks[4] = {0, 0, 1, 1};
    bool latch_fe[2] = {true, true}; // latch h holds $FE (else $FD)

    void map_write(void** args, signed char* addr, signed char* value) override;
    bool watches_patterns() const override { return true; }
    void pattern_read(void** args, uint16_t address) override;
    void snapshot(Snapshot& s) override;
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;

private:
    int const prg_window_kib;
    bool const whole_low_markers;

    void copy_window(PPU& ppu, int window);
};

} // namespace NES
