// Construction, reset, the instruction step through the tables and interrupt entry.
#include "cpu/cpu.hpp"

#include <chrono>
#include <cstring>

#include "apu/apu.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

int64_t wall_clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

CPU::CPU(bool debug) : start_time(wall_clock_ns()), debug(debug) {
    std::memset(memory, 0, sizeof memory);
    for (int i = 0; i < 256; ++i) {
        addr_modes[i] = nullptr;
        instructions[i] = nullptr;
        mnemonics[i] = nullptr;
        mode_names[i] = nullptr;
        base_cycles[i] = 0;
        cross_cycles[i] = 0;
    }
    define_opcodes();
    define_timings();
}

void CPU::reset() {
    cycles = 0;
    ppu->dot_count = 0;
    apu->cycles = 0;
    apu->samples = 0;
    if (hardware) {
        // S powers up as 0; the reset sequence takes it down to $FD.
        SP = 0;
        P = FLAG_U | FLAG_I;
        pc_exact = 0;
        ppu_deadline = ppu->next_event_dot();
        reset_sequence();
        return;
    }
    PC = abs(at(reset_vector));
}

void CPU::press_reset() {
    if (hardware) {
        pc_exact = uint16_t(get_addr(PC));
        reset_sequence();
        return;
    }
    SP = uint8_t(SP - 3);
    P |= FLAG_I;
    PC = abs(at(reset_vector));
    add_cycles(7);
    instruction_start = cycles.load(std::memory_order_relaxed);
}

// The step through the tables: every byte goes through the general bus.
void CPU::step_through_tables() {
    instr_length = 1;
    signed char* const o = PC;
    uint8_t const opcode = read(o, true);
    signed char* const o1 = at(get_addr(o) + 1);
    // The byte after the opcode is read twice, as the hardware's dummy read does; its
    // value decides the page-cross cycle.
    uint8_t const b = read(o1, true);
    read(o1, true);

    AddrMode const mode = addr_modes[opcode];
    signed char* const operand = mode ? (this->*mode)(o1) : o1;
    add_cycles((b + *cross_index[opcode] > 255) ? cross_cycles[opcode] : base_cycles[opcode]);

    bool const line = (memory[0x2000] & 0x80) && nmi_sample;
    nmi_sample = ppu->nmi_occurred;

    if (debug) print_trace(operand);
    // Opcodes without an operation run as no-ops of their table length and cycles.
    if (Operation const op = instructions[opcode]) (this->*op)(operand);
    PC = at(get_addr(PC) + instr_length);
    take_interrupts(line);
}

// Interrupt entry pushes the address of the next instruction and P exactly as it stands
// (B and bit 5 included), sets I and jumps through the vector. It costs no cycles here.
void CPU::enter_interrupt(uint16_t vector) {
    int64_t const r = get_addr(PC);
    memory[0x100 + SP] = static_cast<signed char>(r >> 8);
    memory[0x100 + uint8_t(SP - 1)] = static_cast<signed char>(r & 0xFF);
    memory[0x100 + uint8_t(SP - 2)] = static_cast<signed char>(P);
    P |= FLAG_I;
    SP = uint8_t(SP - 3);
    PC = abs(at(vector));
}

void CPU::start_nmi() {
    enter_interrupt(nmi_vector);
}

void CPU::start_irq() {
    if (P & FLAG_I) return; // stays pending until I is clear
    irq_pending = false;
    enter_interrupt(irq_vector);
}

namespace {

uint8_t flag_bit(char letter) {
    switch (letter) {
    case 'C': return 0x01;
    case 'Z': return 0x02;
    case 'I': return 0x04;
    case 'D': return 0x08;
    case 'B': return 0x10;
    case 'V': return 0x40;
    case 'N': return 0x80;
    default: return 0;
    }
}

} // namespace

bool CPU::get_flag(char letter) const {
    return P & flag_bit(letter);
}

void CPU::set_flag(char letter, bool value) {
    set_bit(flag_bit(letter), value);
}

int CPU::emulated_clock_speed(long long elapsed_ns) const {
    if (cycles == 0 || elapsed_ns == 0) return 0;
    return int(double(cycles) * 1000000000.0 / double(elapsed_ns));
}

} // namespace NES
