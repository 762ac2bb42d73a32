#include "cartridge/mappers/mmc5.hpp"

#include <cstring>

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr uint16_t PPUCTRL = 0x2000, PPUMASK = 0x2001;
constexpr uint8_t CTRL_TALL_SPRITES = 0x20, MASK_RENDERING = 0x18;
constexpr int32_t PRG_RAM_WINDOW = 0x6000, EXRAM = 0x5C00;
constexpr int CHR_WINDOWS = 8, CHR_UNIT = 0x400, SET_B_SLOTS = 4;
constexpr int RAM_PAGES = 8;
constexpr uint8_t ROM_SELECT = 0x80, ROM_BANK = 0x7F;

// The PPU's pages (PPU::nametable_page).
constexpr uint8_t PAGE_EXRAM = 2, PAGE_FILL = 3, PAGE_EMPTY = 4;
constexpr uint16_t EXRAM_IN_PPU = 0x2800, FILL_IN_PPU = 0x2C00, EMPTY_IN_PPU = 0x3000;
constexpr int NAMETABLE_SIZE = 0x400, ATTRIBUTES = 0x3C0;

// ExRAM modes ($5104).
constexpr uint8_t EXRAM_EXTENDED_ATTRIBUTES = 1, EXRAM_PLAIN = 2, EXRAM_READ_ONLY = 3;

constexpr uint8_t SPLIT_ON = 0x80, SPLIT_RIGHT = 0x40, SPLIT_COLUMN = 0x1F;
constexpr int VISIBLE_LINES = 240;
// The counters name the next dot when the board's clock runs: dot 2 has just passed.
constexpr int32_t LINE_SEEN_DOT = 3;
constexpr int32_t DOTS_PER_LINE = 341, PRE_RENDER_LINE = 261;

constexpr uint8_t IRQ_ENABLE = 0x80, STATUS_IRQ = 0x80, STATUS_IN_FRAME = 0x40;
constexpr int32_t SOUND = 0x5000, SOUND_END = 0x5015;

// The cycle a register access lands on: hardware mode's own; the fast mode's at the
// instruction's start, where its devices catch up for the access.
int64_t access_cycle(CPU const& cpu) {
    return cpu.hardware ? cpu.cycles.load(std::memory_order_relaxed) : cpu.instruction_start;
}

// Record flags.
constexpr uint8_t B_LAST = 1, TALL = 2, RENDERING = 4, ENABLED = 8, FLAG = 16, IN_FRAME = 32,
                  OUT = 64;

} // namespace

// ---- PRG ----------------------------------------------------------------------------

// A value of $5114-$5116: ROM (bit 7 set) or a RAM page.
MMC5::Window MMC5::bank_window(uint8_t value) {
    if (value & ROM_SELECT) return {false, value & ROM_BANK};
    return {true, value & (RAM_PAGES - 1)};
}

// Window w of $6000, $8000, $A000, $C000, $E000 in the current mode. The 16 and 32 KiB
// windows drop their registers' low bits and count on in their halves and quarters.
MMC5::Window MMC5::window(int w) const {
    if (w == 0) return {true, prg_banks[0] & (RAM_PAGES - 1)};
    uint8_t const last = prg_banks[4];
    switch (prg_mode) {
    case 0: return {false, (last & 0x7C) + w - 1};
    case 1:
    case 2:
        if (w <= 2) {
            Window const half = bank_window(prg_banks[2]);
            return {half.ram, (half.bank & ~1) + w - 1};
        }
        if (prg_mode == 2)
            return w == 3 ? bank_window(prg_banks[3]) : Window{false, last & ROM_BANK};
        return {false, (last & 0x7E) + w - 3};
    default: return w == 4 ? Window{false, last & ROM_BANK} : bank_window(prg_banks[w]);
    }
}

// Copies what window w shows into the CPU image: a RAM page from the board's RAM, which
// every write keeps whole, or a ROM bank.
void MMC5::show_window(CPU& cpu, int w) const {
    Window const shown = window(w);
    uint16_t const at = uint16_t(PRG_RAM_WINDOW + w * PAGE_SIZE);
    if (!shown.ram) {
        copy_prg(cpu, at, shown.bank * (PAGE_SIZE / 1024), PAGE_SIZE);
        return;
    }
    std::memcpy(cpu.memory + at, prg_ram + shown.bank * PAGE_SIZE, PAGE_SIZE);
    if (w > 0) cpu.rom->prg_windows.overwritten(cpu.memory + at, PAGE_SIZE);
}

// A PRG register write: the windows that now show something else are copied again.
void MMC5::switch_prg(CPU& cpu, uint8_t& reg, uint8_t value) {
    Window before[WINDOWS];
    for (int w = 0; w < WINDOWS; ++w)
        before[w] = window(w);
    reg = value;
    for (int w = 0; w < WINDOWS; ++w) {
        Window const now = window(w);
        if (now.ram != before[w].ram || now.bank != before[w].bank) show_window(cpu, w);
    }
}

// A CPU write at $6000-$FFFF: RAM takes it (in every window showing the page) while both
// write keys are in place; ROM, and RAM without the keys, keep their bytes.
void MMC5::write_prg(CPU& cpu, int32_t address, signed char* value) {
    int const w = (address - PRG_RAM_WINDOW) / PAGE_SIZE;
    Window const target = window(w);
    if (!target.ram || !ram_writable()) {
        if (address < 0x8000) *value = cpu.memory[address];
        return;
    }
    int const offset = address & (PAGE_SIZE - 1);
    prg_ram[target.bank * PAGE_SIZE + offset] = *value;
    for (int other = 0; other < WINDOWS; ++other) {
        Window const shown = window(other);
        if (shown.ram && shown.bank == target.bank)
            cpu.memory[PRG_RAM_WINDOW + other * PAGE_SIZE + offset] = *value;
    }
}

// ---- CHR ----------------------------------------------------------------------------

// The 1 KiB ROM unit that slot `slot` ($0000 + slot * $400) of a set shows. Register
// values count in the mode's bank size; set B is a 4 KiB image seen in both halves.
int MMC5::chr_unit(bool set_b, int slot) const {
    if (!set_b) {
        switch (chr_mode) {
        case 0: return chr_a[7] * 8 + slot;
        case 1: return chr_a[slot < 4 ? 3 : 7] * 4 + (slot & 3);
        case 2: return chr_a[(slot / 2) * 2 + 1] * 2 + (slot & 1);
        default: return chr_a[slot];
        }
    }
    int const quarter = slot % SET_B_SLOTS;
    switch (chr_mode) {
    case 0: return chr_b[3] * 8 + quarter;
    case 1: return chr_b[3] * 4 + quarter;
    case 2: return chr_b[(quarter / 2) * 2 + 1] * 2 + (quarter & 1);
    default: return chr_b[quarter];
    }
}

// The set the PPU's next pattern access takes, but for an 8x16 screen's sprites.
bool MMC5::image_shows_b() const {
    return rendering ? tall_sprites : b_written_last;
}

// Copies the slots whose unit changed into the pattern image (with CHR RAM there is
// nothing to switch).
void MMC5::show_chr(PPU& ppu) const {
    ROM const& rom = *ppu.rom;
    int const units = rom.chr_size / CHR_UNIT;
    if (units == 0) return;
    bool const set_b = image_shows_b();
    for (int slot = 0; slot < CHR_WINDOWS; ++slot) {
        int const unit = chr_unit(set_b, slot) % units;
        if (rom.chr_windows.unit[slot] != unit)
            copy_chr(ppu, uint16_t(slot * CHR_UNIT), unit, CHR_UNIT);
    }
}

void MMC5::write_chr_register(PPU& ppu, int index, uint8_t value) {
    uint16_t const bank = uint16_t(value | chr_upper << 8);
    if (index < CHR_WINDOWS)
        chr_a[index] = bank;
    else
        chr_b[index - CHR_WINDOWS] = bank;
    b_written_last = index >= CHR_WINDOWS;
    show_chr(ppu);
}

// A byte of CHR ROM at `offset`, wrapping as every bank copy does.
uint8_t MMC5::chr_byte(PPU const& ppu, int64_t offset) const {
    if (ppu.rom->chr_size == 0) return uint8_t(ppu.memory[offset & 0x1FFF]);
    return ppu.rom->get_chr_bank(int(offset / CHR_UNIT))[offset % CHR_UNIT];
}

// An 8x16 screen's sprites read set A while the background reads set B from the image.
void MMC5::fetch_sprite_row(PPU const& ppu, uint16_t address, uint8_t& lo, uint8_t& hi) const {
    if (!(rendering && tall_sprites) || ppu.rom->chr_size == 0)
        return Mapper::fetch_sprite_row(ppu, address, lo, hi);
    int64_t const at = int64_t(chr_unit(false, address / CHR_UNIT)) * CHR_UNIT;
    lo = chr_byte(ppu, at + (address % CHR_UNIT));
    hi = chr_byte(ppu, at + ((address | 8) % CHR_UNIT));
}

// ---- Nametables and ExRAM -----------------------------------------------------------

// $5105's four choices: nametable RAM page 0 or 1, ExRAM (an empty page while ExRAM is
// plain CPU RAM), the fill page. The fill and empty pages never take a PPU write, nor
// ExRAM in its read-only mode.
void MMC5::show_nametables(PPU& ppu) const {
    for (int n = 0; n < 4; ++n) {
        int const choice = (nametables >> (2 * n)) & 3;
        uint8_t page = uint8_t(choice);
        if (choice == PAGE_EXRAM && exram_mode == EXRAM_PLAIN) page = PAGE_EMPTY;
        ppu.nametable_page[n] = page;
    }
    ppu.locked_pages = uint8_t(1 << PAGE_FILL | 1 << PAGE_EMPTY |
                               (exram_mode == EXRAM_READ_ONLY ? 1 << PAGE_EXRAM : 0));
    ppu.mirroring = MIRROR_BOARD_PAGES;
}

// The fill page: the fill tile in every tile byte, the fill palette in every field of
// every attribute byte.
void MMC5::fill_page(PPU& ppu) const {
    std::memset(ppu.memory + FILL_IN_PPU, fill_tile, ATTRIBUTES);
    std::memset(ppu.memory + FILL_IN_PPU + ATTRIBUTES, fill_palette * 0x55,
                NAMETABLE_SIZE - ATTRIBUTES);
}

// A CPU write to ExRAM. In the modes that serve the PPU the chip takes CPU writes only
// while the PPU renders a frame; outside one a write stores 0 (what the chip was first
// documented to do: later tests found such writes ignored or garbled, so no game can
// rely on them). Read-only mode takes none.
void MMC5::write_exram(PPU& ppu, int offset, uint8_t value) const {
    if (exram_mode == EXRAM_READ_ONLY) return;
    if (exram_mode < EXRAM_PLAIN && !in_frame) value = 0;
    ppu.memory[EXRAM_IN_PPU + offset] = static_cast<signed char>(value);
}

int32_t MMC5::power_on_mirroring(int32_t) const {
    return MIRROR_BOARD_PAGES;
}

// ---- Background fetches: extended attributes and the split --------------------------

// The column (0-33) of the line's fetches that the tile at v = `from` is: its distance
// from where dot 257 put the line's first tile.
int MMC5::split_column(PPU const& ppu, uint16_t from) const {
    int const at = (from & 0x1F) | ((from >> 5) & 0x20);
    int const start = (ppu.line_start_x & 0x1F) | ((ppu.line_start_x >> 5) & 0x20);
    return (at - start) & 63;
}

bool MMC5::in_split(int column) const {
    int const threshold = split_control & SPLIT_COLUMN;
    return (split_control & SPLIT_RIGHT) ? column >= threshold : column < threshold;
}

// Inside the split the tile comes from ExRAM as from a nametable, at the split's own
// vertical scroll (the frame's $5201 plus the line) and the screen's column, with its
// patterns from the split's 4 KiB bank.
void MMC5::fetch_split_tile(PPU const& ppu, int line, int column, BackgroundTile& tile) const {
    int y = split_top + line;
    if (y >= VISIBLE_LINES) y -= VISIBLE_LINES;
    int const row = (y >> 3) & 31, x = column & 31;
    auto const* const exram = reinterpret_cast<uint8_t const*>(ppu.memory + EXRAM_IN_PPU);
    tile.tile_index = exram[row * 32 + x];
    uint8_t const attribute = exram[ATTRIBUTES + (row >> 2) * 8 + (x >> 2)];
    int const shift = ((row & 2) << 1) | (x & 2);
    tile.attribute = int16_t(((attribute >> shift) & 3) * 0x55);
    int64_t const at = int64_t(split_bank) * 0x1000 + tile.tile_index * 16 + (y & 7);
    tile.pattern_lo = chr_byte(ppu, at);
    tile.pattern_hi = chr_byte(ppu, at + 8);
}

// With extended attributes, the ExRAM byte beside the tile's nametable byte names the
// tile's 4 KiB bank (bits 0-5, $5130 above them) and its palette (bits 6-7).
void MMC5::fetch_background(PPU const& ppu, int line, uint16_t from, BackgroundTile& tile) const {
    if (split_control & SPLIT_ON) {
        int const column = split_column(ppu, from);
        if (in_split(column)) return fetch_split_tile(ppu, line, column, tile);
    }
    if (exram_mode != EXRAM_EXTENDED_ATTRIBUTES) return;
    uint8_t const extra = uint8_t(ppu.memory[EXRAM_IN_PPU + (tile.nt_addr & 0x3FF)]);
    int64_t const bank = (extra & 0x3F) | chr_upper << 6;
    int64_t const at = bank * 0x1000 + tile.tile_index * 16 + tile.fine_y;
    tile.pattern_lo = chr_byte(ppu, at);
    tile.pattern_hi = chr_byte(ppu, at + 8);
    tile.attribute = int16_t((extra >> 6) * 0x55);
}

// ---- The scanline counter -----------------------------------------------------------

// The split's vertical scroll is taken for the frame as the pre-render line begins.
void MMC5::clock(void** args) {
    PPU const& ppu = ppu_of(args);
    if (ppu.dot != LINE_SEEN_DOT) return;
    if (ppu.scanline < VISIBLE_LINES && (*ppu.ppumask & MASK_RENDERING))
        start_line(cpu_of(args));
    else if (ppu.scanline <= VISIBLE_LINES)
        in_frame = false; // no reads: the PPU is not rendering
    else if (ppu.scanline == PRE_RENDER_LINE)
        split_top = split_scroll;
}

void MMC5::start_line(CPU& cpu) {
    if (!in_frame) {
        in_frame = true;
        line_count = 0;
        irq_flag = false;
    } else if (++line_count == irq_line_compare) {
        irq_flag = true;
    }
    update_irq(cpu);
}

// The fast mode's CPU has one pending flag for every IRQ source: releasing /IRQ clears
// it, as taking the IRQ would.
void MMC5::update_irq(CPU& cpu) {
    bool const out = (irq_flag && irq_enabled) || audio.irq();
    if (out == irq_out) return;
    irq_out = out;
    if (cpu.hardware)
        cpu.mapper_irq = out;
    else
        cpu.irq_pending = out;
}

// Only a line start can raise /IRQ: the PPU may run on unwatched up to the next one.
uint64_t MMC5::quiet_dots(PPU const& ppu) const {
    if (!irq_enabled || irq_flag) return UINT64_MAX;
    int32_t const here = ppu.scanline * DOTS_PER_LINE + ppu.dot;
    int32_t line = PRE_RENDER_LINE + 1; // the next frame's line 0
    if (ppu.scanline < VISIBLE_LINES && ppu.dot < LINE_SEEN_DOT)
        line = ppu.scanline;
    else if (ppu.scanline < VISIBLE_LINES - 1)
        line = ppu.scanline + 1;
    int32_t const next = line * DOTS_PER_LINE + LINE_SEEN_DOT - 1;
    // One dot early: an odd frame's pre-render line is a dot short.
    return uint64_t(next - here > 0 ? next - here - 1 : 0);
}

// ---- The CPU's side -----------------------------------------------------------------

void MMC5::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    PPU& ppu = ppu_of(args);
    int32_t const address = cpu_address(cpu, addr);
    uint8_t const v = uint8_t(*value);
    if (address >= PRG_RAM_WINDOW) return write_prg(cpu, address, value);
    if (address == PPUCTRL || address == PPUMASK) {
        if (address == PPUCTRL) tall_sprites = v & CTRL_TALL_SPRITES;
        if (address == PPUMASK) {
            rendering = v & MASK_RENDERING;
            if (!rendering) in_frame = false;
        }
        return show_chr(ppu);
    }
    if (address >= EXRAM) return write_exram(ppu, address - EXRAM, v);
    if (address >= SOUND && address <= SOUND_END) {
        audio.write(uint16_t(address), v, apu_of(args).expansion_step(access_cycle(cpu)));
        return update_irq(cpu);
    }
    if (address >= 0x5113 && address <= 0x5117)
        return switch_prg(cpu, prg_banks[address - 0x5113], v);
    if (address >= 0x5120 && address <= 0x512B) return write_chr_register(ppu, address - 0x5120, v);
    switch (address) {
    case 0x5100: return switch_prg(cpu, prg_mode, v & 3);
    case 0x5101: chr_mode = v & 3; return show_chr(ppu);
    case 0x5102:
    case 0x5103: ram_keys[address - 0x5102] = v; return;
    case 0x5104: exram_mode = v & 3; return show_nametables(ppu);
    case 0x5105: nametables = v; return show_nametables(ppu);
    case 0x5106: fill_tile = v; return fill_page(ppu);
    case 0x5107: fill_palette = v & 3; return fill_page(ppu);
    case 0x5130: chr_upper = v & 3; return;
    case 0x5200: split_control = v; return;
    case 0x5201: split_scroll = v; return;
    case 0x5202: split_bank = v; return;
    case 0x5203: irq_line_compare = v; return;
    case 0x5204: irq_enabled = v & IRQ_ENABLE; return update_irq(cpu);
    case 0x5205:
    case 0x5206: factors[address - 0x5205] = v; return;
    default: return;
    }
}

void MMC5::read_register(void** args, uint16_t address, uint8_t& value) {
    unsigned const product = unsigned(factors[0]) * factors[1];
    switch (address) {
    case 0x5204:
        value = uint8_t((irq_flag ? STATUS_IRQ : 0) | (in_frame ? STATUS_IN_FRAME : 0));
        irq_flag = false;
        return update_irq(cpu_of(args));
    case 0x5205: value = uint8_t(product); return;
    case 0x5206: value = uint8_t(product >> 8); return;
    case 0x5010: value = audio.read_pcm_status(); return update_irq(cpu_of(args));
    case 0x5015:
        value = audio.read_status(apu_of(args).expansion_step(access_cycle(cpu_of(args))));
        return;
    default:
        // ExRAM answers the CPU as plain RAM and in its read-only mode; in the others
        // nothing drives the bus.
        if (address >= EXRAM && exram_mode >= EXRAM_PLAIN)
            value = uint8_t(ppu_of(args).memory[EXRAM_IN_PPU + (address - EXRAM)]);
        return;
    }
}

// ---- Save states and snapshots ------------------------------------------------------

void MMC5::serialize(void**, char* record) {
    record[0] = char(prg_mode);
    record[1] = char(chr_mode);
    record[2] = char(ram_keys[0]);
    record[3] = char(ram_keys[1]);
    record[4] = char(exram_mode);
    record[5] = char(nametables);
    record[6] = char(fill_tile);
    record[7] = char(fill_palette);
    std::memcpy(record + 8, prg_banks, WINDOWS);
    for (int i = 0; i < CHR_WINDOWS; ++i) {
        record[13 + 2 * i] = char(chr_a[i] & 0xFF);
        record[14 + 2 * i] = char(chr_a[i] >> 8);
    }
    for (int i = 0; i < SET_B_SLOTS; ++i) {
        record[29 + 2 * i] = char(chr_b[i] & 0xFF);
        record[30 + 2 * i] = char(chr_b[i] >> 8);
    }
    record[37] = char(chr_upper);
    record[38] = char((b_written_last ? B_LAST : 0) | (tall_sprites ? TALL : 0) |
                      (rendering ? RENDERING : 0) | (irq_enabled ? ENABLED : 0) |
                      (irq_flag ? FLAG : 0) | (in_frame ? IN_FRAME : 0) | (irq_out ? OUT : 0));
    record[39] = char(irq_line_compare);
    record[40] = char(line_count);
    record[41] = char(factors[0]);
    record[42] = char(factors[1]);
    record[43] = char(split_control);
    record[44] = char(split_scroll);
    record[45] = char(split_bank);
    record[46] = char(split_top);
}

// The memory images came with the record: its CPU image holds the RAM pages the windows
// showed, which the board's RAM takes; its pattern image the banks shown.
void MMC5::deserialize(void** args, char* record) {
    CPU& cpu = cpu_of(args);
    PPU& ppu = ppu_of(args);
    auto byte = [&](int at) { return uint8_t(record[at]); };
    prg_mode = byte(0) & 3;
    chr_mode = byte(1) & 3;
    ram_keys[0] = byte(2);
    ram_keys[1] = byte(3);
    exram_mode = byte(4) & 3;
    nametables = byte(5);
    fill_tile = byte(6);
    fill_palette = byte(7) & 3;
    std::memcpy(prg_banks, record + 8, WINDOWS);
    for (int i = 0; i < CHR_WINDOWS; ++i)
        chr_a[i] = uint16_t((byte(13 + 2 * i) | byte(14 + 2 * i) << 8) & 0x3FF);
    for (int i = 0; i < SET_B_SLOTS; ++i)
        chr_b[i] = uint16_t((byte(29 + 2 * i) | byte(30 + 2 * i) << 8) & 0x3FF);
    chr_upper = byte(37) & 3;
    uint8_t const flags = byte(38);
    b_written_last = flags & B_LAST;
    tall_sprites = flags & TALL;
    rendering = flags & RENDERING;
    irq_enabled = flags & ENABLED;
    irq_flag = flags & FLAG;
    in_frame = flags & IN_FRAME;
    irq_out = flags & OUT;
    irq_line_compare = byte(39);
    line_count = byte(40);
    factors[0] = byte(41);
    factors[1] = byte(42);
    split_control = byte(43);
    split_scroll = byte(44);
    split_bank = byte(45);
    split_top = byte(46);
    take_shown_ram(cpu);
    std::memset(ppu.memory + EMPTY_IN_PPU, 0, NAMETABLE_SIZE);
    show_nametables(ppu);
    show_chr(ppu);
    if (cpu.hardware) cpu.mapper_irq = irq_out;
    cpu.plan_catch_up();
}

// The RAM pages the windows show, from the CPU image into the board's RAM.
void MMC5::take_shown_ram(CPU const& cpu) {
    for (int w = 0; w < WINDOWS; ++w) {
        Window const shown = window(w);
        if (shown.ram)
            std::memcpy(prg_ram + shown.bank * PAGE_SIZE,
                        cpu.memory + PRG_RAM_WINDOW + w * PAGE_SIZE, PAGE_SIZE);
    }
}

void MMC5::save_extension(void**, char*, unsigned char* trailer) {
    std::memcpy(trailer, prg_ram, PRG_RAM_SIZE);
}

// The pages the windows show are the CPU image's, as without the trailer, so that the
// windows and the board's RAM agree.
void MMC5::load_extension(void** args, char const*, unsigned char const* trailer) {
    if (!trailer) return;
    std::memcpy(prg_ram, trailer, PRG_RAM_SIZE);
    take_shown_ram(cpu_of(args));
}

void MMC5::snapshot(Snapshot& s) {
    s.bounded(prg_mode, uint8_t(0), uint8_t(3));
    s.bounded(chr_mode, uint8_t(0), uint8_t(3));
    s.field(ram_keys);
    s.bounded(exram_mode, uint8_t(0), uint8_t(3));
    s.field(nametables);
    s.field(fill_tile);
    s.bounded(fill_palette, uint8_t(0), uint8_t(3));
    s.field(prg_banks);
    for (uint16_t& bank : chr_a)
        s.bounded(bank, uint16_t(0), uint16_t(0x3FF));
    for (uint16_t& bank : chr_b)
        s.bounded(bank, uint16_t(0), uint16_t(0x3FF));
    s.bounded(chr_upper, uint8_t(0), uint8_t(3));
    s.field(b_written_last);
    s.field(tall_sprites);
    s.field(rendering);
    s.field(split_control);
    s.field(split_scroll);
    s.field(split_bank);
    s.field(split_top);
    s.field(irq_line_compare);
    s.field(irq_enabled);
    s.field(irq_flag);
    s.field(in_frame);
    s.field(line_count);
    s.field(irq_out);
    s.field(factors);
    s.sparse(prg_ram, sizeof prg_ram);
    audio.snapshot(s);
}

} // namespace NES
