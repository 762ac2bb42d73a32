// UxROM, mapper 2: a switchable 16 KiB PRG bank at $8000 and the last 16 KiB fixed at
// $C000; CHR is 8 KiB that never moves.
//
// Any write to $8000-$FFFF selects the bank with its low four bits. The selection is kept
// twice: here and in the CPU's `prg_bank`, which the CPU attach uses to place the bank,
// so a switch simply repeats the attach's PRG mapping for mapper 2.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class UxROM : public Mapper {
public:
    UxROM() : Mapper(2) {}

    int32_t bank = 0; // the 16 KiB bank at $8000, in 1 KiB units (bank number x 16)

    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    // Record: bytes 0-3 `bank`, little-endian.
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;

private:
    void select(CPU& cpu, int32_t first_unit);
};

} // namespace NES
