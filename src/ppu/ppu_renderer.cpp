// One PPU dot. A frame is 262 scanlines of 341 dots (89342 dots, no odd-frame skip):
// lines 0-239 are visible, vertical blank runs from scanline 241 dot 1 to scanline 261
// dot 1, and the wrap from line 261 to line 0 completes the frame.
#include "cartridge/mapper.hpp"
#include "cpu/cpu.hpp"
#include "ppu/ppu.hpp"

namespace NES {

void PPU::cycle() {
    if (post_render)
        vertical_blank_dot();
    else if (scanline == 239 && dot == 340)
        post_render = true;
    advance_dot();
}

void PPU::vertical_blank_dot() {
    if (scanline == 241 && dot == 1 && !vblank) {
        vblank = true;
        if (!suppress_nmi) nmi_occurred = true;
        if (!suppress_vbl) *ppustatus = static_cast<signed char>(*ppustatus | 0x80);
    } else if (scanline == 261 && dot == 1) {
        suppress_vbl = nmi_occurred = suppress_nmi = false;
        *ppustatus = static_cast<signed char>(*ppustatus & 0x1F); // vblank, sprite 0, overflow
        vblank = false;
    }
}

// The mapper sees the counters already naming the next dot.
void PPU::advance_dot() {
    ++dot_count;
    if (++dot == 341) {
        dot = 0;
        if (scanline == 261) {
            scanline = 0;
            ++frame_count;
            post_render = false;
        } else {
            ++scanline;
        }
    }
    mapper->clock(mapper_args);
}

} // namespace NES
