// The discrete-logic boards whose one register is a latch written anywhere in
// $8000-$FFFF (AxROM, Color Dreams, BNROM, GxROM): the board keeps the last value it
// latched, which switches its banks as it is written, and which the save-state record
// and snapshots carry (record: byte 0).
//
// Bus conflicts: on boards whose ROM stays enabled during the write, the ROM drives the
// data bus too, and the latch takes the written value AND the ROM byte at that address
// (games write to a ROM byte holding the same value). The ROM byte is the memory image's
// byte at the address, where the board placed its bank.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class LatchBoard : public Mapper {
public:
    LatchBoard(uint32_t number, bool bus_conflicts)
        : Mapper(number), bus_conflicts(bus_conflicts) {}

    uint8_t latch = 0; // the last value latched

    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;

protected:
    // Switches the banks (and the mirroring) the latch selects. `copy_banks` is false
    // after a save-state record restored the memory images, which hold the banks.
    virtual void apply(CPU& cpu, PPU& ppu, bool copy_banks) = 0;

private:
    bool const bus_conflicts;
};

} // namespace NES
