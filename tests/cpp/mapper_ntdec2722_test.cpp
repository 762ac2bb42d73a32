// NTDEC 2722: the switchable bank at $C000 and the timer that interrupts every 12288
// PPU dots, on a tagged cartridge (every 1 KiB unit of PRG ROM carries its own number).
#include <gtest/gtest.h>

#include "cartridge/mappers/ntdec2722.hpp"
#include "mapper_cartridge.hpp"

namespace {

using mapper_test::console;
using mapper_test::poke;
using mapper_test::tagged_image;
using mapper_test::unit_at;

constexpr int KIB = 1024;
constexpr int PERIOD = 12288;

std::unique_ptr<NESUnit> ntdec_console(test::TempHome const& home) {
    return console(home, tagged_image(40, 64 * KIB, 8 * KIB));
}

// Clocks the board `dots` times and returns after how many clocks each IRQ was raised.
std::vector<int> irqs_during(NESUnit& nes, int dots) {
    std::vector<int> seen;
    for (int dot = 1; dot <= dots; ++dot) {
        nes.rom->mapper->clock(nes.ppu->mapper_args);
        if (nes.cpu->irq_pending) seen.push_back(dot);
        nes.cpu->irq_pending = false;
    }
    return seen;
}

TEST(Ntdec2722, BankWritesFillOnlyC000) {
    test::TempHome home;
    auto nes = ntdec_console(home);
    poke(*nes, 0xE000, 2);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xC000), 16);
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xDC00), 23);
    poke(*nes, 0xFFFF, 0xFF); // 8 KiB bank 255 wraps to bank 7
    EXPECT_EQ(unit_at(nes->cpu->memory, 0xC000), 56);
    std::vector<signed char> before(nes->cpu->memory, nes->cpu->memory + 0x10000);
    poke(*nes, 0xC000, 3);
    poke(*nes, 0xDFFF, 3);
    EXPECT_EQ(before, std::vector<signed char>(nes->cpu->memory, nes->cpu->memory + 0x10000));
}

TEST(Ntdec2722, TimerInterruptsEvery12288DotsFromPowerOn) {
    test::TempHome home;
    auto nes = ntdec_console(home);
    EXPECT_EQ(irqs_during(*nes, 3 * PERIOD), (std::vector<int>{PERIOD, 2 * PERIOD, 3 * PERIOD}));
}

TEST(Ntdec2722, StopResetsTheTimerAndStartResumesIt) {
    test::TempHome home;
    auto nes = ntdec_console(home);
    irqs_during(*nes, 5000);
    poke(*nes, 0x9FFF, 0);
    EXPECT_EQ(irqs_during(*nes, 3 * PERIOD), std::vector<int>{});
    poke(*nes, 0xA000, 0);
    EXPECT_EQ(irqs_during(*nes, 2 * PERIOD), (std::vector<int>{PERIOD, 2 * PERIOD}));
    irqs_during(*nes, 100);
    poke(*nes, 0x8000, 0);
    poke(*nes, 0xBFFF, 0);
    EXPECT_EQ(irqs_during(*nes, PERIOD), std::vector<int>{PERIOD});
}

} // namespace
