// The picture processing unit: video memory (pattern tables, nametables, palette), OAM,
// the scroll registers and the eight CPU-visible registers.
//
// The CPU-visible registers have no storage here: each is the byte of the CPU memory
// image at its address, which the CPU bus stores after the register's side effect. The
// PPU keeps pointers to those bytes and reads PPUCTRL and PPUMASK (and writes
// PPUSTATUS) in place.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "console/recycled_storage.hpp"

namespace NES {

constexpr int SCREEN_WIDTH = 256;
constexpr int SCREEN_HEIGHT = 240;
constexpr int PIXELS = SCREEN_WIDTH * SCREEN_HEIGHT;
constexpr int FRAME_BYTES = PIXELS * 3; // RGB, row-major

class CPU;
class ROM;
class Mapper;

class PPU : public RecycledStorage<PPU> {
public:
    explicit PPU(CPU* cpu);
    PPU(PPU const&) = delete;
    PPU& operator=(PPU const&) = delete;

    CPU* cpu;
    ROM* rom = nullptr;
    uint64_t dot_count = 0; // dots since construction or the last CPU reset
    // Completed frames. Only the stepping thread writes it; other threads may read it.
    std::atomic<uint64_t> frame_count{0};
    // Video address space 0x0000-0x3FFF, and a few bytes past it: the pattern fetch reads
    // the second plane 8 bytes past the pattern address, which a restored snapshot may
    // hold anywhere up to 0x3FFF.
    signed char memory[0x4000 + 0x10] = {};
    uint8_t oam[256] = {}; // 64 sprites: Y, tile, attributes, X
    // Up to 8 sprites chosen for the next line; each Y byte holds OAM Y + 1.
    uint8_t secondary_oam[32] = {};
    int32_t scanline = 0; // 0-261
    int32_t dot = 25;     // 0-340: the next dot to be processed
    // 0 horizontal, 1 vertical, 2 four-screen, 3 single-screen (lower), 4 single-screen
    // (upper), 5 the board's pages: see Mirroring in cartridge/rom.hpp.
    int32_t mirroring = 0;
    Mapper* mapper = nullptr;
    bool vblank = false;       // from scanline 241 dot 1 to scanline 261 dot 1
    int32_t chr_bank = 0;      // first 1 KiB CHR bank that loadRom shows (CNROM sets it)
    bool suppress_vbl = false; // a PPUSTATUS read raced the start of vertical blank
    bool nmi_occurred = false; // the vertical-blank NMI condition the CPU samples
    bool suppress_nmi = false;
    bool rendering = false; // PPUMASK bit 3 or 4: background or sprites on
    // v and t: bits 0-4 coarse X, 5-9 coarse Y, 10-11 nametable, 12-14 fine Y.
    uint16_t v = 0;
    uint16_t t = 0;
    uint8_t x = 0;  // fine X scroll
    bool w = false; // write toggle shared by PPUSCROLL and PPUADDR
    uint8_t oam_addr = 0;
    uint16_t nt_addr = 0;    // nametable address of the tile being drawn
    uint16_t at_addr = 0;    // its attribute byte
    uint16_t pattern_hi = 0; // pattern bit plane 1 of the tile row being drawn
    uint16_t pattern_lo = 0; // pattern bit plane 0
    uint8_t read_buffer = 0; // PPUDATA read buffer
    signed char* ppuctrl = nullptr;
    signed char* ppumask = nullptr;
    signed char* ppustatus = nullptr;
    signed char* oamaddr = nullptr;
    signed char* oamdata = nullptr;
    signed char* ppuscroll = nullptr;
    signed char* ppuaddr = nullptr;
    signed char* ppudata = nullptr;
    signed char* oamdma = nullptr;
    std::mutex frame_mutex; // held while the finished picture changes or is read
    void* mapper_args[3] = {nullptr, nullptr, nullptr}; // {CPU, this PPU, APU}
    uint8_t fine_pos = 0;      // pixel column 0-7 inside the current background tile
    uint8_t tile_index = 0;    // last nametable byte fetched
    uint16_t pattern_addr = 0; // pattern address of the last fetched tile row
    bool post_render = false;  // from scanline 239 dot 340 until the frame wraps
    // Sprite evaluation for the next line.
    uint8_t eval_n = 0;     // OAM byte index
    uint8_t eval_m = 0;     // byte offset 0-3 of the overflow scan
    bool eval_done = false; // the index wrapped past OAM byte 255
    uint8_t next_count = 0; // sprites found for the next line, 0-8
    // The current line's sprites: 8 x (Y + 1, tile, attributes, X).
    uint8_t line_sprites[32] = {};
    int8_t line_count = 0;
    int32_t x_counters[8] = {}; // per-slot X down-counters
    // Where an X counter stops: a slot whose counter has gone below -7 is drawn no more,
    // and the counter only runs on while rendering stays off (nothing reloads it), so it
    // is held here instead of running down for minutes until it wraps round to a
    // positive count and draws the sprite again.
    static constexpr int32_t X_COUNTER_SPENT = -9;
    int32_t next_x[8] = {};         // X of each sprite chosen for the next line
    uint8_t active_mask = 0;        // bit i: slot i is being drawn
    uint8_t sprite_columns[8] = {}; // per-slot pattern bit position, 7 down to 0
    bool sprite0_next = false;      // OAM sprite 0 is in the next line's list (slot 0)
    bool sprite0_line = false;      // ... and in the current line's
    // The pictures are palette values, a byte a pixel: `color_index` the frame being
    // drawn, and the last finished one (FinishedPicture, below). Their RGB forms are made
    // only once a reader asks for RGB (rgb_picture), so that a console nobody looks at as
    // RGB (the batch stepper's consoles, the copies a search keeps) carries a quarter of
    // the picture memory. Before the first frame finishes, the finished picture is all
    // colour $0F, which is black.
    uint8_t color_index[PIXELS] = {};
    static constexpr uint8_t BLACK = 0x0F;
    // Cleared by a stepper that will not look at the coming frames' pictures (the batch
    // stepper's skipped frames): the pixels' colours are neither worked out nor stored and
    // the picture is not published, while everything the CPU can see (fetches, sprite 0
    // hits, timing) stays the same. Every pixel of a frame is drawn, so the first frame
    // drawn again comes out whole. Last, so that the hot fields above keep their places.
    bool draw_pictures = true;

    // Hardware mode: the PPU answers the CPU at the exact dot (ppu_exact.cpp).
    bool hardware = false;
    uint8_t io_latch = 0; // the CPU-facing data bus, which reads of write-only registers return
    uint64_t latch_refreshed[8] = {}; // per latch bit, the dot count when it last took a 1
    // Toggled by every frame; an odd frame with rendering on skips its last dot.
    bool odd_frame = false;
    // Decided on the pre-render line: this frame is an odd one with rendering on. The
    // console looks at PPUMASK for it at dot 338 (as the even/odd timing test cartridge
    // tells with the CPU at the PPU's dots as dot_of_cycle puts it), before the skip.
    bool short_frame = false;
    static constexpr int32_t SHORT_FRAME_DECISION_DOT = 338;
    // From power-on until the pre-render line's dot 1 ends the first vertical blank, the
    // PPU's internal reset signal holds: writes to PPUCTRL, PPUMASK, PPUSCROLL and PPUADDR
    // are ignored (w does not toggle), the other registers work. The reset button does
    // not raise it again.
    bool warming_up = false;
    // The board watches address line A12 (MMC3 in hardware mode): the PPU tells it of
    // every change of the line, at its dot (ppu_address_line.cpp).
    bool traces_a12 = false;
    // The board follows the pattern reads (MMC2, MMC4): the renderer tells it of them in
    // the console's order (ppu_pattern_latches.cpp), and draws each line's sprites from
    // the planes it fetched for them at dot 257 of the line before, since a latch may
    // switch banks between there and the drawing.
    bool pattern_latches = false;
    uint8_t sprite_pattern_lo[8] = {};
    uint8_t sprite_pattern_hi[8] = {};
    // The board takes part in the fetches (Mapper::joins_fetches: MMC5). With the
    // MIRROR_BOARD_PAGES arrangement, nametable n ($2000 + n * $400, and $3000 + n * $400)
    // shows page nametable_page[n] of the memory image: page p is the 1 KiB at $2000 +
    // p * $400, so pages 0-3 are $2000-$2FFF and page 4 the unused $3000-$33FF. The PPU
    // never stores into a page whose bit is set in `locked_pages`. The board changes
    // background fetches as it likes, and gives the sprite rows' planes at dot 257, which
    // are kept as for latch boards. `line_start_x` is v's horizontal part as dot 257 of
    // the line before loaded it: where a line's first tile lies.
    bool board_fetches = false;
    static constexpr int BOARD_PAGES = 5;
    uint8_t nametable_page[4] = {0, 0, 0, 0};
    uint8_t locked_pages = 0;
    uint16_t line_start_x = 0;
    bool keeps_sprite_planes() const { return pattern_latches || board_fetches; }
    // The console fetches each background tile 16 dots before it draws it, this renderer
    // as it draws it. Before a CPU write that could change a fetch (PPUCTRL, PPUADDR,
    // PPUDATA, a board's bank switch) lands in the middle of a rendered line, the tiles
    // the console has fetched already and this renderer not yet are fetched with the
    // state before the write, and the renderer takes them when it comes to them
    // (ppu_fetch_pipeline.cpp).
    struct PrefetchedTile {
        uint64_t at; // the dot count of the renderer's fetch
        uint16_t nt_addr;
        uint16_t at_addr;
        uint16_t pattern_addr;
        uint8_t tile_index;
        uint8_t pattern_lo;
        uint8_t pattern_hi;
        uint8_t attribute;
    };
    static constexpr int PREFETCHED_TILES = 4;
    PrefetchedTile prefetched[PREFETCHED_TILES] = {};
    uint8_t prefetched_count = 0;
    // The attribute byte of a prefetched tile being drawn (-1: read it where it lies).
    int16_t frozen_attribute = -1;
    // Fetches what the console has fetched ahead; then PPUADDR's second write may set v.
    void freeze_fetches();
    // After PPUADDR's second write during rendering: v as this renderer counts it, which
    // runs up to two tiles behind the console's.
    void align_written_v();
    bool a12_high = false;    // the line as last reported
    uint64_t a12_fell_at = 0; // the dot count when it last fell
    // Hardware mode: the emphasis bits (PPUMASK bits 5-7) each pixel was drawn with, for
    // the frame being drawn and the finished one; the fast mode has no emphasis.
    std::unique_ptr<uint8_t[]> emphasis;
    void keep_emphasis();

    // The finished picture. Consoles cloned from one another share it until either
    // publishes a new one (ppu_picture.cpp), so a clone copies no picture.
    struct FinishedPicture : RecycledStorage<FinishedPicture> {
        uint8_t values[PIXELS];
        std::unique_ptr<uint8_t[]> tints; // hardware mode's emphasis bits
    };
    uint8_t const* finished_values() const { return finished->values; }
    uint8_t const* finished_tints() const { return finished->tints.get(); }
    // For a snapshot being loaded: the finished picture, this console's own to change.
    FinishedPicture& own_finished();
    // The batch stepper's clone: the target shares the source's finished picture. Both
    // must be marked shared first (mark_finished_shared), which the source is once,
    // before the targets take it on several threads.
    void mark_finished_shared() { finished_shared = true; }

    // The last finished picture as RGB (FRAME_BYTES), made on the first call and kept up
    // to date from then on, at the same address for the PPU's lifetime: every vertical
    // blank overwrites it whole.
    uint8_t* rgb_picture();
    // The RGB form of the first `pixels` pixels of a picture given as palette values and
    // emphasis bits (null: none), into 3 x `pixels` bytes at `rgb`.
    static void paint(uint8_t const* values, uint8_t const* tints, uint8_t* rgb,
                      int pixels = PIXELS);
    void share_finished_picture(PPU const& from);

    void loadRom(ROM* rom);
    // The reset line: PPUCTRL, PPUMASK, the scroll latches and the read buffer cleared.
    void press_reset();
    // The address PPUDATA reaches through v (hardware mode's mirroring).
    uint16_t data_address() const;
    // The CPU bus's side of $2000-$2007 in hardware mode; `bus` is the CPU's open bus.
    uint8_t read_register_exactly(uint16_t addr, uint8_t bus);
    void write_register_exactly(uint16_t addr, signed char& value);
    // Every field of the state in a console snapshot (persistence/snapshot.hpp).
    template <class Pass> void snapshot(Pass& s);
    template <class Pass> void snapshot_pictures(Pass& s, int rows);
    uint8_t read(int16_t addr);
    void write(int16_t addr, signed char value);
    int16_t map_memory(int16_t& addr) const;
    // Where nametable address `a` ($2000-$2FFF) lies with the board's pages; out of line,
    // so that the inline fold the other arrangements take stays small.
    [[gnu::noinline]] int board_page_address(int a) const {
        return 0x2000 + (nametable_page[(a >> 10) & 3] << 10) + (a & 0x03FF);
    }
    int64_t get_addr(signed char const* p) const { return p - memory; }
    void set_registers();
    void v_horiz();
    void v_vert();
    // The fine and coarse Y step of v at dot 256.
    static uint16_t row_below(uint16_t v);
    void apply_and_update_registers();
    void cycle();
    // Processes dots until dot_count reaches `target`; exactly what as many cycle() calls
    // would do.
    void run_until(uint64_t target);
    // The dot_count right after the dot that completes the current frame (the wrap from
    // line 261 to line 0).
    uint64_t frame_end_dot() const {
        return dot_count + uint64_t((261 - scanline) * 341 + (340 - dot)) + 1;
    }
    // The earliest dot_count at which the CPU could find something changed without
    // touching a PPU register: once dot_count passes it, the console must catch the PPU
    // up before the next instruction. The PPU raises the NMI condition at line 241 dot 1,
    // drops it at line 261 dot 1 and ends the frame at line 261 dot 340; a board that
    // counts dots may raise an IRQ.
    uint64_t next_event_dot() const;
    // Hardware mode, for a board that watches A12: the dot count at which the line may
    // next rise (UINT64_MAX when nothing the PPU does unasked can raise it), and the
    // line's level after a CPU access put v on the PPU's address bus.
    uint64_t next_a12_rise_dot() const;
    void put_v_on_address_bus();

    // The CPU bus's side of $2000-$2007. A write may change the byte that the bus then
    // stores (OAMDATA masks attribute bytes).
    [[gnu::always_inline]] uint8_t read_register(uint16_t addr);
    void write_register(uint16_t addr, signed char& value);

private:
    uint8_t decayed_latch();
    uint8_t drive_latch(uint8_t driven, uint8_t value);
    uint8_t drive_latch_from_data();
    void step_data_address();
    bool rendering_line() const;
    uint8_t read_status();
    void advance_address() { v = uint16_t(v + ((*ppuctrl & 0x04) ? 32 : 1)); }
    // The register latches both modes' writes share, inline so that the fast mode's
    // write_register, the bus's only caller of it, stays inlined into the bus.
    void latch_nametable_select(uint8_t d) { t = uint16_t((t & 0xF3FF) | ((d << 10) & 0x0C00)); }
    // Bits 2-4 of a sprite's attribute byte do not exist: they read back as 0.
    void store_oam(signed char& value) {
        if ((oam_addr & 3) == 2) value = static_cast<signed char>(value & 0xE3);
        oam[oam_addr++] = uint8_t(value);
    }
    void latch_scroll(uint8_t d) {
        if (!w) {
            t = uint16_t((t & 0xFFE0) | (d >> 3));
            x = d & 7;
        } else {
            t = uint16_t((t & 0x8C1F) | ((d & 7) << 12) | ((d >> 3) << 5));
        }
        w = !w;
    }
    void latch_address(uint8_t d) {
        if (!w) {
            t = uint16_t((t & 0x80FF) | ((d & 0x3F) << 8));
        } else {
            t = uint16_t((t & 0xFF00) | d);
            v = t;
        }
        w = !w;
    }

    // The renderer, dot by dot.
    void visible_dot();
    // The background tile at v = `from`, for the renderer's fetch on dot count `at`; false
    // when the fetch pipeline had fetched it already.
    bool fetch_tile(uint16_t from, uint64_t at);
    [[gnu::noinline]] void show_board_tile(int line, uint16_t from);
    void count_sprite_columns();
    void clear_evaluation();
    void evaluation_step();
    int evaluate_sprites(int even, int last, int sprite_height);
    void scan_overflow(int sprite_height);
    void reload_horizontal();
    void load_line_sprites();
    void draw_pixel();
    int sprite_row_address(uint8_t const* sprite, uint8_t ctrl, int line) const;
    void sprite_row_planes(int slot, uint8_t ctrl, uint8_t& lo, uint8_t& hi) const;
    void publish_frame();
    // The RGB forms of the frame being drawn (the stepping thread's) and of the finished
    // one (guarded by frame_mutex). While the first exists, a pixel's RGB bytes are
    // written as it is drawn, only when its palette value changes.
    std::unique_ptr<uint8_t[]> work_rgb;
    std::unique_ptr<uint8_t[]> rgb;
    std::shared_ptr<FinishedPicture> finished;
    bool finished_shared = false;
    void vertical_blank_dot();
    void begin_frame();
    void advance_dot();

    bool take_prefetched(uint64_t at);
    void show_board_prefetch(int line, uint16_t from, PrefetchedTile& fetched) const;
    uint16_t v_at_tile_start(int line, int start) const;

    // A12 as the fetches move it (ppu_address_line.cpp).
    void run_tracing_a12(uint64_t target);
    int next_a12_candidate(int line, int dot) const;
    bool a12_at(int line, int dot) const;
    void report_a12(bool high, uint64_t at_dot);

    // The pattern reads a board with latches hears of (ppu_pattern_latches.cpp).
    void tell_pattern_read(uint16_t address);
    uint16_t background_row_address(uint16_t from);
    void fetch_line_end_tiles();
    void fetch_sprite_patterns();
    void fetch_pre_render_tiles();

    // The renderer over spans of dots, for run_until (ppu_line_renderer.cpp).
    void run_dots(uint64_t target);
    bool spans_keep_board_clocks() const;
    uint64_t idle_dots() const;
    void advance_dots(uint64_t n);
    void move_counters(uint64_t n);
    void draw_span(int n);
    bool draw_span_sprites(int n, uint8_t* pixels) const;
    void advance_sprite_counters(int n);
    void evaluate_span(int first, int last);
    template <bool FETCH_PIPELINE, bool PATTERN_LATCHES, bool BOARD_FETCHES = false>
    void draw_span_background(int n, uint8_t* pixels);
    void draw_span_pixels(int n, uint8_t const* background, uint8_t const* sprites);
    void combine_pixels(int from, int to, uint8_t const* background, uint8_t const* sprites);
    void find_sprite0_hit(int n, uint8_t const* background, uint8_t const* sprites);
    void combine_background(int from, int to, uint8_t const* background);
    void store_colours(int from, int to, uint8_t const* colours);
    // Hardware mode's picture (ppu_exact.cpp): greyscale and emphasis from PPUMASK, and
    // the backdrop, which with rendering off is the palette cell v points at, if any.
    void store_colours_exactly(int from, int to, uint8_t const* colours);
    int backdrop_entry() const {
        return hardware && !rendering && (v & 0x3F00) == 0x3F00 ? data_address() & 0x1F : 0;
    }
    static constexpr uint8_t TINT_BITS = 0xE1; // emphasis (bits 5-7) and greyscale (bit 0)
    // The console finds no sprite 0 hit in the left eight columns while either of
    // PPUMASK's left-column bits (1, 2) hides them.
    bool hardware_clips_hit(uint8_t mask) const { return hardware && (mask & 0x06) != 0x06; }
    // Sprite evaluation for the next line: the console reads OAM on the odd dots from 65
    // and writes secondary OAM on the even ones; the fast mode evaluates from dot 129.
    int first_evaluation_dot() const { return hardware ? 65 : 129; }
    // ... nor at x = 255 (dot 256).
    bool hardware_misses_hit(uint8_t mask) const {
        return hardware && (dot == 256 || (dot <= 8 && hardware_clips_hit(mask)));
    }
};

// Video memory accesses run several times per dot, so they are inline.
// Nametables fold by mirroring; 0x3000-0x3EFF is 0x2000-0x2EFF again without folding;
// the palette's sprite backdrop entries 0x3F10/14/18/1C are the background ones. The
// 0x3F1x test runs on the unfolded address, so 0x3F30 lands on 0x3F10.
// With the board's pages, 0x3000-0x3EFF folds through them as 0x2000-0x2EFF does.
inline int16_t PPU::map_memory(int16_t& addr) const {
    int a = addr;
    if (a >= 0x2000 && a < 0x3000) {
        switch (mirroring) {
        case 0: a &= 0xFBFF; break;
        case 1: a &= 0xF7FF; break;
        case 3: a = 0x2000 | (a & 0x03FF); break;
        case 4: a = 0x2400 | (a & 0x03FF); break;
        case 5: a = board_page_address(a); break;
        default: break;
        }
    } else if (a >= 0x3000 && a < 0x3F00) {
        a -= 0x1000;
        if (mirroring == 5) a = board_page_address(a);
    } else if (a == 0x3F10 || a == 0x3F14 || a == 0x3F18 || a == 0x3F1C) {
        a &= 0xFF0F;
    } else if (a >= 0x3F00 && a < 0x4000) {
        a &= 0xFF1F;
    }
    addr = int16_t(a);
    return addr;
}

inline uint8_t PPU::read(int16_t addr) {
    return uint8_t(memory[map_memory(addr)]);
}

// Inline in the bus, its only caller, which a game polling PPUSTATUS calls most often.
inline uint8_t PPU::read_register(uint16_t addr) {
    switch (addr) {
    case 0x2002: return read_status();
    case 0x2004: return oam[oam_addr];
    case 0x2007: {
        int16_t const a = int16_t(v & 0x3FFF);
        uint8_t result;
        if (a <= 0x3EFF) {
            result = read_buffer;
            read_buffer = read(a);
            if (pattern_latches && a < 0x2000) tell_pattern_read(uint16_t(a));
        } else {
            result = read(a); // the palette answers at once
        }
        advance_address();
        return result;
    }
    default: return uint8_t(ppuctrl[addr - 0x2000]); // the register bytes start at $2000
    }
}

inline void PPU::write(int16_t addr, signed char value) {
    int const a = map_memory(addr);
    if (mirroring == 5 && a >= 0x2000 && a < 0x3400 && (locked_pages >> ((a - 0x2000) >> 10) & 1))
        return;
    memory[a] = value;
}

} // namespace NES
