// GxROM (GNROM, MHROM), mapper 66: the latch `..PP ..CC` selects a 32 KiB PRG bank at
// $8000 and an 8 KiB CHR ROM bank. Mirroring is fixed. The ROM stays enabled during the
// write, so the board has bus conflicts.
#pragma once

#include "cartridge/mappers/latch_board.hpp"

namespace NES {

class GxROM : public LatchBoard {
public:
    GxROM() : LatchBoard(66, true) {}

protected:
    void apply(CPU& cpu, PPU& ppu, bool copy_banks) override;
};

} // namespace NES
