// The CPU's part of a console snapshot: registers, the memory image (RAM, the register
// bytes, $4000-$7FFF with the cartridge RAM, and which PRG banks $8000-$FFFF shows), the
// interrupt lines and the lazy catch-up's bookkeeping. The mirrors of RAM and of the PPU
// registers are never written (the bus folds their addresses), so they are left out. The
// instruction tables and the controller pointers belong to the console as built, not to its state.
// Any register and memory value is a state (a save-state record can set them all); the clock and
// the counters are reported to the console, which checks them against the other chips'.
#include <cstdint>

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

namespace {

// A DMC fetch asks for the halt at most this many cycles before it may land.
constexpr int64_t DMC_HALT_LEAD_MAX = 8;

} // namespace

template <class Pass> void CPU::snapshot(Pass& s) {
    // The run thread divides by the clock speed: a console is never built with less than 1 Hz.
    s.clocks.clock_speed = s.bounded(clock_speed, 1, INT32_MAX);
    s.field(A);
    s.field(X);
    s.field(Y);
    s.field(SP);
    s.field(P);
    uint16_t pc = uint16_t(get_addr(PC));
    s.field(pc);
    if (s.loading()) PC = memory + pc;
    s.bounded(instr_length, uint8_t(1), uint8_t(3));
    s.field(controller_shift);
    s.sparse(memory, 0x800);
    s.bytes(memory + 0x2000, 8);
    s.sparse(memory + 0x4000, 0x4000);
    rom->prg_windows.snapshot(s, rom->prg.data(), rom->prg_size / 1024);
    s.clocks.cpu_cycles = s.field(cycles);
    s.field(nmi_sample);
    s.field(irq_pending);
    s.field(nmi_line);
    s.field(strobe);
    s.clocks.instruction_start = s.field(instruction_start);
    s.clocks.ppu_deadline = s.field(ppu_deadline);
    s.field(catch_up_every_step);
    s.field(prg_bank);
    if (hardware) {
        s.field(open_bus);
        s.field(jammed);
        s.field(nmi_pending);
        s.field(nmi_level);
        s.field(interrupt_due);
        s.field(poll_due);
        s.field(take_interrupt);
        s.field(oam_dma_request);
        s.field(oam_dma_page);
        s.field(apu_deadline);
        bool const halt_requested = s.field(dmc_halt_requested);
        s.clocks.dmc_halt_requested = halt_requested;
        int64_t const halt_from = s.field(dmc_halt_from);
        s.require(!halt_requested ||
                  (halt_from >= 0 &&
                   ClockMath(halt_from) <= ClockMath(s.clocks.cpu_cycles) + DMC_HALT_LEAD_MAX));
        s.field(mapper_irq);
        s.field(apu_irq);
    }
}

// The passes the console runs: its own, fixed when compiled, and the general one.
template void CPU::snapshot(Snapshot&);
template void CPU::snapshot(SavingPass&);
template void CPU::snapshot(CheckingPass&);
template void CPU::snapshot(LoadingPass&);

} // namespace NES
