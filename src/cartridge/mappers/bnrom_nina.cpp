#include "cartridge/mappers/bnrom_nina.hpp"

#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

void BnromNina::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    int32_t const address = cpu_address(cpu, addr);
    uint8_t const v = uint8_t(*value);
    if (!nina) {
        if (address < 0x8000) return;
        prg = uint8_t(v & uint8_t(*addr)); // bus conflict
        copy_prg(cpu, 0x8000, prg * 32, 0x8000);
        return;
    }
    switch (address) {
    case 0x7FFD:
        prg = v & 0x03;
        copy_prg(cpu, 0x8000, prg * 32, 0x8000);
        break;
    case 0x7FFE:
    case 0x7FFF: {
        int const half = address - 0x7FFE;
        chr[half] = v & 0x0F;
        copy_chr(ppu_of(args), uint16_t(half * 0x1000), chr[half] * 4, 0x1000);
        break;
    }
    default: break;
    }
}

void BnromNina::snapshot(Snapshot& s) {
    s.field(prg);
    s.field(chr);
}

void BnromNina::serialize(void**, char* record) {
    record[0] = char(prg);
    record[1] = char(chr[0]);
    record[2] = char(chr[1]);
}

// The banks come back with the memory images.
void BnromNina::deserialize(void**, char* record) {
    prg = uint8_t(record[0]);
    chr[0] = uint8_t(record[1]);
    chr[1] = uint8_t(record[2]);
}

} // namespace NES
