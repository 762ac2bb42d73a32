// Console assembly and stepping: counters, the catch-up ratio and frame geometry.
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

class Console : public ::testing::Test {
protected:
    test::TempHome home;
    // An endless loop at $8000: JMP $8000 (3 cycles per step).
    std::unique_ptr<NESUnit> nes = test::console(
        home.path(), test::Image().at(0x8000, {0x4C, 0x00, 0x80}).vectors(0x8000, 0x8000, 0x8000));
};

TEST_F(Console, StartsWithZeroCounters) {
    EXPECT_EQ(nes->cycle_count(), 0);
    EXPECT_EQ(nes->frame_count(), 0);
    EXPECT_EQ(nes->apu->sample_rate, 44100);
    EXPECT_EQ(nes->apu->apu_clock, 1789773 / 2);
}

TEST_F(Console, OneStepCatchesUpThreeDotsPerCycleAndHalfAnApuStep) {
    nes->single_cycle();
    EXPECT_EQ(nes->cycle_count(), 3);
    EXPECT_EQ(nes->ppu->dot_count, 9u);
    EXPECT_EQ(nes->apu->cycles, 2u); // 3 / 2 rounded up
}

TEST_F(Console, RunFrameAdvancesTheFrameCountByOne) {
    nes->runFrame();
    EXPECT_EQ(nes->frame_count(), 1);
    nes->runFrame();
    EXPECT_EQ(nes->frame_count(), 2);
}

TEST_F(Console, PerFrameCallableRunsOncePerFrameInsideTheStep) {
    int calls = 0;
    nes->perFrame([&] {
        ++calls;
        EXPECT_EQ(nes->ppu->scanline, 0);
        EXPECT_EQ(nes->ppu->dot, 0);
    });
    for (int i = 0; i < 3; ++i)
        nes->runFrame();
    EXPECT_EQ(calls, 3);
}

TEST_F(Console, AnEmptyPerFrameCallableFailsTheStepThatEndsTheFrame) {
    nes->perFrame(nullptr);
    EXPECT_THROW(nes->runFrame(), std::bad_function_call);
}

TEST(ConsoleClock, NonPositiveSpeedsMeanAsFastAsPossible) {
    test::TempHome home;
    std::string const rom = test::write_temp_file(home.path(), "c.nes", test::Image().bytes());
    for (int speed : {0, -5})
        EXPECT_EQ(NESUnit(rom.c_str(), speed).cpu->clock_speed, 2147483647);
    EXPECT_EQ(NESUnit(rom.c_str(), 2).cpu->clock_speed, 2);
    testing::internal::CaptureStdout();
    NESUnit blank(-1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No rom specified.\nNo Battery\niNES\n0\nrom created.\nCHR-RAM Copied.\n");
    EXPECT_EQ(blank.cpu->clock_speed, 2147483647);
    blank.runFrame();
    EXPECT_EQ(blank.frame_count(), 1);
}

TEST(Frame, Is89342DotsWithVerticalBlankAtLine241) {
    test::TempHome home;
    auto nes = test::console(home.path(), test::Image());
    NES::PPU& ppu = *nes->ppu;
    for (int call = 1; call < 82158; ++call)
        ppu.cycle();
    EXPECT_FALSE(ppu.vblank);
    ppu.cycle();
    EXPECT_TRUE(ppu.vblank);
    EXPECT_TRUE(ppu.nmi_occurred);
    for (int call = 82159; call < 89317; ++call)
        ppu.cycle();
    EXPECT_EQ(ppu.frame_count.load(), 0u);
    ppu.cycle();
    EXPECT_EQ(ppu.frame_count.load(), 1u);
    for (int call = 0; call < 89341; ++call)
        ppu.cycle();
    EXPECT_EQ(ppu.frame_count.load(), 1u);
    ppu.cycle();
    EXPECT_EQ(ppu.frame_count.load(), 2u);
}

TEST(Frame, SetControllerRefusesPortsOtherThanZeroAndOne) {
    test::TempHome home;
    auto nes = test::console(home.path(), test::Image());
    NES::Controller pad;
    NES::Controller* const plugged = nes->cpu->controllers[0];
    for (int port : {2, -1, 256, 257, 512})
        EXPECT_THROW(nes->setController(pad, port), std::invalid_argument) << port;
    EXPECT_EQ(nes->cpu->controllers[0], plugged);
    EXPECT_EQ(nes->cpu->controllers[1], &nes->controller2);
}

} // namespace
