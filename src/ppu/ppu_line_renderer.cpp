// The renderer over spans of dots: run_until's fast paths. Each one stands in for a run
// of cycle() calls and leaves exactly the state those calls would leave.
//
// Within one run_until call nothing outside the PPU changes: PPUCTRL and PPUMASK, video
// memory, OAM, mirroring and the board stay as they were at the call, but for the CHR
// banks of a board whose latches follow the PPU's own reads (ppu_pattern_latches.cpp),
// which switch only at tile starts and the end of a line. So
// - dots that do nothing but count (the blank lines, the ends of visible lines) are
//   skipped in one step;
// - a run of visible dots 1-255 of one line is drawn with the line's sprites laid out
//   once into a line buffer, the attribute palette taken at each tile fetch and colours
//   read straight from palette memory;
// - dot 256 (vertical scroll step), dot 257 (sprite load) and the dots where vertical
//   blank starts and ends go through cycle(), the per-dot reference path.
#include <algorithm>
#include <bit>
#include <cstring>

#include "cartridge/mapper.hpp"
#include "ppu/palette.hpp"
#include "ppu/ppu.hpp"
#include "ppu/ppu_bits.hpp"

namespace NES {

using namespace ppu_bits;

namespace {

constexpr int32_t DOTS_PER_FRAME = 262 * DOTS_PER_LINE;
constexpr int32_t LAST_VISIBLE_LINE = 239;
// The last dot a span draws: dot 256 also steps the vertical scroll, and a board that
// watches the PPU address lines (MMC3) counts when the dot counter reaches 256.
constexpr int32_t LAST_SPAN_DOT = 255;
constexpr uint32_t MAPPER_MMC3 = 4;
constexpr uint32_t MAPPER_MMC5 = 5;
constexpr uint32_t MAPPER_NTDEC2722 = 40;
constexpr uint32_t MAPPER_FME7 = 69;
constexpr int32_t MMC3_COUNTING_DOT = 256;
// The MMC5 tells a line by the PPU's reads once dot 2 has passed.
constexpr int32_t MMC5_LINE_DOT = 3;

// Line-buffer byte of one sprite pixel: what draw_pixel's slot loop finds at that dot.
// 0 means no opaque sprite pixel (the slot, palette and priority then play no part).
constexpr uint8_t SPRITE_VALUE = 0x03;  // pattern value 1-3 of the winning slot
constexpr uint8_t SPRITE_SLOT = 0x1C;   // the slot, shifted left by 2
constexpr uint8_t SPRITE_BEHIND = 0x80; // attribute bit 5: behind the background
constexpr int SPRITE_SLOT_SHIFT = 2;
constexpr int SPRITE_PALETTE_SHIFT = 5;

// The dots (0-based within a span of n) at which a sprite slot is drawn, found from its X
// counter and active bit at the start of the span. Per dot, count_sprite_columns
// activates the slot when its counter reads 0 and deactivates it when the counter reads
// below -7, decrementing the counter every dot: so the slot is drawn while the counter
// reads between 0 and -7 (counted from 0 if it was already active) and never
// otherwise. The run is contiguous; `begin == end` when empty.
struct ActiveRun {
    int begin;
    int end;
    bool empty() const { return begin >= end; }
};

ActiveRun active_run(int32_t counter, bool active, int n) {
    int64_t begin = active ? 0 : counter;
    int64_t end = int64_t(counter) + 8;
    if (!active && counter < 0) end = begin; // its 0 already passed while inactive
    begin = std::max<int64_t>(begin, 0);
    end = std::min<int64_t>(end, n);
    if (end < begin) end = begin;
    return ActiveRun{int(begin), int(end)};
}

// A pattern byte as eight pixel bytes of 0 or 1, leftmost pixel (bit 7) in the lowest
// byte: the background pass builds a tile row's pixels from its two planes at once.
struct PixelRows {
    uint64_t of[256] = {};
    constexpr PixelRows() {
        for (int b = 0; b < 256; ++b)
            for (int i = 0; i < 8; ++i)
                of[b] |= uint64_t((b >> (7 - i)) & 1) << (8 * i);
    }
};
constexpr PixelRows PIXEL_ROWS{};
static_assert(std::endian::native == std::endian::little, "pixel bytes are stored in memory order");

// The background palette (0-3) of a tile: the quadrant of its attribute byte, as
// draw_pixel reads it.
int attribute_palette(uint8_t attribute, uint16_t nt_addr) {
    return (attribute >> (((nt_addr >> 1) & 1) * 2 + ((nt_addr >> 6) & 1) * 4)) & 3;
}

// map_memory on nametable addresses ($2000-$2FFF) as one AND and one OR for the
// mirroring in effect.
struct NametableFold {
    int and_mask = 0xFFFF;
    int or_mask = 0;
    explicit NametableFold(int32_t mirroring) {
        switch (mirroring) {
        case 0: and_mask = 0xFBFF; break;
        case 1: and_mask = 0xF7FF; break;
        case 3: and_mask = 0x03FF, or_mask = 0x2000; break;
        case 4: and_mask = 0x03FF, or_mask = 0x2400; break;
        default: break;
        }
    }
    int operator()(int address) const { return (address & and_mask) | or_mask; }
};

// map_memory on nametable addresses with the board's pages (PPU::nametable_page).
struct BoardPagesFold {
    int base[4];
    explicit BoardPagesFold(uint8_t const (&page)[4]) {
        for (int n = 0; n < 4; ++n)
            base[n] = 0x2000 + (page[n] << 10);
    }
    int operator()(int address) const { return base[(address >> 10) & 3] | (address & 0x03FF); }
};

template <bool BOARD_PAGES> auto nametable_fold(PPU const& ppu) {
    if constexpr (BOARD_PAGES)
        return BoardPagesFold(ppu.nametable_page);
    else
        return NametableFold(ppu.mirroring);
}

// What fetch_tile leaves in the PPU, and the tile's background palette.
struct TileFetch {
    uint16_t nt_addr;
    uint16_t at_addr;
    uint16_t pattern_addr;
    uint8_t tile_index;
    uint8_t pattern_lo;
    uint8_t pattern_hi;
    uint8_t palette;
};

} // namespace

void PPU::run_until(uint64_t target) {
    if (dot_count >= target) return;
    if (traces_a12) return run_tracing_a12(target);
    run_dots(target);
}

void PPU::run_dots(uint64_t target) {
    if (!spans_keep_board_clocks()) {
        while (dot_count < target)
            cycle();
        return;
    }
    // What cycle() computes at every dot; PPUMASK holds still for the whole call.
    rendering = (*ppumask & (MASK_BG | MASK_SPRITES)) != 0;
    while (dot_count < target) {
        uint64_t const left = target - dot_count;
        if (!post_render && scanline <= LAST_VISIBLE_LINE && dot >= 1 && dot <= LAST_SPAN_DOT) {
            draw_span(int(std::min<uint64_t>(left, uint64_t(LAST_SPAN_DOT + 1 - dot))));
        } else if (uint64_t const idle = idle_dots()) {
            advance_dots(std::min(left, idle));
        } else {
            cycle();
        }
    }
}

// Spans call the board's clock only where it can act. Verified boards: MMC3 acts only
// when the dot counter reads 256 and reads nothing of the PPU but the dot, vblank and
// PPUMASK; NTDEC 2722's timer counts every dot and reads nothing of the PPU; the FME-7
// reads nothing but the dot count, and acts once it has reached the dot of its IRQ; the
// MMC5 acts only when the dot counter reaches 3, reads nothing of the PPU but the dot,
// the line and PPUMASK, and changes nothing the drawing of its line sees (its IRQ, the
// in-frame flag and the line count), so a span across dot 3 may call it at its end. Any other
// counting board gets its clock after every dot through cycle().
bool PPU::spans_keep_board_clocks() const {
    return !mapper->clocked || mapper->number == MAPPER_MMC3 ||
           mapper->number == MAPPER_NTDEC2722 || mapper->number == MAPPER_FME7 ||
           mapper->number == MAPPER_MMC5;
}

// How many dots from here on do nothing but advance the counters (0 if this one acts).
// Visible lines act at dots 1-256, at 257 when rendering (sprite load) and at line 239
// dot 340 (post-render starts). From then until the frame wraps, vertical_blank_dot
// acts at line 241 dot 1 (if vertical blank has not started), line 261 dot 1, and when
// rendering at line 261 dots 257 and 280-304.
uint64_t PPU::idle_dots() const {
    if (!post_render) {
        if (scanline > LAST_VISIBLE_LINE) return 0; // not reached by a frame: dot by dot
        if (dot >= 1 && dot <= 256) return 0;
        if (dot == 257 && rendering) return 0;
        if (dot == 0) return 1;
        if (scanline == LAST_VISIBLE_LINE) return uint64_t(340 - dot);
        return uint64_t(DOTS_PER_LINE + 1 - dot); // the rest of the line and dot 0 of the next
    }
    int32_t const here = scanline * DOTS_PER_LINE + dot;
    int32_t next = DOTS_PER_FRAME; // the frame wrap ends post-render
    auto act_at = [&](int32_t line, int32_t d) {
        int32_t const at = line * DOTS_PER_LINE + d;
        if (at >= here && at < next) next = at;
    };
    if (!vblank) act_at(241, 1);
    act_at(261, 1);
    if (hardware) {
        act_at(261, SHORT_FRAME_DECISION_DOT); // whether an odd frame ends a dot early
        act_at(261, 340);
    }
    if (rendering) {
        act_at(261, 257);
        int32_t const reload_first = 261 * DOTS_PER_LINE + 280;
        int32_t const reload_last = 261 * DOTS_PER_LINE + 304;
        if (here >= reload_first && here <= reload_last) return 0;
        act_at(261, 280);
    }
    return uint64_t(next - here);
}

// Stands in for n advance_dot() calls after dots that changed nothing else (or whose
// changes the board cannot see), board clocks included.
void PPU::advance_dots(uint64_t n) {
    if (!mapper->clocked) {
        move_counters(n);
    } else if (mapper->number == MAPPER_MMC3 || mapper->number == MAPPER_MMC5) {
        // The only clock calls that act: the ones made as the dot counter reaches 256
        // (MMC3) or 3 (MMC5).
        int32_t const acting = mapper->number == MAPPER_MMC3 ? MMC3_COUNTING_DOT : MMC5_LINE_DOT;
        while (n > 0) {
            uint64_t const to_counting_dot =
                uint64_t(dot < acting ? acting - dot : acting + DOTS_PER_LINE - dot);
            uint64_t const step = std::min(n, to_counting_dot);
            move_counters(step);
            n -= step;
            if (dot == acting) mapper->clock(mapper_args);
        }
    } else if (mapper->number == MAPPER_NTDEC2722) {
        // NTDEC 2722: a timer that does not look at the PPU, one tick per dot.
        move_counters(n);
        for (uint64_t i = 0; i < n; ++i)
            mapper->clock(mapper_args);
    } else {
        // FME-7: its clock acts once the dot count has reached its IRQ's dot, and counts
        // CPU cycles up to the dot count it finds. Nothing sees its IRQ line before the
        // run ends, so one call after the run leaves what a call per dot would.
        move_counters(n);
        mapper->clock(mapper_args);
    }
}

// advance_dot's counting, n dots at once; crosses at most one frame wrap.
void PPU::move_counters(uint64_t n) {
    dot_count += n;
    int64_t position = int64_t(scanline) * DOTS_PER_LINE + dot + int64_t(n);
    if (position >= DOTS_PER_FRAME) {
        position -= DOTS_PER_FRAME;
        frame_count.store(frame_count.load(std::memory_order_relaxed) + 1,
                          std::memory_order_relaxed);
        odd_frame = !odd_frame;
        post_render = false;
    }
    scanline = int32_t(position / DOTS_PER_LINE);
    dot = int32_t(position % DOTS_PER_LINE);
}

// Stands in for n cycle() calls at visible dots dot .. dot + n - 1 (at most 255) of a
// visible line. Per dot, visible_dot counts the sprite columns, fetches, evaluates
// sprites for the next line and draws; these parts share no state but the PPUSTATUS
// byte, which they only OR bits into, so each runs over the whole span in turn.
void PPU::draw_span(int n) {
    uint8_t sprite_pixels[SCREEN_WIDTH];
    bool const any_sprite = draw_span_sprites(n, sprite_pixels);
    advance_sprite_counters(n);
    int const last = dot + n - 1;
    if (dot == 1 && (*ppumask & MASK_SPRITES)) clear_evaluation();
    int const evaluation = first_evaluation_dot();
    if (rendering && last >= evaluation) evaluate_span(std::max(dot, evaluation), last);
    uint8_t background_pixels[SCREEN_WIDTH + 8]; // room for a run's full eight bytes
    // A board with latches or taking part in the fetches takes the pipeline's instance
    // in both modes: the fast mode never has a prefetched tile, so that instance's tests
    // find none there.
    if (pattern_latches)
        draw_span_background<true, true>(n, background_pixels);
    else if (board_fetches)
        draw_span_background<true, false, true>(n, background_pixels);
    else if (hardware)
        draw_span_background<true, false>(n, background_pixels);
    else
        draw_span_background<false, false>(n, background_pixels);
    draw_span_pixels(n, background_pixels, any_sprite ? sprite_pixels : nullptr);
    advance_dots(uint64_t(n));
}

// The line buffer: per dot of the span, the pixel of the lowest-numbered slot with an
// opaque pixel there, as draw_pixel's slot loop finds it from the counters that
// count_sprite_columns would leave at that dot. False when no dot has one.
bool PPU::draw_span_sprites(int n, uint8_t* pixels) const {
    std::memset(pixels, 0, size_t(n));
    bool any = false;
    uint8_t const ctrl = uint8_t(*ppuctrl);
    for (int i = line_count - 1; i >= 0; --i) {
        bool const active = active_mask & (1 << i);
        ActiveRun const run = active_run(x_counters[i], active, n);
        if (run.empty()) continue;
        uint8_t const* s = line_sprites + i * 4;
        uint8_t const attr = s[2];
        uint8_t lo, hi;
        sprite_row_planes(i, ctrl, lo, hi);
        uint8_t const tag = uint8_t(i << SPRITE_SLOT_SHIFT | (attr & 3) << SPRITE_PALETTE_SHIFT |
                                    ((attr & ATTR_BEHIND_BG) ? SPRITE_BEHIND : 0));
        // The column counts down from its value at the span start, one step earlier if
        // the slot was already being drawn.
        uint8_t column = uint8_t(sprite_columns[i] - (active ? 1 : 0));
        for (int j = run.begin; j < run.end; ++j, --column) {
            int const bit = (attr & ATTR_FLIP_X) ? 7 - column : column;
            int const value = ((hi >> bit) & 1) << 1 | ((lo >> bit) & 1);
            if (value) {
                pixels[j] = uint8_t(tag | value);
                any = true;
            }
        }
    }
    return any;
}

// count_sprite_columns over n dots: every counter drops by n; a column steps at every
// dot that starts with its slot active (the first dot if it was, then each dot after a
// drawn one, which includes the dot that deactivates it).
void PPU::advance_sprite_counters(int n) {
    for (int i = 0; i < line_count; ++i) {
        uint8_t const bit = uint8_t(1 << i);
        bool const active = active_mask & bit;
        ActiveRun const run = active_run(x_counters[i], active, n);
        int steps = active ? 1 : 0;
        if (!run.empty()) steps += std::min(run.end + 1, n) - (run.begin + 1);
        sprite_columns[i] = uint8_t(sprite_columns[i] - steps);
        bool const active_at_end = !run.empty() && run.end == n;
        active_mask = uint8_t(active_at_end ? active_mask | bit : active_mask & ~bit);
        if (x_counters[i] > X_COUNTER_SPENT)
            x_counters[i] = int32_t(std::max<int64_t>(X_COUNTER_SPENT, int64_t(x_counters[i]) - n));
    }
}

// evaluation_step at dots first..last (first_evaluation_dot() or later). Once eight
// sprites are found and the overflow scan reached the end of OAM, the rest of the line
// does nothing. While fewer than eight are found, only the even dots after the first
// evaluate (one OAM sprite each); from the dot after the eighth is found, every dot (in
// hardware mode every even dot, a read and a write each) scans for overflow.
void PPU::evaluate_span(int first, int last) {
    int const height = (*ppuctrl & CTRL_TALL_SPRITES) ? 16 : 8;
    int d = first;
    if (next_count < 8) {
        int even = std::max(d, first_evaluation_dot() + 1);
        even += even & 1;
        even = evaluate_sprites(even, last, height);
        if (next_count < 8) return;
        d = even - 1; // the dot after the one that found the eighth
    }
    int const step = hardware ? 2 : 1;
    if (hardware) d += d & 1;
    for (; d <= last && !eval_done; d += step)
        scan_overflow(height);
}

// The background fetches and scroll steps of the span's dots, and each dot's
// background pixel as palette * 4 + pattern value, before the left-column and
// PPUMASK tests (the sprite priority and the sprite 0 hit look at the raw value).
// visible_dot fetches at dot 8k + 1 when rendering, fetches ahead when the fine position
// wraps to 0 and steps `v` after dot 8k when rendering: between those events the
// pixels only walk the fetched tile's pattern bits, so they are emitted in runs.
//
// A tile fetched ahead is fetched again at the next tile start from the same `v` (the
// scroll step between them forms the same address as the fetch ahead), the same fine Y
// and, within a span, the same video memory and PPUCTRL: the fetch would leave every
// field as it is, so it is skipped.
//
// The fetches are made into locals and the PPU's fetch fields written once at the end:
// fetch_tile's reads then depend on nothing stored on the way (its pattern table bit and
// the fine Y of `v` hold still within a span), so consecutive tiles' reads overlap.
//
// FETCH_PIPELINE is hardware mode's: a tile its fetch pipeline fetched before a CPU write
// (ppu_fetch_pipeline.cpp) is taken as fetched then. The fast mode never has one, so its
// instance leaves the test out of the per-tile fetch.
//
// PATTERN_LATCHES is for a board that follows the pattern reads: it hears of each tile
// as the tile starts (visible_dot's order, ppu_pattern_latches.cpp), also when the tile
// was fetched ahead before, unless the fetch pipeline fetched it, which told the board
// then. A flip only copies banks into video memory, which the next fetch reads; the
// tiles fetched before it keep their planes. No flip comes between a tile's fetch ahead
// and its start, so the second fetch may still be skipped.
//
// BOARD_FETCHES is for a board that takes part in the fetches (MMC5): nametables fold
// through its pages, and it has its say in each tile fetched (show_board_tile), whose
// attribute byte it may give: the tile drawn at the span's start and the last one
// fetched keep it in frozen_attribute, as the per-dot renderer does. Nothing the board
// looks at changes within a span, so a second fetch of a tile would still find the same.
template <bool FETCH_PIPELINE, bool PATTERN_LATCHES, bool BOARD_FETCHES>
void PPU::draw_span_background(int n, uint8_t* pixels) {
    int const first = dot;
    auto const fold = nametable_fold<BOARD_FETCHES>(*this);
    signed char const* const video = memory;
    int const pattern_base = ((*ppuctrl & CTRL_BG_TABLE) ? 0x1000 : 0) | ((v >> 12) & 7);
    TileFetch tile{
        nt_addr, at_addr, pattern_addr, tile_index, uint8_t(pattern_lo), uint8_t(pattern_hi), 0};
    uint8_t const attribute = FETCH_PIPELINE && frozen_attribute >= 0
                                  ? uint8_t(frozen_attribute)
                                  : uint8_t(memory[fold(at_addr)]);
    int16_t board_attribute = frozen_attribute; // the board's for the last tile fetched
    tile.palette = uint8_t(attribute_palette(attribute, nt_addr));
    int fine = fine_pos;
    int d = first;
    int32_t fetched_from = -1; // the address of the span's last fetch
    bool fetched_any = false;
    bool from_pipeline = false; // the last fetch took the fetch pipeline's tile
    auto fetch = [&](uint16_t from, int start) {
        if (FETCH_PIPELINE && prefetched_count &&
            take_prefetched(dot_count + uint64_t(start - first))) {
            tile = TileFetch{nt_addr,
                             at_addr,
                             pattern_addr,
                             tile_index,
                             uint8_t(pattern_lo),
                             uint8_t(pattern_hi),
                             0};
            tile.palette = uint8_t(attribute_palette(uint8_t(frozen_attribute), nt_addr));
            fetched_from = from;
            fetched_any = false; // the fields hold this tile already
            if constexpr (PATTERN_LATCHES) from_pipeline = true;
            return;
        }
        if (from == fetched_from) return;
        fetched_from = from;
        fetched_any = true;
        if (FETCH_PIPELINE) frozen_attribute = -1;
        tile.nt_addr = uint16_t(0x2000 | (from & 0x0FFF));
        tile.at_addr =
            uint16_t(0x23C0 | (from & 0x0C00) | ((from >> 4) & 0x38) | ((from >> 2) & 0x07));
        tile.tile_index = uint8_t(video[fold(tile.nt_addr)]);
        tile.pattern_addr = uint16_t(tile.tile_index << 4 | pattern_base);
        tile.pattern_lo = uint8_t(video[tile.pattern_addr]);
        tile.pattern_hi = uint8_t(video[tile.pattern_addr + 8]);
        tile.palette = uint8_t(attribute_palette(uint8_t(video[fold(tile.at_addr)]), tile.nt_addr));
        if constexpr (BOARD_FETCHES) {
            BackgroundTile shown{tile.nt_addr,    tile.tile_index, uint8_t((v >> 12) & 7),
                                 tile.pattern_lo, tile.pattern_hi, -1};
            mapper->fetch_background(*this, scanline, from, shown);
            tile.tile_index = shown.tile_index;
            tile.pattern_lo = shown.pattern_lo;
            tile.pattern_hi = shown.pattern_hi;
            board_attribute = shown.attribute;
            if (shown.attribute >= 0)
                tile.palette = uint8_t(attribute_palette(uint8_t(shown.attribute), tile.nt_addr));
        }
    };
    while (d < first + n) {
        if (rendering && ((d - 1) & 7) == 0) {
            if constexpr (PATTERN_LATCHES) {
                from_pipeline = false;
                fetch(v, d);
                if (!from_pipeline) tell_pattern_read(uint16_t(tile.pattern_addr | 8));
            } else {
                fetch(v, d);
            }
            fine = x & 7;
        }
        int run = std::min(first + n - d, 8 - fine);
        if (rendering) run = std::min(run, 8 - ((d - 1) & 7)); // up to the next tile start
        // The tile row's eight pixels from fine position `fine` on; all eight bytes are
        // stored, and the ones past the run are overwritten by the next run.
        uint64_t const row = (PIXEL_ROWS.of[tile.pattern_lo] | PIXEL_ROWS.of[tile.pattern_hi] << 1 |
                              uint64_t(tile.palette << 2) * 0x0101010101010101) >>
                             (8 * fine);
        std::memcpy(pixels + (d - first), &row, sizeof row);
        fine += run;
        d += run;
        int const last_drawn = d - 1;
        if (fine == 8) {
            // The fine X scroll carried into the next tile: fetch it ahead, leaving `v`.
            fine = 0;
            fetch(coarse_x_incremented(v), ((last_drawn - 1) & ~7) + 9);
        }
        if (rendering && (last_drawn & 7) == 0) v = coarse_x_incremented(v); // v_horiz
    }
    fine_pos = uint8_t(fine);
    if (fetched_any) {
        nt_addr = tile.nt_addr;
        at_addr = tile.at_addr;
        tile_index = tile.tile_index;
        pattern_addr = tile.pattern_addr;
        pattern_lo = tile.pattern_lo;
        pattern_hi = tile.pattern_hi;
        if constexpr (BOARD_FETCHES) frozen_attribute = board_attribute;
    }
}

// draw_pixel for the span's dots, from the background and sprite line buffers. Colours
// come straight from palette memory: every address draw_pixel forms (0x3F00,
// 0x3F01-0x3F0F with a nonzero value, 0x3F11-0x3F1F with a nonzero value) folds onto
// itself. Dots 1-8 and 9-255 are drawn apart, as the left-column bits apply to the first.
void PPU::draw_span_pixels(int n, uint8_t const* background, uint8_t const* sprites) {
    if (!draw_pictures) {
        if (sprites) find_sprite0_hit(n, background, sprites);
        return;
    }
    int const first = dot;
    int const left_end = std::min(first + n, 9); // first dot past the left columns
    int const from = std::max(first, 9);
    if (sprites) {
        if (first < left_end) combine_pixels(first, left_end, background, sprites);
        if (from < first + n) combine_pixels(from, first + n, background, sprites);
    } else {
        if (first < left_end) combine_background(first, left_end, background);
        if (from < first + n) combine_background(from, first + n, background);
    }
}

// combine_pixels where no sprite pixel is opaque: the background pixel when it is
// shown and not transparent, else the backdrop 0x3F00 (no sprite 0 hit without a
// sprite pixel).
void PPU::combine_background(int from, int to, uint8_t const* background) {
    uint8_t const mask = uint8_t(*ppumask);
    bool const left = from <= 8;
    bool const background_shown = (mask & MASK_BG) && (!left || (mask & MASK_BG_LEFT));
    signed char const* const palette_memory = memory + 0x3F00;
    uint8_t colours[SCREEN_WIDTH];
    uint8_t const* const pixels = background + (from - dot);
    int const count = to - from;
    int const backdrop = backdrop_entry();
    if (background_shown) {
        // A background pixel is palette * 4 + value: sixteen possible colours.
        uint8_t colour_of[16];
        for (int pixel = 0; pixel < 16; ++pixel)
            colour_of[pixel] = uint8_t(palette_memory[(pixel & 3) ? pixel : 0]);
        // Only hardware mode shows another backdrop entry (the one at v, rendering off).
        if (backdrop != 0)
            for (int pixel = 0; pixel < 16; pixel += 4)
                colour_of[pixel] = uint8_t(palette_memory[backdrop]);
        for (int j = 0; j < count; ++j)
            colours[j] = colour_of[pixels[j] & 15];
    } else {
        std::memset(colours, uint8_t(palette_memory[backdrop]), size_t(count));
    }
    store_colours(from, to, colours);
}

// Dots from..to-1 take colours[0..]. With an RGB form, a pixel's RGB bytes are written
// only when its palette value changes, so runs of eight unchanged pixels are passed over
// whole. Palette cells hold 8 bits but there are 64 colours: the top two bits are ignored.
void PPU::store_colours(int from, int to, uint8_t const* colours) {
    if (hardware) return store_colours_exactly(from, to, colours);
    int const first_pixel = scanline * SCREEN_WIDTH + from - 1;
    uint8_t* const index = color_index + first_pixel;
    int const count = to - from;
    if (!work_rgb) {
        std::memcpy(index, colours, size_t(count));
        return;
    }
    uint8_t* const rgb_pixels = work_rgb.get() + 3 * first_pixel;
    for (int j = 0; j < count; j += 8) {
        int const k = std::min(8, count - j);
        if (k == 8 && std::memcmp(index + j, colours + j, 8) == 0) continue;
        for (int i = j; i < j + k; ++i) {
            if (index[i] == colours[i]) continue;
            index[i] = colours[i];
            std::memcpy(rgb_pixels + 3 * i, NTSC_TO_RGB + 3 * (colours[i] & 0x3F), 3);
        }
    }
}

// All the CPU can see of pixels that are not drawn: the sprite 0 hit, found over the
// span's dots exactly as combine_pixels finds it (the left-column bits do not mask it).
void PPU::find_sprite0_hit(int n, uint8_t const* background, uint8_t const* sprites) {
    uint8_t const mask = uint8_t(*ppumask);
    if (!sprite0_line || (mask & (MASK_BG | MASK_SPRITES)) != (MASK_BG | MASK_SPRITES)) return;
    int const first = hardware_clips_hit(mask) ? std::max(0, 9 - dot) : 0;
    for (int j = first; j < n; ++j) {
        if (sprites[j] != 0 && (sprites[j] & SPRITE_SLOT) == 0 && (background[j] & 3)) {
            *ppustatus = static_cast<signed char>(*ppustatus | STATUS_SPRITE0_HIT);
            return;
        }
    }
}

// Dots from..to-1, all within the left columns (1-8) or all right of them.
void PPU::combine_pixels(int from, int to, uint8_t const* background, uint8_t const* sprites) {
    uint8_t const mask = uint8_t(*ppumask);
    bool const left = from <= 8;
    bool const sprites_on = mask & MASK_SPRITES;
    bool const background_shown = (mask & MASK_BG) && (!left || (mask & MASK_BG_LEFT));
    bool const sprites_shown = !left || (mask & MASK_SPRITES_LEFT);
    bool const hit_possible = sprite0_line &&
                              (mask & (MASK_BG | MASK_SPRITES)) == (MASK_BG | MASK_SPRITES) &&
                              !(left && hardware_clips_hit(mask));
    signed char const* const palette_memory = memory + 0x3F00;
    uint8_t colours[SCREEN_WIDTH];
    bool hit = false;
    int const backdrop = backdrop_entry();
    for (int d = from; d < to; ++d) {
        int const j = d - dot;
        int const bg_pixel = background[j];
        int const bg = bg_pixel & 3;
        uint8_t const sprite_pixel = sprites[j];
        int entry = backdrop; // palette memory 0x3F00 + entry
        if (sprite_pixel == 0) {
            if (background_shown && bg) entry = bg_pixel;
        } else {
            int const sprite = sprite_pixel & SPRITE_VALUE;
            if (hit_possible && bg && (sprite_pixel & SPRITE_SLOT) == 0) hit = true;
            if (!bg || !(sprite_pixel & SPRITE_BEHIND)) {
                int const value = sprites_on ? sprite : bg;
                if (sprites_shown && value)
                    entry = 0x10 + 4 * (sprite_pixel >> SPRITE_PALETTE_SHIFT & 3) + value;
            } else if (background_shown) {
                entry = bg_pixel;
            }
        }
        colours[d - from] = uint8_t(palette_memory[entry]);
    }
    store_colours(from, to, colours);
    if (hit) *ppustatus = static_cast<signed char>(*ppustatus | STATUS_SPRITE0_HIT);
}

} // namespace NES
