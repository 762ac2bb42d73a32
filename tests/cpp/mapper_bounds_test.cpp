// Bank switching on cartridges of awkward sizes: every register of every board gets
// every value, and afterwards each 1 KiB of the mapped PRG and CHR must be a unit the ROM
// really holds (the units carry their own numbers). A copy that read past the end of the
// ROM would show foreign bytes here, and the sanitizer builds would stop on it.
#include <gtest/gtest.h>

#include <string>

#include "mapper_cartridge.hpp"

namespace {

using mapper_test::console;
using mapper_test::poke;
using mapper_test::tagged_image;
using mapper_test::unit_at;

struct Shape {
    uint32_t mapper;
    int prg_bytes;
    int chr_bytes;
};

std::string shape_name(::testing::TestParamInfo<Shape> const& info) {
    return "mapper" + std::to_string(info.param.mapper) + "_prg" +
           std::to_string(info.param.prg_bytes) + "_chr" + std::to_string(info.param.chr_bytes);
}

// Unit numbers the ROM holds: a partial last unit counts, as its bytes carry its number.
int units_held(int bytes) {
    return (bytes + 1023) / 1024;
}

void expect_only_rom_units(NESUnit& nes, Shape const& k) {
    for (int addr = 0x8000; addr < 0x10000; addr += 1024)
        EXPECT_LT(unit_at(nes.cpu->memory, addr), units_held(k.prg_bytes)) << std::hex << addr;
    if (k.chr_bytes == 0) return;
    for (int addr = 0; addr < 0x2000; addr += 1024)
        EXPECT_LT(unit_at(nes.ppu->memory, addr), units_held(k.chr_bytes)) << std::hex << addr;
}

class OddSizes : public ::testing::TestWithParam<Shape> {};

TEST_P(OddSizes, EveryRegisterValueStaysInsideTheRom) {
    Shape const k = GetParam();
    test::TempHome home;
    auto nes = console(home, tagged_image(k.mapper, k.prg_bytes, k.chr_bytes));
    for (uint16_t addr : {0x8000, 0x8001, 0xA000, 0xA001, 0xC000, 0xC001, 0xE000, 0xE001}) {
        for (int v = 0; v < 256; ++v) {
            poke(*nes, 0x8000, uint8_t(v & 0xC7)); // MMC3: every register, mode and inversion
            poke(*nes, addr, uint8_t(v));
            for (int bit = 0; bit < 5; ++bit) // MMC1: a whole register value
                poke(*nes, addr, uint8_t(v >> bit & 1));
        }
        expect_only_rom_units(*nes, k);
    }
}

// Save-state records come from files: bank numbers (UxROM, CNROM) and scanline counters
// (MMC3) at the edges of the signed range, then a frame of rendering.
TEST_P(OddSizes, ExtremeRecordsStayInsideTheRom) {
    Shape const k = GetParam();
    test::TempHome home;
    auto nes = console(home, tagged_image(k.mapper, k.prg_bytes, k.chr_bytes));
    nes->cpu->memory[0x2001] = 0x18;
    for (uint32_t bits : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0x7FFFFFF9u}) {
        char record[256] = {};
        for (int i = 0; i < 4; ++i)
            record[i] = record[7 + i] = char(bits >> (8 * i));
        nes->rom->mapper->deserialize(nes->ppu->mapper_args, record);
        for (int dot = 0; dot < 341 * 262; ++dot)
            nes->ppu->cycle();
        expect_only_rom_units(*nes, k);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mappers, OddSizes,
    ::testing::Values(Shape{1, 16384, 8192},  // 32 KiB PRG mode from a 16 KiB ROM
                      Shape{1, 20480, 12288}, // neither a whole number of banks
                      Shape{1, 2560, 4096},   // PRG not a whole number of 1 KiB units
                      Shape{1, 1024, 0},      // CHR RAM
                      Shape{2, 20480, 8192}, Shape{2, 3072, 0}, Shape{3, 16384, 12288},
                      Shape{3, 16384, 4096}, Shape{3, 16384, 0}, Shape{4, 24576, 3072},
                      Shape{4, 2560, 0}, Shape{4, 16384, 1024}, Shape{40, 24576, 8192},
                      Shape{40, 1024, 0}),
    shape_name);

} // namespace
