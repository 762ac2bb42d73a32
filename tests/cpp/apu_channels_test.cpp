// The sound channels and the frame sequencer, driven through the sound registers on the
// CPU bus.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "cartridge/mapper.hpp"
#include "test_support.hpp"

namespace {

struct Write {
    uint16_t addr;
    uint8_t value;
};

class Apu : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes = test::console(home.path(), image());
    NES::CPU& cpu = *nes->cpu;
    NES::APU& apu = *nes->apu;

    // DMC samples: 17 bytes 1..17 at $D000, 0xFF at $D100, 0x5A at $FFFF and 0xA5 at
    // $8000, where the reader lands after wrapping.
    static test::Image image() {
        test::Image im;
        for (uint8_t i = 0; i < 17; ++i)
            im.at(uint16_t(0xD000 + i), {uint8_t(i + 1)});
        im.at(0xD100, {0xFF});
        im.at(0xFFFF, {0x5A});
        im.at(0x8000, {0xA5});
        return im;
    }
    void write(uint16_t addr, uint8_t value) {
        cpu.write(cpu.at(addr), static_cast<signed char>(value));
    }
    void write(std::vector<Write> const& writes) {
        for (Write w : writes)
            write(w.addr, w.value);
    }
    uint8_t read(uint16_t addr) { return cpu.read(cpu.at(addr), true); }
    void step(int n = 1) {
        for (int i = 0; i < n; ++i)
            apu.cycle();
    }
    // Steps until the DMC reader has fetched `count` bytes (or a step limit runs out)
    // and returns the fetched bytes; `on_fetch` runs after each fetching step.
    std::vector<uint8_t> dmc_fetches(int count, std::function<void()> on_fetch = [] {}) {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < 200000 && int(bytes.size()) < count; ++i) {
            bool const was_empty = apu.dmc_buffer_empty;
            step();
            if (was_empty && !apu.dmc_buffer_empty) {
                bytes.push_back(apu.dmc_buffer);
                on_fetch();
            }
        }
        return bytes;
    }
};

TEST_F(Apu, PulseWalksItsDutySequenceOneStepPerPeriodPlusOne) {
    write({{0x4015, 0x01}, {0x4000, 0xBF}, {0x4002, 0xFD}, {0x4003, 0x00}});
    int const expected[8] = {-15, 15, 15, 15, 15, -15, -15, -15};
    for (int k = 0; k < 2 * 8 * 254; ++k) {
        step();
        ASSERT_EQ(apu.pulse_out[0], expected[(k / 254) % 8]) << "step " << k;
    }
}

TEST_F(Apu, TriangleSequenceAdvancesTwicePerApuStep) {
    // Period 3: four timer counts per sequence position, two of them per APU step.
    write({{0x4015, 0x04}, {0x4008, 0x7F}, {0x400A, 0x03}, {0x400B, 0x08}});
    for (int k = 0; k < 128; ++k) {
        step();
        float const level = NES::APU::triangle_table[(k / 2) % 32];
        ASSERT_EQ(apu.triangle_out, 2 * (level - 7.5f)) << "step " << k;
    }
}

struct SilenceCase {
    char const* name;
    std::vector<Write> writes;
    bool triangle; // which output to watch: the triangle's, else pulse 1's
    bool sounds;
};

class ApuSilence : public Apu, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(ApuSilence, ChannelSoundsOnlyWithinItsLimits) {
    write(GetParam().writes);
    bool heard = false;
    for (int k = 0; k < 4000; ++k) {
        step();
        heard |= GetParam().triangle ? apu.triangle_out != 0.0f : apu.pulse_out[0] != 0;
    }
    EXPECT_EQ(heard, GetParam().sounds);
}

std::vector<Write> pulse(uint8_t period_low, uint8_t sweep = 0x00) {
    return {{0x4015, 0x01}, {0x4000, 0xBF}, {0x4001, sweep}, {0x4002, period_low}, {0x4003, 0x00}};
}

std::vector<Write> triangle(uint8_t period_low) {
    return {{0x4015, 0x04}, {0x4008, 0xFF}, {0x400A, period_low}, {0x400B, 0x08}};
}

std::vector<Write> then(std::vector<Write> writes, std::vector<Write> more) {
    writes.insert(writes.end(), more.begin(), more.end());
    return writes;
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ApuSilence,
    ::testing::Values(SilenceCase{"pulse_period_7", pulse(0x07), false, false},
                      SilenceCase{"pulse_period_8", pulse(0x08), false, true},
                      SilenceCase{"pulse_disabled_clears_length",
                                  then(pulse(0x40), {{0x4015, 0x00}}), false, false},
                      // Period $7FF with shift 7 targets $80E: muted while the sweep is enabled.
                      SilenceCase{"sweep_target_past_7ff",
                                  then(pulse(0xFF, 0x87), {{0x4003, 0x07}}), false, false},
                      SilenceCase{"sweep_target_ignored_when_disabled",
                                  then(pulse(0xFF, 0x07), {{0x4003, 0x07}}), false, true},
                      SilenceCase{"triangle_period_0", triangle(0x00), true, false},
                      SilenceCase{"triangle_period_1", triangle(0x01), true, false},
                      SilenceCase{"triangle_period_2", triangle(0x02), true, true},
                      SilenceCase{"triangle_linear_counter_0",
                                  then(triangle(0x40), {{0x4008, 0x00}}), true, false}),
    [](auto const& info) { return info.param.name; });

TEST_F(Apu, LengthLoadsWhileDisabledAndStatusReadsItUntilTheHalfFrame) {
    step(); // past the full clock of step 0
    write(0x4015, 0x00);
    EXPECT_EQ(read(0x4015), 0);
    write(0x4003, 0x08); // length index 1: 254
    EXPECT_EQ(apu.length[0], 254);
    EXPECT_EQ(read(0x4015), 1);
    step(7457); // up to the half frame at phase 7458
    EXPECT_EQ(read(0x4015), 1);
    step();
    EXPECT_EQ(read(0x4015), 0);
}

struct LengthCase {
    uint8_t index;
    uint8_t length;
};

class ApuLength : public Apu, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(ApuLength, LengthWriteLoadsTheTableEntry) {
    write(0x4015, 0x0F);
    uint8_t const value = uint8_t(GetParam().index << 3);
    write({{0x4003, value}, {0x4007, value}, {0x400B, value}, {0x400F, value}});
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_EQ(apu.length[channel], GetParam().length) << "channel " << channel;
}

// The even entries from 16 to 24 are the console's 12 to 192, not a repeat of 10 to 160.
INSTANTIATE_TEST_SUITE_P(Table, ApuLength,
                         ::testing::Values(LengthCase{0, 10}, LengthCase{1, 254},
                                           LengthCase{8, 160}, LengthCase{10, 60},
                                           LengthCase{15, 14}, LengthCase{16, 12},
                                           LengthCase{18, 24}, LengthCase{20, 48},
                                           LengthCase{22, 96}, LengthCase{24, 192},
                                           LengthCase{26, 72}, LengthCase{31, 30}));

TEST_F(Apu, FrameCounterWriteWithBit7ClocksEveryUnitAtOnce) {
    write({{0x4015, 0x0F},
           {0x4000, 0x00}, // envelope period 0, no halt
           {0x4001, 0x81}, // sweep on, shift 1
           {0x4002, 0x00},
           {0x4003, 0x09},   // period $100, length 254, envelope start
           {0x4008, 0x05},   // linear reload value 5, control clear
           {0x400B, 0x08}}); // linear reload flag
    write(0x4017, 0x80);
    EXPECT_EQ(apu.envelopes[0].decay, 15);
    EXPECT_FALSE(apu.envelopes[0].start);
    EXPECT_EQ(apu.length[0], 253);
    EXPECT_EQ(apu.linear_counter, 5);
    EXPECT_FALSE(apu.linear_reload);
    EXPECT_EQ(apu.pulse_period[0], 0x180);
}

struct SequenceCase {
    uint8_t mode;
    int32_t period;
    std::vector<int> quarters; // phases of the quarter-frame clocks
    std::vector<int> halves;
};

class ApuSequence : public Apu, public ::testing::WithParamInterface<SequenceCase> {};

// Envelope decay (period 0) drops at each quarter frame, the length counter at each half.
TEST_P(ApuSequence, FrameCounterWriteRestartsTheSequence) {
    step(1000);
    write(0x4017, GetParam().mode);
    write(0x4000, 0x00);
    apu.enabled[0] = true;
    apu.length[0] = 200;
    apu.envelopes[0] = {false, 0, 15};
    std::vector<int> quarters, halves;
    int const period = GetParam().period;
    for (int k = 0; k < 2 * period; ++k) {
        int const offset = int(int64_t(apu.cycles) - apu.frame_start);
        uint8_t const decay = apu.envelopes[0].decay, length = apu.length[0];
        step();
        if (apu.envelopes[0].decay != decay) quarters.push_back(offset % period);
        if (apu.length[0] != length) halves.push_back(offset % period);
    }
    std::vector<int> expected_quarters = GetParam().quarters, expected_halves = GetParam().halves;
    for (auto* v : {&expected_quarters, &expected_halves})
        v->insert(v->end(), v->begin(), v->end()); // two periods
    EXPECT_EQ(quarters, expected_quarters);
    EXPECT_EQ(halves, expected_halves);
    EXPECT_FALSE(cpu.irq_pending) << "the sequencer never interrupts";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ApuSequence,
    ::testing::Values(SequenceCase{0x00, 14916, {3729, 7458, 11187, 0}, {7458, 0}},
                      SequenceCase{0x80, 18640, {3729, 7458, 11187, 0}, {7458, 0}}),
    [](auto const& info) { return info.param.mode ? "five_step" : "four_step"; });

struct SweepCase {
    char const* name;
    bool second;
    uint8_t control;
    uint16_t period;
    int clocks;
    uint16_t expected;
};

class ApuSweep : public Apu, public ::testing::WithParamInterface<SweepCase> {};

TEST_P(ApuSweep, HalfFrameMovesThePeriodToTheTarget) {
    SweepCase const c = GetParam();
    uint16_t const base = c.second ? 0x4004 : 0x4000;
    write({{0x4015, 0x03},
           {uint16_t(base + 1), c.control},
           {uint16_t(base + 2), uint8_t(c.period)},
           {uint16_t(base + 3), uint8_t(c.period >> 8)}});
    for (int i = 0; i < c.clocks; ++i)
        write(0x4017, 0x80);
    EXPECT_EQ(apu.pulse_period[c.second], c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ApuSweep,
    ::testing::Values(SweepCase{"pulse1_negate_shift1", false, 0x89, 0x100, 1, 0x80},
                      SweepCase{"pulse2_negate_shift1", true, 0x89, 0x100, 1, 0x7F},
                      SweepCase{"shift0_doubles", false, 0x80, 0x100, 2, 0x400},
                      SweepCase{"pulse2_negative_target_is_0", true, 0x88, 0x100, 1, 0},
                      SweepCase{"divider_period_1_skips_a_clock", false, 0x91, 0x100, 2, 0x180},
                      SweepCase{"disabled_keeps_period", false, 0x01, 0x100, 2, 0x100}),
    [](auto const& info) { return info.param.name; });

struct NoiseCase {
    uint8_t mode;
    int period;
};

class ApuNoise : public Apu, public ::testing::WithParamInterface<NoiseCase> {};

// From its seed of 1 the shift register repeats after 32767 steps, or 93 in short mode.
TEST_P(ApuNoise, ShiftRegisterRepeatsAfterItsSequenceLength) {
    write(0x400E, GetParam().mode); // period index 0: a shift every two APU steps
    int shifts = 0;
    do {
        step(2);
        ++shifts;
    } while (apu.noise_shift != 1 && shifts < 40000);
    EXPECT_EQ(shifts, GetParam().period);
}

INSTANTIATE_TEST_SUITE_P(Modes, ApuNoise,
                         ::testing::Values(NoiseCase{0x00, 32767}, NoiseCase{0x80, 93}));

struct DmcCase {
    char const* name;
    uint8_t flags;
    bool interrupts;
};

class ApuDmcEnd : public Apu, public ::testing::WithParamInterface<DmcCase> {};

TEST_P(ApuDmcEnd, SampleEndInterruptsOrLoops) {
    write({{0x4010, GetParam().flags}, {0x4012, 0x40}, {0x4013, 0x01}, {0x4015, 0x10}});
    int irq_at = -1, fetched = 0;
    std::vector<uint8_t> const bytes = dmc_fetches(34, [&] {
        ++fetched;
        if (irq_at < 0 && cpu.irq_pending) irq_at = fetched;
    });
    std::vector<uint8_t> expected;
    for (int i = 0; i < 17; ++i)
        expected.push_back(uint8_t(i + 1));
    if (GetParam().interrupts) {
        EXPECT_EQ(bytes, expected) << "no byte after the last one";
        EXPECT_EQ(irq_at, 17);
    } else {
        expected.insert(expected.end(), expected.begin(), expected.end());
        EXPECT_EQ(bytes, expected) << "the sample starts over";
        EXPECT_EQ(irq_at, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(Flags, ApuDmcEnd,
                         ::testing::Values(DmcCase{"irq", 0x8F, true},
                                           DmcCase{"loop_never_interrupts", 0xCF, false}),
                         [](auto const& info) { return info.param.name; });

struct ReadCounter : NES::Mapper {
    ReadCounter() : Mapper(0) {}
    int reads = 0;
    void map_read(void**, signed char*) override { ++reads; }
};

TEST_F(Apu, DmcReaderWrapsToPrgStartWithoutTellingTheMapper) {
    auto counter = std::make_unique<ReadCounter>();
    ReadCounter const* seen = counter.get();
    nes->rom->mapper = std::move(counter);
    nes->ppu->mapper = nes->rom->mapper.get(); // the PPU holds the board too
    write({{0x4010, 0x0F}, {0x4012, 0xFF}, {0x4013, 0x04}, {0x4015, 0x10}}); // 65 at $FFC0
    std::vector<uint16_t> addresses;
    std::vector<uint8_t> const bytes = dmc_fetches(65, [&] { addresses.push_back(apu.dmc_addr); });
    ASSERT_EQ(bytes.size(), 65u);
    EXPECT_EQ(bytes[63], 0x5A); // $FFFF
    EXPECT_EQ(addresses[63], 0x8000);
    EXPECT_EQ(bytes[64], 0xA5); // $8000
    EXPECT_EQ(seen->reads, 0);
}

// Byte $FF raises the level by 2 per bit; the next 8 bits shift out zeros; then, with no
// byte fetched, the level jumps to 64 and the unit falls silent.
TEST_F(Apu, DmcLevelJumpsTo64WhenTheBitsRunOutWithNothingFetched) {
    write({{0x4010, 0x0F}, {0x4012, 0x44}, {0x4013, 0x00}, {0x4015, 0x10}});
    int highest = 0;
    for (int k = 0; k < 20 * 27; ++k) {
        step();
        if (!apu.dmc_silent) highest = std::max(highest, int(apu.dmc_level));
    }
    EXPECT_EQ(highest, 16);
    EXPECT_EQ(apu.dmc_level, 64);
    EXPECT_TRUE(apu.dmc_silent);
}

class ApuDirect : public Apu, public ::testing::WithParamInterface<uint8_t> {};

// The load takes the whole tick: no sample bit moves the level on that tick.
TEST_P(ApuDirect, DirectLoadTakesEffectAtTheNextOutputTick) {
    write({{0x4010, 0x4F}, {0x4012, 0x40}, {0x4013, 0x01}, {0x4015, 0x10}}); // a tick per 27 steps
    step(5);
    write(0x4011, GetParam());
    step(27 - apu.dmc_timer);
    EXPECT_NE(apu.dmc_level, GetParam());
    step();
    EXPECT_EQ(apu.dmc_level, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Levels, ApuDirect, ::testing::Values(0x64, 0xC8)); // all 8 bits count

struct HaltCase {
    uint16_t control;
    uint8_t halt;
    int channel;
};

class ApuHalt : public Apu, public ::testing::WithParamInterface<HaltCase> {};

TEST_P(ApuHalt, HaltBitHoldsOnlyItsChannelsLength) {
    write(0x4015, 0x0F);
    write(GetParam().control, GetParam().halt);
    write({{0x4003, 0x08}, {0x4007, 0x08}, {0x400B, 0x08}, {0x400F, 0x08}});
    write(0x4017, 0x80); // a half-frame clock
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_EQ(apu.length[channel], channel == GetParam().channel ? 254 : 253)
            << "channel " << channel;
}

INSTANTIATE_TEST_SUITE_P(Channels, ApuHalt,
                         ::testing::Values(HaltCase{0x4000, 0x20, 0}, HaltCase{0x4004, 0x20, 1},
                                           HaltCase{0x4008, 0x80, 2}, HaltCase{0x400C, 0x20, 3}));

} // namespace
