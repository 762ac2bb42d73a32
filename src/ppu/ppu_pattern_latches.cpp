// The pattern reads as a board that follows them hears of them (MMC2's and MMC4's CHR
// latches: cartridge/mappers/chr_latch_board.hpp), in the order the console makes them.
//
// Per rendered line the console reads, in this order: background tiles 2-33 at dots
// 1-256 (tiles 0 and 1 came at dots 321-336 of the line before), the eight sprite rows of
// the next line at dots 257-320, then the next line's tiles 0 and 1. The renderer fetches
// each background tile as it starts drawing it, 16 dots later than the console, so it
// meets the same sequence when the board hears of tiles 0-31 as they start, of tiles 32
// and 33 (never started) at dot 256, and of the sprite rows at dot 257. Each tile's
// planes are read before the board hears of it, so a marker tile is drawn from the bank
// it switches away from. A tile fetched ahead (when the fine X scroll carries into it) is
// read before its start from the same bank as at its start, since the board hears of it
// only there. The sprite rows' planes are kept as fetched at dot 257, for a flip before
// the next line draws them must not reach them. The pre-render line reads 32 tiles from v
// where vertical blank left it.
//
// Empty sprite slots fetch tile $FF, which on 8x8 sprites is no marker; what 8x16 sprites
// fetch for them depends on leftovers of the evaluation that are not modelled, and the
// board does not hear of it.
//
// The sprite rows' fetch at dot 257 also serves a board that takes part in the fetches
// (MMC5), which gives their planes from banks of its own; it has no latches to tell.
//
// Other boards never come here: the per-dot renderer tests pattern_latches at each tile
// start and at dots 256 and 257, and the span renderer has an instance of its own for
// latch boards (ppu_line_renderer.cpp).
#include "cartridge/mapper.hpp"
#include "ppu/ppu.hpp"
#include "ppu/ppu_bits.hpp"

namespace NES {

using namespace ppu_bits;

namespace {

constexpr int TILES_PER_LINE = 32;
constexpr uint16_t SECOND_PLANE = 8;

} // namespace

void PPU::tell_pattern_read(uint16_t address) {
    mapper->pattern_read(mapper_args, address);
}

// The second plane of the background tile row at v = `from`.
uint16_t PPU::background_row_address(uint16_t from) {
    uint8_t const tile = read(int16_t(0x2000 | (from & 0x0FFF)));
    int const table = (*ppuctrl & CTRL_BG_TABLE) ? 0x1000 : 0;
    return uint16_t(tile << 4 | table | SECOND_PLANE | ((from >> 12) & 7));
}

// Dot 256, before the row step: v names tile 31, the last the renderer started.
void PPU::fetch_line_end_tiles() {
    uint16_t const tile_32 = coarse_x_incremented(v);
    tell_pattern_read(background_row_address(tile_32));
    tell_pattern_read(background_row_address(coarse_x_incremented(tile_32)));
}

// Dot 257, once the next line's sprites are in their slots; for a board taking part in
// the fetches too, which gives the planes.
void PPU::fetch_sprite_patterns() {
    uint8_t const ctrl = uint8_t(*ppuctrl);
    for (int slot = 0; slot < line_count; ++slot) {
        int const address = sprite_row_address(line_sprites + slot * 4, ctrl, scanline + 1);
        if (board_fetches) {
            mapper->fetch_sprite_row(*this, uint16_t(address), sprite_pattern_lo[slot],
                                     sprite_pattern_hi[slot]);
            continue;
        }
        sprite_pattern_lo[slot] = uint8_t(memory[address]);
        sprite_pattern_hi[slot] = uint8_t(memory[address | SECOND_PLANE]);
        tell_pattern_read(uint16_t(address | SECOND_PLANE));
    }
}

// Dot 257 of the pre-render line, before the horizontal reload: the renderer draws
// nothing on this line, but the console fetches its tiles, stepping coarse X.
void PPU::fetch_pre_render_tiles() {
    uint16_t from = v;
    for (int tile = 0; tile < TILES_PER_LINE; ++tile, from = coarse_x_incremented(from))
        tell_pattern_read(background_row_address(from));
}

} // namespace NES
