// Operations for the compiled steps: the operations of operations.cpp on an operand
// address (or the accumulator) instead of a location. Where an operation of the table
// step leaves PC at "target minus length" for clock() to add the length, these set the
// next instruction's address directly; where it adds cycles (branches), these add them
// to the step's count.
#pragma once

#include "cpu/direct_addressing.hpp"

namespace NES {

inline void CPU::compare_direct(uint8_t reg, uint8_t value) {
    set_bit(FLAG_C, reg >= value);
    set_zn(uint8_t(reg - value));
}

// 2 cycles when not taken, 3 when taken, 4 when the landing address lies on another page
// than the branch opcode itself, as branch() counts them.
inline void CPU::branch_direct(Step& s, bool taken) {
    s.cycles += 2;
    if (!taken) return;
    s.cycles += 1;
    uint16_t const landing = uint16_t(s.pc + int8_t(s.b) + 2);
    s.next = landing;
    if ((s.pc >> 8) != (landing >> 8)) s.cycles += 1;
}

// Inlined into each step: a call per operation would cost as much as the operation.
template <Mnemonic O, Mode M> [[gnu::always_inline]] inline void CPU::perform(Step& s) {
    switch (O) {
    case Mnemonic::none:
    case Mnemonic::NOP: break;

    case Mnemonic::LDA: set_zn(A = operand<M>(s)); break;
    case Mnemonic::LDX: set_zn(X = operand<M>(s)); break;
    case Mnemonic::LDY: set_zn(Y = operand<M>(s)); break;
    case Mnemonic::STA: set_operand<M>(s, A); break;
    case Mnemonic::STX: set_operand<M>(s, X); break;
    case Mnemonic::STY: set_operand<M>(s, Y); break;

    case Mnemonic::TAX: set_zn(X = A); break;
    case Mnemonic::TAY: set_zn(Y = A); break;
    case Mnemonic::TXA: set_zn(A = X); break;
    case Mnemonic::TYA: set_zn(A = Y); break;
    case Mnemonic::TSX: set_zn(X = SP); break;
    case Mnemonic::TXS: SP = X; break;

    case Mnemonic::AND: set_zn(A &= operand<M>(s)); break;
    case Mnemonic::ORA: set_zn(A |= operand<M>(s)); break;
    case Mnemonic::EOR: set_zn(A ^= operand<M>(s)); break;
    case Mnemonic::BIT: {
        uint8_t const v = operand<M>(s);
        set_bit(FLAG_Z, (A & v) == 0);
        set_bit(FLAG_V, v & 0x40);
        set_bit(FLAG_N, v & 0x80);
        break;
    }
    case Mnemonic::ADC: {
        uint8_t const v = operand<M>(s);
        int const t = A + v + (P & FLAG_C);
        set_bit(FLAG_C, t > 255);
        set_bit(FLAG_V, !((A ^ v) & 0x80) && ((t ^ A) & 0x80));
        set_zn(A = uint8_t(t));
        break;
    }
    case Mnemonic::SBC: {
        uint8_t const v = operand<M>(s);
        int const t = A - v + (P & FLAG_C) - 1;
        set_bit(FLAG_C, t >= 0);
        set_bit(FLAG_V, ((A ^ v) & 0x80) && ((t ^ A) & 0x80));
        set_zn(A = uint8_t(t));
        break;
    }
    case Mnemonic::CMP: compare_direct(A, operand<M>(s)); break;
    case Mnemonic::CPX: compare_direct(X, operand<M>(s)); break;
    case Mnemonic::CPY: compare_direct(Y, operand<M>(s)); break;

    // Read-modify-write: the read, then the write of the result, both on the bus.
    case Mnemonic::INC: {
        uint8_t const r = uint8_t(operand<M>(s) + 1);
        set_operand<M>(s, r);
        set_zn(r);
        break;
    }
    case Mnemonic::DEC: {
        uint8_t const r = uint8_t(operand<M>(s) - 1);
        set_operand<M>(s, r);
        set_zn(r);
        break;
    }
    case Mnemonic::ASL: {
        uint8_t const v = operand<M>(s);
        uint8_t const r = uint8_t(v << 1);
        set_operand<M>(s, r);
        set_bit(FLAG_C, v & 0x80);
        set_zn(r);
        break;
    }
    case Mnemonic::LSR: {
        uint8_t const v = operand<M>(s);
        uint8_t const r = v >> 1;
        set_bit(FLAG_C, v & 0x01);
        set_operand<M>(s, r);
        set_zn(r);
        break;
    }
    case Mnemonic::ROL: {
        uint8_t const v = operand<M>(s);
        uint8_t const r = uint8_t(v << 1 | (P & FLAG_C));
        set_bit(FLAG_C, v & 0x80);
        set_operand<M>(s, r);
        set_zn(r);
        break;
    }
    case Mnemonic::ROR: {
        uint8_t const v = operand<M>(s);
        uint8_t const r = uint8_t((P & FLAG_C) << 7 | v >> 1);
        set_bit(FLAG_C, v & 0x01);
        set_operand<M>(s, r);
        set_zn(r);
        break;
    }

    case Mnemonic::INX: set_zn(++X); break;
    case Mnemonic::INY: set_zn(++Y); break;
    case Mnemonic::DEX: set_zn(--X); break;
    case Mnemonic::DEY: set_zn(--Y); break;

    case Mnemonic::CLC: P &= ~FLAG_C; break;
    case Mnemonic::CLD: P &= ~FLAG_D; break;
    case Mnemonic::CLI: P &= ~FLAG_I; break;
    case Mnemonic::CLV: P &= ~FLAG_V; break;
    case Mnemonic::SEC: P |= FLAG_C; break;
    case Mnemonic::SED: P |= FLAG_D; break;
    case Mnemonic::SEI: P |= FLAG_I; break;

    case Mnemonic::PHA: stack_push(static_cast<signed char>(A)); break;
    case Mnemonic::PHP: stack_push(static_cast<signed char>(P | FLAG_B | FLAG_U)); break;
    case Mnemonic::PLA: set_zn(A = stack_pull()); break;
    case Mnemonic::PLP: P = stack_pull(); break;

    case Mnemonic::JMP: s.next = s.ea; break;
    case Mnemonic::JSR: {
        uint16_t const r = uint16_t(s.pc + 2); // the JSR's last byte
        stack_push(static_cast<signed char>(r >> 8));
        stack_push(static_cast<signed char>(r & 0xFF));
        s.next = s.ea;
        break;
    }
    case Mnemonic::RTS: {
        uint8_t const lo = stack_pull();
        uint8_t const hi = stack_pull();
        s.next = uint16_t((lo | hi << 8) + 1);
        break;
    }
    case Mnemonic::RTI: {
        P = stack_pull();
        uint8_t const lo = stack_pull();
        uint8_t const hi = stack_pull();
        s.next = uint16_t(lo | hi << 8);
        break;
    }
    case Mnemonic::BRK: {
        uint16_t const r = uint16_t(s.pc + 2);
        stack_push(static_cast<signed char>(r >> 8));
        stack_push(static_cast<signed char>(r & 0xFF));
        P |= FLAG_B | FLAG_U;
        stack_push(static_cast<signed char>(P));
        uint8_t const lo = load(0xFFFE);
        uint8_t const hi = load(0xFFFF);
        s.next = uint16_t(lo | hi << 8);
        break;
    }

    case Mnemonic::BPL: branch_direct(s, !(P & FLAG_N)); break;
    case Mnemonic::BMI: branch_direct(s, P & FLAG_N); break;
    case Mnemonic::BVC: branch_direct(s, !(P & FLAG_V)); break;
    case Mnemonic::BVS: branch_direct(s, P & FLAG_V); break;
    case Mnemonic::BCC: branch_direct(s, !(P & FLAG_C)); break;
    case Mnemonic::BCS: branch_direct(s, P & FLAG_C); break;
    case Mnemonic::BNE: branch_direct(s, !(P & FLAG_Z)); break;
    case Mnemonic::BEQ: branch_direct(s, P & FLAG_Z); break;
    }
}

} // namespace NES
