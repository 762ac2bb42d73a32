// The PPU's registers as hardware mode's CPU bus sees them, at the exact dot of the
// access, and the reset line.
//
// The CPU-facing data bus is a latch whose bits decay: a write to any register loads all
// eight; a read refreshes the bits the register drives and returns the latch in the
// others; a bit not refreshed with a 1 for about 600 ms reads 0 again. PPUSTATUS drives
// bits 5-7, OAMDATA and non-palette PPUDATA all eight, palette PPUDATA bits 0-5, the
// write-only registers none.
#include <cstring>

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "ppu/palette.hpp"
#include "ppu/ppu.hpp"
#include "ppu/ppu_bits.hpp"

namespace NES {

using namespace ppu_bits;

namespace {

// About 600 ms of dots: a latch bit last refreshed with a 1 longer ago reads 0.
constexpr uint64_t LATCH_DECAY_DOTS = 3 * 1789773 * 6 / 10;

bool held_in_reset(uint16_t addr) {
    return addr == 0x2000 || addr == 0x2001 || addr == 0x2005 || addr == 0x2006;
}

} // namespace

void PPU::press_reset() {
    warming_up = false;
    cpu->memory[0x2000] = 0;
    cpu->memory[0x2001] = 0;
    w = false;
    t = 0;
    x = 0;
    read_buffer = 0;
    odd_frame = false;
}

uint8_t PPU::decayed_latch() {
    for (int bit = 0; bit < 8; ++bit)
        if (dot_count - latch_refreshed[bit] > LATCH_DECAY_DOTS) io_latch &= uint8_t(~(1 << bit));
    return io_latch;
}

// The bits of `driven` take their value from `value` and are refreshed.
uint8_t PPU::drive_latch(uint8_t driven, uint8_t value) {
    decayed_latch();
    io_latch = uint8_t((io_latch & ~driven) | (value & driven));
    for (int bit = 0; bit < 8; ++bit)
        if (driven & value & (1 << bit)) latch_refreshed[bit] = dot_count;
    return io_latch;
}

bool PPU::rendering_line() const {
    return rendering && (scanline < 240 || scanline == 261);
}

uint8_t PPU::read_register_exactly(uint16_t addr, uint8_t) {
    rendering = (*ppumask & (MASK_BG | MASK_SPRITES)) != 0;
    switch (addr) {
    case 0x2002: {
        uint8_t const status = uint8_t(*ppustatus);
        *ppustatus = static_cast<signed char>(status & ~STATUS_VBLANK);
        w = false;
        nmi_occurred = false;
        // A read on the dot before vertical blank starts keeps the flag (and its NMI) from
        // being set at all this frame.
        if (scanline == 241 && dot == 1) suppress_vbl = suppress_nmi = true;
        return drive_latch(0xE0, status);
    }
    case 0x2004: {
        // While the evaluator clears secondary OAM it reads $FF on OAMDATA.
        bool const clearing = rendering_line() && dot >= 1 && dot <= 64;
        return drive_latch(0xFF, clearing ? 0xFF : oam[oam_addr]);
    }
    case 0x2007: return drive_latch_from_data();
    default: return decayed_latch();
    }
}

// The address PPUDATA reaches: $3000-$3EFF are the nametables again (mirrored as
// they are), the 32 palette cells repeat through $3F00-$3FFF, and the sprite palettes'
// first cells are the background ones.
uint16_t PPU::data_address() const {
    uint16_t a = v & 0x3FFF;
    if (a >= 0x3000 && a < 0x3F00) return uint16_t(a - 0x1000);
    if (a < 0x3F00) return a;
    a = uint16_t(0x3F00 | (a & 0x1F));
    return (a & 0x13) == 0x10 ? uint16_t(a & ~0x10) : a;
}

// PPUDATA: below the palette the read buffer answers and is refilled; the palette
// answers at once (six bits) and the buffer takes the nametable byte beneath it.
uint8_t PPU::drive_latch_from_data() {
    uint16_t const a = data_address();
    uint8_t result;
    if (a >= 0x3F00) {
        uint8_t colour = read(int16_t(a));
        if (*ppumask & MASK_GREYSCALE) colour &= 0x30;
        read_buffer = read(int16_t((v & 0x3FFF) - 0x1000));
        result = drive_latch(0x3F, colour);
    } else {
        result = drive_latch(0xFF, read_buffer);
        read_buffer = read(int16_t(a));
        if (pattern_latches && a < 0x2000) tell_pattern_read(a);
    }
    step_data_address();
    if (!rendering_line()) put_v_on_address_bus();
    return result;
}

// Outside rendering PPUDATA steps v by 1 or 32; during rendering the access instead
// clocks the renderer's coarse X and Y increments at once.
void PPU::step_data_address() {
    if (rendering_line()) {
        v_horiz();
        v_vert();
    } else {
        advance_address();
    }
}

// While the power-on reset signal holds, the write still loads the data bus latch, but
// the register keeps its byte and nothing else changes.
void PPU::write_register_exactly(uint16_t addr, signed char& value) {
    drive_latch(0xFF, uint8_t(value));
    if (warming_up && held_in_reset(addr)) {
        value = cpu->memory[addr];
        return;
    }
    rendering = (*ppumask & (MASK_BG | MASK_SPRITES)) != 0;
    switch (addr) {
    case 0x2000: latch_nametable_select(uint8_t(value)); break;
    case 0x2003: oam_addr = uint8_t(value); break;
    case 0x2004:
        // During rendering the write is dropped, and OAMADDR moves on to the next sprite.
        if (rendering_line())
            oam_addr = uint8_t(oam_addr + 4);
        else
            store_oam(value);
        break;
    case 0x2005: latch_scroll(uint8_t(value)); break;
    case 0x2007: {
        uint16_t const a = data_address();
        // Palette cells hold six bits.
        signed char const stored = a >= 0x3F00 ? static_cast<signed char>(value & 0x3F) : value;
        if (a >= 0x2000 || rom->chr_size == 0) write(int16_t(a), stored);
        step_data_address();
        if (!rendering_line()) put_v_on_address_bus();
        break;
    }
    case 0x2006:
        latch_address(uint8_t(value));
        if (!w) align_written_v();
        if (!w && !rendering_line()) put_v_on_address_bus(); // the second write set v
        break;
    default: break; // $2001 and $2002 have no effect beyond their stored byte
    }
}

// Greyscale keeps only a colour's brightness column; each pixel keeps the emphasis bits
// it was drawn with.
void PPU::store_colours_exactly(int from, int to, uint8_t const* colours) {
    uint8_t const mask = uint8_t(*ppumask);
    uint8_t const grey = (mask & MASK_GREYSCALE) ? 0x30 : 0x3F;
    uint8_t const tint = uint8_t(mask >> 5);
    int const first_pixel = scanline * SCREEN_WIDTH + from - 1;
    for (int i = 0; i < to - from; ++i) {
        uint8_t const colour = uint8_t(colours[i] & grey);
        color_index[first_pixel + i] = colour;
        if (work_rgb)
            std::memcpy(work_rgb.get() + 3 * (first_pixel + i), emphasised_rgb(colour, tint), 3);
    }
    std::memset(emphasis.get() + first_pixel, tint, size_t(to - from));
}

} // namespace NES
