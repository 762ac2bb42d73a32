#include "cartridge/mapper.hpp"

namespace NES {

// Boards without registers behind a hook simply ignore it.
void Mapper::map_write(void**, signed char*, signed char*) {}
void Mapper::map_read(void**, signed char*) {}
void Mapper::clock(void**) {}
void Mapper::serialize(void**, char*) {}
void Mapper::deserialize(void**, char*) {}

} // namespace NES
