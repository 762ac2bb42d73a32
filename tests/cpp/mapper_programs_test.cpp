// The MMC3 scanline IRQ as a 6502 program sees it (tests/asm/mapper_mmc3.s): a real
// handler counts the IRQs of one frame per phase, and the test notes the scanline at
// which each of them arrives.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

constexpr uint16_t ALL_DONE = 0x02FF;
constexpr uint16_t IRQ_COUNTS = 0x0310;
constexpr uint16_t IRQ_COUNT = 0x0020;
constexpr uint16_t PHASE = 0x0022;

uint8_t byte_at(NESUnit const& nes, uint16_t addr) {
    return uint8_t(nes.cpu->memory[addr]);
}

TEST(MapperPrograms, Mmc3ScanlineIrqsThroughAnIrqHandler) {
    test::TempHome home;
    std::string const path = std::string(VANDREL_ASM_ROMS) + "/mapper_mmc3.nes";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "ca65/ld65 not installed: the 6502 test programs were not built";
    NESUnit nes(path.c_str(), 1789773);

    std::vector<int> latch_20_lines; // scanline at each IRQ of the latch-20 phase
    uint8_t count = 0;
    while (byte_at(nes, ALL_DONE) != 0xA5 && nes.ppu->frame_count < 20) {
        nes.single_cycle();
        uint8_t const now = byte_at(nes, IRQ_COUNT);
        if (now != count && now != 0 && byte_at(nes, PHASE) == 0)
            latch_20_lines.push_back(nes.ppu->scanline);
        count = now;
    }
    ASSERT_EQ(byte_at(nes, ALL_DONE), 0xA5) << "the program did not finish";

    // The counter steps on scanline 261 (which reloads it after the $C001 write) and on
    // scanlines 0-240, so 241 steps count towards IRQs in each phase.
    struct Phase {
        char const* what;
        int irqs;
    };
    Phase const phases[] = {
        {"latch 20", 12}, {"latch 1", 241}, {"latch 0", 0}, {"disabled", 0}, {"rendering off", 0}};
    for (int p = 0; p < 5; ++p)
        EXPECT_EQ(byte_at(nes, IRQ_COUNTS + p), phases[p].irqs) << phases[p].what;

    std::vector<int> expected;
    for (int line = 19; line < 240; line += 20)
        expected.push_back(line);
    EXPECT_EQ(latch_20_lines, expected);
}

} // namespace
