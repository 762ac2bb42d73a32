// Cartridge sound: the MMC5's and the Sunsoft 5B's units driven through their registers,
// and the 5B mixed into a mapper-69 console's sample stream in both modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>
#include <vector>

#include "cartridge/mappers/mmc5_sound.hpp"
#include "cartridge/mappers/sunsoft_5b_sound.hpp"
#include "mapper_cartridge.hpp"
#include "persistence/snapshot.hpp"

namespace {

using NES::APU;
using NES::Mmc5Sound;
using NES::Sunsoft5BSound;

// APU steps between two of the MMC5's 240 Hz clocks, rounded up.
constexpr uint64_t FRAME_STEPS = (Mmc5Sound::FRAME_CYCLES + 1) / 2;

// A pulse at constant volume 15, 50 % duty, length index 1 (254), sweep register set: the
// duty sequence steps every period + 1 steps, low (so, inverted, +15) at position 0 only
// among the first five.
class Mmc5Pulse : public testing::TestWithParam<int> {
protected:
    Mmc5Sound unit;
    uint16_t base = uint16_t(0x5000 + 4 * GetParam());
    void start(uint8_t period, uint8_t control = 0xBF) {
        unit.write(0x5015, uint8_t(1 << GetParam()), 0);
        unit.write(base, control, 0);
        unit.write(uint16_t(base + 1), 0x87, 0);
        unit.write(uint16_t(base + 2), period, 0);
        unit.write(uint16_t(base + 3), 0x08, 0);
    }
    int level_at(uint64_t step) {
        unit.sample(step);
        return unit.pulse_level(GetParam());
    }
};

TEST_P(Mmc5Pulse, SoundsInvertedWithoutSweepEvenBelowPeriod8) {
    start(5);
    EXPECT_EQ(level_at(5), 15);
    EXPECT_EQ(level_at(6), -15);
    EXPECT_EQ(level_at(29), -15);
    EXPECT_EQ(level_at(30), 15);
    EXPECT_EQ(unit.pulse_level(1 - GetParam()), 0);
    EXPECT_FLOAT_EQ(unit.sample(30), float(15 * APU::PULSE_WEIGHT));
}

// Length index 0 loads 10, which ten 240 Hz clocks take away.
TEST_P(Mmc5Pulse, LengthRunsOutAt240Hz) {
    start(100, 0x9F);
    unit.write(uint16_t(base + 3), 0x00, 0);
    uint8_t const bit = uint8_t(1 << GetParam());
    EXPECT_EQ(unit.read_status(9 * FRAME_STEPS), bit);
    EXPECT_EQ(unit.read_status(10 * FRAME_STEPS), 0);
    EXPECT_EQ(level_at(10 * FRAME_STEPS), 0);
}

// Envelope period 0: the first clock starts the decay at 15, each clock after takes one.
TEST_P(Mmc5Pulse, EnvelopeDecaysAt240Hz) {
    start(100, 0x80);
    for (int clocks = 1; clocks <= 4; ++clocks)
        EXPECT_EQ(std::abs(level_at(clocks * FRAME_STEPS)), 16 - clocks) << clocks;
}

TEST_P(Mmc5Pulse, DisabledChannelIgnoresLengthLoads) {
    start(100);
    unit.write(0x5015, 0, 1);
    unit.write(uint16_t(base + 3), 0x08, 2);
    EXPECT_EQ(unit.read_status(3), 0);
    EXPECT_EQ(level_at(3), 0);
}

INSTANTIATE_TEST_SUITE_P(Pulses, Mmc5Pulse, testing::Values(0, 1));

// The DAC in write mode takes $5011 but $00; in read mode it takes the bytes read, $00
// tripping the IRQ, which the line shows only while enabled and a $5010 read clears.
TEST(Mmc5Pcm, WriteModeLoadsTheDacButNotZero) {
    Mmc5Sound unit;
    unit.write(0x5011, 0x40, 0);
    unit.write(0x5011, 0x00, 0);
    EXPECT_EQ(unit.dac(), 0x40);
    unit.pcm_read(0x22, 0); // reads do nothing in write mode
    EXPECT_EQ(unit.dac(), 0x40);
    EXPECT_FLOAT_EQ(unit.sample(1), float(-0x40 * APU::DMC_WEIGHT / 2));
    unit.write(0x5010, Mmc5Sound::PCM_READ_MODE, 1);
    unit.write(0x5011, 0x50, 1);
    EXPECT_EQ(unit.dac(), 0x40);
}

struct PcmCase {
    uint8_t control;
    bool line; // the IRQ output after a $00 read
};

class Mmc5PcmRead : public testing::TestWithParam<PcmCase> {};

TEST_P(Mmc5PcmRead, ZeroTripsTheIrqAndNonZeroClearsIt) {
    Mmc5Sound unit;
    unit.write(0x5010, GetParam().control, 0);
    unit.pcm_read(0x33, 1);
    EXPECT_FALSE(unit.irq());
    unit.pcm_read(0x00, 2);
    EXPECT_EQ(unit.dac(), 0x33);
    EXPECT_EQ(unit.irq(), GetParam().line);
    unit.pcm_read(0x34, 3);
    EXPECT_FALSE(unit.irq());
    EXPECT_EQ(unit.read_pcm_status(), 0x00);
    unit.pcm_read(0x00, 4);
    EXPECT_EQ(unit.read_pcm_status(), 0x80);
    EXPECT_EQ(unit.read_pcm_status(), 0x00);
    EXPECT_FALSE(unit.irq());
}

INSTANTIATE_TEST_SUITE_P(Modes, Mmc5PcmRead,
                         testing::Values(PcmCase{0x01, false}, PcmCase{0x81, true}));

using RegisterWrites = std::initializer_list<std::pair<int, int>>;

// The 5B's registers, written at step 0.
void write_5b(Sunsoft5BSound& unit, RegisterWrites writes) {
    for (auto const& [reg, value] : writes) {
        unit.select(uint8_t(reg));
        unit.write(uint8_t(value), 0);
    }
}

// A tone toggles every period's ticks of 16 CPU cycles (8 steps); period 0 counts as 1.
struct ToneCase {
    int channel;
    int period; // registers 2ch and 2ch + 1
    int ticks;  // ticks between toggles
};

class Sunsoft5BTone : public testing::TestWithParam<ToneCase> {};

TEST_P(Sunsoft5BTone, TogglesOncePerPeriod) {
    auto const [ch, period, ticks] = GetParam();
    Sunsoft5BSound unit;
    write_5b(
        unit,
        {{2 * ch, period & 0xFF}, {2 * ch + 1, period >> 8}, {7, 0x3F & ~(1 << ch)}, {8 + ch, 15}});
    uint64_t const half = 8 * uint64_t(ticks);
    for (uint64_t step = 0; step < 6 * half; ++step) {
        unit.sample(step);
        EXPECT_EQ(unit.channel_on(ch), (step / half) % 2 == 1) << step;
    }
}

INSTANTIATE_TEST_SUITE_P(Periods, Sunsoft5BTone,
                         testing::Values(ToneCase{0, 0, 1}, ToneCase{1, 1, 1}, ToneCase{2, 7, 7},
                                         ToneCase{0, 0xF23, 0xF23}, ToneCase{1, 0x1005, 5}));

// With tone and noise off a channel sounds steadily at its volume's amplitude: twice an
// APU pulse's at the top, 3 dB less a step down, nothing at 0.
struct VolumeCase {
    int volume;
    double amplitude;
};

class Sunsoft5BVolume : public testing::TestWithParam<VolumeCase> {};

TEST_P(Sunsoft5BVolume, IsLogarithmic) {
    Sunsoft5BSound unit;
    write_5b(unit, {{7, 0x3F}, {9, GetParam().volume}});
    double const top = 2 * 15 * APU::PULSE_WEIGHT;
    EXPECT_NEAR(unit.sample(100), top * GetParam().amplitude, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Volumes, Sunsoft5BVolume,
                         testing::Values(VolumeCase{15, 1.0}, VolumeCase{14, 0.7079458},
                                         VolumeCase{5, std::pow(10.0, -30 / 20.0)},
                                         VolumeCase{0, 0.0}));

// Envelope period 1 steps a level a tick; the levels at ticks 0, 31, 32 and 40 tell the
// shape: the first ramp, and what follows it.
struct ShapeCase {
    int shape;
    int levels[4];
};

class Sunsoft5BEnvelope : public testing::TestWithParam<ShapeCase> {};

TEST_P(Sunsoft5BEnvelope, FollowsItsShape) {
    Sunsoft5BSound unit;
    write_5b(unit, {{11, 1}, {12, 0}, {13, GetParam().shape}, {8, 0x10}});
    int const ticks[4] = {0, 31, 32, 40};
    for (int i = 0; i < 4; ++i) {
        unit.sample(8 * uint64_t(ticks[i]));
        EXPECT_EQ(unit.channel_level(0), GetParam().levels[i]) << "tick " << ticks[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, Sunsoft5BEnvelope,
    testing::Values(ShapeCase{0x00, {31, 0, 0, 0}}, ShapeCase{0x04, {0, 31, 0, 0}},
                    ShapeCase{0x08, {31, 0, 31, 23}}, ShapeCase{0x09, {31, 0, 0, 0}},
                    ShapeCase{0x0A, {31, 0, 0, 8}}, ShapeCase{0x0B, {31, 0, 31, 31}},
                    ShapeCase{0x0C, {0, 31, 0, 8}}, ShapeCase{0x0D, {0, 31, 31, 31}},
                    ShapeCase{0x0E, {0, 31, 31, 23}}, ShapeCase{0x0F, {0, 31, 0, 0}}));

// Noise period 3 shifts the register every 6 ticks (48 steps): the channel changes only
// there, and is on about half the time.
TEST(Sunsoft5BNoise, ShiftsAtHalfTheToneRate) {
    Sunsoft5BSound unit;
    write_5b(unit, {{6, 3}, {7, 0x37}, {8, 15}});
    int on = 0;
    bool last = unit.channel_on(0);
    for (uint64_t step = 1; step < 48 * 2000; ++step) {
        unit.sample(step);
        bool const now = unit.channel_on(0);
        if (now != last) {
            EXPECT_EQ(step % 48, 0u) << step;
        }
        last = now;
        on += now;
    }
    EXPECT_NEAR(on / (48.0 * 2000), 0.5, 0.05);
}

// A unit restored from a snapshot taken at a step sounds on as the original does.
template <class Unit> std::vector<float> continued(Unit& unit, uint64_t from) {
    std::vector<float> out;
    for (uint64_t step = from; step < from + 60000; step += 41)
        out.push_back(unit.sample(step));
    return out;
}

template <class Unit> void expect_snapshot_continues(Unit& original, uint64_t at) {
    std::vector<unsigned char> bytes;
    NES::Snapshot save(bytes);
    save.clocks.apu_steps = at;
    original.snapshot(save);
    Unit restored;
    NES::Snapshot load(NES::Snapshot::Mode::load, bytes.data(), bytes.size());
    load.clocks.apu_steps = at;
    restored.snapshot(load);
    ASSERT_TRUE(load.usable());
    EXPECT_EQ(continued(restored, at), continued(original, at));
}

TEST(ExpansionSnapshot, UnitsContinueFromTheirSnapshots) {
    Mmc5Sound mmc5;
    mmc5.write(0x5015, 3, 0);
    mmc5.write(0x5000, 0x84, 0);
    mmc5.write(0x5006, 0x33, 0);
    mmc5.write(0x5007, 0x09, 10);
    mmc5.write(0x5011, 0x70, 20);
    mmc5.sample(1234);
    expect_snapshot_continues(mmc5, 5555);
    Sunsoft5BSound sunsoft;
    write_5b(sunsoft,
             {{0, 0x40}, {3, 0x01}, {6, 7}, {7, 0x2C}, {8, 0x10}, {9, 12}, {11, 9}, {13, 0x0E}});
    sunsoft.sample(999);
    expect_snapshot_continues(sunsoft, 4321);
}

// A mapper-69 program in its fixed last bank ($E000): the DMC's level to 64, the middle
// of its range (hardware mode mixes the level even with the DMC disabled, and level 64
// adds nothing), then channel A at period $100 and volume 15 alone, then a loop.
std::vector<unsigned char> sunsoft_tone_image() {
    std::vector<unsigned char> image = mapper_test::tagged_image(69, 32 * 1024, 8192);
    std::vector<uint8_t> code = {0xA9, 0x40, 0x8D, 0x11, 0x40};
    RegisterWrites const writes = {{0, 0x00}, {1, 0x01}, {7, 0x3E}, {8, 15}};
    for (auto const& [reg, value] : writes)
        code.insert(code.end(),
                    {0xA9, uint8_t(reg), 0x8D, 0x00, 0xC0, 0xA9, uint8_t(value), 0x8D, 0x00, 0xE0});
    uint16_t const loop = uint16_t(0xE000 + code.size());
    code.insert(code.end(), {0x4C, uint8_t(loop), uint8_t(loop >> 8)});
    size_t const bank = 16 + 24 * 1024;
    std::copy(code.begin(), code.end(), image.begin() + long(bank));
    image[bank + 0x1FFC] = 0x00; // reset vector $E000
    image[bank + 0x1FFD] = 0xE0;
    return image;
}

std::vector<int16_t> stream(APU& apu, APU::Stream which) {
    unsigned char bytes[2 * APU::BUFFER_LEN];
    apu.read_block(which, bytes);
    std::vector<int16_t> out;
    for (int i = 0; i < APU::BUFFER_LEN; ++i)
        out.push_back(int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8));
    return out;
}

class Sunsoft5BConsole : public testing::TestWithParam<NES::Accuracy> {};

// The board's stream holds the tone at 1789773 / (32 x 256) Hz, and the mixed stream
// adds it to the console's silence. A snapshot's twin goes on sounding the same.
TEST_P(Sunsoft5BConsole, MixesTheToneAndKeepsItInSnapshots) {
    test::TempHome home;
    auto nes = mapper_test::console(home, sunsoft_tone_image(), GetParam());
    APU& apu = *nes->apu;
    ASSERT_EQ(apu.stream_count(), APU::STREAMS + 1);
    std::vector<int16_t> tone;
    for (int blocks = 0; blocks < 12;) {
        nes->runFrame();
        if (!apu.claim_block() || apu.samples < 2 * APU::BUFFER_LEN) continue;
        std::vector<int16_t> const board = stream(apu, APU::EXPANSION);
        EXPECT_EQ(stream(apu, APU::MIXED), board);
        tone.insert(tone.end(), board.begin(), board.end());
        ++blocks;
    }
    int const top = int(2 * 15 * APU::PULSE_WEIGHT * 32767);
    int rises = 0;
    for (size_t i = 1; i < tone.size(); ++i) {
        EXPECT_EQ(std::abs(tone[i]), top);
        rises += tone[i - 1] < 0 && tone[i] > 0;
    }
    double const seconds = double(tone.size()) / APU::SAMPLE_RATE;
    EXPECT_NEAR(rises, seconds * 1789773.0 / (32 * 256), 1.5);

    std::vector<unsigned char> const snapshot = nes->take_snapshot();
    auto twin = mapper_test::console(home, sunsoft_tone_image(), GetParam());
    ASSERT_EQ(twin->restore_snapshot(snapshot.data(), snapshot.size()),
              NESUnit::SnapshotVerdict::restored);
    for (int frame = 0; frame < 60; ++frame) {
        nes->runFrame();
        twin->runFrame();
        ASSERT_EQ(twin->apu->claim_block(), apu.claim_block());
        for (int s = 0; s < apu.stream_count(); ++s)
            ASSERT_EQ(stream(*twin->apu, APU::Stream(s)), stream(apu, APU::Stream(s))) << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, Sunsoft5BConsole,
                         testing::Values(NES::Accuracy::fast, NES::Accuracy::hardware));

} // namespace
