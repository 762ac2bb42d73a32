// The CPU's run-time opcode tables (member functions, names, cycle counts), built from
// the opcode grids.
#include <cstring>

#include "cpu/cpu.hpp"
#include "cpu/opcode_grid.hpp"

namespace NES {

namespace {

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

enum class CrossIndex : uint8_t { none, x, y };

// The tables by name lookup, worked out once per process: a console is built often (every
// copy, every unpickled console), and the lookups take far longer than copying.
struct OpcodeTables {
    CPU::AddrMode modes[256] = {};
    char const* mode_names[256] = {};
    CPU::Operation operations[256] = {};
    char const* mnemonics[256] = {};
    CrossIndex cross[256] = {};

    OpcodeTables() {
        for (int op = 0; op < 256; ++op) {
            if (NamedMode const* m = find_by_name(MODES, MODE_GRID[op])) {
                modes[op] = m->mode;
                mode_names[op] = m->name;
            }
            if (MNEMONIC_GRID[op]) {
                NamedOperation const* o = find_by_name(OPERATIONS, MNEMONIC_GRID[op]);
                operations[op] = o->operation;
                mnemonics[op] = o->name;
            }
            char const* name = MODE_GRID[op];
            cross[op] = std::strcmp(name, "absx") == 0 ? CrossIndex::x
                        : (std::strcmp(name, "absy") == 0 || std::strcmp(name, "indy") == 0)
                            ? CrossIndex::y
                            : CrossIndex::none;
        }
    }
};

} // namespace

void CPU::define_opcodes() {
    static OpcodeTables const tables;
    for (int op = 0; op < 256; ++op) {
        addr_modes[op] = tables.modes[op];
        mode_names[op] = tables.mode_names[op];
        instructions[op] = tables.operations[op];
        mnemonics[op] = tables.mnemonics[op];
        cross_index[op] = tables.cross[op] == CrossIndex::x   ? &X
                          : tables.cross[op] == CrossIndex::y ? &Y
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
