#include "cartridge/mappers/camerica.hpp"

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

void Camerica::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    int32_t const address = cpu_address(cpu, addr);
    if (address >= 0xC000) {
        bank = uint8_t(*value) & 0x0F;
        copy_prg(cpu, 0x8000, bank * 16, 0x4000);
    } else if (address >= 0x8000 && address < 0xA000) {
        screen = uint8_t(*value);
        if (address >= 0x9000) mirroring_register = true;
        if (mirroring_register) set_mirroring(ppu_of(args), selected_screen());
    }
}

int32_t Camerica::selected_screen() const {
    return (screen & 0x10) ? MIRROR_SINGLE_SCREEN_UPPER : MIRROR_SINGLE_SCREEN;
}

void Camerica::snapshot(Snapshot& s) {
    s.bounded(bank, uint8_t(0), uint8_t(0x0F));
    s.field(screen);
    s.field(mirroring_register);
}

void Camerica::serialize(void**, char* record) {
    record[0] = char(bank);
    record[1] = char(screen);
    record[2] = char(mirroring_register);
}

// The bank comes back with the memory images.
void Camerica::deserialize(void** args, char* record) {
    bank = uint8_t(record[0]) & 0x0F;
    screen = uint8_t(record[1]);
    mirroring_register = record[2] != 0;
    PPU& ppu = ppu_of(args);
    restore_mirroring(ppu, mirroring_register ? selected_screen() : ppu.rom->mirroring);
}

} // namespace NES
