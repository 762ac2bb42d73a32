// Nintendo MMC1, mapper 1: a five-write serial shift register feeding control, CHR and PRG bank
// registers.
#pragma once

#include "cartridge/mapper.hpp"

namespace NES {

class MMC1 : public Mapper {
public:
    MMC1() : Mapper(1) {}
};

} // namespace NES
