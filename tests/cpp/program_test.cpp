// 6502 test programs of our own: each writes one result byte per check (0 = passed,
// else the number of the failed step) and $A5 at $02FF when it has finished.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.hpp"

namespace {

struct Check {
    int slot;
    char const* name;
};

// Builds a console from an assembled program; null when the programs were not built.
std::unique_ptr<NESUnit> program_console(std::string const& name,
                                         NES::Accuracy accuracy = NES::Accuracy::fast) {
    std::string const path = std::string(VANDREL_ASM_ROMS) + "/" + name + ".nes";
    if (!std::filesystem::exists(path)) return nullptr;
    return std::make_unique<NESUnit>(path.c_str(), 1789773, accuracy);
}

// Runs a program until it marks $02FF finished; false when it does not within a second.
bool run_to_end(NESUnit& nes) {
    for (int frame = 0; frame < 60 && uint8_t(nes.cpu->memory[0x02FF]) != 0xA5; ++frame)
        nes.runFrame();
    return uint8_t(nes.cpu->memory[0x02FF]) == 0xA5;
}

int word_at(NESUnit const& nes, int address) {
    return uint8_t(nes.cpu->memory[address]) | uint8_t(nes.cpu->memory[address + 1]) << 8;
}

TEST(Programs, CpuChecks) {
    test::TempHome home;
    auto nes = program_console("cpu_checks");
    if (!nes) GTEST_SKIP() << "ca65/ld65 not installed: the 6502 test programs were not built";
    bool const a_and_start[8] = {true, false, false, true, false, false, false, false};
    bool const right[8] = {false, false, false, false, false, false, false, true};
    NES::Controller pad2(right);
    nes->controller1.update_inputs(a_and_start);
    nes->setController(pad2, 1);
    for (int frame = 0; frame < 30 && uint8_t(nes->cpu->memory[0x02FF]) != 0xA5; ++frame)
        nes->runFrame();
    ASSERT_EQ(uint8_t(nes->cpu->memory[0x02FF]), 0xA5) << "the program did not finish";
    for (Check c : {Check{0, "RAM mirrors"}, Check{1, "PPU register folding"},
                    Check{2, "controller ports"}, Check{3, "OAM DMA"},
                    Check{4, "extra opcode rows"}, Check{5, "NMI edges"}, Check{6, "BRK entry"}})
        EXPECT_EQ(nes->cpu->memory[0x0300 + c.slot], 0)
            << c.name << " failed at step " << int(nes->cpu->memory[0x0300 + c.slot]);
}

// Hardware mode's sound chip: $4015's bits, and the frame IRQ flag 29831 or 29832 cycles
// after a $4017 write of $00 (the sequence restarts 3 or 4 cycles after the write and
// sets the flag 29828 cycles on). The program counts 13-cycle polls, four cycles more at
// every 256th; a DMC fetch every 432 cycles stalls the CPU three or four cycles each.
TEST(Programs, ApuTimingInHardwareMode) {
    test::TempHome home;
    auto nes = program_console("apu_timing", NES::Accuracy::hardware);
    if (!nes) GTEST_SKIP() << "ca65/ld65 not installed: the 6502 test programs were not built";
    ASSERT_TRUE(run_to_end(*nes)) << "the program did not finish";
    EXPECT_EQ(nes->cpu->memory[0x0300], 0)
        << "$4015 check failed at step " << int(nes->cpu->memory[0x0300]);
    int const quiet = word_at(*nes, 0x0310);
    // From the write: 4 cycles of setup, the poll's read on its fourth cycle, and 8 wraps
    // of the low byte on the way.
    EXPECT_NEAR(quiet, (29831 - 8 - 4 * 8) / 13, 1) << "frame IRQ flag at the wrong cycle";
    int const stolen = (quiet - word_at(*nes, 0x0312)) * 13;
    int const fetches = 29831 / 432;
    EXPECT_GE(stolen, 3 * fetches - 13) << "DMC fetches stall too little";
    EXPECT_LE(stolen, 4 * fetches + 13) << "DMC fetches stall too much";
}

// Hardware mode's PPU after power-on: $2000, $2001, $2005 and $2006 writes are ignored
// until the first vertical blank ends, then work; after a reset they work at once,
// whether it comes after the first vertical blank or before it ends (the program starts
// again at its reset checks either way).
class PpuWarmUp : public ::testing::TestWithParam<bool> {};

TEST_P(PpuWarmUp, WritesIgnoredUntilTheFirstVerticalBlankEndsButNotAfterAReset) {
    bool const early_reset = GetParam();
    test::TempHome home;
    auto nes = program_console("ppu_warmup", NES::Accuracy::hardware);
    if (!nes) GTEST_SKIP() << "ca65/ld65 not installed: the 6502 test programs were not built";
    if (early_reset) {
        for (int i = 0; i < 50; ++i)
            nes->single_cycle();
        ASSERT_TRUE(nes->ppu->warming_up);
        ASSERT_EQ(uint8_t(nes->cpu->memory[0x02FE]), 0xA5) << "the program has not started";
    } else {
        ASSERT_TRUE(run_to_end(*nes)) << "the program did not finish";
        for (Check c : {Check{0, "early NMI enable ignored"}, Check{1, "early $2006 ignored"},
                        Check{2, "NMI enable after the first vertical blank"},
                        Check{3, "$2006 after the first vertical blank"}})
            EXPECT_EQ(nes->cpu->memory[0x0300 + c.slot], 0)
                << c.name << " failed at step " << int(nes->cpu->memory[0x0300 + c.slot]);
        nes->cpu->memory[0x02FF] = 0;
    }
    nes->press_reset();
    EXPECT_FALSE(nes->ppu->warming_up);
    ASSERT_TRUE(run_to_end(*nes)) << "the program did not finish after the reset";
    for (Check c : {Check{4, "NMI enable after a reset"}, Check{5, "$2006 after a reset"}})
        EXPECT_EQ(nes->cpu->memory[0x0300 + c.slot], 0)
            << c.name << " failed at step " << int(nes->cpu->memory[0x0300 + c.slot]);
}

INSTANTIATE_TEST_SUITE_P(Resets, PpuWarmUp, ::testing::Bool(), [](auto const& info) {
    return info.param ? "early_reset" : "late_reset";
});

} // namespace
