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
std::unique_ptr<NESUnit> program_console(std::string const& name) {
    std::string const path = std::string(VANDREL_ASM_ROMS) + "/" + name + ".nes";
    if (!std::filesystem::exists(path)) return nullptr;
    return std::make_unique<NESUnit>(path.c_str(), 1789773);
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

} // namespace
