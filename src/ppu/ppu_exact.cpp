// The PPU's registers as hardware mode's CPU bus sees them, at the exact dot of the
// access: the I/O latch and its open-bus bits, the vertical-blank race of $2002, the
// palette's answer through $2007 and the reset line.
#include "cpu/cpu.hpp"
#include "ppu/ppu.hpp"
#include "ppu/ppu_bits.hpp"

namespace NES {

void PPU::press_reset() {
    cpu->memory[0x2000] = 0;
    cpu->memory[0x2001] = 0;
    w = false;
    t = 0;
    x = 0;
    read_buffer = 0;
}

uint8_t PPU::read_register_exactly(uint16_t addr, uint8_t) {
    switch (addr) {
    case 0x2002: io_latch = uint8_t((read_register(addr) & 0xE0) | (io_latch & 0x1F)); break;
    case 0x2004:
    case 0x2007: io_latch = read_register(addr); break;
    default: break;
    }
    return io_latch;
}

void PPU::write_register_exactly(uint16_t addr, signed char& value) {
    io_latch = uint8_t(value);
    if (addr != 0x2002 && addr != 0x2001) write_register(addr, value);
}

} // namespace NES
