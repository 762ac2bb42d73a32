// iNES parsing, the blank image, bank pointers and the PRG mapping step.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "cartridge/rom.hpp"
#include "test_support.hpp"

namespace {

std::vector<unsigned char> header(uint8_t prg, uint8_t chr, uint8_t f6, uint8_t f7,
                                  uint8_t byte9 = 0) {
    std::vector<unsigned char> h = {'N', 'E', 'S', 0x1A, prg, chr, f6, f7, 0, byte9};
    h.resize(16, 0);
    return h;
}

std::vector<unsigned char> image(uint8_t prg, uint8_t chr, uint8_t f6 = 0, uint8_t f7 = 0) {
    std::vector<unsigned char> im = header(prg, chr, f6, f7);
    im.resize(16 + (f6 & 4 ? 512 : 0) + prg * 16384 + chr * 8192, 0);
    return im;
}

struct FlagCase {
    uint8_t f6, f7;
    bool battery;
    uint32_t mapper;
    int mirroring;
};

class HeaderFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(HeaderFlags, DecodeBatteryMapperAndMirroring) {
    FlagCase const k = GetParam();
    std::vector<unsigned char> im = image(1, 1, k.f6, k.f7);
    NES::ROM rom(long(im.size()), im.data());
    EXPECT_EQ(rom.battery, k.battery);
    EXPECT_EQ(rom.mapper->number, k.mapper);
    EXPECT_EQ(rom.mirroring, k.mirroring);
}

INSTANTIATE_TEST_SUITE_P(
    Ines, HeaderFlags,
    ::testing::Values(FlagCase{0x09, 0x00, false, 0, 2}, FlagCase{0x01, 0x00, false, 0, 1},
                      FlagCase{0x12, 0x00, true, 1, 0}, FlagCase{0x80, 0x20, false, 40, 0},
                      FlagCase{0x40, 0x00, false, 4, 0}, FlagCase{0xF0, 0xF0, false, 255, 0}));

TEST(Rom, Nes2SizesUseTheHighNibblesAndPrintNoInesLines) {
    std::vector<unsigned char> im = header(2, 0, 0x00, 0x08, 0x00);
    im.resize(16 + 32768, 0);
    testing::internal::CaptureStdout();
    NES::ROM rom(long(im.size()), im.data());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No Battery\n");
    EXPECT_TRUE(rom.nes2);
    EXPECT_EQ(rom.prg_size, 32768);
}

TEST(Rom, Nes2ExponentMultiplierSize) {
    std::vector<unsigned char> im = header(0x3A, 0, 0x00, 0x08, 0x0F);
    im.resize(16 + 81920, 0);
    NES::ROM rom(long(im.size()), im.data());
    EXPECT_EQ(rom.prg_size, 81920);
}

TEST(Rom, LargeBankCountsAreUnsigned) {
    std::vector<unsigned char> im = image(0x80, 0);
    NES::ROM rom(long(im.size()), im.data());
    EXPECT_EQ(rom.prg_size, 0x80 * 16384);
}

TEST(Rom, TrainerShiftsPrgAndStaysOutOfTheImage) {
    std::vector<unsigned char> im = image(1, 1, 0x04);
    im[16] = 0xAB;
    im[528] = 0xCD;
    NES::ROM rom(long(im.size()), im.data());
    EXPECT_EQ(rom.trainer[0], 0xAB);
    EXPECT_EQ(rom.prg[0], 0xCD);
}

TEST(Rom, BlankImageIsSixteenKilobytesOfMapperZeroWithChrRam) {
    testing::internal::CaptureStdout();
    NES::ROM rom;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No Battery\niNES\n0\n");
    EXPECT_EQ(rom.prg_size, 16384);
    EXPECT_EQ(rom.chr_size, 0);
    EXPECT_EQ(rom.mapper->number, 0u);
    EXPECT_FALSE(rom.battery);
}

TEST(Rom, UnknownMapperIsAnnouncedAndKeepsItsNumber) {
    std::vector<unsigned char> im = image(1, 1, 0xF0, 0x00);
    testing::internal::CaptureStdout();
    NES::ROM rom(long(im.size()), im.data());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No Battery\nUNRECOGNIZED MAPPER!\niNES\n1\n");
    EXPECT_EQ(rom.mapper->number, 15u);
}

struct Nes2Number {
    uint8_t f7, byte8;
    uint32_t mapper;
    bool recognized;
};

class Nes2MapperNumbers : public ::testing::TestWithParam<Nes2Number> {};

// Byte 8's low nibble holds bits 8-11 in NES 2.0 only; its high nibble is the submapper.
TEST_P(Nes2MapperNumbers, TakeBitsEightToElevenFromByteEight) {
    Nes2Number const k = GetParam();
    std::vector<unsigned char> im = image(1, 1, 0x40, k.f7);
    im[8] = k.byte8;
    testing::internal::CaptureStdout();
    NES::ROM rom(long(im.size()), im.data());
    std::string const said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rom.mapper->number, k.mapper);
    EXPECT_EQ(said.find("UNRECOGNIZED MAPPER!") == std::string::npos, k.recognized);
}

INSTANTIATE_TEST_SUITE_P(Nes2, Nes2MapperNumbers,
                         ::testing::Values(Nes2Number{0x08, 0x01, 260, false},
                                           Nes2Number{0x08, 0xF4, 0x404, false},
                                           Nes2Number{0x08, 0x10, 4, true},
                                           Nes2Number{0x00, 0x01, 4, true}));

TEST(Rom, MissingMagicLeavesAnEmptyCartridge) {
    std::vector<unsigned char> im = image(1, 1);
    im[3] = 0x1B;
    NES::ROM rom(long(im.size()), im.data());
    EXPECT_EQ(rom.prg_size, 0);
    EXPECT_EQ(rom.mapper, nullptr);
}

struct BadImage {
    char const* what;
    std::vector<unsigned char> bytes;
};

class MalformedImages : public ::testing::TestWithParam<BadImage> {};

TEST_P(MalformedImages, AreRefusedBeforeAnythingIsPrinted) {
    BadImage const& k = GetParam();
    testing::internal::CaptureStdout();
    EXPECT_THROW(NES::ROM::check_image(long(k.bytes.size()), k.bytes.data()), std::invalid_argument)
        << k.what;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

std::vector<unsigned char> truncated() {
    std::vector<unsigned char> im = image(2, 1);
    im.resize(im.size() - 1);
    return im;
}

std::vector<unsigned char> nes2_small(uint8_t prg_byte, uint8_t nibbles) {
    std::vector<unsigned char> im = header(prg_byte, 0, 0, 0x08, nibbles);
    im.resize(16 + 4096, 0);
    return im;
}

INSTANTIATE_TEST_SUITE_P(
    Rom, MalformedImages,
    ::testing::Values(BadImage{"short header", {'N', 'E', 'S', 0x1A, 1}},
                      BadImage{"wrong magic", std::vector<unsigned char>(32, 0)},
                      BadImage{"no PRG ROM", image(0, 1)}, BadImage{"truncated", truncated()},
                      BadImage{"PRG below 1 KiB", nes2_small(0x04, 0x0F)},
                      BadImage{"CHR below 1 KiB", nes2_small(0x40, 0xF0)},
                      BadImage{"size beyond 2 GiB", nes2_small(0xFF, 0x0F)}));

TEST(Rom, ChrRamBanksPointIntoThePpuPatternTables) {
    std::vector<unsigned char> im = image(1, 0);
    NES::ROM rom(long(im.size()), im.data());
    unsigned char pattern[8192];
    rom.chr_ram = pattern;
    EXPECT_EQ(rom.get_chr_bank(9), pattern + 1024);
    EXPECT_EQ(rom.get_chr_bank(0), pattern);
}

TEST(Rom, PrgBanksWrapModuloTheRomSize) {
    std::vector<unsigned char> im = image(8, 1);
    NES::ROM rom(long(im.size()), im.data());
    EXPECT_EQ(rom.get_prg_bank(128 + 5), rom.get_prg_bank(5));
    EXPECT_EQ(rom.get_prg_bank(-1), rom.get_prg_bank(127));
}

TEST(Rom, BankCopiesNeverReadPastAnOddSizedRom) {
    // 3 KiB of PRG (NES 2.0 exponent form 2^10 x 3): a 16 KiB copy cycles its 1 KiB units.
    std::vector<unsigned char> im = header(0x29, 0, 0, 0x08, 0x0F);
    im.resize(16 + 3072, 0);
    im[16 + 1024] = 0x5A; // unit 1
    NES::ROM rom(long(im.size()), im.data());
    ASSERT_EQ(rom.prg_size, 3072);
    std::vector<signed char> dest(0x4000);
    rom.copy_prg(dest.data(), 16, 0x4000); // units 16, 17, ... are 1, 2, 0, 1, ...
    EXPECT_EQ(dest[0x0000], 0x5A);
    EXPECT_EQ(dest[0x0C00], 0x5A);
    EXPECT_EQ(dest[0x0400], 0);
}

TEST(Rom, ResetMapperMakesAFreshBoardWithTheSameNumber) {
    std::vector<unsigned char> im = image(2, 1, 0x40);
    NES::ROM rom(long(im.size()), im.data());
    rom.reset_mapper();
    ASSERT_NE(rom.mapper, nullptr);
    EXPECT_EQ(rom.mapper->number, 4u);
}

struct PrgLayout {
    uint8_t f6, f7;
    uint8_t banks;
    uint16_t addr;
    int expected_bank; // the 16 KiB (or, for mapper 40, 8 KiB) bank expected there; -1 = empty
    int bank_size;
};

class PrgMapping : public ::testing::TestWithParam<PrgLayout> {};

// Every 1 KiB of the image carries its own index, so the test can tell which bank sits
// where.
TEST_P(PrgMapping, PlacesBanksByMapperNumber) {
    PrgLayout const k = GetParam();
    std::vector<unsigned char> im = image(k.banks, 1, k.f6, k.f7);
    for (int unit = 0; unit < k.banks * 16; ++unit)
        im[16 + unit * 1024] = uint8_t(unit + 1);
    NES::ROM rom(long(im.size()), im.data());
    std::vector<signed char> memory(0x10000, 0);
    rom.map_prg(memory.data(), 0);
    int const expected = k.expected_bank < 0 ? 0 : k.expected_bank * (k.bank_size / 1024) + 1;
    EXPECT_EQ(uint8_t(memory[k.addr]), expected) << std::hex << k.addr;
}

INSTANTIATE_TEST_SUITE_P(
    Rom, PrgMapping,
    ::testing::Values(
        PrgLayout{0x00, 0, 2, 0xC000, 1, 16384}, PrgLayout{0x10, 0, 8, 0x8000, 0, 16384},
        PrgLayout{0x10, 0, 8, 0xC000, 7, 16384}, PrgLayout{0x20, 0, 8, 0xC000, 7, 16384},
        PrgLayout{0x40, 0, 8, 0x8000, -1, 16384}, PrgLayout{0x40, 0, 8, 0xC000, 7, 16384},
        PrgLayout{0x80, 0x20, 4, 0x6000, 6, 8192}, PrgLayout{0x80, 0x20, 4, 0x8000, 4, 8192},
        PrgLayout{0x80, 0x20, 4, 0xA000, 5, 8192}, PrgLayout{0x80, 0x20, 4, 0xC000, -1, 8192},
        PrgLayout{0x80, 0x20, 4, 0xE000, 7, 8192}, PrgLayout{0xF0, 0, 2, 0x8000, -1, 16384},
        PrgLayout{0x70, 0, 8, 0xC000, 1, 16384}, PrgLayout{0x70, 0x40, 8, 0x8000, 0, 16384},
        PrgLayout{0x70, 0x40, 8, 0xC000, 7, 16384}));

} // namespace
