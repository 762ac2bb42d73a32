// PPU address line A12 in hardware mode, for the boards that count its rising edges
// (MMC3's scanline counter).
//
// While a line renders, A12 is bit 12 of each pattern fetch's address and low for the
// nametable and attribute fetches. Per line, with rendering on (lines 0-239 and 261):
//
//   dots   1-256  32 background tiles: NT 8k+1, AT 8k+3, pattern 8k+5 and 8k+7
//   dots 257-320  8 sprite slots: NT 8i+257, AT 8i+259 (garbage), pattern 8i+261, 8i+263
//   dots 321-336  the next line's first two tiles; 337-340 two nametable fetches
//
// So with the background at $1000 the line is high at dots 5-8, 13-16, ... 253-256,
// 325-328 and 333-336; a sprite slot is high at 8i+261 to 8i+264 when its pattern lies
// at $1000 (8x8 sprites: the sprite table; 8x16: the tile's bit 0, $FF for an empty
// slot). A rise that follows a low of four dots can never pass the board's filter (it
// needs three M2 falls, nine dots), so the runs of background fetches count as one long
// high from dot 5 to 256: the line is traced only at the dots where it can change
// meaningfully, and the renderer runs in spans between them.
//
// Outside rendering the PPU's address bus shows v after a CPU access through $2006 or
// $2007, so those accesses move A12 too.
#include <algorithm>

#include "cartridge/mapper.hpp"
#include "ppu/ppu.hpp"
#include "ppu/ppu_bits.hpp"

namespace NES {

using namespace ppu_bits;

namespace {

constexpr int FIRST_SPRITE_PATTERN_DOT = 261;
constexpr int SLOT_DOTS = 8;
constexpr int SLOTS = 8;
constexpr int NO_CANDIDATE = DOTS_PER_LINE;

bool fetching_line(int line) {
    return line < 240 || line == PRE_RENDER_LINE;
}

} // namespace

// The level after the fetch that starts on `dot` of a fetching line, for the dots that
// next_a12_candidate names.
bool PPU::a12_at(int line, int dot) const {
    uint8_t const ctrl = uint8_t(*ppuctrl);
    bool const background = ctrl & CTRL_BG_TABLE;
    if (dot == 5 || dot == 325 || dot == 333) return background;
    if (dot >= FIRST_SPRITE_PATTERN_DOT && dot < 321 &&
        (dot - FIRST_SPRITE_PATTERN_DOT) % SLOT_DOTS == 0) {
        if (!(ctrl & CTRL_TALL_SPRITES)) return ctrl & CTRL_SPRITE_TABLE;
        int const slot = (dot - FIRST_SPRITE_PATTERN_DOT) / SLOT_DOTS;
        // Empty slots, and the pre-render line's, fetch tile $FF.
        if (line == PRE_RENDER_LINE || slot >= line_count) return true;
        return line_sprites[slot * 4 + 1] & 1;
    }
    return false;
}

// The first dot after `dot` on a fetching line at which A12 may change, or NO_CANDIDATE.
int PPU::next_a12_candidate(int line, int dot) const {
    if (!rendering || !fetching_line(line)) return NO_CANDIDATE;
    uint8_t const ctrl = uint8_t(*ppuctrl);
    bool const background = ctrl & CTRL_BG_TABLE;
    bool const tall = ctrl & CTRL_TALL_SPRITES;
    bool const sprites_high = !tall && (ctrl & CTRL_SPRITE_TABLE);
    auto after = [&](int candidate) { return candidate > dot; };
    if (a12_high && after(1) && dot < 1) return 1;
    if (background && after(5)) return 5;
    if (background && after(257)) return 257;
    if (tall) {
        for (int slot = 0; slot < SLOTS; ++slot) {
            int const rise = FIRST_SPRITE_PATTERN_DOT + slot * SLOT_DOTS;
            if (after(rise)) return rise;
            if (after(rise + 4)) return rise + 4;
        }
    } else if (sprites_high) {
        if (after(FIRST_SPRITE_PATTERN_DOT)) return FIRST_SPRITE_PATTERN_DOT;
        if (after(321)) return 321;
    }
    for (int candidate : {325, 329, 333, 337})
        if (background && after(candidate)) return candidate;
    return NO_CANDIDATE;
}

// Runs the renderer in spans up to each dot where A12 may change, processes that dot,
// and tells the board when the line did change. PPUCTRL and PPUMASK hold still for the
// whole call, as for every run_until.
void PPU::run_tracing_a12(uint64_t target) {
    while (dot_count < target) {
        rendering = (*ppumask & (MASK_BG | MASK_SPRITES)) != 0;
        int const candidate = next_a12_candidate(scanline, dot - 1);
        if (candidate == NO_CANDIDATE) {
            run_dots(std::min(target, dot_count + uint64_t(DOTS_PER_LINE - dot)));
            continue;
        }
        uint64_t const at = dot_count + uint64_t(candidate - dot);
        if (at >= target) {
            run_dots(target);
            return;
        }
        run_dots(at + 1);
        // The candidate's fetch sets the line (the sprite slots were loaded at dot 257,
        // before any slot's fetch).
        bool const high = a12_at(scanline, candidate);
        if (high != a12_high) report_a12(high, at);
    }
}

void PPU::report_a12(bool high, uint64_t at_dot) {
    a12_high = high;
    if (high)
        mapper->a12_rose(mapper_args, at_dot, a12_fell_at);
    else
        a12_fell_at = at_dot;
}

void PPU::put_v_on_address_bus() {
    bool const high = v & 0x1000;
    if (traces_a12 && high != a12_high) report_a12(high, dot_count);
}

uint64_t PPU::next_a12_rise_dot() const {
    if (!rendering) return UINT64_MAX;
    int line = scanline;
    uint64_t ahead = 0;
    bool level = a12_high;
    // A frame of lines at most: a frame whose fetches never raise A12 never will. The
    // odd frames' skipped dot may make a rise come a dot sooner than counted here.
    for (int lines = 0; lines <= 262; ++lines) {
        int const from = lines == 0 ? dot - 1 : -1;
        for (int candidate = next_a12_candidate(line, from); candidate != NO_CANDIDATE;
             candidate = next_a12_candidate(line, candidate)) {
            bool const high = a12_at(line, candidate);
            if (high && !level) {
                uint64_t const at =
                    dot_count + ahead + uint64_t(candidate - (lines == 0 ? dot : 0));
                return at - std::min<uint64_t>(at - dot_count, 1);
            }
            level = high;
        }
        ahead += uint64_t(lines == 0 ? DOTS_PER_LINE - dot : DOTS_PER_LINE);
        line = line == PRE_RENDER_LINE ? 0 : line + 1;
    }
    return UINT64_MAX;
}

} // namespace NES
