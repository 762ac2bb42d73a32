// The batch stepper's scenario table: decoding at the widest sizes, exact comparisons
// beyond a double's integers, and the checks that keep a table inside work RAM.
#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <stdexcept>

#include "batch/scenario_table.hpp"

namespace {

using NES::check_table;
using NES::decode_variable;
using NES::Decoding;
using NES::RamVariable;
using NES::scenario_done;
using NES::scenario_reward;
using NES::ScenarioTable;
using NES::ScenarioTerm;
using NES::TermOp;

std::array<uint8_t, 2048> ram_with(std::initializer_list<uint8_t> bytes, size_t at = 0) {
    std::array<uint8_t, 2048> ram{};
    size_t i = at;
    for (uint8_t b : bytes)
        ram[i++] = b;
    return ram;
}

TEST(ScenarioTable, DecodesTheWidestVariablesOfEachFormat) {
    auto const ram =
        ram_with({0x80, 0, 0, 0, 0, 0, 0, 1, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99});
    EXPECT_EQ(decode_variable({0, 8, true, Decoding::signed_binary}, ram.data()), INT64_MIN + 1);
    EXPECT_EQ(decode_variable({1, 7, true, Decoding::unsigned_binary}, ram.data()), 1);
    EXPECT_EQ(decode_variable({8, 9, false, Decoding::packed_bcd}, ram.data()),
              999999999999999999LL);
    EXPECT_EQ(decode_variable({0, 2, true, Decoding::signed_binary}, ram.data()), -32768);
    // A byte that is not BCD counts by its nibbles: 0xAB is 10 * 10 + 11.
    auto const not_bcd = ram_with({0xAB, 0xCD});
    EXPECT_EQ(decode_variable({0, 2, true, Decoding::packed_bcd}, not_bcd.data()), 111 * 100 + 133);
    EXPECT_EQ(decode_variable({0, 2, true, Decoding::low_nibble_bcd}, not_bcd.data()),
              11 * 10 + 13);
}

TEST(ScenarioTable, ComparesWithReferencesExactlyBeyondADoublesIntegers) {
    ScenarioTable table;
    table.variables.push_back({0, 8, true, Decoding::signed_binary});
    double const two_53 = 9007199254740992.0; // 2**53: 2**53 + 1 rounds to it
    table.done_terms.push_back({0, false, TermOp::greater_than, two_53, 0, 0});
    int64_t const above = (int64_t(1) << 53) + 1;
    int64_t const at = int64_t(1) << 53;
    EXPECT_TRUE(scenario_done(table, &above, &above));
    EXPECT_FALSE(scenario_done(table, &at, &at));
    // The change of the widest values does not overflow: INT64_MAX - INT64_MIN.
    table.reward_terms.push_back({0, true, TermOp::none, 0, 1.0, 1.0});
    int64_t const now = INT64_MAX, before = INT64_MIN;
    EXPECT_EQ(scenario_reward(table, &now, &before), 0x1p64); // 2**64 - 1, rounded
}

TEST(ScenarioTable, AnyAndAllOverTheDoneTerms) {
    ScenarioTable table;
    table.variables = {{0, 1, false, Decoding::unsigned_binary},
                       {1, 1, false, Decoding::unsigned_binary}};
    table.done_terms = {{0, false, TermOp::zero, 0, 0, 0}, {1, false, TermOp::nonzero, 0, 0, 0}};
    int64_t const one_hit[2] = {0, 0}, both[2] = {0, 5};
    EXPECT_TRUE(scenario_done(table, one_hit, one_hit));
    table.done_all = true;
    EXPECT_FALSE(scenario_done(table, one_hit, one_hit));
    EXPECT_TRUE(scenario_done(table, both, both));
    table.done_terms.clear();
    EXPECT_FALSE(scenario_done(table, both, both)); // no terms: the episode never ends
}

TEST(ScenarioTable, RefusesTablesOutsideWorkRamOrTooWide) {
    auto refused = [](RamVariable variable, ScenarioTerm term = {}) {
        ScenarioTable table;
        table.variables.push_back(variable);
        table.reward_terms.push_back(term);
        EXPECT_THROW(check_table(table), std::invalid_argument);
    };
    refused({2047, 2, false, Decoding::unsigned_binary});
    refused({0, 8, false, Decoding::unsigned_binary});
    refused({0, 10, false, Decoding::packed_bcd});
    refused({0, 0, false, Decoding::low_nibble_bcd});
    refused({0, 1, false, Decoding::unsigned_binary}, {1, false, TermOp::none, 0, 0, 0});
    refused({0, 1, false, Decoding::unsigned_binary},
            {0, false, TermOp::none, 0, std::numeric_limits<double>::infinity(), 0});
}

} // namespace
