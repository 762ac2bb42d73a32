// A game as a task, compiled for the batch stepper: the game's variables in work RAM and
// the terms of its reward and end of episode. vandrel_gym reads a game folder (the public
// integration format) and compiles it to this table; the stepper evaluates it for every
// console after every step, on the worker threads, so that a batch learns its rewards
// without a Python call per console.
//
// A variable is `size` bytes at `address`, most significant first when big-endian,
// decoded as unsigned, two's complement, packed BCD (two digits a byte) or one BCD digit
// in each byte's low nibble. A byte that is not BCD still counts by its nibbles' values,
// as a game's own display of it would. A term takes a variable's value now, or its change
// since the last step (delta), applies an op with a reference, and weighs the result:
// `reward * v` for v > 0, `penalty * v` otherwise.
//
// The evaluation gives exactly the numbers of vandrel_gym's own (Python) scenario: values
// and differences are exact integers, comparisons with a reference are exact, and the
// reward is summed in the same order, starting from time.reward - time.penalty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace NES {

enum class Decoding : uint8_t { unsigned_binary, signed_binary, packed_bcd, low_nibble_bcd };

struct RamVariable {
    uint16_t address = 0;
    uint8_t size = 1;
    bool big_endian = false;
    Decoding decoding = Decoding::unsigned_binary;
};

// The ops of the format; `none` passes the value through.
enum class TermOp : uint8_t {
    none,
    nonzero,
    zero,
    positive,
    negative,
    sign,
    equal,
    not_equal,
    less_than,
    greater_than,
    less_or_equal,
    greater_or_equal,
};

struct ScenarioTerm {
    uint32_t variable = 0; // index into ScenarioTable::variables
    bool delta = false;
    TermOp op = TermOp::none;
    double reference = 0.0;
    double reward = 0.0;
    double penalty = 0.0;
};

struct ScenarioTable {
    std::vector<RamVariable> variables;
    std::vector<ScenarioTerm> reward_terms;
    std::vector<ScenarioTerm> done_terms;
    double time_reward = 0.0;
    double time_penalty = 0.0;
    bool done_all = false; // `all` of the done terms, else `any`

    bool empty() const { return variables.empty(); }
};

// The widest variable of each decoding whose every value is an exact int64: 7 bytes
// unsigned, 8 signed, 9 packed BCD (18 digits), 18 low-nibble BCD.
int max_variable_size(Decoding decoding);

// std::invalid_argument naming the first variable or term out of range (a variable
// beyond work RAM or too wide, a term naming no variable, a weight not finite).
void check_table(ScenarioTable const& table);

int64_t decode_variable(RamVariable const& variable, uint8_t const* ram);

// Every variable's value, from 2048 bytes of work RAM, into `values`.
void decode_variables(ScenarioTable const& table, uint8_t const* ram, int64_t* values);

// One step's reward and end of episode, from the variables' values after the step and
// before it.
double scenario_reward(ScenarioTable const& table, int64_t const* values, int64_t const* previous);
bool scenario_done(ScenarioTable const& table, int64_t const* values, int64_t const* previous);

} // namespace NES
