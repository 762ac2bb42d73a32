// The mix, the sampling schedule and the publication of sample blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "test_support.hpp"

namespace {

using NES::APU;

class Mixer : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes = test::console(home.path(), image());
    NES::CPU& cpu = *nes->cpu;
    APU& apu = *nes->apu;

    // DMC sample bytes: 0x00 at $D000, 0xFF at $D040.
    static test::Image image() {
        test::Image im;
        im.at(0xD040, {0xFF});
        return im;
    }
    void write(uint16_t addr, uint8_t value) {
        cpu.write(cpu.at(addr), static_cast<signed char>(value));
    }
    void step(int n = 1) {
        for (int i = 0; i < n; ++i)
            apu.cycle();
    }
    void step_until_samples(uint64_t n) {
        while (apu.samples < n)
            apu.cycle();
    }
    // A looping one-byte DMC sample: byte 0x00 holds the level at 0, 0xFF (with a $4011
    // load of 255) holds it at 255.
    void dmc_only(uint8_t sample_page, uint8_t direct) {
        write(0x4010, 0x4F);
        write(0x4011, direct);
        write(0x4012, sample_page);
        write(0x4013, 0x00);
        write(0x4015, 0x10);
    }
};

TEST_F(Mixer, FirstSampleAtStep22PublishesAZeroBlock) {
    step(21);
    EXPECT_EQ(apu.samples, 0u);
    EXPECT_FALSE(apu.claim_block());
    step();
    EXPECT_EQ(apu.samples, 1u);
    ASSERT_TRUE(apu.claim_block());
    EXPECT_FALSE(apu.claim_block()) << "a block is handed out once";
    unsigned char bytes[2 * APU::BUFFER_LEN];
    std::fill(std::begin(bytes), std::end(bytes), 0xEE);
    apu.read_block(APU::MIXED, bytes);
    EXPECT_TRUE(std::all_of(std::begin(bytes), std::end(bytes), [](auto b) { return b == 0; }));
}

TEST_F(Mixer, PublishedBlockHoldsThe1024SamplesBeforeIt) {
    write(0x4015, 0x01);
    write(0x4000, 0xBF);
    write(0x4002, 0x40); // a square wave, so the block is not uniform
    write(0x4003, 0x00);
    step_until_samples(2048);
    auto const live = apu.buffers;
    step_until_samples(2049);
    EXPECT_EQ(apu.out_buffers, live);
    EXPECT_NE(std::count_if(live.begin(), live.end(),
                            [](APU::Levels l) { return APU::stream_value(l, APU::PULSE1) == 0; }),
              APU::BUFFER_LEN);
}

TEST_F(Mixer, DmcAloneAtLevel0MixesToMinus14050) {
    dmc_only(0x40, 0x00);
    step_until_samples(3000);
    EXPECT_EQ(apu.dmc_level, 0);
    EXPECT_EQ(NES::mix(&apu), -14050);
    APU::Levels const last = apu.out_buffers[APU::BUFFER_LEN - 1];
    for (APU::Stream s : {APU::MIXED, APU::DMC})
        EXPECT_EQ(APU::stream_value(last, s), -14050) << "stream " << s;
    for (APU::Stream s : {APU::PULSE1, APU::PULSE2, APU::TRIANGLE, APU::NOISE})
        EXPECT_EQ(APU::stream_value(last, s), 0) << "stream " << s;
}

TEST_F(Mixer, ValuesPastSixteenBitsKeepTheirLowBits) {
    dmc_only(0x41, 0xFF);
    step_until_samples(3000);
    EXPECT_EQ(apu.dmc_level, 255);
    int const mixed = NES::mix(&apu);
    EXPECT_GT(mixed, 32767);
    EXPECT_EQ(APU::stream_value(apu.out_buffers[APU::BUFFER_LEN - 1], APU::MIXED),
              int16_t(mixed - 65536));
}

TEST_F(Mixer, DisabledChannelsMixToSilence) {
    // Loaded length counters keep a disabled pulse's output moving until the half frame.
    step(); // past the full clock of step 0, which would clear them at once
    write(0x4015, 0x00);
    write(0x4000, 0xBF);
    write(0x4002, 0x40);
    write(0x4003, 0x08);
    write(0x400E, 0x00);
    write(0x400F, 0x08);
    step_until_samples(1025);
    for (int s = APU::MIXED; s < APU::STREAMS; ++s)
        EXPECT_TRUE(std::all_of(
            apu.out_buffers.begin(), apu.out_buffers.end(),
            [s](auto levels) { return APU::stream_value(levels, APU::Stream(s)) == 0; }))
            << "stream " << s;
}

// The schedule uses multiplications; it must agree step for step with the rule
// samples < cycles * sample_rate / apu_clock at every clock speed.
class MixerClock : public ::testing::TestWithParam<int> {};

TEST_P(MixerClock, SamplesFollowTheDivisionRuleStepForStep) {
    test::TempHome home;
    NESUnit nes(GetParam());
    APU& apu = *nes.apu;
    uint64_t expected = 0;
    for (int k = 0; k < 300000; ++k) {
        int64_t const due =
            apu.apu_clock > 0 ? int64_t(apu.cycles) * apu.sample_rate / apu.apu_clock : 0;
        if (int64_t(expected) < due) ++expected;
        apu.cycle();
        ASSERT_EQ(apu.samples, expected) << "step " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Speeds, MixerClock,
                         ::testing::Values(1789773, 1, 2, 3, 88200, 88201, 1000001, INT_MAX));

// A $4011 write with the DMC disabled: the console mixes the level it sets (hardware
// mode); the fast mode mixes the DMC only while $4015 enables it, so it stays silent.
class MixerDirectLoad : public ::testing::TestWithParam<NES::Accuracy> {};

TEST_P(MixerDirectLoad, LevelWithDmcDisabledIsMixedInHardwareModeOnly) {
    bool const hardware = GetParam() == NES::Accuracy::hardware;
    int mixed[2];
    for (uint8_t const level : {0x00, 0x7F}) {
        test::TempHome home;
        test::Image im;
        // LDA #0; STA $4015; LDA #level; STA $4011; JMP *
        im.at(0x8000,
              {0xA9, 0x00, 0x8D, 0x15, 0x40, 0xA9, level, 0x8D, 0x11, 0x40, 0x4C, 0x0A, 0x80});
        im.vectors(0x800A, 0x8000, 0x800A);
        auto nes = test::console(home.path(), im, "test.nes", 1789773, GetParam());
        nes->runFrame();
        nes->runFrame();
        ASSERT_FALSE(nes->apu->enabled[4]);
        mixed[level != 0] = NES::mix(nes->apu.get());
        APU::Levels const last = nes->apu->out_buffers[APU::BUFFER_LEN - 1];
        EXPECT_EQ(APU::stream_value(last, APU::DMC), hardware ? mixed[level != 0] : 0);
    }
    if (hardware) {
        EXPECT_EQ(mixed[0], -14050);
        EXPECT_GT(mixed[1], 0);
    } else {
        EXPECT_EQ(mixed[0], 0);
        EXPECT_EQ(mixed[1], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, MixerDirectLoad,
                         ::testing::Values(NES::Accuracy::fast, NES::Accuracy::hardware));

TEST(MixerClockOf1Hz, TakesNoSamplesAndRuns) {
    test::TempHome home;
    NESUnit nes(1);
    EXPECT_EQ(nes.apu->apu_clock, 0);
    nes.runFrame();
    EXPECT_EQ(nes.apu->samples, 0u);
    EXPECT_FALSE(nes.apu->claim_block());
}

} // namespace
