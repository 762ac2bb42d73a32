// Hardware mode's instruction step: the 2A03's bus activity cycle by cycle, for all 256
// opcodes, the unofficial ones included. Every cycle is one read or write on the bus
// (cycle_bus.hpp), with the dummy reads of the addressing modes, of the implied operand
// byte and of the stack, and the double write of read-modify-write instructions.
//
// Interrupts are polled as the hardware polls them: an instruction's last cycle takes
// what was due at the end of the cycle before it (end_cycle keeps that in poll_due), so
// CLI, SEI and PLP act one instruction late while RTI acts at once; a taken branch that
// stays on its page does not poll on its third cycle. The 7-cycle entry chooses its
// vector after pushing PC, so an NMI that arrives by then hijacks a BRK or an IRQ.
#include "cpu/cycle_bus.hpp"

namespace NES {

namespace {

// The flags the arithmetic below sets (CPU members use the CPU's own names).
constexpr uint8_t FLAG_C = 0x01, FLAG_Z = 0x02, FLAG_V = 0x40, FLAG_N = 0x80;
// The constant the unstable immediate loads (LXA, XAA) OR into A before the AND.
constexpr uint8_t UNSTABLE_MAGIC = 0xFF;

enum class Index : uint8_t { x, y };

} // namespace

uint16_t CPU::fetch_word() {
    uint8_t const lo = fetch_byte();
    uint8_t const hi = fetch_byte();
    return uint16_t(lo | hi << 8);
}

void CPU::clock_exactly() {
    instruction_start = cycles.load(std::memory_order_relaxed);
    pc_exact = uint16_t(PC - memory);
    if (jammed) {
        cycle_read(0xFFFF);
        return;
    }
    if (oam_dma_request) run_oam_dma();
    if (take_interrupt) {
        take_interrupt = false;
        interrupt_sequence(false);
    } else {
        execute_exactly(cycle_read(pc_exact++));
        take_interrupt = poll_due;
    }
    PC = memory + pc_exact;
}

// BRK, IRQ and NMI share the sequence; an interrupt reads its two bytes without moving
// PC and pushes P with B clear. The vector is chosen after PC is pushed.
void CPU::interrupt_sequence(bool brk) {
    if (brk) {
        fetch_byte();
    } else {
        cycle_read(pc_exact);
        cycle_read(pc_exact);
    }
    push_exactly(uint8_t(pc_exact >> 8));
    push_exactly(uint8_t(pc_exact));
    bool const nmi = nmi_pending;
    if (nmi)
        nmi_pending = false;
    else if (!brk)
        irq_pending = false;
    push_exactly(uint8_t((P & ~FLAG_B) | FLAG_U | (brk ? FLAG_B : 0)));
    P |= FLAG_I;
    uint16_t const vector = nmi ? nmi_vector : irq_vector;
    uint8_t const lo = cycle_read(vector);
    uint8_t const hi = cycle_read(uint16_t(vector + 1));
    pc_exact = uint16_t(lo | hi << 8);
    // Entry does not poll: the handler's first instruction always runs.
    interrupt_due = poll_due = false;
}

// The reset sequence is the interrupt sequence with its writes turned into reads.
void CPU::reset_sequence() {
    cycle_read(pc_exact);
    cycle_read(pc_exact);
    for (int i = 0; i < 3; ++i)
        cycle_read(uint16_t(0x100 | SP--));
    P |= FLAG_I;
    uint8_t const lo = cycle_read(reset_vector);
    uint8_t const hi = cycle_read(uint16_t(reset_vector + 1));
    pc_exact = uint16_t(lo | hi << 8);
    PC = memory + pc_exact;
    jammed = false;
    oam_dma_request = take_interrupt = nmi_pending = false;
    interrupt_due = poll_due = false;
}

namespace {

// The arithmetic shared by the official and unofficial opcodes, on a CPU's registers.
struct Alu {
    uint8_t& a;
    uint8_t& p;

    void zn(uint8_t v) { p = uint8_t((p & ~(FLAG_Z | FLAG_N)) | (v ? 0 : FLAG_Z) | (v & FLAG_N)); }
    void flag(uint8_t f, bool on) { p = on ? uint8_t(p | f) : uint8_t(p & ~f); }
    void adc(uint8_t v) {
        int const t = a + v + (p & FLAG_C);
        flag(FLAG_C, t > 0xFF);
        flag(FLAG_V, ~(a ^ v) & (a ^ t) & 0x80);
        a = uint8_t(t);
        zn(a);
    }
    void sbc(uint8_t v) { adc(uint8_t(~v)); }
    void compare(uint8_t reg, uint8_t v) {
        flag(FLAG_C, reg >= v);
        zn(uint8_t(reg - v));
    }
    uint8_t asl(uint8_t v) {
        flag(FLAG_C, v & 0x80);
        v = uint8_t(v << 1);
        zn(v);
        return v;
    }
    uint8_t lsr(uint8_t v) {
        flag(FLAG_C, v & 1);
        v = uint8_t(v >> 1);
        zn(v);
        return v;
    }
    uint8_t rol(uint8_t v) {
        uint8_t const r = uint8_t(v << 1 | (p & FLAG_C));
        flag(FLAG_C, v & 0x80);
        zn(r);
        return r;
    }
    uint8_t ror(uint8_t v) {
        uint8_t const r = uint8_t((p & FLAG_C) << 7 | v >> 1);
        flag(FLAG_C, v & 1);
        zn(r);
        return r;
    }
    void bit(uint8_t v) {
        flag(FLAG_Z, !(a & v));
        p = uint8_t((p & 0x3F) | (v & 0xC0));
    }
};

} // namespace

// The opcode's cycles after the fetch, by addressing mode (the read, write and
// read-modify-write patterns of each) and operation.
void CPU::execute_exactly(uint8_t opcode) {
    Alu alu{A, P};
    uint16_t& pc = pc_exact;

    // Operand addresses; each performs the mode's cycles up to the operand access.
    auto zp = [&] { return uint16_t(fetch_byte()); };
    auto zp_indexed = [&](uint8_t index) {
        uint8_t const base = fetch_byte();
        cycle_read(base);
        return uint16_t(uint8_t(base + index));
    };
    auto absolute = [&] { return fetch_word(); };
    // Reads fix a page crossing with one more read; writes and read-modify-writes always
    // read the address before its high byte is fixed.
    auto abs_indexed = [&](uint8_t index, bool always_fix) {
        uint16_t const base = fetch_word();
        uint16_t const ea = uint16_t(base + index);
        if (always_fix || (ea ^ base) & 0xFF00) cycle_read(uint16_t((base & 0xFF00) | (ea & 0xFF)));
        return ea;
    };
    auto indexed_indirect = [&] {
        uint8_t const pointer = fetch_byte();
        cycle_read(pointer);
        uint8_t const at = uint8_t(pointer + X);
        uint8_t const lo = cycle_read(at);
        uint8_t const hi = cycle_read(uint8_t(at + 1));
        return uint16_t(lo | hi << 8);
    };
    auto indirect_indexed = [&](bool always_fix) {
        uint8_t const pointer = fetch_byte();
        uint8_t const lo = cycle_read(pointer);
        uint8_t const hi = cycle_read(uint8_t(pointer + 1));
        uint16_t const base = uint16_t(lo | hi << 8);
        uint16_t const ea = uint16_t(base + Y);
        if (always_fix || (ea ^ base) & 0xFF00) cycle_read(uint16_t((base & 0xFF00) | (ea & 0xFF)));
        return ea;
    };
    auto implied = [&] { cycle_read(pc); };
    auto immediate = [&] { return fetch_byte(); };
    // Read-modify-write: read, write the old value back, write the new one.
    auto modify = [&](uint16_t ea, auto op) {
        uint8_t const v = cycle_read(ea);
        cycle_write(ea, v);
        uint8_t const r = op(v);
        cycle_write(ea, r);
        return r;
    };
    auto branch = [&](bool taken) {
        int8_t const offset = int8_t(fetch_byte());
        if (!taken) return;
        // A taken branch polls on its operand cycle only, unless it crosses a page.
        bool const due = poll_due;
        cycle_read(pc);
        uint16_t const target = uint16_t(pc + offset);
        if ((target ^ pc) & 0xFF00) {
            cycle_read(uint16_t((pc & 0xFF00) | (target & 0xFF)));
        } else {
            poll_due = due;
        }
        pc = target;
    };
    // SHA, SHX, SHY, TAS: the value ANDed with the base address's high byte plus one;
    // when the index crosses a page, that value also replaces the address's high byte.
    auto store_high_and = [&](uint16_t base, uint8_t index, uint8_t value) {
        uint16_t ea = uint16_t(base + index);
        cycle_read(uint16_t((base & 0xFF00) | (ea & 0xFF)));
        uint8_t const stored = uint8_t(value & ((base >> 8) + 1));
        if ((ea ^ base) & 0xFF00) ea = uint16_t((ea & 0x00FF) | stored << 8);
        cycle_write(ea, stored);
    };
    auto indirect_base = [&] {
        uint8_t const pointer = fetch_byte();
        uint8_t const lo = cycle_read(pointer);
        uint8_t const hi = cycle_read(uint8_t(pointer + 1));
        return uint16_t(lo | hi << 8);
    };

    auto slo = [&](uint8_t v) {
        uint8_t r = alu.asl(v);
        A |= r;
        alu.zn(A);
        return r;
    };
    auto rla = [&](uint8_t v) {
        uint8_t r = alu.rol(v);
        A &= r;
        alu.zn(A);
        return r;
    };
    auto sre = [&](uint8_t v) {
        uint8_t r = alu.lsr(v);
        A ^= r;
        alu.zn(A);
        return r;
    };
    auto rra = [&](uint8_t v) {
        uint8_t r = alu.ror(v);
        alu.adc(r);
        return r;
    };
    auto dcp = [&](uint8_t v) {
        uint8_t r = uint8_t(v - 1);
        alu.compare(A, r);
        return r;
    };
    auto isc = [&](uint8_t v) {
        uint8_t r = uint8_t(v + 1);
        alu.sbc(r);
        return r;
    };
    auto inc = [&](uint8_t v) {
        uint8_t r = uint8_t(v + 1);
        alu.zn(r);
        return r;
    };
    auto dec = [&](uint8_t v) {
        uint8_t r = uint8_t(v - 1);
        alu.zn(r);
        return r;
    };
    auto asl = [&](uint8_t v) { return alu.asl(v); };
    auto lsr = [&](uint8_t v) { return alu.lsr(v); };
    auto rol = [&](uint8_t v) { return alu.rol(v); };
    auto ror = [&](uint8_t v) { return alu.ror(v); };
    auto lda = [&](uint8_t v) { alu.zn(A = v); };
    auto ldx = [&](uint8_t v) { alu.zn(X = v); };
    auto ldy = [&](uint8_t v) { alu.zn(Y = v); };
    auto lax = [&](uint8_t v) { alu.zn(A = X = v); };
    auto ora = [&](uint8_t v) { alu.zn(A |= v); };
    auto and_ = [&](uint8_t v) { alu.zn(A &= v); };
    auto eor = [&](uint8_t v) { alu.zn(A ^= v); };
    auto adc = [&](uint8_t v) { alu.adc(v); };
    auto sbc = [&](uint8_t v) { alu.sbc(v); };
    auto cmp = [&](uint8_t v) { alu.compare(A, v); };
    auto cpx = [&](uint8_t v) { alu.compare(X, v); };
    auto cpy = [&](uint8_t v) { alu.compare(Y, v); };
    auto nop = [](uint8_t) {};

    // The eight operand columns of the ALU rows (ORA ... SBC) and of their unofficial
    // read-modify-write twins share one layout of modes.
    auto alu_group = [&](uint8_t op, auto operation) {
        switch (op & 0x1F) {
        case 0x01: operation(cycle_read(indexed_indirect())); break;
        case 0x05: operation(cycle_read(zp())); break;
        case 0x09: operation(immediate()); break;
        case 0x0D: operation(cycle_read(absolute())); break;
        case 0x11: operation(cycle_read(indirect_indexed(false))); break;
        case 0x15: operation(cycle_read(zp_indexed(X))); break;
        case 0x19: operation(cycle_read(abs_indexed(Y, false))); break;
        case 0x1D: operation(cycle_read(abs_indexed(X, false))); break;
        }
    };
    auto rmw_group = [&](uint8_t op, auto operation) {
        switch (op & 0x1F) {
        case 0x03: modify(indexed_indirect(), operation); break;
        case 0x07: modify(zp(), operation); break;
        case 0x0F: modify(absolute(), operation); break;
        case 0x13: modify(indirect_indexed(true), operation); break;
        case 0x17: modify(zp_indexed(X), operation); break;
        case 0x1B: modify(abs_indexed(Y, true), operation); break;
        case 0x1F: modify(abs_indexed(X, true), operation); break;
        }
    };
    // The shift and increment column: accumulator (or implied), zp, abs, zp,X, abs,X.
    auto shift_group = [&](uint8_t op, auto operation) {
        switch (op & 0x1F) {
        case 0x0A:
            implied();
            A = operation(A);
            break;
        case 0x06: modify(zp(), operation); break;
        case 0x0E: modify(absolute(), operation); break;
        case 0x16: modify(zp_indexed(X), operation); break;
        case 0x1E: modify(abs_indexed(X, true), operation); break;
        }
    };

    switch (opcode) {
    // Official ALU rows.
    case 0x01:
    case 0x05:
    case 0x09:
    case 0x0D:
    case 0x11:
    case 0x15:
    case 0x19:
    case 0x1D: alu_group(opcode, ora); break;
    case 0x21:
    case 0x25:
    case 0x29:
    case 0x2D:
    case 0x31:
    case 0x35:
    case 0x39:
    case 0x3D: alu_group(opcode, and_); break;
    case 0x41:
    case 0x45:
    case 0x49:
    case 0x4D:
    case 0x51:
    case 0x55:
    case 0x59:
    case 0x5D: alu_group(opcode, eor); break;
    case 0x61:
    case 0x65:
    case 0x69:
    case 0x6D:
    case 0x71:
    case 0x75:
    case 0x79:
    case 0x7D: alu_group(opcode, adc); break;
    case 0xA1:
    case 0xA5:
    case 0xA9:
    case 0xAD:
    case 0xB1:
    case 0xB5:
    case 0xB9:
    case 0xBD: alu_group(opcode, lda); break;
    case 0xC1:
    case 0xC5:
    case 0xC9:
    case 0xCD:
    case 0xD1:
    case 0xD5:
    case 0xD9:
    case 0xDD: alu_group(opcode, cmp); break;
    case 0xE1:
    case 0xE5:
    case 0xE9:
    case 0xED:
    case 0xF1:
    case 0xF5:
    case 0xF9:
    case 0xFD:
    case 0xEB: alu_group(opcode == 0xEB ? 0xE9 : opcode, sbc); break;

    // Stores.
    case 0x81: cycle_write(indexed_indirect(), A); break;
    case 0x85: cycle_write(zp(), A); break;
    case 0x8D: cycle_write(absolute(), A); break;
    case 0x91: cycle_write(indirect_indexed(true), A); break;
    case 0x95: cycle_write(zp_indexed(X), A); break;
    case 0x99: cycle_write(abs_indexed(Y, true), A); break;
    case 0x9D: cycle_write(abs_indexed(X, true), A); break;
    case 0x86: cycle_write(zp(), X); break;
    case 0x8E: cycle_write(absolute(), X); break;
    case 0x96: cycle_write(zp_indexed(Y), X); break;
    case 0x84: cycle_write(zp(), Y); break;
    case 0x8C: cycle_write(absolute(), Y); break;
    case 0x94: cycle_write(zp_indexed(X), Y); break;
    case 0x83: cycle_write(indexed_indirect(), A & X); break;
    case 0x87: cycle_write(zp(), A & X); break;
    case 0x8F: cycle_write(absolute(), A & X); break;
    case 0x97: cycle_write(zp_indexed(Y), A & X); break;

    // Loads of X and Y, LAX, LAS.
    case 0xA2: ldx(immediate()); break;
    case 0xA6: ldx(cycle_read(zp())); break;
    case 0xAE: ldx(cycle_read(absolute())); break;
    case 0xB6: ldx(cycle_read(zp_indexed(Y))); break;
    case 0xBE: ldx(cycle_read(abs_indexed(Y, false))); break;
    case 0xA0: ldy(immediate()); break;
    case 0xA4: ldy(cycle_read(zp())); break;
    case 0xAC: ldy(cycle_read(absolute())); break;
    case 0xB4: ldy(cycle_read(zp_indexed(X))); break;
    case 0xBC: ldy(cycle_read(abs_indexed(X, false))); break;
    case 0xA3: lax(cycle_read(indexed_indirect())); break;
    case 0xA7: lax(cycle_read(zp())); break;
    case 0xAF: lax(cycle_read(absolute())); break;
    case 0xB3: lax(cycle_read(indirect_indexed(false))); break;
    case 0xB7: lax(cycle_read(zp_indexed(Y))); break;
    case 0xBF: lax(cycle_read(abs_indexed(Y, false))); break;
    case 0xBB: {
        uint8_t const v = uint8_t(cycle_read(abs_indexed(Y, false)) & SP);
        A = X = SP = v;
        alu.zn(v);
        break;
    }

    // Compares with X and Y, BIT.
    case 0xE0: cpx(immediate()); break;
    case 0xE4: cpx(cycle_read(zp())); break;
    case 0xEC: cpx(cycle_read(absolute())); break;
    case 0xC0: cpy(immediate()); break;
    case 0xC4: cpy(cycle_read(zp())); break;
    case 0xCC: cpy(cycle_read(absolute())); break;
    case 0x24: alu.bit(cycle_read(zp())); break;
    case 0x2C: alu.bit(cycle_read(absolute())); break;

    // Shifts, increments and decrements.
    case 0x0A:
    case 0x06:
    case 0x0E:
    case 0x16:
    case 0x1E: shift_group(opcode, asl); break;
    case 0x2A:
    case 0x26:
    case 0x2E:
    case 0x36:
    case 0x3E: shift_group(opcode, rol); break;
    case 0x4A:
    case 0x46:
    case 0x4E:
    case 0x56:
    case 0x5E: shift_group(opcode, lsr); break;
    case 0x6A:
    case 0x66:
    case 0x6E:
    case 0x76:
    case 0x7E: shift_group(opcode, ror); break;
    case 0xC6:
    case 0xCE:
    case 0xD6:
    case 0xDE: shift_group(opcode, dec); break;
    case 0xE6:
    case 0xEE:
    case 0xF6:
    case 0xFE: shift_group(opcode, inc); break;

    // Unofficial read-modify-write combinations.
    case 0x03:
    case 0x07:
    case 0x0F:
    case 0x13:
    case 0x17:
    case 0x1B:
    case 0x1F: rmw_group(opcode, slo); break;
    case 0x23:
    case 0x27:
    case 0x2F:
    case 0x33:
    case 0x37:
    case 0x3B:
    case 0x3F: rmw_group(opcode, rla); break;
    case 0x43:
    case 0x47:
    case 0x4F:
    case 0x53:
    case 0x57:
    case 0x5B:
    case 0x5F: rmw_group(opcode, sre); break;
    case 0x63:
    case 0x67:
    case 0x6F:
    case 0x73:
    case 0x77:
    case 0x7B:
    case 0x7F: rmw_group(opcode, rra); break;
    case 0xC3:
    case 0xC7:
    case 0xCF:
    case 0xD3:
    case 0xD7:
    case 0xDB:
    case 0xDF: rmw_group(opcode, dcp); break;
    case 0xE3:
    case 0xE7:
    case 0xEF:
    case 0xF3:
    case 0xF7:
    case 0xFB:
    case 0xFF: rmw_group(opcode, isc); break;

    // Unofficial immediates.
    case 0x0B:
    case 0x2B:
        and_(immediate());
        alu.flag(FLAG_C, A & 0x80);
        break;
    case 0x4B:
        A &= immediate();
        A = alu.lsr(A);
        break;
    case 0x6B: {
        A &= immediate();
        A = uint8_t((P & FLAG_C) << 7 | A >> 1);
        alu.zn(A);
        alu.flag(FLAG_C, A & 0x40);
        alu.flag(FLAG_V, ((A >> 6) ^ (A >> 5)) & 1);
        break;
    }
    case 0xCB: {
        uint8_t const v = immediate();
        uint8_t const ax = A & X;
        alu.flag(FLAG_C, ax >= v);
        alu.zn(X = uint8_t(ax - v));
        break;
    }
    case 0x8B: alu.zn(A = uint8_t((A | UNSTABLE_MAGIC) & X & immediate())); break;
    case 0xAB: lax(uint8_t((A | UNSTABLE_MAGIC) & immediate())); break;

    // Unofficial stores that AND with the address.
    case 0x93: store_high_and(indirect_base(), Y, A & X); break;
    case 0x9F: store_high_and(fetch_word(), Y, A & X); break;
    case 0x9E: store_high_and(fetch_word(), Y, X); break;
    case 0x9C: store_high_and(fetch_word(), X, Y); break;
    case 0x9B:
        SP = A & X;
        store_high_and(fetch_word(), Y, SP);
        break;

    // NOPs, with their operand reads.
    case 0xEA:
    case 0x1A:
    case 0x3A:
    case 0x5A:
    case 0x7A:
    case 0xDA:
    case 0xFA: implied(); break;
    case 0x80:
    case 0x82:
    case 0x89:
    case 0xC2:
    case 0xE2: immediate(); break;
    case 0x04:
    case 0x44:
    case 0x64: nop(cycle_read(zp())); break;
    case 0x14:
    case 0x34:
    case 0x54:
    case 0x74:
    case 0xD4:
    case 0xF4: nop(cycle_read(zp_indexed(X))); break;
    case 0x0C: nop(cycle_read(absolute())); break;
    case 0x1C:
    case 0x3C:
    case 0x5C:
    case 0x7C:
    case 0xDC:
    case 0xFC: nop(cycle_read(abs_indexed(X, false))); break;

    // Register transfers, flags, register increments.
    case 0xAA:
        implied();
        alu.zn(X = A);
        break;
    case 0xA8:
        implied();
        alu.zn(Y = A);
        break;
    case 0x8A:
        implied();
        alu.zn(A = X);
        break;
    case 0x98:
        implied();
        alu.zn(A = Y);
        break;
    case 0xBA:
        implied();
        alu.zn(X = SP);
        break;
    case 0x9A:
        implied();
        SP = X;
        break;
    case 0xE8:
        implied();
        alu.zn(++X);
        break;
    case 0xC8:
        implied();
        alu.zn(++Y);
        break;
    case 0xCA:
        implied();
        alu.zn(--X);
        break;
    case 0x88:
        implied();
        alu.zn(--Y);
        break;
    case 0x18:
        implied();
        P &= ~FLAG_C;
        break;
    case 0x38:
        implied();
        P |= FLAG_C;
        break;
    case 0x58:
        implied();
        P &= ~FLAG_I;
        break;
    case 0x78:
        implied();
        P |= FLAG_I;
        break;
    case 0xB8:
        implied();
        P &= ~FLAG_V;
        break;
    case 0xD8:
        implied();
        P &= ~0x08;
        break;
    case 0xF8:
        implied();
        P |= 0x08;
        break;

    // Branches.
    case 0x10: branch(!(P & FLAG_N)); break;
    case 0x30: branch(P & FLAG_N); break;
    case 0x50: branch(!(P & FLAG_V)); break;
    case 0x70: branch(P & FLAG_V); break;
    case 0x90: branch(!(P & FLAG_C)); break;
    case 0xB0: branch(P & FLAG_C); break;
    case 0xD0: branch(!(P & FLAG_Z)); break;
    case 0xF0: branch(P & FLAG_Z); break;

    // Stack, jumps, returns.
    case 0x48:
        implied();
        push_exactly(A);
        break;
    case 0x08:
        implied();
        push_exactly(uint8_t(P | FLAG_B | FLAG_U));
        break;
    case 0x68:
        implied();
        cycle_read(uint16_t(0x100 | SP));
        alu.zn(A = pull_exactly());
        break;
    case 0x28:
        implied();
        cycle_read(uint16_t(0x100 | SP));
        P = uint8_t((pull_exactly() & ~FLAG_B) | FLAG_U);
        break;
    case 0x20: {
        uint8_t const lo = fetch_byte();
        cycle_read(uint16_t(0x100 | SP));
        push_exactly(uint8_t(pc >> 8));
        push_exactly(uint8_t(pc));
        uint8_t const hi = cycle_read(pc);
        pc = uint16_t(lo | hi << 8);
        break;
    }
    case 0x60: {
        implied();
        cycle_read(uint16_t(0x100 | SP));
        uint8_t const lo = pull_exactly();
        uint8_t const hi = pull_exactly();
        pc = uint16_t(lo | hi << 8);
        cycle_read(pc++);
        break;
    }
    case 0x40: {
        implied();
        cycle_read(uint16_t(0x100 | SP));
        P = uint8_t((pull_exactly() & ~FLAG_B) | FLAG_U);
        uint8_t const lo = pull_exactly();
        uint8_t const hi = pull_exactly();
        pc = uint16_t(lo | hi << 8);
        break;
    }
    case 0x4C: pc = fetch_word(); break;
    case 0x6C: {
        uint16_t const pointer = fetch_word();
        uint8_t const lo = cycle_read(pointer);
        uint8_t const hi = cycle_read(uint16_t((pointer & 0xFF00) | ((pointer + 1) & 0xFF)));
        pc = uint16_t(lo | hi << 8);
        break;
    }
    case 0x00: interrupt_sequence(true); break;

    // JAM: the CPU stops until reset.
    case 0x02:
    case 0x12:
    case 0x22:
    case 0x32:
    case 0x42:
    case 0x52:
    case 0x62:
    case 0x72:
    case 0x92:
    case 0xB2:
    case 0xD2:
    case 0xF2:
        jammed = true;
        open_bus = 0xFF;
        break;
    }
}

} // namespace NES
