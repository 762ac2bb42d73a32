// Mapper 34: two unrelated boards under one number, told apart by NES 2.0 submapper (1
// NINA-001, 2 BNROM) or, without it, by the CHR size (8 KiB or less: BNROM).
//   BNROM: the latch at $8000-$FFFF selects a 32 KiB PRG bank (all eight bits, as the
//          boards built later with more ROM need); CHR is 8 KiB of RAM; bus conflicts.
//   NINA-001: 8 KiB of PRG RAM at $6000-$7FFF, whose last three bytes are registers
//          too (a write lands in both): $7FFD the 32 KiB PRG bank (two bits, for
//          NINA-002's 128 KiB), $7FFE the 4 KiB CHR bank at $0000, $7FFF at $1000. No bus
//          conflicts.
// Record: bytes 0-2 the PRG bank and the two CHR banks.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class BnromNina : public Mapper {
public:
    explicit BnromNina(bool nina) : Mapper(34), nina(nina) {}

    bool const nina;
    uint8_t prg = 0;
    uint8_t chr[2] = {0, 0};

    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;
};

} // namespace NES
