// Action 53's PRG banks in every mode, for every game size and a spread of outer and
// inner banks (outer $FF among them), against the board's bank arithmetic written out
// line by line: which register drives each PRG address line A14-A22. The ROM is the
// board's largest, 8 MiB, so that no bank number wraps and hides a wrong high bit.
#include <gtest/gtest.h>

#include "mapper_cartridge.hpp"

namespace {

using mapper_test::console;
using mapper_test::poke;
using mapper_test::tagged_image;
using mapper_test::unit_at;

constexpr int KIB = 1024;
constexpr int ROM_SIZE = 8192 * KIB;

// The 16 KiB bank (PRG A14-A22) behind CPU address $8000 (cpu_a14 0) or $C000 (1).
// PRG modes 0 and 1 (32 KiB): A14 is the CPU's; A15 up to A14 + size from the inner
// bank's bits 0 up; the rest from the outer bank's bits at the same places (outer bit
// n drives A15 + n). Modes 2 and 3 (UNROM #180 and #2 style): in the fixed half ($8000
// in mode 2, $C000 in mode 3) A14 is the CPU's and A15-A22 the outer bank's; in the
// other half A14 up to A14 + size come from the inner bank, and A15 + n above them from
// outer bit n.
int documented_bank(int prg_mode, int size, int outer, int inner, int cpu_a14) {
    int bank = 0;
    for (int line = 14; line <= 22; ++line) {
        int bit;
        if (line == 14 && (prg_mode < 2 || cpu_a14 == prg_mode - 2)) {
            bit = cpu_a14;
        } else if (prg_mode >= 2 && cpu_a14 == prg_mode - 2) {
            bit = (outer >> (line - 15)) & 1; // the fixed half
        } else {
            int const inner_lines = prg_mode < 2 ? size : size + 1;
            int const first_inner_line = prg_mode < 2 ? 15 : 14;
            int const n = line - first_inner_line;
            bit = n < inner_lines ? (inner >> n) & 1 : (outer >> (line - 15)) & 1;
        }
        bank |= bit << (line - 14);
    }
    return bank;
}

class Action53Banks : public ::testing::TestWithParam<int> {};

TEST_P(Action53Banks, FollowTheBoardsBankArithmetic) {
    int const prg_mode = GetParam();
    test::TempHome home;
    auto nes = console(home, tagged_image(28, ROM_SIZE, 0));
    for (int size = 0; size < 4; ++size)
        for (int outer : {0x00, 0x01, 0x05, 0x2A, 0x80, 0xFE, 0xFF})
            for (int inner : {0x0, 0x5, 0xA, 0xF}) {
                poke(*nes, 0x5000, 0x80);
                poke(*nes, 0x8000, uint8_t(size << 4 | prg_mode << 2 | 2));
                poke(*nes, 0x5000, 0x81);
                poke(*nes, 0x8000, uint8_t(outer));
                poke(*nes, 0x5000, 0x01);
                poke(*nes, 0x8000, uint8_t(inner));
                for (int half = 0; half < 2; ++half) {
                    int const expected = documented_bank(prg_mode, size, outer, inner, half);
                    EXPECT_EQ(unit_at(nes->cpu->memory, 0x8000 + half * 0x4000) / 16, expected)
                        << "mode " << prg_mode << ", size " << (32 << size) << " KiB, outer "
                        << outer << ", inner " << inner << ", $" << (half ? "C000" : "8000");
                }
            }
}

INSTANTIATE_TEST_SUITE_P(Mappers, Action53Banks, ::testing::Values(0, 1, 2, 3));

} // namespace
