// NROM, mapper 0: 16 or 32 KiB of PRG ROM and 8 KiB of CHR, no registers at all.
//
// The CPU attach copies the whole PRG ROM to $8000 (a 16 KiB ROM appears again at $C000
// through the CPU bus's fold) and the PPU attach copies the CHR; writes to the ROM
// change nothing, so the board has no operation of its own.
#pragma once

#include "cartridge/mapper.hpp"

namespace NES {

class NROM : public Mapper {
public:
    NROM() : Mapper(0) {}
};

} // namespace NES
