// MMC3: bank registers, mode exchanges, mirroring, PRG RAM protection, the scanline
// counter and its save-state record, on tagged cartridges (every 1 KiB unit of PRG and
// CHR ROM carries its own number). The IRQ as a 6502 program sees it, with latch 0,
// disabled IRQs and rendering off among its phases, is in mapper_programs_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cartridge/mappers/mmc3.hpp"
#include "mapper_cartridge.hpp"

namespace {

using mapper_test::console;
using mapper_test::poke;
using mapper_test::tagged_image;
using mapper_test::unit_at;

constexpr int KIB = 1024;

std::unique_ptr<NESUnit> mmc3_console(test::TempHome const& home, uint8_t flags6 = 0) {
    return console(home, tagged_image(4, 256 * KIB, 256 * KIB, flags6));
}

NES::MMC3& mmc3(NESUnit& nes) {
    return static_cast<NES::MMC3&>(*nes.rom->mapper);
}

// --- Bank registers -------------------------------------------------------------------

struct BankCase {
    uint8_t select;
    uint8_t value;
    bool chr;
    uint16_t target;    // where the bank lands
    uint16_t elsewhere; // where the other CHR layout or PRG mode would have put it
    int length;
    int unit; // first 1 KiB unit of the bank
};

class Mmc3BankData : public ::testing::TestWithParam<BankCase> {};

TEST_P(Mmc3BankData, CopiesTheBankToItsSlot) {
    BankCase const k = GetParam();
    test::TempHome home;
    auto nes = mmc3_console(home);
    poke(*nes, 0x8000, k.select);
    poke(*nes, 0x8001, k.value);
    signed char const* memory = k.chr ? nes->ppu->memory : nes->cpu->memory;
    for (int offset = 0; offset < k.length; offset += KIB)
        EXPECT_EQ(unit_at(memory, k.target + offset), k.unit + offset / KIB);
    EXPECT_NE(unit_at(memory, k.elsewhere), k.unit);
}

INSTANTIATE_TEST_SUITE_P(
    Mappers, Mmc3BankData,
    ::testing::Values(BankCase{0x00, 7, true, 0x0000, 0x1000, 2 * KIB, 6}, // R0: even banks
                      BankCase{0x80, 7, true, 0x1000, 0x0000, 2 * KIB, 6},
                      BankCase{0x01, 9, true, 0x0800, 0x1800, 2 * KIB, 8},
                      BankCase{0x81, 9, true, 0x1800, 0x0800, 2 * KIB, 8},
                      BankCase{0x02, 5, true, 0x1000, 0x0000, KIB, 5},
                      BankCase{0x82, 5, true, 0x0000, 0x1000, KIB, 5},
                      BankCase{0x03, 0x33, true, 0x1400, 0x0400, KIB, 0x33},
                      BankCase{0x83, 0x33, true, 0x0400, 0x1400, KIB, 0x33},
                      BankCase{0x04, 0xFF, true, 0x1800, 0x0800, KIB, 0xFF},
                      BankCase{0x84, 0xFF, true, 0x0800, 0x1800, KIB, 0xFF},
                      BankCase{0x05, 0x10, true, 0x1C00, 0x0C00, KIB, 0x10},
                      BankCase{0x85, 0x10, true, 0x0C00, 0x1C00, KIB, 0x10},
                      BankCase{0x06, 3, false, 0x8000, 0xC000, 8 * KIB, 24},
                      BankCase{0x46, 3, false, 0xC000, 0x8000, 8 * KIB, 24},
                      BankCase{0x06, 0xC5, false, 0x8000, 0xC000, 8 * KIB, 40}, // six bits
                      BankCase{0x07, 9, false, 0xA000, 0x8000, 8 * KIB, 72},
                      BankCase{0x47, 9, false, 0xA000, 0xC000, 8 * KIB, 72}));

TEST(Mmc3, PrgModeChangeCarriesTheMappedBanks) {
    test::TempHome home;
    auto nes = mmc3_console(home);
    poke(*nes, 0x8000, 0x06);
    poke(*nes, 0x8001, 2);
    poke(*nes, 0x8000, 0x07);
    poke(*nes, 0x8001, 3);
    poke(*nes, 0x8000, 0x40);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0x8000), 240); // the second-to-last bank
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xA000), 24);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xC000), 16);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xE000), 248);
    poke(*nes, 0x8000, 0x46); // same mode, another register: nothing moves
    EXPECT_EQ(unit_at(nes->cpu->memory, 0x8000), 240);
    poke(*nes, 0x8000, 0x00);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0x8000), 16);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xC000), 240);
}

TEST(Mmc3, ChrInversionExchangesThePatternTableHalves) {
    test::TempHome home;
    auto nes = mmc3_console(home);
    uint8_t const banks[6] = {8, 10, 20, 21, 22, 23};
    for (uint8_t r = 0; r < 6; ++r) {
        poke(*nes, 0x8000, r);
        poke(*nes, 0x8001, banks[r]);
    }
    poke(*nes, 0x8000, 0x80);
    int const expected[8] = {20, 21, 22, 23, 8, 9, 10, 11};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(unit_at(nes->ppu->memory, i * KIB), expected[i]) << "unit " << i;
}

// --- Mirroring and PRG RAM ------------------------------------------------------------

struct MirrorCase {
    uint8_t flags6;
    uint8_t value;
    int32_t after;
};

class Mmc3Mirroring : public ::testing::TestWithParam<MirrorCase> {};

TEST_P(Mmc3Mirroring, FollowsBitZeroUnlessFourScreen) {
    MirrorCase const k = GetParam();
    test::TempHome home;
    auto nes = mmc3_console(home, k.flags6);
    poke(*nes, 0xA000, k.value);
    EXPECT_EQ(nes->ppu->mirroring, k.after);
}

INSTANTIATE_TEST_SUITE_P(Mappers, Mmc3Mirroring,
                         ::testing::Values(MirrorCase{0x00, 0x00, NES::MIRROR_VERTICAL},
                                           MirrorCase{0x01, 0xFF, NES::MIRROR_HORIZONTAL},
                                           MirrorCase{0x01, 0xFE, NES::MIRROR_VERTICAL},
                                           MirrorCase{0x08, 0x00, NES::MIRROR_FOUR_SCREEN},
                                           MirrorCase{0x08, 0x01, NES::MIRROR_FOUR_SCREEN}));

// The second nametable keeps its contents across a switch, as nametable RAM does.
TEST(Mmc3, MirroringSwitchKeepsTheSecondNametable) {
    test::TempHome home;
    auto nes = mmc3_console(home);
    std::memset(nes->ppu->memory + 0x2800, 0x28, 0x400);
    poke(*nes, 0xA000, 0);
    EXPECT_EQ(nes->ppu->read(0x2400), 0x28);
    nes->ppu->write(0x2401, 0x77);
    poke(*nes, 0xA000, 1);
    EXPECT_EQ(nes->ppu->read(0x2801), 0x77);
    EXPECT_EQ(nes->ppu->read(0x2C01), 0x77);
}

TEST(Mmc3, WriteProtectKeepsPrgRamUntilLifted) {
    test::TempHome home;
    auto nes = mmc3_console(home);
    poke(*nes, 0x6000, 0x11);
    poke(*nes, 0xA001, 0x40);
    poke(*nes, 0x6000, 0x55);
    poke(*nes, 0x7FFF, 0x55);
    poke(*nes, 0x0000, 0x55); // RAM outside $6000-$7FFF stays writable
    EXPECT_EQ(nes->cpu->memory[0x6000], 0x11);
    EXPECT_EQ(nes->cpu->memory[0x7FFF], 0x00);
    EXPECT_EQ(nes->cpu->memory[0x0000], 0x55);
    poke(*nes, 0xA001, 0x00);
    poke(*nes, 0x6000, 0x55);
    EXPECT_EQ(nes->cpu->memory[0x6000], 0x55);
}

// --- Scanline counter -----------------------------------------------------------------

struct Write {
    uint16_t addr;
    uint8_t value;
};

struct CounterCase {
    char const* what;
    std::vector<Write> writes;
    int steps;
    std::vector<int> irq_steps; // 1-based steps after which irq_pending was set
};

class Mmc3Counter : public ::testing::TestWithParam<CounterCase> {};

TEST_P(Mmc3Counter, RaisesIrqsAtTheExpectedSteps) {
    CounterCase const& k = GetParam();
    test::TempHome home;
    auto nes = mmc3_console(home);
    for (Write w : k.writes)
        poke(*nes, w.addr, w.value);
    std::vector<int> seen;
    for (int step = 1; step <= k.steps; ++step) {
        mmc3(*nes).scanline_clock(nes->cpu.get());
        if (nes->cpu->irq_pending) seen.push_back(step);
        nes->cpu->irq_pending = false;
    }
    EXPECT_EQ(seen, k.irq_steps) << k.what;
}

INSTANTIATE_TEST_SUITE_P(
    Mappers, Mmc3Counter,
    ::testing::Values(
        CounterCase{"latch 2: the first step only reloads",
                    {{0xC000, 2}, {0xC001, 0}, {0xE001, 0}},
                    7,
                    {3, 5, 7}},
        CounterCase{"power-on: counter and latch 255, enabled", {}, 511, {255, 510}},
        CounterCase{"a new latch waits for the next reload", {{0xC000, 4}}, 263, {255, 259, 263}},
        CounterCase{"even and odd addresses across the range",
                    {{0xDFFE, 3}, {0xDFFF, 0}, {0xFFFF, 0}},
                    8,
                    {4, 7}}));

TEST(Mmc3, DisablingLeavesAPendingIrqAndTheCounterRunning) {
    test::TempHome home;
    auto nes = mmc3_console(home);
    poke(*nes, 0xC000, 2);
    poke(*nes, 0xC001, 0);
    for (int step = 0; step < 3; ++step)
        mmc3(*nes).scanline_clock(nes->cpu.get());
    ASSERT_TRUE(nes->cpu->irq_pending);
    poke(*nes, 0xE000, 0);
    EXPECT_TRUE(nes->cpu->irq_pending);
    nes->cpu->irq_pending = false;
    mmc3(*nes).scanline_clock(nes->cpu.get());
    poke(*nes, 0xE001, 0);
    mmc3(*nes).scanline_clock(nes->cpu.get());
    EXPECT_TRUE(nes->cpu->irq_pending);
}

struct ClockCase {
    uint8_t mask;
    int dot;
    bool vblank;
    bool steps;
};

class Mmc3Clock : public ::testing::TestWithParam<ClockCase> {};

TEST_P(Mmc3Clock, StepsAtDot256WhileRendering) {
    ClockCase const k = GetParam();
    test::TempHome home;
    auto nes = mmc3_console(home);
    mmc3(*nes).irq_counter = 5;
    nes->cpu->memory[0x2001] = static_cast<signed char>(k.mask);
    nes->ppu->dot = k.dot;
    nes->ppu->vblank = k.vblank;
    nes->rom->mapper->clock(nes->ppu->mapper_args);
    EXPECT_EQ(mmc3(*nes).irq_counter, k.steps ? 4 : 5);
}

INSTANTIATE_TEST_SUITE_P(
    Mappers, Mmc3Clock,
    ::testing::Values(ClockCase{0x18, 256, false, true}, ClockCase{0x08, 256, false, true},
                      ClockCase{0x10, 256, false, true}, ClockCase{0xE7, 256, false, false},
                      ClockCase{0x18, 255, false, false}, ClockCase{0x18, 257, false, false},
                      ClockCase{0x18, 256, true, false}));

// --- Revisions -------------------------------------------------------------------------

// The cartridge with its NES 2.0 submapper (header byte 8, high nibble).
std::unique_ptr<NESUnit> revision_console(test::TempHome const& home, uint8_t submapper) {
    auto image = tagged_image(4, 256 * KIB, 256 * KIB);
    image[8] = uint8_t(submapper << 4);
    return console(home, image);
}

// Counter clocks as hardware mode makes them (A12 rises after a long low) and as the fast
// mode makes them, with IRQs enabled after the latch and a $C001 reload.
std::vector<int> irq_steps(NESUnit& nes, bool hardware, int steps) {
    std::vector<int> seen;
    for (int step = 1; step <= steps; ++step) {
        if (hardware)
            mmc3(nes).a12_rose(nes.ppu->mapper_args, 1000 * uint64_t(step), 0);
        else
            mmc3(nes).scanline_clock(nes.cpu.get());
        if (nes.cpu->mapper_irq || nes.cpu->irq_pending) seen.push_back(step);
        nes.cpu->mapper_irq = false;
        nes.cpu->irq_pending = false;
    }
    return seen;
}

struct RevisionCase {
    uint8_t submapper;
    uint8_t latch;
    std::vector<int> hardware; // steps with an IRQ
    std::vector<int> fast;
};

class Mmc3Revision : public ::testing::TestWithParam<RevisionCase> {};

TEST_P(Mmc3Revision, RaisesIrqsAsTheHeadersChipDoes) {
    RevisionCase const& k = GetParam();
    for (bool hardware : {true, false}) {
        test::TempHome home;
        auto nes = revision_console(home, k.submapper);
        poke(*nes, 0xC000, k.latch);
        poke(*nes, 0xC001, 0);
        poke(*nes, 0xE001, 0);
        EXPECT_EQ(irq_steps(*nes, hardware, 6), hardware ? k.hardware : k.fast)
            << "submapper " << int(k.submapper) << ", latch " << int(k.latch)
            << (hardware ? ", hardware clocks" : ", fast clocks");
    }
}

// The common revision (submapper 0, an unknown one, the MMC6) raises the IRQ whenever a
// clock leaves the counter at 0; the alternate one (submapper 4) only for a decrement to
// 0 or the reload a $C001 write asked for. The fast mode's own counter model raises it
// as it always has, plus the alternate revision's IRQ after $C001 with a latch of 0.
INSTANTIATE_TEST_SUITE_P(Mappers, Mmc3Revision,
                         ::testing::Values(RevisionCase{0, 0, {1, 2, 3, 4, 5, 6}, {}},
                                           RevisionCase{1, 0, {1, 2, 3, 4, 5, 6}, {}},
                                           RevisionCase{2, 0, {1, 2, 3, 4, 5, 6}, {}},
                                           RevisionCase{4, 0, {1}, {1}},
                                           RevisionCase{0, 1, {2, 4, 6}, {2, 3, 4, 5, 6}},
                                           RevisionCase{4, 1, {2, 4, 6}, {2, 3, 4, 5, 6}},
                                           RevisionCase{0, 2, {3, 6}, {3, 5}},
                                           RevisionCase{4, 2, {3, 6}, {3, 5}}));

// The revision is the header's: a record saved by one revision goes on with the chip of
// the cartridge that loads it.
TEST(Mmc3, RecordsKeepTheLoadingCartridgesRevision) {
    test::TempHome home;
    auto alternate = revision_console(home, 4);
    poke(*alternate, 0xC000, 0);
    poke(*alternate, 0xC001, 0);
    char record[256] = {};
    mmc3(*alternate).serialize(alternate->ppu->mapper_args, record);
    auto common = revision_console(home, 0);
    mmc3(*common).deserialize(common->ppu->mapper_args, record);
    EXPECT_EQ(mmc3(*common).revision, NES::MMC3::Revision::common);
    EXPECT_EQ(irq_steps(*common, true, 3), (std::vector<int>{1, 2, 3}));
    mmc3(*alternate).deserialize(alternate->ppu->mapper_args, record);
    EXPECT_EQ(irq_steps(*alternate, true, 3), (std::vector<int>{1}));
}

// $A001 means something else to the MMC6 (its internal RAM's switches, which the notes
// leave undescribed): it never write-protects the RAM as the MMC3's bit 6 does, even
// from a record that says so.
TEST(Mmc3, Mmc6RamIgnoresTheMmc3WriteProtect) {
    test::TempHome home;
    auto nes = revision_console(home, 1);
    poke(*nes, 0xA001, 0xF0);
    poke(*nes, 0x7000, 0x55);
    EXPECT_EQ(nes->cpu->memory[0x7000], 0x55);
    mmc3(*nes).prg_ram_protect = true;
    poke(*nes, 0x7001, 0x66);
    EXPECT_EQ(nes->cpu->memory[0x7001], 0x66);
}

// --- Save states and reset ------------------------------------------------------------

TEST(Mmc3, RecordLayoutAndRestoredCounterResumes) {
    test::TempHome home;
    auto saved = mmc3_console(home);
    NES::MMC3& board = mmc3(*saved);
    board.bank_select = 0x47;
    board.mode = 0xC0;
    board.prg_ram_protect = true;
    board.prg_ram_enable = false;
    board.irq_enable = true;
    board.irq_counter = 17;
    board.irq_latch = 0x99;
    char record[256] = {};
    board.serialize(saved->ppu->mapper_args, record);
    unsigned char const expected[14] = {0x47, 0xC0, 1, 0, 1, 0, 0, 17, 0, 0, 0, 0x99, 0, 0};
    EXPECT_EQ(0, std::memcmp(record, expected, sizeof expected));
    EXPECT_EQ(std::vector<char>(record + 14, record + 256), std::vector<char>(242, 0));

    auto loaded = mmc3_console(home);
    std::vector<signed char> cpu_before(loaded->cpu->memory, loaded->cpu->memory + 0x10000);
    NES::MMC3& restored = mmc3(*loaded);
    restored.deserialize(loaded->ppu->mapper_args, record);
    EXPECT_EQ(0, std::memcmp(cpu_before.data(), loaded->cpu->memory, 0x10000));
    EXPECT_EQ(restored.bank_select, 0x47);
    EXPECT_EQ(restored.mode, 0xC0);
    EXPECT_TRUE(restored.prg_ram_protect);
    EXPECT_FALSE(restored.prg_ram_enable);
    EXPECT_EQ(restored.irq_latch, 0x99);
    for (int step = 1; step <= 17; ++step) {
        EXPECT_FALSE(loaded->cpu->irq_pending) << "step " << step;
        restored.scanline_clock(loaded->cpu.get());
    }
    EXPECT_TRUE(loaded->cpu->irq_pending);
}

TEST(Mmc3, ResetMapperRestoresPowerOnRegistersAndLeavesTheImages) {
    test::TempHome home;
    auto nes = mmc3_console(home);
    poke(*nes, 0x8000, 0xC6);
    poke(*nes, 0x8001, 9);
    poke(*nes, 0xA001, 0x40);
    poke(*nes, 0xC000, 7);
    poke(*nes, 0xE000, 0);
    std::vector<signed char> cpu_before(nes->cpu->memory, nes->cpu->memory + 0x10000);
    std::vector<signed char> ppu_before(nes->ppu->memory, nes->ppu->memory + 0x4000);
    nes->rom->reset_mapper();
    nes->ppu->mapper = nes->rom->mapper.get(); // the PPU keeps its own pointer to the board
    NES::MMC3& fresh = mmc3(*nes);
    EXPECT_EQ(fresh.bank_select, 0);
    EXPECT_EQ(fresh.mode, 0);
    EXPECT_FALSE(fresh.prg_ram_protect);
    EXPECT_TRUE(fresh.prg_ram_enable);
    EXPECT_TRUE(fresh.irq_enable);
    EXPECT_EQ(fresh.irq_counter, 255);
    EXPECT_EQ(fresh.irq_latch, 255);
    EXPECT_EQ(0, std::memcmp(cpu_before.data(), nes->cpu->memory, 0x10000));
    EXPECT_EQ(0, std::memcmp(ppu_before.data(), nes->ppu->memory, 0x4000));
}

} // namespace
