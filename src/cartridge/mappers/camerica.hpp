// Camerica / Codemasters (BF9093, BF9097), mapper 71: a switchable 16 KiB PRG bank at
// $8000 and the last 16 KiB fixed at $C000, like UxROM; CHR is 8 KiB of RAM. No bus
// conflicts.
//   $C000-$FFFF  the bank at $8000 (four bits)
//   $8000-$9FFF  BF9097 (Fire Hawk) only: bit 4 selects which 1 KiB of nametable RAM all
//                four nametables show.
// Other games write 0 to $8000 at start-up, so the mirroring register counts only with
// NES 2.0 submapper 1 or, without it, from the first write in $9000-$9FFF (where Fire
// Hawk writes it); until then the header's mirroring stands.
// Record: byte 0 the bank, byte 1 the mirroring register, byte 2 whether it counts.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class Camerica : public Mapper {
public:
    explicit Camerica(bool mirroring_register)
        : Mapper(71), mirroring_register(mirroring_register) {}

    uint8_t bank = 0;
    uint8_t screen = 0;      // the last $8000-$9FFF write
    bool mirroring_register; // the $8000-$9FFF register sets the mirroring

    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;

private:
    int32_t selected_screen() const;
};

} // namespace NES
