#include "batch/scenario_table.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "batch/observation.hpp"

namespace NES {

namespace {

// A term's value before its weight: wide enough for the change of any int64 variable.
using Wide = __int128;

// -1, 0 or 1 as the integer v is below, at or above the finite double r, exactly. The
// double nearest v orders like v except where it equals r; r is then an integer (or v
// is exact), so the integers themselves decide.
int compare(Wide v, double r) {
    double const near = double(v);
    if (near != r) return near < r ? -1 : 1;
    Wide const whole = Wide(r);
    return v < whole ? -1 : (v > whole ? 1 : 0);
}

// What the term's op makes of v, as the double the reward weighs.
double apply_op(ScenarioTerm const& term, Wide v) {
    switch (term.op) {
    case TermOp::none: return double(v);
    case TermOp::nonzero: return v != 0;
    case TermOp::zero: return v == 0;
    case TermOp::positive: return v > 0;
    case TermOp::negative: return v < 0;
    case TermOp::sign: return double((v > 0) - (v < 0));
    case TermOp::equal: return compare(v, term.reference) == 0;
    case TermOp::not_equal: return compare(v, term.reference) != 0;
    case TermOp::less_than: return compare(v, term.reference) < 0;
    case TermOp::greater_than: return compare(v, term.reference) > 0;
    case TermOp::less_or_equal: return compare(v, term.reference) <= 0;
    case TermOp::greater_or_equal: return compare(v, term.reference) >= 0;
    }
    return 0.0;
}

double term_value(ScenarioTerm const& term, int64_t const* values, int64_t const* previous) {
    Wide v = values[term.variable];
    if (term.delta) v -= previous[term.variable];
    return apply_op(term, v);
}

void check_terms(std::vector<ScenarioTerm> const& terms, size_t variables, char const* section) {
    for (size_t i = 0; i < terms.size(); ++i) {
        ScenarioTerm const& term = terms[i];
        std::string const where =
            "scenario: " + std::string(section) + " term " + std::to_string(i);
        if (term.variable >= variables)
            throw std::invalid_argument(where + " names variable " + std::to_string(term.variable) +
                                        " of " + std::to_string(variables));
        if (!std::isfinite(term.reference) || !std::isfinite(term.reward) ||
            !std::isfinite(term.penalty))
            throw std::invalid_argument(where + ": its reference and weights must be finite");
        if (term.op > TermOp::greater_or_equal) throw std::invalid_argument(where + ": unknown op");
    }
}

} // namespace

int max_variable_size(Decoding decoding) {
    switch (decoding) {
    case Decoding::unsigned_binary: return 7;
    case Decoding::signed_binary: return 8;
    case Decoding::packed_bcd: return 9;
    case Decoding::low_nibble_bcd: return 18;
    }
    return 0;
}

void check_table(ScenarioTable const& table) {
    for (size_t i = 0; i < table.variables.size(); ++i) {
        RamVariable const& variable = table.variables[i];
        std::string const where = "scenario: variable " + std::to_string(i);
        if (variable.decoding > Decoding::low_nibble_bcd)
            throw std::invalid_argument(where + ": unknown decoding");
        if (variable.size < 1 || variable.size > max_variable_size(variable.decoding))
            throw std::invalid_argument(where + " is " + std::to_string(variable.size) +
                                        " bytes; at most " +
                                        std::to_string(max_variable_size(variable.decoding)) +
                                        " of its kind fit a 64-bit value");
        if (variable.address + variable.size > RAM_SIZE)
            throw std::invalid_argument(where + " reaches beyond work RAM");
    }
    check_terms(table.reward_terms, table.variables.size(), "reward");
    check_terms(table.done_terms, table.variables.size(), "done");
    if (!std::isfinite(table.time_reward) || !std::isfinite(table.time_penalty))
        throw std::invalid_argument("scenario: the time reward and penalty must be finite");
}

int64_t decode_variable(RamVariable const& variable, uint8_t const* ram) {
    uint64_t value = 0;
    int const size = variable.size;
    for (int k = 0; k < size; ++k) {
        uint8_t const byte = ram[variable.address + (variable.big_endian ? k : size - 1 - k)];
        switch (variable.decoding) {
        case Decoding::unsigned_binary:
        case Decoding::signed_binary: value = value << 8 | byte; break;
        case Decoding::packed_bcd: value = value * 100 + (byte >> 4) * 10 + (byte & 0xF); break;
        case Decoding::low_nibble_bcd: value = value * 10 + (byte & 0xF); break;
        }
    }
    if (variable.decoding == Decoding::signed_binary && size < 8) {
        uint64_t const sign = uint64_t(1) << (8 * size - 1);
        value = (value ^ sign) - sign; // sign-extend
    }
    return int64_t(value);
}

void decode_variables(ScenarioTable const& table, uint8_t const* ram, int64_t* values) {
    for (size_t i = 0; i < table.variables.size(); ++i)
        values[i] = decode_variable(table.variables[i], ram);
}

double scenario_reward(ScenarioTable const& table, int64_t const* values, int64_t const* previous) {
    double total = table.time_reward - table.time_penalty;
    for (ScenarioTerm const& term : table.reward_terms) {
        double const v = term_value(term, values, previous);
        total += v > 0 ? term.reward * v : term.penalty * v;
    }
    return total;
}

bool scenario_done(ScenarioTable const& table, int64_t const* values, int64_t const* previous) {
    if (table.done_terms.empty()) return false;
    for (ScenarioTerm const& term : table.done_terms) {
        bool const hit = term_value(term, values, previous) != 0;
        if (table.done_all != hit) return hit; // any: first hit; all: first miss
    }
    return table.done_all;
}

} // namespace NES
