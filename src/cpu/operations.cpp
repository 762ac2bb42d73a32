// The operations, named by mnemonic. Each receives the operand location; reads and
// writes go through the bus (the accumulator location touches only A). Operations that
// load PC store the target minus the instruction's length, since clock() adds it.
#include "cpu/cpu.hpp"

namespace NES {

void CPU::LDA(signed char* m) {
    set_zn(A = read(m, true));
}
void CPU::LDX(signed char* m) {
    set_zn(X = read(m, true));
}
void CPU::LDY(signed char* m) {
    set_zn(Y = read(m, true));
}

void CPU::STA(signed char* m) {
    write(m, static_cast<signed char>(A));
}
void CPU::STX(signed char* m) {
    write(m, static_cast<signed char>(X));
}
void CPU::STY(signed char* m) {
    write(m, static_cast<signed char>(Y));
}

void CPU::TAX(signed char*) {
    set_zn(X = A);
}
void CPU::TAY(signed char*) {
    set_zn(Y = A);
}
void CPU::TXA(signed char*) {
    set_zn(A = X);
}
void CPU::TYA(signed char*) {
    set_zn(A = Y);
}
void CPU::TSX(signed char*) {
    set_zn(X = SP);
}
void CPU::TXS(signed char*) {
    SP = X;
}

void CPU::AND(signed char* m) {
    set_zn(A &= read(m, true));
}
void CPU::ORA(signed char* m) {
    set_zn(A |= read(m, true));
}
void CPU::EOR(signed char* m) {
    set_zn(A ^= read(m, true));
}

void CPU::BIT(signed char* m) {
    uint8_t const v = read(m, true);
    set_bit(FLAG_Z, (A & v) == 0);
    set_bit(FLAG_V, v & 0x40);
    set_bit(FLAG_N, v & 0x80);
}

// Binary arithmetic only: the 2A03 has no decimal mode, so D is ignored.
void CPU::ADC(signed char* m) {
    uint8_t const v = read(m, true);
    int const t = A + v + (P & FLAG_C);
    set_bit(FLAG_C, t > 255);
    set_bit(FLAG_V, !((A ^ v) & 0x80) && ((t ^ A) & 0x80));
    set_zn(A = uint8_t(t));
}

void CPU::SBC(signed char* m) {
    uint8_t const v = read(m, true);
    int const t = A - v + (P & FLAG_C) - 1;
    set_bit(FLAG_C, t >= 0);
    set_bit(FLAG_V, ((A ^ v) & 0x80) && ((t ^ A) & 0x80));
    set_zn(A = uint8_t(t));
}

void CPU::compare(uint8_t reg, signed char* m) {
    uint8_t const v = read(m, true);
    set_bit(FLAG_C, reg >= v);
    set_zn(uint8_t(reg - v));
}

void CPU::CMP(signed char* m) {
    compare(A, m);
}
void CPU::CPX(signed char* m) {
    compare(X, m);
}
void CPU::CPY(signed char* m) {
    compare(Y, m);
}

void CPU::INC(signed char* m) {
    uint8_t const r = uint8_t(read(m, true) + 1);
    write(m, static_cast<signed char>(r));
    set_zn(r);
}

void CPU::DEC(signed char* m) {
    uint8_t const r = uint8_t(read(m, true) - 1);
    write(m, static_cast<signed char>(r));
    set_zn(r);
}

void CPU::INX(signed char*) {
    set_zn(++X);
}
void CPU::INY(signed char*) {
    set_zn(++Y);
}
void CPU::DEX(signed char*) {
    set_zn(--X);
}
void CPU::DEY(signed char*) {
    set_zn(--Y);
}

void CPU::ASL(signed char* m) {
    uint8_t const v = read(m, true);
    uint8_t const r = uint8_t(v << 1);
    write(m, static_cast<signed char>(r));
    set_bit(FLAG_C, v & 0x80);
    set_zn(r);
}

void CPU::LSR(signed char* m) {
    uint8_t const v = read(m, true);
    uint8_t const r = v >> 1;
    set_bit(FLAG_C, v & 0x01);
    write(m, static_cast<signed char>(r));
    set_zn(r);
}

void CPU::ROL(signed char* m) {
    uint8_t const v = read(m, true);
    uint8_t const r = uint8_t(v << 1 | (P & FLAG_C));
    set_bit(FLAG_C, v & 0x80);
    write(m, static_cast<signed char>(r));
    set_zn(r);
}

void CPU::ROR(signed char* m) {
    uint8_t const v = read(m, true);
    uint8_t const r = uint8_t((P & FLAG_C) << 7 | v >> 1);
    set_bit(FLAG_C, v & 0x01);
    write(m, static_cast<signed char>(r));
    set_zn(r);
}

void CPU::CLC(signed char*) {
    P &= ~FLAG_C;
}
void CPU::CLD(signed char*) {
    P &= ~FLAG_D;
}
void CPU::CLI(signed char*) {
    P &= ~FLAG_I;
}
void CPU::CLV(signed char*) {
    P &= ~FLAG_V;
}
void CPU::SEC(signed char*) {
    P |= FLAG_C;
}
void CPU::SED(signed char*) {
    P |= FLAG_D;
}
void CPU::SEI(signed char*) {
    P |= FLAG_I;
}
void CPU::NOP(signed char*) {}

void CPU::PHA(signed char*) {
    stack_push(static_cast<signed char>(A));
}
// The pushed byte always has B and bit 5 set; P itself is unchanged.
void CPU::PHP(signed char*) {
    stack_push(static_cast<signed char>(P | FLAG_B | FLAG_U));
}
void CPU::PLA(signed char*) {
    set_zn(A = stack_pull());
}
// All eight bits as pulled, B and bit 5 included.
void CPU::PLP(signed char*) {
    P = stack_pull();
}

void CPU::JMP(signed char* m) {
    jump_to(get_addr(m));
}

void CPU::JSR(signed char* m) {
    int64_t const r = get_addr(PC) + 2; // the JSR's last byte
    stack_push(static_cast<signed char>(r >> 8));
    stack_push(static_cast<signed char>(r & 0xFF));
    jump_to(get_addr(m));
}

void CPU::RTS(signed char*) {
    uint8_t const lo = stack_pull();
    uint8_t const hi = stack_pull();
    PC = at(lo | hi << 8); // clock() adds 1, landing after the JSR
}

void CPU::RTI(signed char*) {
    P = stack_pull();
    uint8_t const lo = stack_pull();
    uint8_t const hi = stack_pull();
    PC = at((lo | hi << 8) - 1); // clock() adds 1: resume exactly at the pulled address
}

// BRK sets B and bit 5 in P itself (they stay set until PLP or RTI), pushes P and leaves
// I as it was.
void CPU::BRK(signed char*) {
    int64_t const r = (get_addr(PC) + 2) & 0xFFFF;
    stack_push(static_cast<signed char>(r >> 8));
    stack_push(static_cast<signed char>(r & 0xFF));
    P |= FLAG_B | FLAG_U;
    stack_push(static_cast<signed char>(P));
    instr_length = 3;
    uint8_t const lo = read(at(0xFFFE), true);
    uint8_t const hi = read(at(0xFFFF), true);
    jump_to(lo | hi << 8);
}

// Branch opcodes carry no table cycles: 2 when not taken, 3 when taken, 4 when the
// target lies on another page than the branch opcode itself (the test uses the
// opcode's own address, not the address of the following instruction).
void CPU::branch(signed char* target, bool taken) {
    add_cycles(2);
    if (!taken) return;
    add_cycles(1);
    int64_t const a = get_addr(PC);
    int64_t const landing = (get_addr(target) + 2) & 0xFFFF;
    PC = target;
    if ((a >> 8) != (landing >> 8)) add_cycles(1);
}

void CPU::BPL(signed char* m) {
    branch(m, !(P & FLAG_N));
}
void CPU::BMI(signed char* m) {
    branch(m, P & FLAG_N);
}
void CPU::BVC(signed char* m) {
    branch(m, !(P & FLAG_V));
}
void CPU::BVS(signed char* m) {
    branch(m, P & FLAG_V);
}
void CPU::BCC(signed char* m) {
    branch(m, !(P & FLAG_C));
}
void CPU::BCS(signed char* m) {
    branch(m, P & FLAG_C);
}
void CPU::BNE(signed char* m) {
    branch(m, !(P & FLAG_Z));
}
void CPU::BEQ(signed char* m) {
    branch(m, P & FLAG_Z);
}

} // namespace NES
