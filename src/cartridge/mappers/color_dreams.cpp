#include "cartridge/mappers/color_dreams.hpp"

namespace NES {

void ColorDreams::apply(CPU& cpu, PPU& ppu, bool copy_banks) {
    if (!copy_banks) return;
    copy_prg(cpu, 0x8000, (latch & 0x03) * 32, 0x8000);
    copy_chr(ppu, 0x0000, (latch >> 4) * 8, 0x2000);
}

} // namespace NES
