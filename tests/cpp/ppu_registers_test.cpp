// The PPU's CPU-visible registers and its video address space, driven through the CPU
// bus as a game drives them.
#include <gtest/gtest.h>

#include <tuple>

#include "test_support.hpp"

namespace {

class PpuRegisters : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes = test::console(home.path(), test::Image());
    NES::CPU& cpu = *nes->cpu;
    NES::PPU& ppu = *nes->ppu;

    uint8_t get(uint16_t addr) { return cpu.read(cpu.at(addr), true); }
    void put(uint16_t addr, uint8_t d) { cpu.write(cpu.at(addr), static_cast<signed char>(d)); }
    void address(uint16_t a) {
        get(0x2002);
        put(0x2006, uint8_t(a >> 8));
        put(0x2006, uint8_t(a));
    }
    uint8_t at(int index) const { return uint8_t(ppu.memory[index]); }
};

struct Increment {
    uint8_t ctrl;
    uint16_t v_after;
};

class PpuDataIncrement : public PpuRegisters, public ::testing::WithParamInterface<Increment> {};

TEST_P(PpuDataIncrement, WriteStoresAtVThenAdvancesByOneOrThirtyTwo) {
    put(0x2000, GetParam().ctrl);
    put(0x2006, 0x21);
    put(0x2006, 0x08);
    put(0x2007, 0x55);
    EXPECT_EQ(at(0x2108), 0x55);
    EXPECT_EQ(ppu.v, GetParam().v_after);
}

INSTANTIATE_TEST_SUITE_P(Ctrl, PpuDataIncrement,
                         ::testing::Values(Increment{0x00, 0x2109}, Increment{0x04, 0x2128}));

TEST_F(PpuRegisters, DataReadsGoThroughTheBufferExceptForThePalette) {
    ppu.memory[0x2000] = 0x11;
    ppu.memory[0x2001] = 0x22;
    ppu.memory[0x3F00] = 0x2A;
    ppu.read_buffer = 0x99;
    address(0x2000);
    EXPECT_EQ(get(0x2007), 0x99); // what the buffer held
    EXPECT_EQ(get(0x2007), 0x11);
    EXPECT_EQ(ppu.read_buffer, 0x22);
    address(0x3F00);
    EXPECT_EQ(get(0x2007), 0x2A);     // the palette answers at once...
    EXPECT_EQ(ppu.read_buffer, 0x22); // ...and leaves the buffer alone
    EXPECT_EQ(ppu.v, 0x3F01);
}

// Where a PPUDATA write lands: nametables fold by the mirroring code, 0x3000-0x3EFF is
// 0x2000-0x2EFF again without folding, and the palette folds its sprite backdrop cells.
struct Fold {
    int mirroring; // 0-2 come from the cartridge header, 3 only from a mapper
    uint16_t written;
    uint16_t lands;
};

class PpuFolding : public ::testing::TestWithParam<Fold> {};

TEST_P(PpuFolding, DataWriteLandsOnTheFoldedCell) {
    Fold const f = GetParam();
    test::TempHome home;
    test::Image image;
    image.flags6 = f.mirroring == 2 ? 0x08 : f.mirroring == 1 ? 0x01 : 0x00;
    auto nes = test::console(home.path(), image);
    NES::PPU& ppu = *nes->ppu;
    if (f.mirroring == 3) ppu.mirroring = 3;
    ASSERT_EQ(ppu.mirroring, f.mirroring);
    auto put = [&](uint16_t a, uint8_t d) {
        nes->cpu->write(nes->cpu->at(a), static_cast<signed char>(d));
    };
    put(0x2006, uint8_t(f.written >> 8));
    put(0x2006, uint8_t(f.written));
    put(0x2007, 0xC5); // palette cells keep all eight bits too
    EXPECT_EQ(uint8_t(ppu.memory[f.lands]), 0xC5);
    EXPECT_EQ(ppu.read(int16_t(f.written)), 0xC5);
    int written_cells = 0;
    for (int a = 0x2000; a < 0x4000; ++a)
        written_cells += uint8_t(ppu.memory[a]) == 0xC5;
    EXPECT_EQ(written_cells, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, PpuFolding,
    ::testing::Values(Fold{0, 0x2400, 0x2000}, Fold{0, 0x2C10, 0x2810}, Fold{0, 0x2800, 0x2800},
                      Fold{1, 0x2800, 0x2000}, Fold{1, 0x2C10, 0x2410}, Fold{1, 0x2400, 0x2400},
                      Fold{3, 0x2C05, 0x2005}, Fold{3, 0x2705, 0x2305}, Fold{2, 0x2400, 0x2400},
                      Fold{2, 0x2C05, 0x2C05}, Fold{0, 0x3400, 0x2400}, Fold{1, 0x3C00, 0x2C00},
                      Fold{2, 0x3EFF, 0x2EFF}, Fold{0, 0x3F10, 0x3F00}, Fold{0, 0x3F1C, 0x3F0C},
                      Fold{0, 0x3F30, 0x3F10}, Fold{0, 0x3F3C, 0x3F1C}, Fold{0, 0x3F24, 0x3F04},
                      Fold{0, 0x3FFF, 0x3F1F}));

struct OamWrite {
    uint8_t addr;
    uint8_t stored;
};

class PpuOamData : public PpuRegisters, public ::testing::WithParamInterface<OamWrite> {};

TEST_P(PpuOamData, AttributeBytesLoseBitsTwoToFour) {
    OamWrite const o = GetParam();
    put(0x2003, o.addr);
    put(0x2004, 0xFF);
    EXPECT_EQ(ppu.oam[o.addr], o.stored);
    EXPECT_EQ(uint8_t(cpu.memory[0x2004]), o.stored);
    EXPECT_EQ(ppu.oam_addr, uint8_t(o.addr + 1));
    ppu.oam[uint8_t(o.addr + 1)] = 0x5A;
    EXPECT_EQ(get(0x2004), 0x5A); // reads do not advance the address
    EXPECT_EQ(get(0x2004), 0x5A);
}

INSTANTIATE_TEST_SUITE_P(Addresses, PpuOamData,
                         ::testing::Values(OamWrite{0x02, 0xE3}, OamWrite{0xFE, 0xE3},
                                           OamWrite{0x03, 0xFF}, OamWrite{0x00, 0xFF},
                                           OamWrite{0xFF, 0xFF}));

TEST_F(PpuRegisters, ScrollAndAddressWritesShareOneToggleThatStatusReadsReset) {
    put(0x2000, 0x03); // nametable 3
    put(0x2005, 0x7D); // first write: coarse X 15, fine X 5
    EXPECT_EQ(ppu.x, 5);
    get(0x2002);       // the toggle is back at the first write
    put(0x2005, 0x5E); // coarse X 11, fine X 6
    put(0x2005, 0x5E); // fine Y 6, coarse Y 11
    EXPECT_EQ(ppu.x, 6);
    EXPECT_EQ(ppu.t, 0x6000 | 0x0C00 | 11 << 5 | 11);
    EXPECT_FALSE(ppu.w);

    put(0x2006, 0xFF); // bit 14 of t is always cleared
    get(0x2002);
    put(0x2006, 0xFF);
    put(0x2006, 0x40);
    EXPECT_EQ(ppu.v, 0x3F40);
    EXPECT_EQ(get(0x2006), 0x40); // a write-only register reads back its last byte
}

TEST_F(PpuRegisters, WritingStatusChangesNothing) {
    cpu.memory[0x2002] = static_cast<signed char>(0xE0);
    put(0x2002, 0x00);
    EXPECT_EQ(uint8_t(cpu.memory[0x2002]), 0xE0);
    EXPECT_EQ(get(0x2002), 0xE0);
    EXPECT_EQ(get(0x2002), 0x60); // a read clears the vertical-blank bit
}

class PpuPatternWrites : public ::testing::TestWithParam<int> {};

// CHR ROM cannot be written through PPUDATA; CHR RAM can. The address advances anyway.
TEST_P(PpuPatternWrites, DataWriteBelow2000NeedsChrRam) {
    test::TempHome home;
    test::Image image;
    image.chr_banks = uint8_t(GetParam());
    image.chr.assign(8192, 0x11);
    auto nes = test::console(home.path(), image);
    auto put = [&](uint16_t a, uint8_t d) {
        nes->cpu->write(nes->cpu->at(a), static_cast<signed char>(d));
    };
    put(0x2006, 0x00);
    put(0x2006, 0x10);
    put(0x2007, 0xAB);
    EXPECT_EQ(uint8_t(nes->ppu->memory[0x10]), GetParam() ? 0x11 : 0xAB);
    EXPECT_EQ(nes->ppu->v, 0x0011);
}

INSTANTIATE_TEST_SUITE_P(ChrBanks, PpuPatternWrites, ::testing::Values(0, 1));

// The vertical-blank race: a PPUSTATUS read just before the dot that starts vertical
// blank (the PPU is about to process scanline 241 dot 1) loses the flag and that frame's
// NMI; a read one dot later sees the flag and the NMI still comes.
struct Race {
    int dot;
    bool read_sees_vblank;
    bool nmi_taken;
};

class PpuStatusRace : public ::testing::TestWithParam<Race> {};

TEST_P(PpuStatusRace, ReadAtTheStartOfVerticalBlank) {
    test::TempHome home;
    test::Image image;
    image
        .at(0x8000, {0xAD, 0x02, 0x20,  // LDA $2002
                     0x85, 0x00,        // STA $00
                     0xEA, 0xEA, 0xEA,  // NOP x3
                     0x4C, 0x05, 0x80}) // JMP $8005
        .at(0x9000, {0xE6, 0x01, 0x40}) // NMI: INC $01 / RTI
        .vectors(0x9000, 0x8000, 0x8000);
    auto nes = test::console(home.path(), image);
    NES::PPU& ppu = *nes->ppu;
    nes->cpu->write(nes->cpu->at(0x2000), static_cast<signed char>(0x80)); // NMI on
    ppu.scanline = 241;
    ppu.dot = 1;
    ppu.post_render = true;
    if (GetParam().dot == 2) ppu.cycle(); // vertical blank has just started
    ppu.dot_count = 0;
    ASSERT_EQ(ppu.dot, GetParam().dot);
    for (int i = 0; i < 8; ++i)
        nes->single_cycle();
    EXPECT_EQ((nes->cpu->memory[0x00] & 0x80) != 0, GetParam().read_sees_vblank);
    EXPECT_EQ(nes->cpu->memory[0x2002] & 0x80, 0); // read away, or never set
    EXPECT_EQ(nes->cpu->memory[0x01], GetParam().nmi_taken ? 1 : 0);
    EXPECT_TRUE(ppu.vblank);
}

INSTANTIATE_TEST_SUITE_P(Dots, PpuStatusRace,
                         ::testing::Values(Race{1, false, false}, Race{2, true, true}));

TEST_F(PpuRegisters, VerticalBlankBitIsSetAtLine241Dot1AndClearedAtLine261Dot1) {
    for (auto [line, dot, before] : {std::tuple{241, 1, false}, std::tuple{261, 1, true}}) {
        while (ppu.scanline != line || ppu.dot != dot)
            ppu.cycle();
        EXPECT_EQ((cpu.memory[0x2002] & 0x80) != 0, before) << "line " << line;
        ppu.cycle();
        EXPECT_EQ((cpu.memory[0x2002] & 0x80) != 0, !before) << "line " << line;
        EXPECT_EQ(ppu.nmi_occurred, !before);
    }
}

} // namespace
