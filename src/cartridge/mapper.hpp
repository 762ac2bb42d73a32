// The cartridge hardware seen from the console: every board decodes CPU writes into
// its own registers and switches banks by copying bank contents into the CPU or PPU
// memory image. Nothing ever asks a mapper to translate an address, so reads cost
// nothing; the price is paid once per bank switch.
#pragma once

#include <cstdint>

namespace NES {

// Every operation receives the mapper argument block: args[0] is the NES::CPU,
// args[1] the NES::PPU and args[2] the NES::APU.
class Mapper {
public:
    explicit Mapper(uint32_t number) : number(number) {}
    virtual ~Mapper() = default;
    Mapper(Mapper const&) = delete;
    Mapper& operator=(Mapper const&) = delete;

    // The iNES mapper number this object was made for; the PRG mapping step and the
    // CPU bus's 16 KiB PRG fold branch on it.
    uint32_t number;

    // A CPU write, after mirror folding and before the byte is stored; the board may
    // replace *value, and whatever it leaves there is what the CPU stores.
    virtual void map_write(void** args, signed char* addr, signed char* value);
    // A CPU read with mapper notification; it cannot change the byte read.
    virtual void map_read(void** args, signed char* addr);
    // After every PPU dot, with the PPU's own argument block.
    virtual void clock(void** args);
    // The board's registers at the start of a zeroed 256-byte save-state record.
    virtual void serialize(void** args, char* record);
    // Restores the registers from a record, after the memory images were restored.
    virtual void deserialize(void** args, char* record);
};

} // namespace NES
