// MMC2 (PxROM), mapper 9: an 8 KiB PRG window at $8000 and the last three 8 KiB banks
// fixed above it; latch 0 reacts only to the first rows of the marker tiles
// (chr_latch_board.hpp).
#pragma once

#include "cartridge/mappers/chr_latch_board.hpp"

namespace NES {

class MMC2 : public ChrLatchBoard {
public:
    MMC2() : ChrLatchBoard(9, 8, false) {}
};

} // namespace NES
