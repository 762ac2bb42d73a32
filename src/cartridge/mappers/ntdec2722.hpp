// NTDEC 2722, mapper 40: a fixed PRG layout with one switchable 8 KiB bank and a cycle timer IRQ.
#pragma once

#include "cartridge/mapper.hpp"

namespace NES {

class NTDEC2722 : public Mapper {
public:
    NTDEC2722() : Mapper(40) {}
};

} // namespace NES
