// AxROM, mapper 7: one 32 KiB PRG bank at $8000 and one-screen mirroring, both from the
// latch `...M .PPP`: PPP the bank (up to 256 KiB), M which 1 KiB of nametable RAM all
// four nametables show. CHR is 8 KiB of RAM.
//
// Bus conflicts are not emulated: ANROM and AN1ROM disable the ROM during the write,
// and retail AOROM games run without them (two of them glitch with them); AMROM, which
// has them, was only used by games that write matching values anyway.
#pragma once

#include "cartridge/mappers/latch_board.hpp"

namespace NES {

class AxROM : public LatchBoard {
public:
    AxROM() : LatchBoard(7, false) {}

    // The latch powers up as 0 on the common boards: the lower screen.
    int32_t power_on_mirroring(int32_t) const override;

protected:
    void apply(CPU& cpu, PPU& ppu, bool copy_banks) override;
};

} // namespace NES
