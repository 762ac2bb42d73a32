// Hardware mode's background fetch pipeline.
//
// The console fetches the tile it draws from dot 8k + 1 during dots 8k - 15 to 8k - 8
// (the first two tiles of a line at dots 321-336 of the line before), with its v two
// tiles ahead of what it draws; this renderer fetches each tile as it starts drawing it,
// with v naming that tile. Both step v at the same dots, and nothing outside the PPU
// changes between two CPU accesses, so the two agree except across a CPU write that
// changes what a fetch reads: PPUCTRL's pattern table, v itself (PPUADDR), video memory
// (PPUDATA) or a board's banks. Before such a write, the tiles the console has fetched
// already (those this renderer fetches in the next 16 dots) are fetched here with the
// state before it; and a v written during rendering is stepped back to the tile this
// renderer is at.
#include "cartridge/mapper.hpp"
#include "ppu/ppu.hpp"
#include "ppu/ppu_bits.hpp"

namespace NES {

using namespace ppu_bits;

namespace {

constexpr int PIPELINE_DOTS = 16;
constexpr int LAST_TILE_START = 249;

uint16_t coarse_x_decremented(uint16_t v) {
    return (v & 0x001F) == 0 ? uint16_t((v | 0x001F) ^ 0x0400) : uint16_t(v - 1);
}

} // namespace

// The v this renderer fetches from at tile start `start` of `line` (the current line or
// the next), stepping it as the dots between here and there would: coarse X after every
// eighth dot up to 256, then a row down at 256 and the column reloaded from t at 257.
uint16_t PPU::v_at_tile_start(int line, int start) const {
    uint16_t at = v;
    int d = dot;
    if (line != scanline) {
        for (int step = (d + 7) / 8 * 8; step < 256; step += 8)
            if (step >= d && step > 0) at = coarse_x_incremented(at);
        if (d <= 256) at = row_below(at);
        if (d <= 257) at = uint16_t((at & 0xFBE0) | (t & 0x041F));
        d = 1;
    }
    for (int step = (d + 7) / 8 * 8; step < start; step += 8)
        if (step >= d && step > 0) at = coarse_x_incremented(at);
    return at;
}

void PPU::freeze_fetches() {
    rendering = (*ppumask & (MASK_BG | MASK_SPRITES)) != 0;
    if (!rendering) return;
    // Entries the renderer has passed are spent.
    int kept = 0;
    for (int i = 0; i < prefetched_count; ++i)
        if (prefetched[i].at >= dot_count) prefetched[kept++] = prefetched[i];
    prefetched_count = uint8_t(kept);
    auto add = [&](int line, int start, uint64_t at) {
        for (int i = 0; i < prefetched_count; ++i)
            if (prefetched[i].at == at) return; // fetched before an earlier write
        if (prefetched_count == PREFETCHED_TILES) return;
        uint16_t const from = v_at_tile_start(line, start);
        PrefetchedTile& tile = prefetched[prefetched_count++];
        tile.at = at;
        tile.nt_addr = uint16_t(0x2000 | (from & 0x0FFF));
        tile.at_addr =
            uint16_t(0x23C0 | (from & 0x0C00) | ((from >> 4) & 0x38) | ((from >> 2) & 0x07));
        tile.tile_index = read(int16_t(tile.nt_addr));
        tile.pattern_addr = uint16_t(
            tile.tile_index << 4 | ((*ppuctrl & CTRL_BG_TABLE) ? 0x1000 : 0) | ((from >> 12) & 7));
        tile.pattern_lo = uint8_t(memory[tile.pattern_addr]);
        tile.pattern_hi = uint8_t(memory[tile.pattern_addr + 8]);
        tile.attribute = read(int16_t(tile.at_addr));
        if (board_fetches) show_board_prefetch(line, from, tile);
        // The console fetched it before the write: a board with latches hears of it now.
        if (pattern_latches) tell_pattern_read(uint16_t(tile.pattern_addr | 8));
    };
    int const until = dot + PIPELINE_DOTS; // tile starts before this dot are fetched
    if (scanline < 240) {
        for (int start = 1; start <= LAST_TILE_START; start += 8)
            if (start >= dot && start < until)
                add(scanline, start, dot_count + uint64_t(start - dot));
    }
    int const next_line = scanline == PRE_RENDER_LINE ? 0 : scanline + 1;
    if ((scanline < 239 || scanline == PRE_RENDER_LINE) && until > DOTS_PER_LINE) {
        // The odd frames' short pre-render line skips the next line's dot 0.
        int const line_length = scanline == PRE_RENDER_LINE && short_frame ? 340 : DOTS_PER_LINE;
        for (int start = 1; start < until - DOTS_PER_LINE; start += 8)
            add(next_line, start, dot_count + uint64_t(line_length - dot + start));
    }
}

// The board's say in a tile fetched ahead, as show_board_tile for the renderer's fetch.
void PPU::show_board_prefetch(int line, uint16_t from, PrefetchedTile& fetched) const {
    BackgroundTile tile{fetched.nt_addr,    fetched.tile_index, uint8_t((from >> 12) & 7),
                        fetched.pattern_lo, fetched.pattern_hi, -1};
    mapper->fetch_background(*this, line, from, tile);
    fetched.tile_index = tile.tile_index;
    fetched.pattern_lo = tile.pattern_lo;
    fetched.pattern_hi = tile.pattern_hi;
    if (tile.attribute >= 0) fetched.attribute = uint8_t(tile.attribute);
}

bool PPU::take_prefetched(uint64_t at) {
    for (int i = 0; i < prefetched_count; ++i) {
        PrefetchedTile const& tile = prefetched[i];
        if (tile.at != at) continue;
        nt_addr = tile.nt_addr;
        at_addr = tile.at_addr;
        tile_index = tile.tile_index;
        pattern_addr = tile.pattern_addr;
        pattern_lo = tile.pattern_lo;
        pattern_hi = tile.pattern_hi;
        frozen_attribute = tile.attribute;
        return true;
    }
    return false;
}

// The console's v runs two tiles ahead of this renderer's while it draws a line, and
// from dot 257 on it gains those two tiles back at dots 328 and 336.
void PPU::align_written_v() {
    if (!rendering || (scanline >= 240 && scanline != PRE_RENDER_LINE)) return;
    int behind = 2;
    if (dot >= 257 && dot <= 328)
        behind = 0;
    else if (dot > 328 && dot <= 336)
        behind = 1;
    for (int i = 0; i < behind; ++i)
        v = coarse_x_decremented(v);
}

} // namespace NES
