// Nintendo MMC3, mapper 4: eight bank registers, PRG RAM protection and a scanline counter that
// raises IRQs.
#pragma once

#include "cartridge/mapper.hpp"

namespace NES {

class MMC3 : public Mapper {
public:
    MMC3() : Mapper(4) {}
};

} // namespace NES
