// The `scenario` keyword of Batch: a game's task as vandrel_gym compiles it, converted to
// the stepper's table (batch/scenario_table.hpp).
//
//   (variables, reward_terms, done_terms, time_reward, time_penalty, done_all)
//   variables: [(address, size, big_endian, format)], format "u", "i", "d" or "n"
//   terms:     [(variable index, delta, op, reference, reward, penalty)], op one of the
//              format's op names or None
#pragma once

#include <pybind11/pybind11.h>

#include "batch/scenario_table.hpp"

namespace vandrel {

// None gives an empty table. TypeError or ValueError naming what is wrong otherwise.
NES::ScenarioTable scenario_from(pybind11::handle scenario);

} // namespace vandrel
