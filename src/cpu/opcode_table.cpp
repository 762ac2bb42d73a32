// The opcode tables. Each of the 256 opcodes has a mnemonic (or none), an addressing
// mode name (or none) and two cycle counts. The grids below are laid out like a 6502
// opcode chart: row = high nibble, column = low nibble.
//
// Beyond the official set, the shift and increment rows carry "extra" entries (02, 1A,
// 12, 9E, ...) that behave exactly as their mode says; opcodes without a mnemonic run
// as no-ops of their mode's length and their table cycles.
#include <cstring>

#include "cpu/cpu.hpp"

namespace NES {

namespace {

// "---" marks a mode-less row (no mode name, length 1, operand = the next byte);
// nullptr in the mnemonic grid marks an opcode without an operation.
// clang-format off
constexpr char const* MNEMONIC_GRID[256] = {
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

constexpr char const* MODE_GRID[256] = {
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
constexpr char BASE_CYCLES[] =
    "7608335532224466050844662427447766083355422244660508446624274477"
    "6608335532223466050844662427447766083355422254660508446624274477"
    "2626333322224444060644442525555526263333222244440505444424244444"
    "2628335522224466050844662427447726283355222244660508446624274477";
constexpr char CROSS_CYCLES[] =
    "7608335532224466060844662527557766083355422244660608446625275577"
    "6608335532223466060844662527557766083355422254660608446625275577"
    "2626333322224444060644442525555526263333222244440606444425255555"
    "2628335522224466060844662527557726283355222244660608446625275577";
// clang-format on

struct NamedMode {
    char const* name;
    CPU::AddrMode mode;
};

struct NamedOperation {
    char const* name;
    CPU::Operation operation;
};

constexpr NamedMode MODES[] = {
    {"impl", nullptr},    {"acc", &CPU::acc},   {"imm", &CPU::imm},   {"zpg", &CPU::zpg},
    {"zpgx", &CPU::zpgx}, {"zpgy", &CPU::zpgy}, {"abs", &CPU::abs},   {"absx", &CPU::absx},
    {"absy", &CPU::absy}, {"ind", &CPU::ind},   {"xind", &CPU::xind}, {"indy", &CPU::indy},
    {"rel", &CPU::rel},
};

constexpr NamedOperation OPERATIONS[] = {
    {"ADC", &CPU::ADC}, {"AND", &CPU::AND}, {"ASL", &CPU::ASL}, {"BCC", &CPU::BCC},
    {"BCS", &CPU::BCS}, {"BEQ", &CPU::BEQ}, {"BIT", &CPU::BIT}, {"BMI", &CPU::BMI},
    {"BNE", &CPU::BNE}, {"BPL", &CPU::BPL}, {"BRK", &CPU::BRK}, {"BVC", &CPU::BVC},
    {"BVS", &CPU::BVS}, {"CLC", &CPU::CLC}, {"CLD", &CPU::CLD}, {"CLI", &CPU::CLI},
    {"CLV", &CPU::CLV}, {"CMP", &CPU::CMP}, {"CPX", &CPU::CPX}, {"CPY", &CPU::CPY},
    {"DEC", &CPU::DEC}, {"DEX", &CPU::DEX}, {"DEY", &CPU::DEY}, {"EOR", &CPU::EOR},
    {"INC", &CPU::INC}, {"INX", &CPU::INX}, {"INY", &CPU::INY}, {"JMP", &CPU::JMP},
    {"JSR", &CPU::JSR}, {"LDA", &CPU::LDA}, {"LDX", &CPU::LDX}, {"LDY", &CPU::LDY},
    {"LSR", &CPU::LSR}, {"NOP", &CPU::NOP}, {"ORA", &CPU::ORA}, {"PHA", &CPU::PHA},
    {"PHP", &CPU::PHP}, {"PLA", &CPU::PLA}, {"PLP", &CPU::PLP}, {"ROL", &CPU::ROL},
    {"ROR", &CPU::ROR}, {"RTI", &CPU::RTI}, {"RTS", &CPU::RTS}, {"SBC", &CPU::SBC},
    {"SEC", &CPU::SEC}, {"SED", &CPU::SED}, {"SEI", &CPU::SEI}, {"STA", &CPU::STA},
    {"STX", &CPU::STX}, {"STY", &CPU::STY}, {"TAX", &CPU::TAX}, {"TAY", &CPU::TAY},
    {"TSX", &CPU::TSX}, {"TXA", &CPU::TXA}, {"TXS", &CPU::TXS}, {"TYA", &CPU::TYA},
};

template <typename Entry, size_t N>
Entry const* find_by_name(Entry const (&entries)[N], char const* name) {
    for (Entry const& entry : entries)
        if (std::strcmp(entry.name, name) == 0) return &entry;
    return nullptr;
}

constexpr uint8_t NO_INDEX = 0;

} // namespace

void CPU::define_opcodes() {
    for (int op = 0; op < 256; ++op) {
        if (NamedMode const* m = find_by_name(MODES, MODE_GRID[op])) {
            addr_modes[op] = m->mode;
            mode_names[op] = m->name;
        }
        if (MNEMONIC_GRID[op]) {
            NamedOperation const* o = find_by_name(OPERATIONS, MNEMONIC_GRID[op]);
            instructions[op] = o->operation;
            mnemonics[op] = o->name;
        }
        char const* name = MODE_GRID[op];
        cross_index[op] = std::strcmp(name, "absx") == 0 ? &X
                          : (std::strcmp(name, "absy") == 0 || std::strcmp(name, "indy") == 0)
                              ? &Y
                              : &NO_INDEX;
    }
}

void CPU::define_timings() {
    for (int op = 0; op < 256; ++op) {
        base_cycles[op] = uint8_t(BASE_CYCLES[op] - '0');
        cross_cycles[op] = uint8_t(CROSS_CYCLES[op] - '0');
    }
}

} // namespace NES
