// MMC4 (FxROM), mapper 10: a 16 KiB PRG window at $8000, the last 16 KiB fixed at $C000
// and 8 KiB of PRG RAM; both latches react to every row of the marker tiles
// (chr_latch_board.hpp).
#pragma once

#include "cartridge/mappers/chr_latch_board.hpp"

namespace NES {

class MMC4 : public ChrLatchBoard {
public:
    MMC4() : ChrLatchBoard(10, 16, true) {}
};

} // namespace NES
