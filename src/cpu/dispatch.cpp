// The instruction step. clock() runs one whole instruction: through a compiled step of
// its own opcode when the instruction bytes can be fetched directly (nearly always:
// code runs from RAM or the cartridge), else through the tables (cpu.cpp).
//
// A compiled step is the table step with everything known about its opcode folded in:
// the addressing mode, the operation, the length, which index the page-cross rule adds.
// What it leaves out does nothing when the fetch is direct: the bus reads of the opcode
// and of the byte after it (twice, the dummy read) and of the operand bytes, which reach
// no register and, as no board watches reads, no mapper either.
#include <array>
#include <utility>

#include "cpu/cpu.hpp"
#include "cpu/direct_operations.hpp"
#include "ppu/ppu.hpp"

namespace NES {

template <uint8_t OPCODE> void CPU::execute(uint16_t pc, signed char const* code, int64_t start) {
    constexpr Mode M = mode_of(OPCODE);
    constexpr Mnemonic O = mnemonic_of(OPCODE);
    Step s;
    s.code = code;
    s.pc = pc;
    s.b = uint8_t(code[1]);
    s.ea = effective_address<M>(s);
    s.next = uint16_t(pc + MODE_LENGTH<M>);
    // The cycle counts of the grid, as the tables hold them.
    constexpr int BASE = BASE_CYCLES[OPCODE] - '0';
    constexpr int CROSS = CROSS_CYCLES[OPCODE] - '0';
    s.cycles = start + (crosses_page<M>(s.b) ? CROSS : BASE);
    perform<O, M>(s);
    instr_length = O == Mnemonic::BRK ? 3 : MODE_LENGTH<M>; // BRK sets 3, as its table step
    PC = memory + s.next;
    cycles.store(s.cycles, std::memory_order_relaxed);
}

template <uint8_t OPCODE>
void CPU::direct_step(CPU& cpu, uint16_t pc, signed char const* code, int64_t start) {
    cpu.execute<OPCODE>(pc, code, start);
}

// The compiled step of an opcode, or none for JMP ($xxxx): its pointer may lie anywhere,
// registers included, and the table step reads it with the catch-up and the NMI sample
// in their order.
template <uint8_t OPCODE> constexpr CPU::DirectStep CPU::direct_step_of() {
    if constexpr (mode_of(OPCODE) == Mode::ind)
        return nullptr;
    else
        return &direct_step<OPCODE>;
}

void CPU::clock() {
    int64_t const start = cycles.load(std::memory_order_relaxed);
    instruction_start = start;
    uint16_t const pc = uint16_t(PC - memory);
    signed char const* const code = direct_code(pc);
    if (debug || !code) return step_through_tables();
    static constexpr auto steps = []<size_t... OPCODES>(std::index_sequence<OPCODES...>) {
        return std::array<DirectStep, 256>{direct_step_of<uint8_t(OPCODES)>()...};
    }(std::make_index_sequence<256>());
    DirectStep const step = steps[uint8_t(code[0])];
    if (!step) return step_through_tables();

    // The table step samples after the addressing mode's reads; here those reads touch
    // nothing, so the PPU stands where it stood when the instruction began either way.
    bool const line = (memory[0x2000] & 0x80) && nmi_sample;
    nmi_sample = ppu->nmi_occurred;
    step(*this, pc, code, start);
    take_interrupts(line);
}

} // namespace NES
