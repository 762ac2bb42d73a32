#include "cartridge/mappers/cnrom.hpp"

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

void CNROM::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    if (cpu_address(cpu, addr) < 0x8000) return;
    int const banks = cpu.rom->chr_size / 0x2000;
    if (banks == 0) return;
    select(ppu_of(args), uint8_t(*value) % banks * 8);
}

// The attach copies through the ROM's wrapping copy, so any bank number (from the game
// or from a save-state record) stays inside the CHR ROM.
void CNROM::select(PPU& ppu, int32_t first_unit) {
    bank = first_unit;
    ppu.chr_bank = first_unit;
    ppu.loadRom(ppu.rom);
}

void CNROM::serialize(void**, char* record) {
    put_le32(record, bank);
}

void CNROM::deserialize(void** args, char* record) {
    select(ppu_of(args), get_le32(record));
}

void CNROM::snapshot(Snapshot& s) {
    s.field(bank);
}

} // namespace NES
