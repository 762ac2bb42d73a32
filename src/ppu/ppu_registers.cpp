// PPU construction, cartridge attach, video memory folding and the register effects.
#include <cstdio>
#include <cstring>

#include "cartridge/rom.hpp"
#include "console/progress.hpp"
#include "cpu/cpu.hpp"
#include "ppu/palette.hpp"
#include "ppu/ppu.hpp"

namespace NES {

PPU::PPU(CPU* cpu) : cpu(cpu) {
    finished.reset(new FinishedPicture);
    std::memset(finished->values, BLACK, sizeof finished->values);
    cpu->ppu = this;
    if (cpu->rom) loadRom(cpu->rom);
    set_registers();
}

void PPU::set_registers() {
    ppuctrl = cpu->memory + 0x2000;
    ppumask = cpu->memory + 0x2001;
    ppustatus = cpu->memory + 0x2002;
    oamaddr = cpu->memory + 0x2003;
    oamdata = cpu->memory + 0x2004;
    ppuscroll = cpu->memory + 0x2005;
    ppuaddr = cpu->memory + 0x2006;
    ppudata = cpu->memory + 0x2007;
    oamdma = cpu->memory + 0x4014;
}

// Without CHR ROM the pattern tables are the cartridge's CHR RAM itself, so boards that
// switch CHR work on the PPU's own bytes.
void PPU::loadRom(ROM* cartridge) {
    mapper_args[0] = cpu;
    mapper_args[1] = this;
    mapper_args[2] = cpu->apu;
    rom = cartridge;
    mirroring = cartridge->mirroring;
    mapper = cartridge->mapper.get();
    pattern_latches = mapper && mapper->watches_patterns();
    board_fetches = mapper && mapper->joins_fetches();
    cartridge->chr_windows.attach(memory, 8);
    if (cartridge->chr_size < 1) {
        cartridge->chr_windows.forget(); // the PPU writes CHR RAM itself
        progress("CHR-RAM Copied.\n");
        cartridge->chr_ram = reinterpret_cast<unsigned char*>(memory);
    } else {
        cartridge->copy_chr(memory, chr_bank, 0x2000);
    }
}

void PPU::v_horiz() {
    if ((v & 0x001F) == 31)
        v = uint16_t((v & ~0x001F) ^ 0x0400);
    else
        ++v;
}

void PPU::v_vert() {
    v = row_below(v);
}

uint16_t PPU::row_below(uint16_t v) {
    if ((v & 0x7000) != 0x7000) return uint16_t(v + 0x1000);
    v &= 0x8FFF;
    int coarse_y = (v >> 5) & 31;
    if (coarse_y == 29) {
        coarse_y = 0;
        v ^= 0x0800;
    } else if (coarse_y == 31) {
        coarse_y = 0;
    } else {
        ++coarse_y;
    }
    return uint16_t((v & ~0x03E0) | coarse_y << 5);
}

void PPU::apply_and_update_registers() {
    if (scanline < 241 || scanline > 260) *ppustatus = static_cast<signed char>(*ppustatus & 0x7F);
}

void PPU::write_register(uint16_t addr, signed char& value) {
    uint8_t const d = uint8_t(value);
    switch (addr) {
    case 0x2000: latch_nametable_select(d); break;
    case 0x2003: oam_addr = d; break;
    case 0x2004: store_oam(value); break;
    case 0x2005: latch_scroll(d); break;
    case 0x2006: latch_address(d); break;
    case 0x2007: {
        int16_t const a = int16_t(v & 0x3FFF);
        if (cpu->debug) printf("ppu->%04x: %02x\n", a, d);
        // CHR ROM is read-only: games that clear all of video memory at start-up would
        // otherwise wipe their own tiles. The address still advances.
        if (a >= 0x2000 || rom->chr_size == 0) write(a, value);
        advance_address();
        if (cpu->debug) printf("v changed to %i\n", v);
        break;
    }
    default: break;
    }
}

// The CPU runs a whole instruction before the PPU catches up, so `dot` names the next
// dot to be drawn. A read just before or on the dot that starts vertical blank races it:
// the flag and that frame's NMI are lost.
uint8_t PPU::read_status() {
    uint8_t const s = uint8_t(*ppustatus);
    *ppustatus = static_cast<signed char>(s & 0x7F);
    w = false;
    if (dot == 1 && scanline == 241) {
        nmi_occurred = false;
        suppress_vbl = suppress_nmi = true;
        return s & 0x7F;
    }
    if (dot >= 2 && scanline == 261) return s & 0x7F;
    if (dot == 2 && scanline == 241) {
        nmi_occurred = false;
        suppress_vbl = suppress_nmi = true;
        return s | 0x80;
    }
    nmi_occurred = false;
    return s;
}

} // namespace NES
