// Action 53, mapper 28: the multicart board whose registers let games written for NROM,
// UNROM, AOROM, BNROM or MMC1 share one ROM of up to 8 MiB, each in its outer bank.
//
// A write to $5000-$5FFF selects a register (`S... ...R`: $00, $01, $80 or $81; S is the
// supervisor bit); a write to $8000-$FFFF stores the value in it. No bus conflicts.
//   $00 CHR bank   `...M ..BB`  BB: the 8 KiB bank of the 32 KiB of CHR RAM
//   $01 inner bank `...M PPPP`  the bank the game switches
//   $80 mode       `..SS PPMM`  MM mirroring (0 lower screen, 1 upper screen, 2 vertical,
//                               3 horizontal); PP the PRG mode; SS the outer bank's
//                               size, 32 KiB << SS
//   $81 outer bank              the game's place in the ROM, in 32 KiB units
// In the one-screen mirrorings, D4 of a write to $00 or $01 also sets MM's low bit, as
// AxROM's register picks the screen; in vertical and horizontal it does nothing.
//
// PRG banks. The game's size SS says how many of the low PRG address lines the inner
// bank drives in the switchable part; the outer bank drives the rest:
//   modes 0, 1  one 32 KiB bank at $8000: (outer AND NOT m) OR (inner AND m),
//               m = (1 << SS) - 1, in 32 KiB units (PRG A14 is the CPU's)
//   mode 2      $8000 fixed to the first half of the 32 KiB bank the outer register
//               names (16 KiB bank 2 x outer, whatever SS); $C000 the inner bank within
//               the game: (2 x outer AND NOT n) OR (inner AND n), n = (2 << SS) - 1, in
//               16 KiB units
//   mode 3      $8000 the inner bank within the game as in mode 2; $C000 fixed to the
//               second half of the outer register's 32 KiB bank (2 x outer + 1)
// The fixed half thus takes PRG A14 from the CPU and every higher line from the outer
// register, as in the 32 KiB modes with SS = 0: a game's menu entry names its last
// 32 KiB (UNROM #2 style) or its first (UNROM #180 style) as the outer bank.
//
// Power-on: the contents are not defined on the board; these are the ones that let a
// single game's image boot as it would on its own board: outer bank $FF and mode 3 with
// a 32 KiB span put the ROM's last 16 KiB at $C000 (and the 16 KiB before it at $8000),
// the header's mirroring, CHR bank 0.
//
// Record: bytes 0-4 the register selected, the CHR bank, the inner bank, the mode and
// the outer bank.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"
#include "cartridge/mapper_table.hpp"
#include "cartridge/mappers/chr_ram_banks.hpp"

namespace NES {

class Action53 : public Mapper {
public:
    explicit Action53(BoardFacts const& facts);

    uint8_t selected = 0;
    uint8_t chr_bank = 0;
    uint8_t inner = 0;
    uint8_t mode;
    uint8_t outer = 0xFF;

    int32_t power_on_mirroring(int32_t header) const override;
    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;
    // The record's trailer holds the CHR RAM banks (chr_ram_banks.hpp); its extension
    // holds nothing.
    bool extends_record() const override { return true; }
    size_t trailer_size() const override { return chr.trailer_size(); }
    void save_extension(void** args, char* extension, unsigned char* trailer) override;
    void load_extension(void** args, char const* extension, unsigned char const* trailer) override;

private:
    void write_register(uint8_t value);
    // A D4 write to $00 or $01 in the one-screen mirrorings.
    void pick_screen(uint8_t value);
    void place_prg(CPU& cpu) const;
    int32_t mirroring() const;

    ChrRamBanks chr;
};

} // namespace NES
