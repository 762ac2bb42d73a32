// The fallback for every mapper number without a board of its own: it keeps the
// number (so the console still knows what the cartridge asked for) and maps nothing.
// The CPU attach places no PRG for such a number, so the cartridge runs with zeros in
// $8000-$FFFF; writes there change nothing.
#pragma once

#include "cartridge/mapper.hpp"

namespace NES {

class DEFAULT_MAPPER : public Mapper {
public:
    explicit DEFAULT_MAPPER(uint32_t number) : Mapper(number) {}
};

} // namespace NES
