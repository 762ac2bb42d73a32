#include "cartridge/mappers/uxrom.hpp"

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

void UxROM::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    if (cpu_address(cpu, addr) < 0x8000) return;
    select(cpu, (uint8_t(*value) & 0x0F) * 16);
}

// The PRG mapping step copies through the ROM's wrapping copy, so any bank number (from
// the game or from a save-state record) stays inside the PRG ROM.
void UxROM::select(CPU& cpu, int32_t first_unit) {
    bank = first_unit;
    cpu.prg_bank = first_unit;
    cpu.rom->map_prg(cpu.memory, cpu.prg_bank);
}

void UxROM::serialize(void**, char* record) {
    put_le32(record, bank);
}

void UxROM::deserialize(void** args, char* record) {
    select(cpu_of(args), get_le32(record));
}

void UxROM::snapshot(Snapshot& s) {
    s.field(bank);
}

} // namespace NES
