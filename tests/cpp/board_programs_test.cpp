// The cartridge boards as 6502 programs see them (tests/asm/board_*.s): each program
// switches every bank size and mode its board has, checks what the CPU and the PPU then
// show, and reports through CPU RAM:
//   $02FF  $A5 once the program has finished
//   $02FE  0 when every check passed, else the number of the first check that failed
//   $02FC  (16 bits, little-endian) a figure the program measured, for boards whose
//          IRQ timing the test checks to the cycle in the hardware mode
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.hpp"

namespace {

constexpr uint16_t ALL_DONE = 0x02FF;
constexpr uint16_t FIRST_FAILURE = 0x02FE;
constexpr uint16_t MEASURED = 0x02FC;
constexpr int NO_FIGURE = -1;

struct BoardProgram {
    char const* name; // tests/asm/<name>.s
    NES::Accuracy accuracy;
    int measured = NO_FIGURE; // the figure at $02FC this mode must show
};

std::string program_name(testing::TestParamInfo<BoardProgram> const& info) {
    return std::string(info.param.name) +
           (info.param.accuracy == NES::Accuracy::hardware ? "_hardware" : "_fast");
}

class BoardPrograms : public testing::TestWithParam<BoardProgram> {};

TEST_P(BoardPrograms, PassEveryCheck) {
    BoardProgram const& program = GetParam();
    test::TempHome home;
    std::string const path = std::string(VANDREL_ASM_ROMS) + "/" + program.name + ".nes";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "ca65/ld65 not installed: the 6502 test programs were not built";
    NESUnit nes(path.c_str(), 1789773, program.accuracy);
    auto byte_at = [&](uint16_t addr) { return uint8_t(nes.cpu->memory[addr]); };
    while (byte_at(ALL_DONE) != 0xA5 && nes.frame_count() < 120)
        nes.runFrame();
    ASSERT_EQ(byte_at(ALL_DONE), 0xA5) << "the program did not finish";
    EXPECT_EQ(byte_at(FIRST_FAILURE), 0) << "first failing check";
    if (program.measured != NO_FIGURE) {
        EXPECT_EQ(byte_at(MEASURED) | byte_at(MEASURED + 1) << 8, program.measured);
    }
}

using NES::Accuracy;

INSTANTIATE_TEST_SUITE_P(
    Boards, BoardPrograms,
    testing::Values(
        // one entry per program and mode, by board
        BoardProgram{"board_action53", Accuracy::fast},
        BoardProgram{"board_action53", Accuracy::hardware},
        BoardProgram{"board_axrom", Accuracy::fast},
        BoardProgram{"board_axrom", Accuracy::hardware},
        BoardProgram{"board_bnrom", Accuracy::fast},
        BoardProgram{"board_bnrom", Accuracy::hardware},
        BoardProgram{"board_camerica", Accuracy::fast},
        BoardProgram{"board_camerica", Accuracy::hardware},
        BoardProgram{"board_camerica_bf9097", Accuracy::fast},
        BoardProgram{"board_camerica_bf9097", Accuracy::hardware},
        BoardProgram{"board_color_dreams", Accuracy::fast},
        BoardProgram{"board_color_dreams", Accuracy::hardware},
        BoardProgram{"board_fme7", Accuracy::fast},
        // The write starting the counter from N ends its cycle with
        // the counter at N; each cycle after takes one, so the one
        // that finds 0 wraps it N + 1 cycles after the write, and the
        // CPU sees /IRQ at that cycle's end. The INX run starts the
        // cycle after the write, so the wrap lands N cycles into it:
        // on an INX's first cycle it is taken after that INX, on its
        // second after the next one. X = ceil(N / 2) + 1 INXs, and
        // the two runs give 11 + 12 = N + 3 for N = 20.
        BoardProgram{"board_fme7", Accuracy::hardware, 23},
        BoardProgram{"board_gxrom", Accuracy::fast},
        BoardProgram{"board_gxrom", Accuracy::hardware}, BoardProgram{"board_mmc2", Accuracy::fast},
        BoardProgram{"board_mmc2", Accuracy::hardware}, BoardProgram{"board_mmc4", Accuracy::fast},
        BoardProgram{"board_mmc4", Accuracy::hardware}, BoardProgram{"board_mmc5", Accuracy::fast},
        // Synchronised to the vertical blank flag, the program turns the background on
        // at line 1, so the in-frame flag rises at line 2 and compare 10 raises /IRQ at
        // line 12 once its dot 2 has passed: in the first cycle of the 126th INX of the
        // run, which the CPU sees at that INX's end.
        BoardProgram{"board_mmc5", Accuracy::hardware, 126},
        BoardProgram{"board_namco108", Accuracy::fast},
        BoardProgram{"board_namco108", Accuracy::hardware},
        BoardProgram{"board_nina", Accuracy::fast}, BoardProgram{"board_nina", Accuracy::hardware},
        BoardProgram{"board_unrom512", Accuracy::fast},
        BoardProgram{"board_unrom512", Accuracy::hardware},
        BoardProgram{"board_unrom512_flash", Accuracy::fast},
        BoardProgram{"board_unrom512_flash", Accuracy::hardware}),
    program_name);

} // namespace
