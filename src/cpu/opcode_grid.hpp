// The opcode grids: for each of the 256 opcodes a mnemonic (or none), an addressing
// mode name (or none) and two cycle counts, laid out like a 6502 opcode chart (row =
// high nibble, column = low nibble). Both the CPU's run-time tables (opcode_table.cpp)
// and the compiled per-opcode steps (dispatch.cpp) are derived from these grids, so the
// two can never disagree.
//
// Beyond the official set, the shift and increment rows carry "extra" entries (02, 1A,
// 12, 9E, ...) that behave exactly as their mode says; opcodes without a mnemonic run
// as no-ops of their mode's length and their table cycles.
#pragma once

#include <cstdint>
#include <string_view>

namespace NES {

// "---" marks a mode-less row (no mode name, length 1, operand = the next byte);
// nullptr in the mnemonic grid marks an opcode without an operation.
// clang-format off
inline constexpr char const* MNEMONIC_GRID[256] = {
//        x0     x1     x2     x3     x4     x5     x6     x7     x8     x9     xA     xB     xC     xD     xE     xF
/* 0x */ "BRK", "ORA", "ASL", nullptr, nullptr, "ORA", "ASL", nullptr, "PHP", "ORA", "ASL", nullptr, nullptr, "ORA", "ASL", nullptr,
/* 1x */ "BPL", "ORA", "ASL", nullptr, nullptr, "ORA", "ASL", nullptr, "CLC", "ORA", "ASL", nullptr, nullptr, "ORA", "ASL", nullptr,
/* 2x */ "JSR", "AND", "ROL", nullptr, "BIT", "AND", "ROL", nullptr, "PLP", "AND", "ROL", nullptr, "BIT", "AND", "ROL", nullptr,
/* 3x */ "BMI", "AND", "ROL", nullptr, nullptr, "AND", "ROL", nullptr, "SEC", "AND", "ROL", nullptr, nullptr, "AND", "ROL", nullptr,
/* 4x */ "RTI", "EOR", "LSR", nullptr, nullptr, "EOR", "LSR", nullptr, "PHA", "EOR", "LSR", nullptr, "JMP", "EOR", "LSR", nullptr,
/* 5x */ "BVC", "EOR", "LSR", nullptr, nullptr, "EOR", "LSR", nullptr, "CLI", "EOR", "LSR", nullptr, nullptr, "EOR", "LSR", nullptr,
/* 6x */ "RTS", "ADC", "ROR", nullptr, nullptr, "ADC", "ROR", nullptr, "PLA", "ADC", "ROR", nullptr, "JMP", "ADC", "ROR", nullptr,
/* 7x */ "BVS", "ADC", "ROR", nullptr, nullptr, "ADC", "ROR", nullptr, "SEI", "ADC", "ROR", nullptr, nullptr, "ADC", "ROR", nullptr,
/* 8x */ nullptr, "STA", "STX", nullptr, "STY", "STA", "STX", nullptr, "DEY", "STA", "TXA", nullptr, "STY", "STA", "STX", nullptr,
/* 9x */ "BCC", "STA", "STX", nullptr, "STY", "STA", "STX", nullptr, "TYA", "STA", "TXS", nullptr, nullptr, "STA", "STX", nullptr,
/* Ax */ "LDY", "LDA", "LDX", nullptr, "LDY", "LDA", "LDX", nullptr, "TAY", "LDA", "TAX", nullptr, "LDY", "LDA", "LDX", nullptr,
/* Bx */ "BCS", "LDA", "LDX", nullptr, "LDY", "LDA", "LDX", nullptr, "CLV", "LDA", "TSX", nullptr, "LDY", "LDA", "LDX", nullptr,
/* Cx */ "CPY", "CMP", "DEC", nullptr, "CPY", "CMP", "DEC", nullptr, "INY", "CMP", "DEX", nullptr, "CPY", "CMP", "DEC", nullptr,
/* Dx */ "BNE", "CMP", "DEC", nullptr, nullptr, "CMP", "DEC", nullptr, "CLD", "CMP", "DEC", nullptr, nullptr, "CMP", "DEC", nullptr,
/* Ex */ "CPX", "SBC", "INC", nullptr, "CPX", "SBC", "INC", nullptr, "INX", "SBC", "NOP", nullptr, "CPX", "SBC", "INC", nullptr,
/* Fx */ "BEQ", "SBC", "INC", nullptr, nullptr, "SBC", "INC", nullptr, "SED", "SBC", "INC", nullptr, nullptr, "SBC", "INC", nullptr,
};

inline constexpr char const* MODE_GRID[256] = {
//        x0      x1      x2      x3     x4      x5      x6      x7      x8      x9      xA      xB     xC      xD      xE      xF
/* 0x */ "impl", "xind", "imm",  "---", "zpg",  "zpg",  "zpg",  "zpg",  "impl", "imm",  "acc",  "---", "abs",  "abs",  "abs",  "abs",
/* 1x */ "rel",  "indy", "---",  "---", "zpgx", "zpgx", "zpgx", "zpgx", "impl", "absy", "impl", "---", "absx", "absx", "absx", "absx",
/* 2x */ "abs",  "xind", "imm",  "---", "zpg",  "zpg",  "zpg",  "zpg",  "impl", "imm",  "acc",  "---", "abs",  "abs",  "abs",  "abs",
/* 3x */ "rel",  "indy", "---",  "---", "zpgx", "zpgx", "zpgx", "zpgx", "impl", "absy", "impl", "---", "absx", "absx", "absx", "absx",
/* 4x */ "impl", "xind", "imm",  "---", "zpg",  "zpg",  "zpg",  "zpg",  "impl", "imm",  "acc",  "---", "abs",  "abs",  "abs",  "abs",
/* 5x */ "rel",  "indy", "---",  "---", "zpgx", "zpgx", "zpgx", "zpgx", "impl", "absy", "impl", "---", "absx", "absx", "absx", "absx",
/* 6x */ "impl", "xind", "imm",  "---", "zpg",  "zpg",  "zpg",  "zpg",  "impl", "imm",  "acc",  "---", "ind",  "abs",  "abs",  "abs",
/* 7x */ "rel",  "indy", "---",  "---", "zpgx", "zpgx", "zpgx", "zpgx", "impl", "absy", "impl", "---", "absx", "absx", "absx", "absx",
/* 8x */ "---",  "xind", "imm",  "---", "zpg",  "zpg",  "zpg",  "zpg",  "impl", "imm",  "impl", "---", "abs",  "abs",  "abs",  "abs",
/* 9x */ "rel",  "indy", "---",  "---", "zpgx", "zpgx", "zpgy", "zpgx", "impl", "absy", "impl", "---", "absx", "absx", "absx", "absx",
/* Ax */ "imm",  "xind", "imm",  "---", "zpg",  "zpg",  "zpg",  "zpg",  "impl", "imm",  "impl", "---", "abs",  "abs",  "abs",  "abs",
/* Bx */ "rel",  "indy", "---",  "---", "zpgx", "zpgx", "zpgy", "zpgx", "impl", "absy", "impl", "---", "absx", "absx", "absy", "absx",
/* Cx */ "imm",  "xind", "imm",  "---", "zpg",  "zpg",  "zpg",  "zpg",  "impl", "imm",  "impl", "---", "abs",  "abs",  "abs",  "abs",
/* Dx */ "rel",  "indy", "---",  "---", "zpgx", "zpgx", "zpgx", "zpgx", "impl", "absy", "impl", "---", "absx", "absx", "absx", "absx",
/* Ex */ "imm",  "xind", "imm",  "---", "zpg",  "zpg",  "zpg",  "zpg",  "impl", "imm",  "impl", "---", "abs",  "abs",  "abs",  "abs",
/* Fx */ "rel",  "indy", "---",  "---", "zpgx", "zpgx", "zpgx", "zpgx", "impl", "absy", "impl", "---", "absx", "absx", "absx", "absx",
};

// One digit per opcode, in opcode order: the base cycle count, and the count when an
// indexed read crosses a page. Branches carry 0 and add their own cycles.
inline constexpr char BASE_CYCLES[] =
    "7608335532224466050844662427447766083355422244660508446624274477"
    "6608335532223466050844662427447766083355422254660508446624274477"
    "2626333322224444060644442525555526263333222244440505444424244444"
    "2628335522224466050844662427447726283355222244660508446624274477";
inline constexpr char CROSS_CYCLES[] =
    "7608335532224466060844662527557766083355422244660608446625275577"
    "6608335532223466060844662527557766083355422254660608446625275577"
    "2626333322224444060644442525555526263333222244440606444425255555"
    "2628335522224466060844662527557726283355222244660608446625275577";
// clang-format on

// The addressing modes by name; `none` is the "---" entry (no mode at all).
enum class Mode : uint8_t {
    impl,
    acc,
    imm,
    zpg,
    zpgx,
    zpgy,
    abs,
    absx,
    absy,
    ind,
    xind,
    indy,
    rel,
    none
};

// The operations by mnemonic; `none` runs nothing.
enum class Mnemonic : uint8_t {
    none,
    ADC,
    AND,
    ASL,
    BCC,
    BCS,
    BEQ,
    BIT,
    BMI,
    BNE,
    BPL,
    BRK,
    BVC,
    BVS,
    CLC,
    CLD,
    CLI,
    CLV,
    CMP,
    CPX,
    CPY,
    DEC,
    DEX,
    DEY,
    EOR,
    INC,
    INX,
    INY,
    JMP,
    JSR,
    LDA,
    LDX,
    LDY,
    LSR,
    NOP,
    ORA,
    PHA,
    PHP,
    PLA,
    PLP,
    ROL,
    ROR,
    RTI,
    RTS,
    SBC,
    SEC,
    SED,
    SEI,
    STA,
    STX,
    STY,
    TAX,
    TAY,
    TSX,
    TXA,
    TXS,
    TYA,
};

inline constexpr std::string_view MODE_NAMES[] = {"impl", "acc",  "imm",  "zpg",  "zpgx",
                                                  "zpgy", "abs",  "absx", "absy", "ind",
                                                  "xind", "indy", "rel"};

inline constexpr std::string_view MNEMONIC_NAMES[] = {
    "ADC", "AND", "ASL", "BCC", "BCS", "BEQ", "BIT", "BMI", "BNE", "BPL", "BRK", "BVC",
    "BVS", "CLC", "CLD", "CLI", "CLV", "CMP", "CPX", "CPY", "DEC", "DEX", "DEY", "EOR",
    "INC", "INX", "INY", "JMP", "JSR", "LDA", "LDX", "LDY", "LSR", "NOP", "ORA", "PHA",
    "PHP", "PLA", "PLP", "ROL", "ROR", "RTI", "RTS", "SBC", "SEC", "SED", "SEI", "STA",
    "STX", "STY", "TAX", "TAY", "TSX", "TXA", "TXS", "TYA",
};

constexpr Mode mode_of(uint8_t opcode) {
    for (uint8_t m = 0; m < std::size(MODE_NAMES); ++m)
        if (MODE_NAMES[m] == MODE_GRID[opcode]) return Mode(m);
    return Mode::none;
}

constexpr Mnemonic mnemonic_of(uint8_t opcode) {
    if (!MNEMONIC_GRID[opcode]) return Mnemonic::none;
    for (uint8_t m = 0; m < std::size(MNEMONIC_NAMES); ++m)
        if (MNEMONIC_NAMES[m] == MNEMONIC_GRID[opcode]) return Mnemonic(m + 1);
    return Mnemonic::none;
}

// Every mnemonic in the grid is a known operation.
static_assert([] {
    for (int op = 0; op < 256; ++op)
        if (MNEMONIC_GRID[op] && mnemonic_of(uint8_t(op)) == Mnemonic::none) return false;
    return true;
}());

} // namespace NES
