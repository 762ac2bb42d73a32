#include "bindings/batch/scenario_argument.hpp"

#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace vandrel {

namespace {

using VariableRow = std::tuple<int, int, bool, std::string>;
using TermRow = std::tuple<long long, bool, std::optional<std::string>, double, double, double>;
using ScenarioRows = std::tuple<std::vector<VariableRow>, std::vector<TermRow>,
                                std::vector<TermRow>, double, double, bool>;

// The op names of the integration format, in TermOp's order after `none`.
constexpr std::array<std::pair<char const*, NES::TermOp>, 11> OP_NAMES{{
    {"nonzero", NES::TermOp::nonzero},
    {"zero", NES::TermOp::zero},
    {"positive", NES::TermOp::positive},
    {"negative", NES::TermOp::negative},
    {"sign", NES::TermOp::sign},
    {"equal", NES::TermOp::equal},
    {"not-equal", NES::TermOp::not_equal},
    {"less-than", NES::TermOp::less_than},
    {"greater-than", NES::TermOp::greater_than},
    {"less-or-equal", NES::TermOp::less_or_equal},
    {"greater-or-equal", NES::TermOp::greater_or_equal},
}};

NES::Decoding decoding_from(std::string const& format) {
    if (format == "u") return NES::Decoding::unsigned_binary;
    if (format == "i") return NES::Decoding::signed_binary;
    if (format == "d") return NES::Decoding::packed_bcd;
    if (format == "n") return NES::Decoding::low_nibble_bcd;
    throw py::value_error("Batch: scenario: unknown variable format '" + format +
                          "'; the formats are u, i, d and n");
}

NES::TermOp op_from(std::optional<std::string> const& name) {
    if (!name) return NES::TermOp::none;
    for (auto const& [text, op] : OP_NAMES)
        if (*name == text) return op;
    throw py::value_error("Batch: scenario: unknown op '" + *name + "'");
}

std::vector<NES::ScenarioTerm> terms_from(std::vector<TermRow> const& rows) {
    std::vector<NES::ScenarioTerm> terms;
    for (auto const& [variable, delta, op, reference, reward, penalty] : rows) {
        if (variable < 0 || variable > 0xFFFFFFFFLL)
            throw py::value_error("Batch: scenario: a term names variable " +
                                  std::to_string(variable));
        terms.push_back({uint32_t(variable), delta, op_from(op), reference, reward, penalty});
    }
    return terms;
}

} // namespace

NES::ScenarioTable scenario_from(py::handle scenario) {
    NES::ScenarioTable table;
    if (scenario.is_none()) return table;
    ScenarioRows rows;
    try {
        rows = scenario.cast<ScenarioRows>();
    } catch (py::cast_error const&) {
        throw py::type_error("Batch: scenario must be (variables, reward_terms, done_terms, "
                             "time_reward, time_penalty, done_all) as vandrel_gym compiles it");
    }
    auto const& [variables, reward_terms, done_terms, time_reward, time_penalty, done_all] = rows;
    for (auto const& [address, size, big_endian, format] : variables) {
        if (address < 0 || address > 0xFFFF || size < 1 || size > 0xFF)
            throw py::value_error("Batch: scenario: a variable of " + std::to_string(size) +
                                  " bytes at " + std::to_string(address) + " is outside work RAM");
        table.variables.push_back(
            {uint16_t(address), uint8_t(size), big_endian, decoding_from(format)});
    }
    table.reward_terms = terms_from(reward_terms);
    table.done_terms = terms_from(done_terms);
    table.time_reward = time_reward;
    table.time_penalty = time_penalty;
    table.done_all = done_all;
    return table;
}

} // namespace vandrel
