// Addressing modes: each receives the location of the byte after the opcode, sets the
// instruction's length and returns the operand location. Operand bytes are read through
// the bus, so I/O registers and mapper hooks see them; zero-page pointers wrap inside
// page 0 and every other address wraps at 16 bits.
#include "cpu/cpu.hpp"

namespace NES {

namespace {

int word(uint8_t lo, uint8_t hi) {
    return lo | hi << 8;
}

} // namespace

signed char* CPU::acc(signed char*) {
    return accumulator();
}

signed char* CPU::imm(signed char* o1) {
    instr_length = 2;
    map_memory(&o1);
    return o1;
}

signed char* CPU::zpg(signed char* o1) {
    instr_length = 2;
    return memory + read(o1, true);
}

signed char* CPU::zpgx(signed char* o1) {
    instr_length = 2;
    return memory + uint8_t(read(o1, true) + X);
}

signed char* CPU::zpgy(signed char* o1) {
    instr_length = 2;
    return memory + uint8_t(read(o1, true) + Y);
}

signed char* CPU::abs(signed char* o1) {
    instr_length = 3;
    uint8_t const lo = read(o1, true);
    uint8_t const hi = read(at(get_addr(o1) + 1), true);
    return at(word(lo, hi));
}

signed char* CPU::absx(signed char* o1) {
    return at(get_addr(abs(o1)) + X);
}

signed char* CPU::absy(signed char* o1) {
    return at(get_addr(abs(o1)) + Y);
}

// JMP ($xxFF) takes the high byte of its target from $xx00: the 6502 increments only
// the low byte of the pointer. The pointer itself is taken straight from the image.
signed char* CPU::ind(signed char* o1) {
    instr_length = 3;
    map_memory(&o1);
    if (get_addr(o1) >= 0x2000 && get_addr(o1) < 0x4020) catch_up_devices(); // register bytes
    int const p = word(uint8_t(*o1), uint8_t(*at(get_addr(o1) + 1)));
    uint8_t const lo = read(at(p), true);
    uint8_t const hi = read(at((p & 0xFF00) | ((p + 1) & 0x00FF)), true);
    return at(word(lo, hi));
}

signed char* CPU::xind(signed char* o1) {
    instr_length = 2;
    uint8_t const z = uint8_t(read(o1, true) + X);
    uint8_t const lo = read(memory + z, true);
    uint8_t const hi = read(memory + uint8_t(z + 1), true);
    return at(word(lo, hi));
}

signed char* CPU::indy(signed char* o1) {
    instr_length = 2;
    uint8_t const z = read(o1, true);
    uint8_t const lo = read(memory + z, true);
    uint8_t const hi = read(memory + uint8_t(z + 1), true);
    return at(word(lo, hi) + Y);
}

// The target minus the branch's length: clock() adds the length back.
signed char* CPU::rel(signed char* o1) {
    instr_length = 2;
    int8_t const d = int8_t(read(o1, true));
    return at(get_addr(PC) + d);
}

} // namespace NES
