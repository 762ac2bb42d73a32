// CNROM, mapper 3: fixed PRG (16 or 32 KiB, placed like NROM) and a switchable 8 KiB CHR
// bank.
//
// Any write to $8000-$FFFF selects the CHR bank, taken modulo the number of 8 KiB banks
// the ROM holds. The selection goes to the PPU's `chr_bank`, and the PPU attaches the
// cartridge again, which copies the 8 KiB starting there into the pattern tables. A
// cartridge with less than one whole 8 KiB bank of CHR ROM (CHR RAM included) has
// nothing to select and ignores the writes.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class CNROM : public Mapper {
public:
    CNROM() : Mapper(3) {}

    int32_t bank = 0; // the 8 KiB CHR bank at PPU $0000, in 1 KiB units (bank number x 8)

    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    // Record: bytes 0-3 `bank`, little-endian.
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;

private:
    void select(PPU& ppu, int32_t first_unit);
};

} // namespace NES
