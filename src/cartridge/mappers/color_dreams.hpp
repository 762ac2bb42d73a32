// Color Dreams, mapper 11: the latch `CCCC ..PP` selects a 32 KiB PRG bank at $8000
// and an 8 KiB CHR ROM bank (bits 2-3 drive the lockout defeat, which changes nothing
// here). Mirroring is fixed. The latch is a 74LS377 beside an enabled ROM: bus
// conflicts.
#pragma once

#include "cartridge/mappers/latch_board.hpp"

namespace NES {

class ColorDreams : public LatchBoard {
public:
    ColorDreams() : LatchBoard(11, true) {}

protected:
    void apply(CPU& cpu, PPU& ppu, bool copy_banks) override;
};

} // namespace NES
