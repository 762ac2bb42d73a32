// Namco 108 (DxROM), mapper 206: MMC3's banking without its extras. Two registers, told
// apart by address bit 0 anywhere in $8000-$9FFF: $8000 selects which of R0-R7 the next
// $8001 write fills. R0 and R1 are 2 KiB CHR banks at $0000 and $0800 (their low bit
// ignored), R2-R5 1 KiB banks at $1000-$1C00, R6 and R7 8 KiB PRG banks at $8000 and
// $A000; the second-to-last and last 8 KiB stay at $C000 and $E000. No PRG or CHR mode
// bits, no mirroring control (the header's stands), no IRQ, no PRG RAM. The chip has six
// CHR and four PRG bank lines; six PRG bits are taken, as boards with more ROM need.
// Record: byte 0 the register selected.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class Namco108 : public Mapper {
public:
    Namco108() : Mapper(206) {}

    uint8_t selected = 0; // R0-R7

    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;
};

} // namespace NES
