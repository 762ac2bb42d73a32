// The PPU's part of a console snapshot: video memory (which CHR banks the pattern tables
// show, or their bytes for CHR RAM; the nametables; the palette), OAM, the position in
// the frame, the scroll registers, the fetch and sprite-evaluation pipelines mid-line,
// the rows of the frame being drawn that it has drawn, and the finished picture unless
// the snapshot leaves it out. The register pointers into the CPU's memory image and the
// mapper belong to the console as built.
//
// Memory, OAM and the pictures may hold anything. The position in the frame and the
// current line's sprite slots are checked against each other: the renderer indexes the
// picture by the line and follows each slot's pattern column by its X counter, so a
// combination no frame can produce would make it draw outside the picture or shift by
// more than a byte.
#include <array>
#include <cstdint>
#include <mutex>

#include "cartridge/rom.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr int32_t DOTS_PER_LINE = 341;
constexpr int32_t LAST_VISIBLE_LINE = 239;

// Vertical blank begins when line 241 dot 1 is processed and ends when line 261 dot 1
// is; `dot` names the next dot to be processed. (Either may be out of range here: the
// snapshot is then refused anyway.)
bool in_vertical_blank(int32_t line, int32_t dot) {
    int64_t const position = int64_t(line) * DOTS_PER_LINE + dot;
    return position >= 241 * DOTS_PER_LINE + 2 && position <= 261 * DOTS_PER_LINE + 1;
}

// Between two dots a slot of the current line is in one of three states (see
// count_sprite_columns): waiting for its X counter to reach 0 (counter 0-255, column 7);
// being drawn (active since the dot that found its counter at 0, so a counter of -1 to -8
// and column 8 + counter); or done (its counter held spent and its column stepped once
// past 0, by the dot that ended it).
bool slot_reachable(int32_t counter, bool active, uint8_t column) {
    if (active) return counter >= -8 && counter <= -1 && column == 8 + counter;
    if (counter == PPU::X_COUNTER_SPENT) return column == 0xFF;
    return counter >= 0 && counter <= 0xFF && column == 7;
}

// The rows of the frame being drawn that hold its pixels and are not yet published: up
// to the current line while the visible lines are drawn, all of them from then until
// the picture is published at line 241 dot 1, none after that. The rest are drawn
// again before they are published.
int rows_drawn(int32_t line, int32_t dot) {
    if (line < 0 || line > 261) return 0;
    if (line <= LAST_VISIBLE_LINE) return line + 1;
    int64_t const position = int64_t(line) * DOTS_PER_LINE + dot;
    return position < 241 * DOTS_PER_LINE + 2 ? SCREEN_HEIGHT : 0;
}

} // namespace

template <class Pass> void PPU::snapshot(Pass& s) {
    s.clocks.ppu_dots = s.field(dot_count);
    s.field(frame_count);
    rom->chr_windows.snapshot(s, rom->chr.data(), rom->chr_size / 1024);
    s.sparse(memory + 0x2000, 0x1000); // nametables; $3000-$3EFF folds onto them
    s.bytes(memory + 0x3F00, 0x20);    // the palette; $3F20-$3FFF folds onto it
    s.field(oam);
    s.field(secondary_oam);
    int32_t const line = s.bounded(scanline, 0, 261);
    int32_t const next_dot = s.bounded(dot, 0, 340);
    s.bounded(mirroring, 0, board_fetches ? int32_t(MIRROR_BOARD_PAGES) : 4);
    s.require(s.field(vblank) == in_vertical_blank(line, next_dot));
    s.field(chr_bank);
    s.field(suppress_vbl);
    s.field(nmi_occurred);
    s.field(suppress_nmi);
    s.field(rendering);
    s.bounded(v, uint16_t(0), uint16_t(0x7FFF));
    s.bounded(t, uint16_t(0), uint16_t(0x7FFF));
    s.bounded(x, uint8_t(0), uint8_t(7));
    s.field(w);
    s.field(oam_addr);
    s.bounded(nt_addr, uint16_t(0), uint16_t(0x3FFF));
    s.bounded(at_addr, uint16_t(0), uint16_t(0x3FFF));
    s.field(pattern_hi);
    s.field(pattern_lo);
    s.field(read_buffer);
    s.bounded(fine_pos, uint8_t(0), uint8_t(7));
    s.field(tile_index);
    s.bounded(pattern_addr, uint16_t(0), uint16_t(0x3FFF));
    // Set by the last dot of line 239 and cleared by the frame's wrap.
    s.require(s.field(post_render) == (line > LAST_VISIBLE_LINE));
    s.field(eval_n);
    s.bounded(eval_m, uint8_t(0), uint8_t(3));
    s.field(eval_done);
    s.bounded(next_count, uint8_t(0), uint8_t(8));
    s.field(line_sprites);
    int const slots = s.bounded(line_count, int8_t(0), int8_t(8));
    std::array<int32_t, 8> const counters = s.elements(x_counters);
    // X bytes of OAM, taken by the evaluation.
    for (int32_t const next : s.elements(next_x))
        s.require(next >= 0 && next <= 0xFF);
    uint8_t const active = s.field(active_mask);
    std::array<uint8_t, 8> const columns = s.elements(sprite_columns);
    if (slots >= 0 && slots <= 8) { // else already refused
        s.require((active >> slots) == 0);
        for (int i = 0; i < slots; ++i)
            s.require(slot_reachable(counters[i], active & (1 << i), columns[i]));
    }
    s.field(sprite0_next);
    s.field(sprite0_line);
    if (keeps_sprite_planes()) {
        s.field(sprite_pattern_lo);
        s.field(sprite_pattern_hi);
    }
    if (board_fetches) {
        for (uint8_t& page : nametable_page)
            s.bounded(page, uint8_t(0), uint8_t(BOARD_PAGES - 1));
        s.bounded(locked_pages, uint8_t(0), uint8_t((1 << BOARD_PAGES) - 1));
        s.bounded(line_start_x, uint16_t(0), uint16_t(0x041F));
    }
    snapshot_pictures(s, rows_drawn(line, next_dot));
    if (hardware) {
        s.field(io_latch);
        s.field(latch_refreshed);
        s.field(odd_frame);
        s.field(short_frame);
        s.bounded(prefetched_count, uint8_t(0), uint8_t(PREFETCHED_TILES));
        for (PrefetchedTile& tile : prefetched) {
            s.field(tile.at);
            s.bounded(tile.nt_addr, uint16_t(0), uint16_t(0x3FFF));
            s.bounded(tile.at_addr, uint16_t(0), uint16_t(0x3FFF));
            s.bounded(tile.pattern_addr, uint16_t(0), uint16_t(0x1FFF));
            s.field(tile.tile_index);
            s.field(tile.pattern_lo);
            s.field(tile.pattern_hi);
            s.field(tile.attribute);
        }
        s.bounded(frozen_attribute, int16_t(-1), int16_t(255));
        s.field(a12_high);
        s.field(a12_fell_at);
        s.field(warming_up);
    }
}

template <class Pass> void PPU::snapshot_pictures(Pass& s, int rows) {
    size_t const drawn = size_t(rows) * SCREEN_WIDTH;
    s.bytes(color_index, drawn);
    // Emphasis is mostly off: its planes go in by non-zero pages (a row is a page).
    if (hardware) s.sparse(emphasis.get(), drawn);
    if (s.loading() && work_rgb) paint(color_index, emphasis.get(), work_rgb.get(), int(drawn));
    if (!s.picture) return;
    // A reader on another thread may be making the RGB form under this lock.
    std::lock_guard<std::mutex> lock(frame_mutex);
    // Saving reads the picture, maybe shared; loading writes one of the console's own.
    FinishedPicture& picture = s.loading() ? own_finished() : *finished;
    s.bytes(picture.values, sizeof picture.values);
    if (hardware) s.sparse(picture.tints.get(), PIXELS);
    if (s.loading() && rgb) paint(picture.values, picture.tints.get(), rgb.get());
}

// The passes the console runs: its own, fixed when compiled, and the general one.
template void PPU::snapshot(Snapshot&);
template void PPU::snapshot(SavingPass&);
template void PPU::snapshot(CheckingPass&);
template void PPU::snapshot(LoadingPass&);

} // namespace NES
