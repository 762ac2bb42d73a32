// CNROM, mapper 3: fixed PRG and a switchable 8 KiB CHR bank.
#pragma once

#include "cartridge/mapper.hpp"

namespace NES {

class CNROM : public Mapper {
public:
    CNROM() : Mapper(3) {}
};

} // namespace NES
