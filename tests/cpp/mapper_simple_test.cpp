// The boards without timers: NROM and the fallback, UxROM, CNROM and MMC1, on tagged
// cartridges whose every 1 KiB unit carries its own number.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cartridge/mappers/cnrom.hpp"
#include "cartridge/mappers/mmc1.hpp"
#include "mapper_cartridge.hpp"

namespace {

using mapper_test::console;
using mapper_test::poke;
using mapper_test::tagged_image;
using mapper_test::unit_at;

constexpr int KIB = 1024;

int wrap(int unit, int units) {
    return (unit % units + units) % units;
}

// --- Boards without registers ---------------------------------------------------------

class RegisterlessBoards : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RegisterlessBoards, WritesToTheRomChangeNothing) {
    test::TempHome home;
    auto nes = console(home, tagged_image(GetParam(), 32 * KIB, 8 * KIB));
    std::vector<signed char> cpu_before(nes->cpu->memory + 0x8000, nes->cpu->memory + 0x10000);
    std::vector<signed char> ppu_before(nes->ppu->memory, nes->ppu->memory + 0x4000);
    for (uint16_t addr : {0x8000, 0xA001, 0xC000, 0xFFFF})
        for (uint8_t v : {0x00, 0x01, 0x80, 0xFF})
            poke(*nes, addr, v);
    EXPECT_EQ(0, std::memcmp(cpu_before.data(), nes->cpu->memory + 0x8000, 0x8000));
    EXPECT_EQ(0, std::memcmp(ppu_before.data(), nes->ppu->memory, 0x4000));
}

INSTANTIATE_TEST_SUITE_P(Mappers, RegisterlessBoards, ::testing::Values(0u, 7u, 255u));

// --- UxROM ----------------------------------------------------------------------------

struct UxromCase {
    int prg_kib;
    uint8_t value;
    int unit_at_8000; // first 1 KiB unit expected at $8000
};

class UxromSelect : public ::testing::TestWithParam<UxromCase> {};

TEST_P(UxromSelect, SwitchesTheLowBankAndKeepsTheLastOneAndRam) {
    UxromCase const k = GetParam();
    test::TempHome home;
    auto nes = console(home, tagged_image(2, k.prg_kib * KIB, 8 * KIB));
    nes->cpu->memory[0x0005] = 0x42;
    nes->cpu->memory[0x6000] = 0x24;
    int const last = k.prg_kib - 16;
    poke(*nes, 0x8000, k.value);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0x8000), k.unit_at_8000);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xBC00), wrap(k.unit_at_8000 + 15, k.prg_kib));
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xC000), wrap(last, k.prg_kib));
    EXPECT_EQ(nes->cpu->prg_bank, (k.value & 0x0F) * 16);
    EXPECT_EQ(nes->cpu->memory[0x0005], 0x42);
    EXPECT_EQ(nes->cpu->memory[0x6000], 0x24);
}

INSTANTIATE_TEST_SUITE_P(
    Mappers, UxromSelect,
    ::testing::Values(UxromCase{256, 0x13, 48},  // only the low four bits select
                      UxromCase{128, 0x0F, 112}, // bank 15 of 8 wraps to bank 7
                      UxromCase{48, 0x02, 32},   // a ROM of three banks
                      UxromCase{20, 0x01, 16},   // 20 KiB: bank 1 is 4 KiB, then wraps
                      UxromCase{3, 0x05, 2}));   // a 3 KiB ROM: units wrap modulo 3

// --- CNROM ----------------------------------------------------------------------------

struct CnromCase {
    int chr_kib;
    uint8_t value;
    int unit_at_0000; // -1: the write must leave the pattern tables alone
};

class CnromSelect : public ::testing::TestWithParam<CnromCase> {};

TEST_P(CnromSelect, CopiesTheSelectedEightKibBank) {
    CnromCase const k = GetParam();
    test::TempHome home;
    auto nes = console(home, tagged_image(3, 32 * KIB, k.chr_kib * KIB));
    std::memset(nes->ppu->memory, 0x5A, 0x2000);
    poke(*nes, 0x8000, k.value);
    if (k.unit_at_0000 < 0) {
        EXPECT_EQ(nes->ppu->memory[0x0000], 0x5A);
        EXPECT_EQ(nes->ppu->memory[0x1FFF], 0x5A);
        EXPECT_EQ(static_cast<NES::CNROM&>(*nes->rom->mapper).bank, 0);
        return;
    }
    EXPECT_EQ(unit_at(nes->ppu->memory, 0x0000), k.unit_at_0000);
    EXPECT_EQ(unit_at(nes->ppu->memory, 0x1C00), wrap(k.unit_at_0000 + 7, k.chr_kib));
    EXPECT_EQ(nes->ppu->chr_bank, k.unit_at_0000);
}

INSTANTIATE_TEST_SUITE_P(Mappers, CnromSelect,
                         ::testing::Values(CnromCase{32, 5, 8},     // 5 mod 4 banks = bank 1
                                           CnromCase{32, 0xFF, 24}, // taken as unsigned: 255
                                           CnromCase{24, 4, 8},     // three banks: 4 mod 3
                                           CnromCase{12, 3, 0},     // one whole bank only
                                           CnromCase{4, 1, -1},     // less than one bank
                                           CnromCase{0, 1, -1}));   // CHR RAM

// --- Save-state records of UxROM and CNROM --------------------------------------------

struct RecordCase {
    uint32_t mapper;
    uint8_t value; // the bank write made before saving
    int32_t bank;  // the record's bank, in 1 KiB units
    bool chr;      // the bank is CHR, at PPU $0000 (else PRG at $8000)
};

class BankRecords : public ::testing::TestWithParam<RecordCase> {};

TEST_P(BankRecords, SavedBankComesBackOnAnotherConsole) {
    RecordCase const k = GetParam();
    test::TempHome home;
    auto image = tagged_image(k.mapper, 128 * KIB, 32 * KIB);
    auto saved = console(home, image);
    poke(*saved, 0x8000, k.value);
    char record[256] = {};
    saved->rom->mapper->serialize(saved->ppu->mapper_args, record);
    EXPECT_EQ(std::vector<char>(record, record + 8),
              (std::vector<char>{char(k.bank), 0, 0, 0, 0, 0, 0, 0}));

    auto loaded = console(home, image);
    loaded->rom->mapper->deserialize(loaded->ppu->mapper_args, record);
    if (k.chr) {
        EXPECT_EQ(unit_at(loaded->ppu->memory, 0x0000), k.bank);
        EXPECT_EQ(loaded->ppu->chr_bank, k.bank);
    } else {
        EXPECT_EQ(unit_at(loaded->cpu->memory, 0x8000), k.bank);
        EXPECT_EQ(loaded->cpu->prg_bank, k.bank);
    }
}

INSTANTIATE_TEST_SUITE_P(Mappers, BankRecords,
                         ::testing::Values(RecordCase{2, 3, 48, false},
                                           RecordCase{3, 2, 16, true}));

// --- MMC1 -----------------------------------------------------------------------------

// Five serial writes of the low five bits of `value`, least significant first.
void mmc1_write(NESUnit& nes, uint16_t addr, uint8_t value) {
    for (int i = 0; i < 5; ++i)
        poke(nes, addr, uint8_t(value >> i & 1));
}

NES::MMC1& mmc1(NESUnit& nes) {
    return static_cast<NES::MMC1&>(*nes.rom->mapper);
}

TEST(Mmc1, RegisterTakesEffectOnlyOnTheFifthWrite) {
    test::TempHome home;
    auto nes = console(home, tagged_image(1, 256 * KIB, 8 * KIB));
    for (uint8_t bit : {1, 0, 1, 1}) {
        poke(*nes, 0xE000, bit);
        EXPECT_EQ(unit_at(nes->cpu->memory, 0x8000), 0);
    }
    poke(*nes, 0xE000, 0x7E); // only bit 0 counts: a 0
    EXPECT_EQ(mmc1(*nes).data, 0x0D);
    EXPECT_EQ(mmc1(*nes).shift, 0x10);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0x8000), 13 * 16);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xC000), 240);
}

// The reset write discards the collected bits and fixes the last bank at $C000, but it
// keeps the mirroring and CHR mode: games reset the port in the middle of play.
TEST(Mmc1, ResetWriteDiscardsSerialBitsAndLoadsControl0C) {
    test::TempHome home;
    auto nes = console(home, tagged_image(1, 128 * KIB, 32 * KIB));
    mmc1_write(*nes, 0x8000, 0x1A); // vertical, PRG mode 2, CHR mode 1
    mmc1_write(*nes, 0xE000, 5);    // $C000 = bank 5
    ASSERT_EQ(unit_at(nes->cpu->memory, 0xC000), 80);
    poke(*nes, 0xE000, 1);
    poke(*nes, 0xE000, 1);
    poke(*nes, 0xA000, 0x80);
    EXPECT_EQ(mmc1(*nes).shift, 0x10);
    EXPECT_EQ(mmc1(*nes).prg_mode, 3);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xC000), 112);
    EXPECT_EQ(nes->ppu->mirroring, NES::MIRROR_SINGLE_SCREEN);
    EXPECT_FALSE(mmc1(*nes).chr_mode);
    mmc1_write(*nes, 0xE000, 2); // a fresh five-write sequence, unaffected by the discarded bits
    EXPECT_EQ(unit_at(nes->cpu->memory, 0x8000), 32);
}

struct ControlCase {
    int32_t before;
    uint8_t value;
    int32_t after;
    uint16_t moved_from, moved_to; // 0: no nametable moves
    NES::Accuracy accuracy = NES::Accuracy::fast;
};

class Mmc1Control : public ::testing::TestWithParam<ControlCase> {};

TEST_P(Mmc1Control, SetsMirroringAndMovesTheSecondNametable) {
    ControlCase const k = GetParam();
    test::TempHome home;
    auto nes = console(home, tagged_image(1, 64 * KIB, 8 * KIB), k.accuracy);
    nes->ppu->mirroring = k.before;
    std::memset(nes->ppu->memory + 0x2400, 0x24, 0x400);
    std::memset(nes->ppu->memory + 0x2800, 0x28, 0x400);
    mmc1_write(*nes, 0x8000, k.value);
    EXPECT_EQ(nes->ppu->mirroring, k.after);
    signed char const expect_2400 = k.moved_to == 0x2400 ? 0x28 : 0x24;
    signed char const expect_2800 = k.moved_to == 0x2800 ? 0x24 : 0x28;
    EXPECT_EQ(nes->ppu->memory[0x2400], expect_2400);
    EXPECT_EQ(nes->ppu->memory[0x27FF], expect_2400);
    EXPECT_EQ(nes->ppu->memory[0x2800], expect_2800);
    EXPECT_EQ(nes->ppu->memory[0x2BFF], expect_2800);
    EXPECT_EQ(mmc1(*nes).prg_mode, (k.value >> 2) & 3);
    EXPECT_EQ(mmc1(*nes).chr_mode, bool(k.value & 0x10));
}

INSTANTIATE_TEST_SUITE_P(
    Mappers, Mmc1Control,
    ::testing::Values(
        ControlCase{NES::MIRROR_HORIZONTAL, 0x0E, NES::MIRROR_VERTICAL, 0x2800, 0x2400},
        ControlCase{NES::MIRROR_VERTICAL, 0x0F, NES::MIRROR_HORIZONTAL, 0x2400, 0x2800},
        ControlCase{NES::MIRROR_VERTICAL, 0x1E, NES::MIRROR_VERTICAL, 0, 0},
        // The single screen keeps the second page where vertical finds it again.
        ControlCase{NES::MIRROR_HORIZONTAL, 0x00, NES::MIRROR_SINGLE_SCREEN, 0x2800, 0x2400},
        ControlCase{NES::MIRROR_VERTICAL, 0x11, NES::MIRROR_SINGLE_SCREEN, 0, 0},
        ControlCase{NES::MIRROR_VERTICAL, 0x11, NES::MIRROR_SINGLE_SCREEN_UPPER, 0, 0,
                    NES::Accuracy::hardware},
        ControlCase{NES::MIRROR_SINGLE_SCREEN, 0x0E, NES::MIRROR_VERTICAL, 0, 0},
        ControlCase{NES::MIRROR_FOUR_SCREEN, 0x0F, NES::MIRROR_HORIZONTAL, 0, 0}));

struct PrgModeCase {
    int prg_kib;
    uint8_t control;
    uint8_t bank;
    int at_8000, at_c000; // 1 KiB units expected at $8000 and $C000
};

class Mmc1PrgModes : public ::testing::TestWithParam<PrgModeCase> {};

TEST_P(Mmc1PrgModes, PlaceTheSelectedBank) {
    PrgModeCase const k = GetParam();
    test::TempHome home;
    auto nes = console(home, tagged_image(1, k.prg_kib * KIB, 8 * KIB));
    mmc1_write(*nes, 0x8000, k.control);
    mmc1_write(*nes, 0xE000, k.bank);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0x8000), k.at_8000);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xC000), k.at_c000);
}

INSTANTIATE_TEST_SUITE_P(
    Mappers, Mmc1PrgModes,
    ::testing::Values(PrgModeCase{256, 0x00, 3, 32, 48},      // 32 KiB mode: bank 2 and 3
                      PrgModeCase{256, 0x04, 4, 64, 80},      // mode 1 is mode 0
                      PrgModeCase{256, 0x08, 5, 0, 80},       // first bank fixed at $8000
                      PrgModeCase{256, 0x0C, 5, 80, 240},     // last bank fixed at $C000
                      PrgModeCase{512, 0x0C, 0x11, 272, 496}, // bit 4 reaches 512 KiB
                      PrgModeCase{16, 0x00, 0, 0, 0},         // 32 KiB from a 16 KiB ROM
                      PrgModeCase{48, 0x0C, 7, 16, 32}));     // bank 7 of 3 wraps to 1

struct ChrModeCase {
    uint8_t control;
    uint16_t reg;
    uint8_t bank;
    int at_0000, at_1000; // 1 KiB units expected at PPU $0000 and $1000
};

class Mmc1ChrModes : public ::testing::TestWithParam<ChrModeCase> {};

TEST_P(Mmc1ChrModes, PlaceTheSelectedBanks) {
    ChrModeCase const k = GetParam();
    test::TempHome home;
    auto nes = console(home, tagged_image(1, 32 * KIB, 128 * KIB));
    mmc1_write(*nes, 0x8000, k.control);
    mmc1_write(*nes, k.reg, k.bank);
    EXPECT_EQ(unit_at(nes->ppu->memory, 0x0000), k.at_0000);
    EXPECT_EQ(unit_at(nes->ppu->memory, 0x1000), k.at_1000);
}

INSTANTIATE_TEST_SUITE_P(Mappers, Mmc1ChrModes,
                         ::testing::Values(ChrModeCase{0x0C, 0xA000, 3, 8, 12}, // 8 KiB, even
                                           ChrModeCase{0x1C, 0xA000, 3, 12, 4}, // 4 KiB at $0000
                                           ChrModeCase{0x1C, 0xC000, 5, 0, 20}, // 4 KiB at $1000
                                           ChrModeCase{0x0C, 0xC000, 5, 0, 4},  // ignored in mode 0
                                           ChrModeCase{0x1C, 0xA000, 0x1F, 124, 4}));

TEST(Mmc1, ChrBankWritesLeaveChrRamAsItIs) {
    test::TempHome home;
    auto nes = console(home, tagged_image(1, 32 * KIB, 0));
    for (int i = 0; i < 0x2000; ++i)
        nes->ppu->memory[i] = static_cast<signed char>(i * 7);
    std::vector<signed char> before(nes->ppu->memory, nes->ppu->memory + 0x2000);
    for (uint8_t bank : {0, 1, 2, 3, 0x1F})
        mmc1_write(*nes, 0xA000, bank);
    EXPECT_EQ(0, std::memcmp(before.data(), nes->ppu->memory, 0x2000));
}

} // namespace
