// Addressing for the compiled steps: the same operand addresses, lengths and page-cross
// tests as the addressing modes of addressing.cpp, as 16-bit addresses. The steps run
// only when the instruction bytes can be fetched directly, so the operand bytes come
// straight from the image (direct_code); zero-page pointers are read straight from page
// 0, which is what the bus reads there too.
#pragma once

#include "cpu/cpu.hpp"
#include "cpu/direct_bus.hpp"
#include "cpu/opcode_grid.hpp"

namespace NES {

// The instruction length each mode sets; 1 for the implied and mode-less opcodes.
template <Mode M>
inline constexpr uint8_t MODE_LENGTH =
    (M == Mode::abs || M == Mode::absx || M == Mode::absy || M == Mode::ind) ? 3
    : (M == Mode::imm || M == Mode::zpg || M == Mode::zpgx || M == Mode::zpgy || M == Mode::xind ||
       M == Mode::indy || M == Mode::rel)
        ? 2
        : 1;

// The modes whose operand address lies in page 0.
template <Mode M>
inline constexpr bool ZERO_PAGE = M == Mode::zpg || M == Mode::zpgx || M == Mode::zpgy;

// The operand address. Implied and mode-less opcodes take the byte after the opcode as
// their operand (the extra opcodes such as 1A and 12 work on it), and so does an
// immediate operand; the branch offset is the rel mode's business (branch_direct).
template <Mode M> uint16_t CPU::effective_address(Step const& s) {
    static_assert(M != Mode::ind, "JMP (ind) takes the table step");
    auto const zero_page_word = [this](uint8_t z) {
        return uint16_t(uint8_t(memory[z]) | uint8_t(memory[uint8_t(z + 1)]) << 8);
    };
    uint8_t const b = s.b;
    auto const absolute = [&] { return uint16_t(b | uint8_t(s.code[2]) << 8); };
    switch (M) {
    case Mode::zpg: return b;
    case Mode::zpgx: return uint8_t(b + X);
    case Mode::zpgy: return uint8_t(b + Y);
    case Mode::abs: return absolute();
    case Mode::absx: return uint16_t(absolute() + X);
    case Mode::absy: return uint16_t(absolute() + Y);
    case Mode::xind: return zero_page_word(uint8_t(b + X));
    case Mode::indy: return uint16_t(zero_page_word(b) + Y);
    default: return uint16_t(s.pc + 1);
    }
}

// The page-cross cycle rule of the tables: the byte after the opcode plus X (absx) or Y
// (absy, indy) passes 255. For indy that byte is the pointer's address, not the
// pointer's low byte: the rule is kept exactly as the table step has it.
template <Mode M> bool CPU::crosses_page(uint8_t b) const {
    if constexpr (M == Mode::absx) return b + X > 255;
    if constexpr (M == Mode::absy || M == Mode::indy) return b + Y > 255;
    return false;
}

// The operand value. An immediate operand is the byte after the opcode, already
// fetched: reading it again through the bus would return the same byte and do nothing
// else, since the fetch was direct.
// A zero-page operand is internal RAM, unfolded: the bus would read and write exactly
// that image byte.
template <Mode M> uint8_t CPU::operand(Step const& s) {
    if constexpr (M == Mode::acc) return A;
    if constexpr (M == Mode::imm) return s.b;
    if constexpr (ZERO_PAGE<M>) return uint8_t(memory[s.ea]);
    return load(s.ea);
}

template <Mode M> void CPU::set_operand(Step const& s, uint8_t value) {
    if constexpr (M == Mode::acc)
        A = value;
    else if constexpr (ZERO_PAGE<M>)
        store_plain(memory + s.ea, value);
    else
        store(s.ea, value);
}

} // namespace NES
