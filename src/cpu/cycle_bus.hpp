// Hardware mode's bus cycle, inline for the instruction step: RAM and cartridge ROM are
// read straight from the memory image (nothing else answers there, and no board watches
// reads); everything else goes through read_io and write_io (cycle_bus.cpp).
#pragma once

#include "cpu/cpu.hpp"

namespace NES {

// The end of a cycle: the clock moves on, the PPU is brought up when it reaches a dot
// where it changes what the CPU sees, and the interrupt lines are sampled. The poll on
// an instruction's last cycle sees what was due at the end of the cycle before it.
inline void CPU::end_cycle() {
    int64_t const c = cycles.load(std::memory_order_relaxed) + 1;
    cycles.store(c, std::memory_order_relaxed);
    if (nmi_sample_dot(c) > ppu_deadline || c >= apu_deadline) reach_events();
    poll_due = interrupt_due;
    interrupt_due = nmi_pending || ((irq_pending || mapper_irq || apu_irq) && !(P & FLAG_I));
}

// Inline everywhere: a call per read costs hardware mode a few percent, and the compiler
// left to itself inlines it in some builds and not in others.
[[gnu::always_inline]] inline uint8_t CPU::cycle_read(uint16_t addr) {
    if (dmc_halt_requested) stall_for_dmc(addr);
    uint8_t value;
    if (addr < 0x2000) {
        value = open_bus = uint8_t(memory[addr & 0x07FF]);
    } else if (addr >= 0x8000) {
        uint16_t const folded = (prg_fold_16k && addr >= 0xC000) ? uint16_t(addr - 0x4000) : addr;
        value = open_bus = uint8_t(memory[folded]);
    } else {
        value = read_io(addr);
    }
    end_cycle();
    return value;
}

inline void CPU::cycle_write(uint16_t addr, uint8_t value) {
    open_bus = value;
    if (addr < 0x2000)
        memory[addr & 0x07FF] = static_cast<signed char>(value);
    else
        write_io(addr, value);
    end_cycle();
}

} // namespace NES
