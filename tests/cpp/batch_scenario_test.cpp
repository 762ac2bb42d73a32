// The batch stepper evaluates a scenario on its worker threads: each console's reward
// counts a write to its own RAM, and a start state the consoles refuse says why.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "batch/batch_stepper.hpp"
#include "test_support.hpp"

namespace {

std::vector<unsigned char> demo_image() {
    std::ifstream file(VANDREL_DEMO_CARTRIDGE, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

NES::BatchOptions scored_options() {
    NES::BatchOptions options;
    options.count = 4;
    options.threads = 2;
    options.frame_skip = 1;
    options.observation = NES::Observation::ram;
    options.start_frames = 30; // past the demo's clearing of RAM
    // $0400 (which the demo leaves alone): its change is the reward, 7 ends the episode.
    options.scenario.variables = {{0x400, 1, false, NES::Decoding::unsigned_binary}};
    options.scenario.reward_terms = {{0, true, NES::TermOp::none, 0.0, 1.0, 1.0}};
    options.scenario.done_terms = {{0, false, NES::TermOp::equal, 7.0, 0.0, 0.0}};
    return options;
}

TEST(BatchScenario, EachConsoleIsScoredOnItsOwnRam) {
    test::TempHome home;
    NES::BatchStepper batch("demo.nes", demo_image(), scored_options());
    std::vector<uint8_t> const actions(4, 0);
    for (int step = 1; step <= 3; ++step) {
        for (size_t i = 0; i < 4; ++i) {
            uint8_t const value = uint8_t(step * (i + 1) + 1);
            batch.write_ram(i, 0x400, &value, 1);
        }
        batch.step(actions.data(), 1, nullptr);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(batch.values()[i], int64_t(step * (i + 1) + 1));
            EXPECT_EQ(batch.rewards()[i], step == 1 ? double(i + 2) : double(i + 1));
            EXPECT_EQ(batch.done()[i], batch.values()[i] == 7);
        }
    }
    uint8_t const byte = 0;
    EXPECT_THROW(batch.write_ram(0, 0x800, &byte, 1), std::out_of_range);
    EXPECT_THROW(batch.write_ram(4, 0, &byte, 1), std::out_of_range);
}

TEST(BatchScenario, ARefusedStartStateSaysWhy) {
    test::TempHome home;
    NES::BatchOptions options = scored_options();
    options.start_state = {1, 2, 3};
    try {
        NES::BatchStepper batch("demo.nes", demo_image(), options);
        FAIL() << "the start state was taken";
    } catch (NES::StartStateRefused const& refused) {
        EXPECT_EQ(refused.verdict, NESUnit::SnapshotVerdict::not_a_snapshot);
    }
}

} // namespace
