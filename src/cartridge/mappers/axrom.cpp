#include "cartridge/mappers/axrom.hpp"

#include "cartridge/rom.hpp"

namespace NES {

int32_t AxROM::power_on_mirroring(int32_t) const {
    return MIRROR_SINGLE_SCREEN;
}

void AxROM::apply(CPU& cpu, PPU& ppu, bool copy_banks) {
    int32_t const screen = (latch & 0x10) ? MIRROR_SINGLE_SCREEN_UPPER : MIRROR_SINGLE_SCREEN;
    if (!copy_banks) {
        restore_mirroring(ppu, screen);
        return;
    }
    copy_prg(cpu, 0x8000, (latch & 0x07) * 32, 0x8000);
    set_mirroring(ppu, screen);
}

} // namespace NES
