#pragma once

#include <cstdint>
#include <memory>

#include "cartridge/mapper.hpp"

namespace NES {

// A new board in its power-on state for an iNES mapper number; numbers without a board
// of their own get NES::DEFAULT_MAPPER and the line "UNRECOGNIZED MAPPER!".
std::unique_ptr<Mapper> make_mapper(uint32_t number);

} // namespace NES
