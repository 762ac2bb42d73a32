// The dot renderer: pictures built from video memory and OAM set up directly, checked
// pixel by pixel in the published frame image.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "ppu/palette.hpp"
#include "test_support.hpp"

namespace {

// Palette values whose RGB triples are all different, so a pixel names its value.
constexpr uint8_t PALETTE[32] = {
    0x21, 0x01, 0x02, 0x03, 0x3C, 0x05, 0x06, 0x07,
    0x3C, 0x09, 0x0A, 0x0B, 0x3C, 0x11, 0x12, 0x13, // background: backdrop, then palettes 0-3
    0x21, 0x14, 0x15, 0x16, 0x3C, 0x18, 0x19, 0x1A,
    0x3C, 0x24, 0x25, 0x26, 0x3C, 0x28, 0x29, 0x2A, // sprites: palettes 4-7
};
constexpr uint8_t BACKDROP = PALETTE[0];
constexpr uint8_t bg_colour(int palette, int value) {
    return PALETTE[4 * palette + value];
}
constexpr uint8_t sprite_colour(int palette, int value) {
    return PALETTE[16 + 4 * palette + value];
}

class PpuPicture : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes = test::console(home.path(), chr_ram_cartridge());
    NES::CPU& cpu = *nes->cpu;
    NES::PPU& ppu = *nes->ppu;
    // Asked for from the start, so that every frame is drawn in RGB as it goes.
    uint8_t const* const image = ppu.rgb_picture();

    static test::Image chr_ram_cartridge() {
        test::Image image;
        image.chr_banks = 0;
        image.at(0x8000, {0x4C, 0x00, 0x80}).vectors(0x8000, 0x8000, 0x8000);
        return image;
    }

    void SetUp() override {
        std::memset(ppu.oam, 0xFF, sizeof ppu.oam); // no sprite anywhere
        for (int i = 0; i < 32; ++i)
            if (i % 4 != 0 || i < 16) ppu.memory[0x3F00 + i] = static_cast<signed char>(PALETTE[i]);
    }

    void put(uint16_t addr, uint8_t d) { cpu.write(cpu.at(addr), static_cast<signed char>(d)); }
    void ctrl(uint8_t d) { put(0x2000, d); }
    void mask(uint8_t d) { put(0x2001, d); }
    void scroll(uint8_t sx, uint8_t sy) {
        cpu.read(cpu.at(0x2002), true);
        put(0x2005, sx);
        put(0x2005, sy);
    }
    uint8_t status() const { return uint8_t(cpu.memory[0x2002]); }

    // A tile of one pixel value everywhere, or a single pixel of `value` at (row, col).
    void solid(int table, int tile, int value) {
        for (int row = 0; row < 8; ++row) {
            ppu.memory[table * 0x1000 + tile * 16 + row] =
                static_cast<signed char>(value & 1 ? 0xFF : 0);
            ppu.memory[table * 0x1000 + tile * 16 + row + 8] =
                static_cast<signed char>(value & 2 ? 0xFF : 0);
        }
    }
    void dot(int table, int tile, int row, int col, int value) {
        int const a = table * 0x1000 + tile * 16 + row;
        if (value & 1) ppu.memory[a] = static_cast<signed char>(ppu.memory[a] | 0x80 >> col);
        if (value & 2)
            ppu.memory[a + 8] = static_cast<signed char>(ppu.memory[a + 8] | 0x80 >> col);
    }
    void fill_nametable(int tile) { std::memset(ppu.memory + 0x2000, tile, 0x3C0); }
    void sprite(int index, int y, int tile, int attr, int x) {
        uint8_t* s = ppu.oam + 4 * index;
        s[0] = uint8_t(y), s[1] = uint8_t(tile), s[2] = uint8_t(attr), s[3] = uint8_t(x);
    }

    void step_to(int line, int d) {
        while (ppu.scanline != line || ppu.dot != d)
            ppu.cycle();
    }
    // Whole frames: the first one starts mid-line at construction, so pictures are read
    // from the second.
    void frames(int n) {
        uint64_t const end = ppu.frame_count + uint64_t(n);
        while (ppu.frame_count < end)
            ppu.cycle();
    }

    // The palette value a pixel of the published image shows (-1 if none matches).
    int value_at(int row, int col) const {
        uint8_t const* p = image + 768 * row + 3 * col;
        for (int v = 0; v < 64; ++v)
            if (std::memcmp(p, NES::NTSC_TO_RGB + 3 * v, 3) == 0) return v;
        return -1;
    }
    void expect_pixel(int row, int col, int value) const {
        EXPECT_EQ(value_at(row, col), value) << "pixel at row " << row << ", column " << col;
    }
};

class PpuBackdrop : public PpuPicture, public ::testing::WithParamInterface<uint8_t> {};

// Palette bytes of 64 or more show the colour of their low six bits.
TEST_P(PpuBackdrop, MaskZeroDrawsTheBackdropColourEverywhere) {
    solid(0, 1, 3);
    fill_nametable(1);
    sprite(0, 100, 1, 0, 100);
    ppu.memory[0x3F00] = static_cast<signed char>(GetParam());
    mask(0x00);
    frames(2);
    for (int p = 0; p < 256 * 240; ++p)
        ASSERT_EQ(std::memcmp(image + 3 * p, NES::NTSC_TO_RGB + 3 * (GetParam() & 0x3F), 3), 0)
            << "pixel " << p;
}

INSTANTIATE_TEST_SUITE_P(Values, PpuBackdrop, ::testing::Values(0x21, 0x30, 0x61, 0xE6));

// Palette value 0 is grey (606060) like any other colour: a console whose picture starts
// in colour 0 must not show black.
TEST_F(PpuPicture, PaletteValueZeroIsGreyFromTheFirstFrame) {
    ppu.memory[0x3F00] = 0x00;
    frames(2);
    expect_pixel(100, 100, 0x00);
    EXPECT_EQ(image[768 * 100 + 300], 0x60);
}

TEST_F(PpuPicture, ImageIsBlackUntilLine241Dot1AndThenHoldsStillForAFrame) {
    for (int call = 1; call < 82158; ++call)
        ppu.cycle();
    std::vector<uint8_t> const black(NES::FRAME_BYTES, 0);
    EXPECT_EQ(std::memcmp(image, black.data(), black.size()), 0);
    ppu.cycle();
    expect_pixel(100, 100, BACKDROP);
    ppu.memory[0x3F00] = 0x16;
    step_to(241, 1);
    expect_pixel(100, 100, BACKDROP);
    ppu.cycle();
    expect_pixel(100, 100, 0x16);
}

// Random pattern tables, nametables and attributes, scrolled through PPUCTRL and
// PPUSCROLL, against a model of the background: the pixel at (r, c) shows the point
// (c + scroll X, r + scroll Y) of the 512 x 480 plane of four nametables.
struct Scroll {
    uint8_t sx, sy;
    uint8_t ctrl; // nametable select and background pattern table
    int mirroring;
};

class PpuScroll : public PpuPicture, public ::testing::WithParamInterface<Scroll> {};

TEST_P(PpuScroll, BackgroundFollowsTheScrollRegisters) {
    Scroll const s = GetParam();
    std::mt19937 random(1234);
    for (int a = 0; a < 0x3000; ++a)
        ppu.memory[a] = static_cast<signed char>(random());
    ppu.mirroring = s.mirroring;
    ctrl(s.ctrl);
    scroll(s.sx, s.sy);
    mask(0x0A);
    frames(2);
    int const table = (s.ctrl & 0x10) ? 0x1000 : 0;
    for (int r = 0; r < 240; ++r)
        for (int c = 0; c < 256; ++c) {
            int const px = (c + s.sx + 256 * (s.ctrl & 1)) % 512;
            int const py = (r + s.sy + 240 * ((s.ctrl >> 1) & 1)) % 480;
            int screen = px / 256 + 2 * (py / 240);
            int const x = px % 256, y = py % 240;
            screen = s.mirroring == 0   ? screen & 2
                     : s.mirroring == 1 ? screen & 1
                     : s.mirroring == 3 ? 0
                                        : screen;
            int const base = 0x2000 + 0x400 * screen;
            int const tile = uint8_t(ppu.memory[base + (y / 8) * 32 + x / 8]);
            int const attr = uint8_t(ppu.memory[base + 0x3C0 + (y / 32) * 8 + x / 32]);
            int const palette = (attr >> (((y / 16) & 1) * 4 + ((x / 16) & 1) * 2)) & 3;
            int const row = table + tile * 16 + y % 8, bit = 7 - x % 8;
            int const value = ((uint8_t(ppu.memory[row + 8]) >> bit) & 1) << 1 |
                              ((uint8_t(ppu.memory[row]) >> bit) & 1);
            int const want = value ? bg_colour(palette, value) : BACKDROP;
            ASSERT_EQ(value_at(r, c), want) << "pixel at row " << r << ", column " << c;
        }
}

INSTANTIATE_TEST_SUITE_P(Offsets, PpuScroll,
                         ::testing::Values(Scroll{0, 0, 0x00, 1}, Scroll{13, 21, 0x10, 1},
                                           Scroll{250, 235, 0x03, 0}, Scroll{128, 100, 0x11, 2},
                                           Scroll{7, 3, 0x02, 3}));

// Background is value 1 everywhere; a sprite of value 2 covers columns 2-9 of rows 51-58.
class PpuLeftColumns : public PpuPicture, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(PpuLeftColumns, MaskBitsOneAndTwoHideTheirLayerInColumnsZeroToSeven) {
    bool const bg_left = GetParam() & 0x02, sprites_left = GetParam() & 0x04;
    solid(0, 1, 1);
    solid(0, 2, 2);
    fill_nametable(1);
    sprite(5, 50, 2, 0, 2);
    mask(GetParam());
    frames(2);
    expect_pixel(20, 1, bg_left ? bg_colour(0, 1) : BACKDROP);
    expect_pixel(20, 7, bg_left ? bg_colour(0, 1) : BACKDROP);
    expect_pixel(20, 8, bg_colour(0, 1));
    expect_pixel(54, 1, bg_left ? bg_colour(0, 1) : BACKDROP);
    expect_pixel(54, 2, sprites_left ? sprite_colour(0, 2) : BACKDROP);
    expect_pixel(54, 7, sprites_left ? sprite_colour(0, 2) : BACKDROP);
    expect_pixel(54, 8, sprite_colour(0, 2));
    expect_pixel(54, 10, bg_colour(0, 1));
}

INSTANTIATE_TEST_SUITE_P(Masks, PpuLeftColumns, ::testing::Values(0x18, 0x1A, 0x1C, 0x1E));

// Sprites appear one line below their OAM Y; Y = 239 and above are never drawn.
struct Rows {
    int y, first, last;
};

class PpuSpriteRows : public PpuPicture, public ::testing::WithParamInterface<Rows> {};

TEST_P(PpuSpriteRows, SpriteIsDrawnFromTheLineAfterItsY) {
    solid(0, 2, 2);
    sprite(3, GetParam().y, 2, 0, 100);
    mask(0x1E);
    frames(2);
    for (int r = 0; r < 240; ++r) {
        bool const on = r >= GetParam().first && r <= GetParam().last;
        expect_pixel(r, 100, on ? sprite_colour(0, 2) : BACKDROP);
    }
}

INSTANTIATE_TEST_SUITE_P(Y, PpuSpriteRows,
                         ::testing::Values(Rows{0, 1, 8}, Rows{120, 121, 128}, Rows{238, 239, 239},
                                           Rows{239, -1, -1}, Rows{255, -1, -1}));

// Eight sprites (OAM 32-39) share rows 51-58. With eight found, the hardware keeps
// scanning for overflow but steps its byte offset on every miss, so the flag depends on
// whichever bytes it happens to compare.
struct Overflow {
    char const* name;
    int y40, y41, tile41;
    bool flag;
};

class PpuOverflow : public PpuPicture, public ::testing::WithParamInterface<Overflow> {};

TEST_P(PpuOverflow, NinthSpriteIsNotDrawnAndTheFlagFollowsTheDiagonalScan) {
    Overflow const o = GetParam();
    solid(0, 2, 2);
    for (int i = 0; i < 8; ++i)
        sprite(32 + i, 50, 2, i % 4, 16 * i);
    sprite(40, o.y40, 2, 0, 200);
    sprite(41, o.y41, o.tile41, 0, 224);
    mask(0x1E);
    frames(1);
    step_to(100, 0);
    EXPECT_EQ((status() & 0x20) != 0, o.flag);
    step_to(261, 1);
    EXPECT_EQ((status() & 0x20) != 0, o.flag);
    ppu.cycle();
    EXPECT_EQ(status() & 0x20, 0);
    frames(1);
    for (int i = 0; i < 8; ++i)
        expect_pixel(54, 16 * i + 3, sprite_colour(i % 4, 2));
    expect_pixel(54, 203, BACKDROP);
    expect_pixel(54, 227, BACKDROP);
}

// The scan ends with OAM: exactly eight sprites on a line never overflow, even when
// every other sprite misses and the scan would come round to sprite 0's Y byte again.
TEST_F(PpuPicture, EightSpritesFirstInOamDoNotOverflow) {
    for (int i = 0; i < 8; ++i)
        sprite(i, 50, 2, 0, 16 * i);
    mask(0x1E);
    step_to(100, 0);
    EXPECT_EQ(status() & 0x20, 0);
}

INSTANTIATE_TEST_SUITE_P(Scans, PpuOverflow,
                         ::testing::Values(Overflow{"NinthOnTheLine", 50, 0xFF, 0xFF, true},
                                           Overflow{"TenthOnTheLineSeenAsTile", 200, 50, 2, false},
                                           Overflow{"TileByteTakenForY", 200, 120, 48, true}),
                         [](auto const& info) { return std::string(info.param.name); });

// Sprite 0 has one opaque pixel, at row 2 column 5 of its tile, over opaque background.
struct Hit {
    char const* name;
    int x;
    uint8_t mask;
    int bg_tile;
    int column; // where the hit is set on row 102, or -1
};

class PpuSpriteZeroHit : public PpuPicture, public ::testing::WithParamInterface<Hit> {};

TEST_P(PpuSpriteZeroHit, SetAtTheFirstOpaqueOverlapAndClearedAtLine261) {
    Hit const h = GetParam();
    solid(0, 1, 1);
    dot(0, 4, 2, 5, 3);
    fill_nametable(h.bg_tile);
    sprite(0, 99, 4, 0, h.x);
    sprite(1, 97, 1, 0, 100); // opaque over the background, but not sprite 0
    mask(h.mask);
    frames(1);
    int line = -1, column = -1;
    while (ppu.scanline != 241 && line < 0) {
        int const l = ppu.scanline, d = ppu.dot;
        ppu.cycle();
        if (status() & 0x40) line = l, column = d - 1;
    }
    if (h.column < 0) {
        EXPECT_EQ(line, -1);
        return;
    }
    EXPECT_EQ(line, 102);
    EXPECT_EQ(column, h.column);
    step_to(261, 1);
    EXPECT_NE(status() & 0x40, 0);
    ppu.cycle();
    EXPECT_EQ(status() & 0x40, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, PpuSpriteZeroHit,
                         ::testing::Values(Hit{"Middle", 60, 0x1E, 1, 65},
                                           Hit{"LeftColumnsMasked", 0, 0x18, 1, 5},
                                           Hit{"LastColumn", 250, 0x1E, 1, 255},
                                           Hit{"TransparentBackground", 60, 0x1E, 0, -1},
                                           Hit{"SpritesOff", 60, 0x0A, 1, -1},
                                           Hit{"BackgroundOff", 60, 0x14, 1, -1}),
                         [](auto const& info) { return std::string(info.param.name); });

// Background is opaque in columns 0-127 and transparent from 128 on; all sprites are
// solid value 2 on rows 31-38. Attribute bit 5 puts a sprite behind the background.
TEST_F(PpuPicture, PriorityBetweenSpritesAndBackground) {
    solid(0, 1, 1);
    solid(0, 2, 2);
    for (int row = 0; row < 30; ++row)
        std::memset(ppu.memory + 0x2000 + 32 * row, 1, 16);
    sprite(1, 30, 2, 0x20, 16);  // behind, over opaque background
    sprite(2, 30, 2, 0x21, 140); // behind, over transparent background
    sprite(3, 30, 2, 0x02, 40);  // in front
    sprite(4, 30, 2, 0x20, 64);  // behind, and it hides...
    sprite(5, 30, 2, 0x03, 68);  // ...this front sprite where they overlap
    sprite(6, 30, 2, 0x03, 200); // the lower-numbered of two sprites wins
    sprite(7, 30, 2, 0x21, 200);
    mask(0x1E);
    frames(2);
    struct {
        int col, value;
    } const want[] = {{20, bg_colour(0, 1)},     {144, sprite_colour(1, 2)},
                      {44, sprite_colour(2, 2)}, {66, bg_colour(0, 1)},
                      {70, bg_colour(0, 1)},     {74, sprite_colour(3, 2)},
                      {204, sprite_colour(3, 2)}};
    for (auto const& w : want)
        expect_pixel(34, w.col, w.value);
}

// An 8x8 sprite with one pixel at row 1, column 2: the flips move it to each corner.
struct Flip {
    int attr, row, col;
};

class PpuFlips : public PpuPicture, public ::testing::WithParamInterface<Flip> {};

TEST_P(PpuFlips, FlipsMirrorTheTile) {
    dot(0, 4, 1, 2, 1);
    sprite(9, 39, 4, GetParam().attr | 1, 60);
    mask(0x1E);
    frames(2);
    for (int r = 39; r <= 48; ++r)
        for (int c = 59; c <= 68; ++c) {
            bool const lit = r == 40 + GetParam().row && c == 60 + GetParam().col;
            expect_pixel(r, c, lit ? sprite_colour(1, 1) : BACKDROP);
        }
}

INSTANTIATE_TEST_SUITE_P(Attributes, PpuFlips,
                         ::testing::Values(Flip{0x00, 1, 2}, Flip{0x40, 1, 5}, Flip{0x80, 6, 2},
                                           Flip{0xC0, 6, 5}));

// 8x16 sprites: tile bit 0 picks the pattern table, the even tile is the top half and
// the next one the bottom half; a vertical flip swaps and mirrors the halves.
struct Tall {
    char const* name;
    uint8_t ctrl;
    int tile, attr;
    struct {
        int row, col, value;
    } lit[2];
};

class PpuTallSprites : public PpuPicture, public ::testing::WithParamInterface<Tall> {};

TEST_P(PpuTallSprites, SixteenLinesFromTwoTiles) {
    Tall const t = GetParam();
    dot(0, 6, 1, 2, 1); // table 0: top half
    dot(0, 7, 3, 6, 2); // table 0: bottom half
    dot(1, 6, 0, 0, 3); // table 1: top half
    dot(1, 7, 7, 7, 3); // table 1: bottom half
    sprite(2, 99, t.tile, t.attr, 80);
    ctrl(t.ctrl);
    mask(0x1E);
    frames(2);
    for (int r = -1; r <= 16; ++r)
        for (int c = 0; c < 8; ++c) {
            int want = BACKDROP;
            for (auto const& l : t.lit)
                if (l.row == r && l.col == c) want = sprite_colour(0, l.value);
            expect_pixel(100 + r, 80 + c, want);
        }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PpuTallSprites,
    ::testing::Values(Tall{"Plain", 0x20, 6, 0x00, {{1, 2, 1}, {11, 6, 2}}},
                      Tall{"SpriteTableBitIgnored", 0x28, 6, 0x00, {{1, 2, 1}, {11, 6, 2}}},
                      Tall{"VerticalFlip", 0x20, 6, 0x80, {{14, 2, 1}, {4, 6, 2}}},
                      Tall{"BothFlips", 0x20, 6, 0xC0, {{14, 5, 1}, {4, 1, 2}}},
                      Tall{"OddTileUsesTable1", 0x20, 7, 0x00, {{0, 0, 3}, {15, 7, 3}}}),
    [](auto const& info) { return std::string(info.param.name); });

} // namespace

namespace {

// A horizontal scroll written during vertical blank reaches line 0 of the next frame,
// not only line 1: the pre-render line reloads coarse X like every rendering line.
TEST_F(PpuPicture, LineZeroStartsAtTheNewHorizontalScroll) {
    mask(0x08);
    step_to(250, 0);
    ppu.t = 0x0015; // coarse X 21
    ppu.v = 0x0000;
    step_to(261, 258);
    EXPECT_EQ(ppu.v & 0x041F, 0x0015);
}

} // namespace

// With rendering off nothing reloads the sprite X counters, so a slot's counter keeps
// running for as long as the screen stays blank. It must stop short of wrapping round
// (after some ten minutes of emulated time it would turn positive and, reaching 0 again,
// draw a long-gone sprite): counted per dot or over a span, it stays spent.
class PpuSpentCounter : public PpuPicture, public ::testing::WithParamInterface<bool> {};

TEST_P(PpuSpentCounter, StaysSpentThroughHoursOfBlankScreen) {
    bool const spans = GetParam();
    solid(0, 1, 3);
    mask(0x00);
    step_to(10, 300);
    ppu.line_count = 1;
    uint8_t const slot[4] = {5, 1, 0, 0}; // Y + 1, tile, attributes, X
    std::memcpy(ppu.line_sprites, slot, sizeof slot);
    ppu.active_mask = 0;
    ppu.x_counters[0] = INT32_MIN + 300; // as left by hours of blank lines
    auto run_lines = [&](int lines) {
        uint64_t const end = ppu.dot_count + uint64_t(lines) * 341;
        if (spans)
            ppu.run_until(end);
        else
            while (ppu.dot_count < end)
                ppu.cycle();
    };
    run_lines(4);
    EXPECT_LT(ppu.x_counters[0], 0);
    EXPECT_EQ(ppu.active_mask & 1, 0);
    ppu.x_counters[0] = -5; // five dots into the sprite: drawn until it reads below -7
    ppu.sprite_columns[0] = 3;
    ppu.active_mask = 1;
    run_lines(2);
    EXPECT_EQ(ppu.x_counters[0], NES::PPU::X_COUNTER_SPENT);
}

INSTANTIATE_TEST_SUITE_P(PerDotAndSpans, PpuSpentCounter, ::testing::Bool());
