#pragma once

#include <cstdint>
#include <memory>

#include "cartridge/mapper.hpp"

namespace NES {

// What the header says of the board beyond its number: the NES 2.0 submapper (0 for iNES
// 1 images), the CHR ROM size, by which some numbers tell their boards apart, and flags
// 6 (mirroring, battery), by which some boards tell their wiring.
struct BoardFacts {
    uint8_t submapper = 0;
    int32_t chr_size = 0;
    uint8_t flags6 = 0;
};

// A new board in its power-on state for an iNES mapper number; numbers without a board
// of their own get NES::DEFAULT_MAPPER and the line "UNRECOGNIZED MAPPER!".
std::unique_ptr<Mapper> make_mapper(uint32_t number, BoardFacts const& facts = {});

} // namespace NES
