// The catch-up against the one-step reference: two consoles get the same sound register
// writes through their buses; one APU runs step by step with cycle(), the other is
// brought to the same CPU cycle with catch_up() in spans of random length. After every
// span both must hold the same samples, published blocks, IRQ request and state.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

// Which registers a run writes, with what bias, and how long its spans are.
struct Scenario {
    char const* name;
    std::vector<uint16_t> registers; // drawn uniformly; repeat an address to favour it
    int max_span;                    // steps per catch-up call: 1..max_span, long ones often
    bool resets;                     // CPU resets now and then (the sequencer's negative offsets)
};

std::vector<uint16_t> const ALL = {0x4000, 0x4001, 0x4002, 0x4003, 0x4004, 0x4005, 0x4006,
                                   0x4007, 0x4008, 0x400A, 0x400B, 0x400C, 0x400E, 0x400F,
                                   0x4010, 0x4011, 0x4012, 0x4013, 0x4015, 0x4017};

Scenario const SCENARIOS[] = {
    {"all_registers", ALL, 20000, false},
    {"instruction_spans", ALL, 4, false},
    {"sweeps_and_periods",
     {0x4000, 0x4001, 0x4001, 0x4002, 0x4002, 0x4003, 0x4005, 0x4005, 0x4006, 0x4006, 0x4007,
      0x400A, 0x400B, 0x4015, 0x4017},
     3000,
     false},
    {"noise", {0x400C, 0x400E, 0x400E, 0x400E, 0x400F, 0x4015, 0x4017}, 5000, false},
    {"dmc",
     {0x4010, 0x4010, 0x4011, 0x4012, 0x4013, 0x4013, 0x4015, 0x4015, 0x4015, 0x4017},
     4000,
     false},
    {"resets", ALL, 20000, true},
};

// A value for a register write: enables mostly on, short DMC samples, loads of the
// length counters that keep channels sounding; anything else uniform.
uint8_t value_for(uint16_t addr, std::mt19937& rng) {
    uint8_t const v = uint8_t(rng());
    switch (addr) {
    case 0x4015: return rng() % 4 ? uint8_t(v | 0x0F) : v;
    case 0x4013: return uint8_t(v & 3);
    case 0x4003:
    case 0x4007:
    case 0x400B:
    case 0x400F: return rng() % 2 ? uint8_t(v | 0x08) : v;
    default: return v;
    }
}

int span_for(Scenario const& s, std::mt19937& rng) {
    switch (rng() % 3) {
    case 0: return 1 + int(rng() % 4);
    case 1: return 1 + int(rng() % std::min(s.max_span, 200));
    default: return 1 + int(rng() % s.max_span);
    }
}

// The fields that carry from step to step or are left as outputs, by name, where the
// two APUs differ.
std::string differences(NES::APU const& a, NES::APU const& b) {
    std::ostringstream out;
    auto check = [&out](char const* name, auto const& x, auto const& y) {
        if (!(x == y)) out << name << " ";
    };
    check("cycles", a.cycles, b.cycles);
    check("samples", a.samples, b.samples);
    check("frame_start", a.frame_start, b.frame_start);
    for (int i = 0; i < 5; ++i)
        check("enabled", a.enabled[i], b.enabled[i]);
    for (int n = 0; n < 2; ++n) {
        check("pulse_out", a.pulse_out[n], b.pulse_out[n]);
        check("pulse_step", a.pulse_step[n], b.pulse_step[n]);
        check("pulse_timer", a.pulse_timer[n], b.pulse_timer[n]);
        check("pulse_period", a.pulse_period[n], b.pulse_period[n]);
        check("sweep.divider", a.sweeps[n].divider, b.sweeps[n].divider);
        check("sweep.reload", a.sweeps[n].reload, b.sweeps[n].reload);
        check("sweep.mute", a.sweeps[n].mute, b.sweeps[n].mute);
    }
    for (int n = 0; n < 3; ++n) {
        check("envelope.start", a.envelopes[n].start, b.envelopes[n].start);
        check("envelope.divider", a.envelopes[n].divider, b.envelopes[n].divider);
        check("envelope.decay", a.envelopes[n].decay, b.envelopes[n].decay);
    }
    for (int n = 0; n < 4; ++n)
        check("length", a.length[n], b.length[n]);
    check("triangle_period", a.triangle_period, b.triangle_period);
    check("triangle_out", a.triangle_out, b.triangle_out);
    check("triangle_step", a.triangle_step, b.triangle_step);
    check("triangle_timer", a.triangle_timer, b.triangle_timer);
    check("linear_counter", a.linear_counter, b.linear_counter);
    check("linear_reload", a.linear_reload, b.linear_reload);
    check("noise_shift", a.noise_shift, b.noise_shift);
    check("noise_out", a.noise_out, b.noise_out);
    check("noise_timer", a.noise_timer, b.noise_timer);
    check("dmc_level", a.dmc_level, b.dmc_level);
    check("dmc_buffer", a.dmc_buffer, b.dmc_buffer);
    check("dmc_flags", a.dmc_flags, b.dmc_flags);
    check("dmc_timer", a.dmc_timer, b.dmc_timer);
    check("dmc_silent", a.dmc_silent, b.dmc_silent);
    check("dmc_shift", a.dmc_shift, b.dmc_shift);
    check("dmc_bits", a.dmc_bits, b.dmc_bits);
    check("dmc_buffer_empty", a.dmc_buffer_empty, b.dmc_buffer_empty);
    check("dmc_direct", a.dmc_direct, b.dmc_direct);
    check("dmc_addr", a.dmc_addr, b.dmc_addr);
    check("dmc_remaining", a.dmc_remaining, b.dmc_remaining);
    check("buffers", a.buffers, b.buffers);
    check("out_buffers", a.out_buffers, b.out_buffers);
    check("buffer_ready", a.buffer_ready.load(), b.buffer_ready.load());
    return out.str();
}

class ApuCatchUp : public ::testing::TestWithParam<std::tuple<Scenario, unsigned>> {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> stepped = test::console(home.path(), image(), "stepped.nes");
    std::unique_ptr<NESUnit> caught_up = test::console(home.path(), image(), "caught_up.nes");

    // Random PRG bytes for the DMC to play.
    static test::Image image() {
        test::Image im;
        std::mt19937 rng(7);
        for (auto& b : im.prg)
            b = uint8_t(rng());
        return im;
    }
    void write(uint16_t addr, uint8_t value) {
        for (NESUnit* nes : {stepped.get(), caught_up.get()})
            nes->cpu->write(nes->cpu->at(addr), static_cast<signed char>(value));
    }
};

TEST_P(ApuCatchUp, MatchesStepByStep) {
    auto const& [scenario, seed] = GetParam();
    std::mt19937 rng(seed);
    NES::APU& a = *stepped->apu;
    NES::APU& b = *caught_up->apu;
    write(0x4015, 0x1F);
    for (int round = 0; round < 400; ++round) {
        for (int w = int(rng() % 3); w > 0; --w) {
            uint16_t const addr = scenario.registers[rng() % scenario.registers.size()];
            write(addr, value_for(addr, rng));
        }
        if (scenario.resets && rng() % 40 == 0) {
            stepped->cpu->reset();
            caught_up->cpu->reset();
        }
        if (rng() % 8 == 0) { // the CPU takes the interrupt
            stepped->cpu->irq_pending = false;
            caught_up->cpu->irq_pending = false;
        }
        int const span = span_for(scenario, rng);
        for (int i = 0; i < span; ++i)
            a.cycle();
        // An odd CPU cycle count needs the step that covers it as well.
        int64_t const cpu_cycles = 2 * int64_t(a.cycles) - int64_t(rng() % 2);
        b.catch_up(cpu_cycles);
        ASSERT_EQ(differences(a, b), "") << "round " << round << ", span " << span;
        ASSERT_EQ(stepped->cpu->irq_pending, caught_up->cpu->irq_pending) << "round " << round;
    }
}

std::string name(::testing::TestParamInfo<ApuCatchUp::ParamType> const& info) {
    return std::string(std::get<0>(info.param).name) + "_" +
           std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Random, ApuCatchUp,
                         ::testing::Combine(::testing::ValuesIn(SCENARIOS),
                                            ::testing::Values(1u, 2u, 3u, 4u)),
                         name);

} // namespace
