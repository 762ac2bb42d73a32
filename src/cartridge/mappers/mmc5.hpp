// Nintendo MMC5 (ExROM), mapper 5: four PRG banking modes over ROM and 64 KiB of RAM,
// four CHR banking modes with a second set of banks for the background of 8x16-sprite
// screens, 1 KiB of on-chip RAM (ExRAM) that serves as a nametable, as extended
// attributes or as plain RAM, a nametable mapping of its own with a fill mode, a
// scanline IRQ, a multiplier, a vertical split and sound (mmc5_sound.hpp). The PCM
// channel's read mode, which takes the bytes of CPU reads at $8000-$BFFF, hears of no
// read: the CPU reads ROM straight from its image.
//
// Registers ($5000-$5FFF, no bus conflicts):
//   $5100 PRG mode 0-3        $5101 CHR mode 0-3       $5102/$5103 RAM write keys (2, 1)
//   $5104 ExRAM mode 0-3      $5105 nametable pages    $5106/$5107 fill tile / palette
//   $5113 RAM page at $6000   $5114-$5117 PRG banks    $5120-$5127 CHR set A
//   $5128-$512B CHR set B     $5130 CHR upper bits     $5200-$5202 vertical split
//   $5203 IRQ line            $5204 IRQ enable/status  $5205/$5206 multiplier
//   $5000-$5015 sound          $5C00-$5FFF ExRAM
// The chip also watches the CPU's writes to PPUCTRL (8x16 sprites) and PPUMASK
// (rendering), at their own addresses.
//
// PRG: the CPU image holds what each 8 KiB window shows. The RAM's 64 KiB are kept here,
// eight pages numbered by a bank value's bits 0-2 (boards with less RAM decode fewer
// bits; a game written for them uses pages that all exist here); every RAM write goes
// here and to each window that shows the page, so the RAM here is always whole and a
// window is refreshed from it on a bank switch. Battery files hold all 64 KiB.
//
// CHR: the PPU's pattern image holds the set its next access uses: set B while 8x16
// sprites are on with rendering (the background's), set A while rendering 8x8 sprites,
// and with rendering off the set of the CHR register written last ($2007's). The
// sprites of an 8x16 screen read set A from the ROM as the PPU fetches them
// (fetch_sprite_row). Set B is a 4 KiB image seen at $0000 and again at $1000.
//
// Nametables: the PPU maps each nametable onto a page of its image (MIRROR_BOARD_PAGES):
// nametable RAM's two pages at $2000 and $2400, ExRAM at $2800 (the only copy of it),
// the fill page at $2C00, kept filled with the fill tile and palette, and an empty page
// for ExRAM in its plain-RAM mode, where the PPU reads zeros.
//
// The scanline counter: the chip tells a new line by the PPU reading one nametable
// address three times running, which it does at the start of every rendered line (the
// two dummy fetches at dots 337 and 339 and the first fetch at dot 1): here, once dot 2
// of lines 0-239 has passed with rendering on. The first such line of a frame sets the
// in-frame flag and starts the count at 0; each later one counts, and the count reaching
// the compare value ($5203) sets the IRQ flag. Line 240 (the PPU stops reading) and a
// PPUMASK write turning rendering off clear the in-frame flag. /IRQ is flag AND enable,
// or the sound's PCM IRQ; reading $5204 clears the flag.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"
#include "cartridge/mappers/mmc5_sound.hpp"

namespace NES {

class MMC5 : public Mapper {
public:
    static constexpr int PRG_RAM_SIZE = 0x10000;
    static constexpr int PAGE_SIZE = 0x2000; // a PRG bank or RAM page
    static constexpr int WINDOWS = 5;        // $6000, $8000, $A000, $C000, $E000

    MMC5() : Mapper(5, true) {}

    uint8_t prg_mode = 3;
    uint8_t chr_mode = 3;
    uint8_t ram_keys[2] = {0, 0}; // $5102, $5103
    uint8_t exram_mode = 0;
    uint8_t nametables = 0; // $5105
    uint8_t fill_tile = 0;
    uint8_t fill_palette = 0;
    // $5113-$5117; the power-on values put the last bank everywhere in $8000-$FFFF.
    uint8_t prg_banks[WINDOWS] = {0, 0xFF, 0xFF, 0xFF, 0xFF};
    // 10 bits: the register and $5130's bits as it was written. The power-on values are
    // the banks the PPU's attach shows, the first 8 KiB.
    uint16_t chr_a[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    uint16_t chr_b[4] = {0, 1, 2, 3};
    uint8_t chr_upper = 0; // $5130 bits 0-1
    bool b_written_last = false;
    bool tall_sprites = false; // PPUCTRL bit 5 as last written
    bool rendering = false;    // PPUMASK bits 3-4 as last written
    uint8_t split_control = 0; // $5200
    uint8_t split_scroll = 0;  // $5201
    uint8_t split_bank = 0;    // $5202
    uint8_t split_top = 0;     // $5201 as the frame's pre-render line began
    uint8_t irq_line_compare = 0;
    bool irq_enabled = false;
    bool irq_flag = false;
    bool in_frame = false;
    uint8_t line_count = 0;
    bool irq_out = false; // /IRQ held low
    uint8_t factors[2] = {0xFF, 0xFF};
    signed char prg_ram[PRG_RAM_SIZE] = {};
    Mmc5Sound audio;

    void map_write(void** args, signed char* addr, signed char* value) override;
    void read_register(void** args, uint16_t address, uint8_t& value) override;
    void clock(void** args) override;
    uint64_t quiet_dots(PPU const& ppu) const override;
    int32_t power_on_mirroring(int32_t) const override;
    bool joins_fetches() const override { return true; }
    void fetch_background(PPU const& ppu, int line, uint16_t from,
                          BackgroundTile& tile) const override;
    void fetch_sprite_row(PPU const& ppu, uint16_t address, uint8_t& lo,
                          uint8_t& hi) const override;
    std::span<signed char> board_prg_ram() override { return {prg_ram, sizeof prg_ram}; }
    ExpansionSound* sound() override { return &audio; }
    // Record: 0 PRG mode, 1 CHR mode, 2-3 RAM keys, 4 ExRAM mode, 5 nametables, 6-7 fill,
    // 8-12 $5113-$5117, 13-28 set A and 29-36 set B (little-endian), 37 $5130, 38 flags
    // (bit 0 set B written last, 1 8x16 sprites, 2 rendering, 3 IRQ enabled, 4 IRQ flag,
    // 5 in frame, 6 /IRQ), 39 $5203, 40 the line count, 41-42 the factors, 43-46 split
    // control, scroll, bank and the frame's scroll. The record's CPU image carries the
    // RAM pages the windows show, its PPU image ExRAM; the trailer holds all 64 KiB of
    // RAM (a record without it leaves the pages not shown as this console holds them).
    // The sound stays as this console holds it.
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;
    bool extends_record() const override { return true; }
    size_t trailer_size() const override { return PRG_RAM_SIZE; }
    void save_extension(void** args, char* extension, unsigned char* trailer) override;
    void load_extension(void** args, char const* extension, unsigned char const* trailer) override;
    void snapshot(Snapshot& s) override;

private:
    // What an 8 KiB CPU window shows: a ROM bank (8 KiB units) or a RAM page.
    struct Window {
        bool ram;
        int bank;
    };
    Window window(int w) const;
    static Window bank_window(uint8_t value);
    void show_window(CPU& cpu, int w) const;
    void take_shown_ram(CPU const& cpu);
    void switch_prg(CPU& cpu, uint8_t& reg, uint8_t value);
    void write_prg(CPU& cpu, int32_t address, signed char* value);
    bool ram_writable() const { return (ram_keys[0] & 3) == 2 && (ram_keys[1] & 3) == 1; }

    int chr_unit(bool set_b, int slot) const;
    bool image_shows_b() const;
    void show_chr(PPU& ppu) const;
    void write_chr_register(PPU& ppu, int index, uint8_t value);
    uint8_t chr_byte(PPU const& ppu, int64_t offset) const;

    void show_nametables(PPU& ppu) const;
    void fill_page(PPU& ppu) const;
    void write_exram(PPU& ppu, int offset, uint8_t value) const;

    void start_line(CPU& cpu);
    void update_irq(CPU& cpu);
    int split_column(PPU const& ppu, uint16_t from) const;
    bool in_split(int column) const;
    void fetch_split_tile(PPU const& ppu, int line, int column, BackgroundTile& tile) const;
};

} // namespace NES
