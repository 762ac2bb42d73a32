// NROM, mapper 0: 16 or 32 KiB of PRG ROM and 8 KiB of CHR, no registers at all.
#pragma once

#include "cartridge/mapper.hpp"

namespace NES {

class NROM : public Mapper {
public:
    NROM() : Mapper(0) {}
};

} // namespace NES
