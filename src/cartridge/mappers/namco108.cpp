#include "cartridge/mappers/namco108.hpp"

#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

namespace {

// PPU address of each CHR register's bank.
constexpr uint16_t CHR_TARGET[6] = {0x0000, 0x0800, 0x1000, 0x1400, 0x1800, 0x1C00};

} // namespace

void Namco108::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    int32_t const address = cpu_address(cpu, addr);
    if (address < 0x8000 || address >= 0xA000) return;
    uint8_t const v = uint8_t(*value);
    if (!(address & 1)) {
        selected = v & 0x07;
        return;
    }
    if (selected >= 6) {
        copy_prg(cpu, selected == 7 ? 0xA000 : 0x8000, (v & 0x3F) * 8, 0x2000);
        return;
    }
    uint8_t const bank = v & 0x3F;
    if (selected < 2)
        copy_chr(ppu_of(args), CHR_TARGET[selected], bank & 0x3E, 0x800);
    else
        copy_chr(ppu_of(args), CHR_TARGET[selected], bank, 0x400);
}

void Namco108::snapshot(Snapshot& s) {
    s.bounded(selected, uint8_t(0), uint8_t(7));
}

void Namco108::serialize(void**, char* record) {
    record[0] = char(selected);
}

// The banks come back with the memory images.
void Namco108::deserialize(void**, char* record) {
    selected = uint8_t(record[0]) & 0x07;
}

} // namespace NES
