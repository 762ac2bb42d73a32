// UxROM, mapper 2: a switchable 16 KiB PRG bank at $8000 and the last bank fixed at $C000.
#pragma once

#include "cartridge/mapper.hpp"

namespace NES {

class UxROM : public Mapper {
public:
    UxROM() : Mapper(2) {}
};

} // namespace NES
