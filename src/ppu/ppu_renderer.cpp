// The dot renderer. A frame is 262 scanlines of 341 dots (89342 dots, no odd-frame
// skip): lines 0-239 are visible with one pixel per dot 1-256, vertical blank runs from
// scanline 241 dot 1 to scanline 261 dot 1, and the wrap from line 261 to line 0
// completes the frame.
//
// Pixels are computed from video memory at the moment they are drawn: the background
// tile at `v` is fetched at the start of every 8-dot group (and fetched ahead when the
// fine X scroll carries into the next tile), and sprites are drawn from per-slot X
// counters and pattern columns instead of shift registers. A pixel is stored as its
// palette value, and as RGB once a reader wants that (ppu_picture.cpp).
#include <algorithm>
#include <cstring>

#include "cartridge/mapper.hpp"
#include "cpu/cpu.hpp"
#include "ppu/palette.hpp"
#include "ppu/ppu.hpp"
#include "ppu/ppu_bits.hpp"

namespace NES {

using namespace ppu_bits;

void PPU::cycle() {
    rendering = (*ppumask & (MASK_BG | MASK_SPRITES)) != 0;
    if (post_render) {
        vertical_blank_dot();
    } else if (dot == 0 || dot >= 257) {
        if (dot == 257 && rendering) {
            load_line_sprites();
            if (keeps_sprite_planes()) fetch_sprite_patterns();
        }
        if (dot == 340 && scanline == 239) post_render = true;
    } else {
        visible_dot();
    }
    advance_dot();
}

namespace {

// Dots from the dot at (line, dot) to the next processing of (event_line, event_dot),
// both counted in the 262 x 341 frame.
uint64_t dots_to(int32_t line, int32_t dot, int32_t event_line, int32_t event_dot) {
    int32_t const here = line * 341 + dot;
    int32_t const there = event_line * 341 + event_dot;
    return uint64_t(there >= here ? there - here : there - here + 262 * 341);
}

} // namespace

uint64_t PPU::next_event_dot() const {
    uint64_t ahead = dots_to(scanline, dot, 241, 1);
    ahead = std::min(ahead, dots_to(scanline, dot, 261, 1));
    ahead = std::min(ahead, dots_to(scanline, dot, 261, 340));
    if (mapper->clocked) ahead = std::min(ahead, mapper->quiet_dots(*this));
    return dot_count + ahead;
}

void PPU::visible_dot() {
    count_sprite_columns();
    if (((dot - 1) & 7) == 0 && rendering) {
        // A board with latches hears of a tile as it starts, not as it is fetched ahead.
        if (fetch_tile(v, dot_count) && pattern_latches) tell_pattern_read(pattern_addr | 8);
        fine_pos = x & 7;
    }
    if (dot == 1 && (*ppumask & MASK_SPRITES)) clear_evaluation();
    if (dot >= first_evaluation_dot() && rendering) evaluation_step();
    if (dot == 256 && rendering) {
        if (pattern_latches) fetch_line_end_tiles();
        v_vert();
    }
    draw_pixel();
    if (++fine_pos == 8) {
        // The fine X scroll carried into the next tile: fetch it ahead, leaving `v`.
        fine_pos = 0;
        fetch_tile(coarse_x_incremented(v), dot_count + uint64_t(((dot - 1) & ~7) + 9 - dot));
    }
    if (rendering && (dot & 7) == 0 && dot < 256) v_horiz();
}

bool PPU::fetch_tile(uint16_t from, uint64_t at) {
    if (prefetched_count && take_prefetched(at)) return false;
    frozen_attribute = -1;
    nt_addr = uint16_t(0x2000 | (from & 0x0FFF));
    at_addr = uint16_t(0x23C0 | (from & 0x0C00) | ((from >> 4) & 0x38) | ((from >> 2) & 0x07));
    tile_index = read(int16_t(nt_addr));
    pattern_addr =
        uint16_t(tile_index << 4 | ((*ppuctrl & CTRL_BG_TABLE) ? 0x1000 : 0) | ((v >> 12) & 7));
    pattern_lo = uint8_t(memory[pattern_addr]);
    pattern_hi = uint8_t(memory[pattern_addr + 8]);
    if (board_fetches) show_board_tile(scanline, from);
    return true;
}

// The board's say in the tile just fetched from v = `from` on `line`.
void PPU::show_board_tile(int line, uint16_t from) {
    BackgroundTile tile{
        nt_addr, tile_index, uint8_t((v >> 12) & 7), uint8_t(pattern_lo), uint8_t(pattern_hi), -1};
    mapper->fetch_background(*this, line, from, tile);
    tile_index = tile.tile_index;
    pattern_lo = tile.pattern_lo;
    pattern_hi = tile.pattern_hi;
    frozen_attribute = tile.attribute;
}

// A sprite with X = n is drawn at pixel columns n to n + 7, starting at pattern bit 7.
void PPU::count_sprite_columns() {
    for (int i = 0; i < line_count; ++i) {
        uint8_t const bit = uint8_t(1 << i);
        if (active_mask & bit) --sprite_columns[i];
        if (x_counters[i] == 0)
            active_mask |= bit;
        else if (x_counters[i] < -7)
            active_mask &= uint8_t(~bit);
        if (x_counters[i] > X_COUNTER_SPENT) --x_counters[i];
    }
}

void PPU::clear_evaluation() {
    std::memset(secondary_oam, 0xFF, sizeof secondary_oam);
    eval_n = eval_m = 0;
    eval_done = false;
    next_count = 0;
    sprite0_next = false;
}

void PPU::evaluation_step() {
    int const height = (*ppuctrl & CTRL_TALL_SPRITES) ? 16 : 8;
    if (next_count < 8) {
        if ((dot & 1) == 0 && dot > first_evaluation_dot()) evaluate_sprites(dot, dot, height);
    } else if (!eval_done && (!hardware || (dot & 1) == 0)) {
        scan_overflow(height);
    }
}

// One OAM sprite per even dot, at the even dots from `even` to `last` while fewer than
// eight are found: is it on the next line? Line 239 evaluates for line 0, which
// therefore never has sprites (their Y + 1 is at least 1). The state is held in locals
// (the secondary OAM stores could otherwise alias every field). Returns the even dot
// after the last one evaluated.
int PPU::evaluate_sprites(int even, int last, int height) {
    int const next_line = (scanline + 1) % 240;
    uint8_t n = eval_n;
    uint8_t count = next_count;
    bool done = eval_done;
    for (; even <= last && count < 8; even += 2) {
        uint8_t const y1 = uint8_t(oam[n] + 1);
        if (!done && y1 != 0) {
            uint8_t* slot = secondary_oam + count * 4;
            slot[0] = y1;
            if (unsigned(next_line - y1) < unsigned(height) && y1 <= 239) {
                std::memcpy(slot + 1, oam + n + 1, 3);
                next_x[count] = slot[3];
                if (n == 0) sprite0_next = true;
                ++count;
            }
        }
        n = uint8_t(n + 4);
        if (n == 0) done = true;
    }
    eval_n = n;
    next_count = count;
    eval_done = done;
    return even;
}

// With eight sprites found, the hardware keeps scanning but steps its byte offset on
// every miss, so it compares tile, attribute or X bytes as if they were Y: the overflow
// flag follows that diagonal scan. The scan ends at the end of OAM; going round again
// would meet the eight sprites already found and call one of them a ninth.
void PPU::scan_overflow(int height) {
    uint8_t const b = oam[uint8_t(eval_n + eval_m)];
    if (unsigned(scanline - b) < unsigned(height)) {
        *ppustatus = static_cast<signed char>(*ppustatus | STATUS_OVERFLOW);
    } else {
        eval_m = (eval_m + 1) & 3;
    }
    eval_n = uint8_t(eval_n + 4);
    if (eval_n == 0) eval_done = true;
}

// Coarse X and the horizontal nametable come from `t` at dot 257 of every rendering
// line, the pre-render line 261 included, so line 0 starts at the frame's new scroll.
void PPU::reload_horizontal() {
    v = uint16_t((v & 0xFBE0) | (t & 0x041F));
    line_start_x = uint16_t(t & 0x041F);
}

// Dot 257: horizontal scroll reload and the next line's sprites.
void PPU::load_line_sprites() {
    oam_addr = 0;
    reload_horizontal();
    std::memcpy(line_sprites, secondary_oam, size_t(next_count) * 4);
    line_count = int8_t(next_count);
    active_mask = 0;
    std::memcpy(x_counters, next_x, sizeof x_counters);
    sprite0_line = sprite0_next;
    for (int i = 0; i < next_count; ++i)
        sprite_columns[i] = 7;
}

// The pattern address of a sprite's (Y + 1, tile, attributes, X) row on `line`. 8x16
// sprites take their table from tile bit 0 and stack two tiles; a vertical flip counts
// the rows from the bottom.
int PPU::sprite_row_address(uint8_t const* sprite, uint8_t ctrl, int line) const {
    bool const tall = ctrl & CTRL_TALL_SPRITES;
    uint8_t tile = sprite[1];
    int table = (ctrl & CTRL_SPRITE_TABLE) ? 1 : 0;
    if (tall) {
        table = tile & 1;
        tile &= 0xFE;
    }
    uint8_t row = uint8_t(line - sprite[0]);
    if (sprite[2] & ATTR_FLIP_Y) row = uint8_t((tall ? 15 : 7) - (line - sprite[0]));
    tile = uint8_t(tile + (row >> 3));
    return tile << 4 | table << 12 | (row & 7);
}

// The two pattern planes of a slot's row on the current line. Without latches or a board
// taking part in the fetches, the banks can change only by a CPU write, and the planes
// are read as the slot is drawn.
void PPU::sprite_row_planes(int slot, uint8_t ctrl, uint8_t& lo, uint8_t& hi) const {
    if (keeps_sprite_planes()) {
        lo = sprite_pattern_lo[slot];
        hi = sprite_pattern_hi[slot];
        return;
    }
    int const address = sprite_row_address(line_sprites + slot * 4, ctrl, scanline);
    lo = uint8_t(memory[address]);
    hi = uint8_t(memory[address | 8]);
}

void PPU::draw_pixel() {
    uint8_t const mask = uint8_t(*ppumask);
    uint8_t const ctrl = uint8_t(*ppuctrl);

    int const shift = 7 - fine_pos;
    int const bg = ((pattern_hi >> shift) & 1) << 1 | ((pattern_lo >> shift) & 1);
    uint8_t const attribute =
        frozen_attribute >= 0 ? uint8_t(frozen_attribute) : read(int16_t(at_addr));
    int const palette = (attribute >> (((nt_addr >> 1) & 1) * 2 + ((nt_addr >> 6) & 1) * 4)) & 3;

    // The lowest-numbered opaque sprite slot wins.
    int sprite = 0, sprite_slot = 0, sprite_palette = 0;
    bool behind = true;
    for (int i = line_count - 1; i >= 0; --i) {
        if (!(active_mask & (1 << i))) continue;
        uint8_t const* s = line_sprites + i * 4;
        uint8_t const attr = s[2];
        uint8_t lo, hi;
        sprite_row_planes(i, ctrl, lo, hi);
        int const bit = (attr & ATTR_FLIP_X) ? 7 - sprite_columns[i] : sprite_columns[i];
        int const value = ((hi >> bit) & 1) << 1 | ((lo >> bit) & 1);
        if (value) {
            sprite = value;
            sprite_slot = i;
            behind = attr & ATTR_BEHIND_BG;
            sprite_palette = attr & 3;
        }
    }

    if (sprite0_line && sprite_slot == 0 &&
        (mask & (MASK_BG | MASK_SPRITES)) == (MASK_BG | MASK_SPRITES) && sprite && bg &&
        !hardware_misses_hit(mask))
        *ppustatus = static_cast<signed char>(*ppustatus | STATUS_SPRITE0_HIT);
    if (!draw_pictures) return;

    int16_t colour_addr = int16_t(0x3F00 + backdrop_entry());
    if (sprite && (!bg || !behind)) {
        int const value = (mask & MASK_SPRITES) ? sprite : bg;
        if ((dot > 8 || (mask & MASK_SPRITES_LEFT)) && value)
            colour_addr = int16_t(0x3F10 + 4 * sprite_palette + value);
    } else if ((mask & MASK_BG) && (dot > 8 || (mask & MASK_BG_LEFT)) && bg) {
        colour_addr = int16_t(0x3F00 + 4 * palette + bg);
    }
    uint8_t const colour = read(colour_addr);
    store_colours(dot, dot + 1, &colour);
}

void PPU::vertical_blank_dot() {
    if (scanline == 241 && dot == 1 && !vblank) {
        vblank = true;
        publish_frame();
        if (!suppress_nmi) nmi_occurred = true;
        if (!suppress_vbl) *ppustatus = static_cast<signed char>(*ppustatus | STATUS_VBLANK);
    } else if (scanline == 261 && dot == 1) {
        suppress_vbl = nmi_occurred = suppress_nmi = false;
        // Clears vertical blank, sprite 0 hit and overflow.
        *ppustatus = static_cast<signed char>(*ppustatus & 0x1F);
        vblank = false;
        warming_up = false; // the same event releases the power-on reset signal
    } else if (scanline == 261 && dot == 257 && rendering) {
        if (pattern_latches) fetch_pre_render_tiles();
        reload_horizontal();
    } else if (scanline == 261 && dot >= 280 && dot <= 304 && rendering) {
        v = uint16_t((v & 0x841F) | (t & 0x7BE0)); // fine Y, coarse Y, vertical nametable
    } else if (scanline == 261 && dot == SHORT_FRAME_DECISION_DOT && hardware) {
        short_frame = odd_frame && rendering;
    }
}

void PPU::begin_frame() {
    short_frame = false;
    dot = 0;
    scanline = 0;
    frame_count.store(frame_count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    odd_frame = !odd_frame;
    post_render = false;
}

// The mapper sees the counters already naming the next dot.
void PPU::advance_dot() {
    ++dot_count;
    if (++dot == 341) {
        if (scanline == 261) {
            // The console's odd frames with rendering on are a dot shorter: the next
            // frame's first dot (an idle one) is skipped.
            bool const skip = short_frame;
            begin_frame();
            if (skip) dot = 1;
        } else {
            dot = 0;
            ++scanline;
        }
    }
    if (mapper->clocked) mapper->clock(mapper_args);
}

} // namespace NES
