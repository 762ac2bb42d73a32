// Hardware mode's bus beyond RAM and ROM: the PPU and APU registers, the controller
// ports, open bus, cartridge RAM and the board's registers, each at the exact cycle of
// its access; OAM DMA; and bringing the PPU and the APU up to the CPU.
//
// The PPU runs lazily as in the fast mode, but its catch-up target is the dot of the
// access itself (dot_of_cycle), not the start of the instruction. Between accesses it is
// brought up whenever it reaches its next event (the deadline: the start and the end of
// vertical blank, the end of a frame, a board's IRQ), so that the NMI line is sampled on
// the right cycle.
#include "cpu/cycle_bus.hpp"
#include "apu/apu.hpp"
#include "cartridge/mapper.hpp"
#include "cartridge/rom.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr uint8_t CONTROLLER_OPEN_BITS = 0xE0; // the ports drive bits 0-4 only
constexpr uint8_t STATUS_OPEN_BIT = 0x20;      // $4015 drives every bit but bit 5

} // namespace

void CPU::sync_ppu() {
    uint64_t const target = dot_of_cycle(cycles.load(std::memory_order_relaxed));
    if (ppu->dot_count < target) ppu->run_until(target);
}

// The PPU's NMI output is VBL AND PPUCTRL bit 7; the CPU's input is edge-triggered.
void CPU::sample_nmi() {
    bool const level = ppu->nmi_occurred && (memory[0x2000] & 0x80);
    if (level && !nmi_level) nmi_pending = true;
    nmi_level = level;
}

void CPU::reach_events() {
    int64_t const c = cycles.load(std::memory_order_relaxed);
    if (c >= apu_deadline) {
        apu->catch_up_exactly(c);
        plan_apu();
    }
    uint64_t const sampled = nmi_sample_dot(c);
    if (sampled > ppu_deadline) {
        if (ppu->dot_count < sampled) ppu->run_until(sampled);
        sample_nmi();
        ppu_deadline = ppu->next_event_dot();
    }
}

uint8_t CPU::read_io(uint16_t addr) {
    if (addr < 0x4000) {
        sync_ppu();
        uint16_t const reg = uint16_t(0x2000 | (addr & 7));
        open_bus = ppu->read_register_exactly(reg, open_bus);
        if (reg == 0x2002) sample_nmi();
        return open_bus;
    }
    switch (addr) {
    case 0x4015: {
        // The status drives the 2A03's inner bus only: the pins keep their byte.
        uint8_t const status =
            uint8_t((open_bus & STATUS_OPEN_BIT) |
                    apu->read_status_exactly(cycles.load(std::memory_order_relaxed)));
        plan_apu();
        return status;
    }
    case 0x4016:
    case 0x4017: {
        // A joypad shifts as its port's read ends. Reads repeated back to back (a DMA
        // halt's) keep the port selected throughout, and shift it once.
        int const port = addr - 0x4016;
        uint8_t const bit =
            repeating_read ? uint8_t(controller_shift[port] >> 7) : read_controller(port);
        open_bus = uint8_t((open_bus & CONTROLLER_OPEN_BITS) | (bit & 1));
        return open_bus;
    }
    default: break;
    }
    // Cartridge RAM answers at $6000-$7FFF unless the board switched it off; at
    // $4020-$5FFF a board's registers may, which may follow the PPU.
    if (addr >= 0x6000) {
        if (!rom->mapper->prg_ram_off) open_bus = uint8_t(memory[addr]);
    } else if (addr >= 0x4020) {
        sync_ppu();
        void* args[3] = {this, ppu, apu};
        rom->mapper->read_register(args, addr, open_bus);
    }
    return open_bus;
}

void CPU::write_io(uint16_t addr, uint8_t value) {
    int64_t const c = cycles.load(std::memory_order_relaxed);
    signed char d = static_cast<signed char>(value);
    if (addr < 0x4000) {
        sync_ppu();
        uint16_t const reg = uint16_t(0x2000 | (addr & 7));
        if (reg == 0x2000 || reg == 0x2006 || reg == 0x2007) ppu->freeze_fetches();
        ppu->write_register_exactly(reg, d);
        if (reg != 0x2002) memory[reg] = d;
        // A board may watch PPUCTRL and PPUMASK (MMC5), decoding their own addresses only.
        if (addr == 0x2000 || addr == 0x2001) {
            void* args[3] = {this, ppu, apu};
            rom->mapper->map_write(args, memory + addr, &d);
        }
        // The CPU samples the NMI line a dot after the write (the end of this cycle).
        if (reg == 0x2000) {
            uint64_t const sampled = nmi_sample_dot(c + 1);
            if (ppu->dot_count < sampled) ppu->run_until(sampled);
            sample_nmi();
        }
        ppu_deadline = ppu->next_event_dot();
        return;
    }
    if (addr < 0x4018) {
        if (addr == 0x4014) {
            oam_dma_request = true;
            oam_dma_page = value;
        } else if (addr == 0x4016) {
            write_strobe(value);
        } else {
            apu->write_register_exactly(addr, value, c);
            plan_apu();
        }
        memory[addr] = d;
        return;
    }
    void* args[3] = {this, ppu, apu};
    // Nothing holds a byte at $4018-$401F; a board may have registers from $4020 on (as
    // Action 53's at $5000). A board's register may switch the banks the PPU draws and the
    // DMC reads.
    if (addr < 0x4020) return;
    bool const board_register = addr < 0x6000 || addr >= 0x8000;
    if (board_register) {
        apu->catch_up_exactly(c);
        sync_ppu();
        ppu->freeze_fetches();
    }
    rom->mapper->map_write(args, memory + addr, &d);
    if (addr >= 0x6000 && addr < 0x8000) memory[addr] = d;
    ppu_deadline = ppu->next_event_dot();
}

// The APU runs behind the CPU until it could raise an IRQ or fetch a DMC sample byte.
void CPU::plan_apu() {
    apu_deadline = apu->next_cpu_event(cycles.load(std::memory_order_relaxed));
}

// A DMC sample fetch halts the CPU on a read: the halted cycle and a dummy cycle repeat
// that read (with its side effects: a PPUDATA read counts again, a joypad shifts once
// more for the whole run of repeats), one more aligns the fetch to a get cycle, and the
// fetch takes the last. The APU asks for the
// halt from a put cycle when the output unit has emptied the buffer, so a halt on a
// read takes four cycles, and from a get cycle after a $4015 write, three; a halt held
// off by writes lands on the next read, whatever its parity.
void CPU::stall_for_dmc(uint16_t addr) {
    if (cycles.load(std::memory_order_relaxed) < dmc_halt_from) return;
    dmc_halt_requested = false;
    cycle_read(addr);
    repeating_read = true;
    cycle_read(addr);
    if (!get_cycle(cycles.load(std::memory_order_relaxed))) cycle_read(addr);
    repeating_read = false;
    read_dmc_byte();
}

// OAM DMA halts the CPU on a read, then copies 256 bytes to $2004, reading on even
// ("get") cycles and writing on odd ("put") ones, each access with its side effects;
// any other cycle (the halt, an alignment before the first read) re-reads the address
// the CPU was about to read: 513 or 514 cycles.
//
// A DMC fetch whose halt falls during the copy is halted along with it: its halt and
// dummy cycles pass under the copy's, and its read takes the first get cycle two cycles
// after its halt, the copy's read waiting for the next one (usually 2 cycles more). A
// fetch still waiting when the copy ends finishes as a halt of its own would.
void CPU::run_oam_dma() {
    oam_dma_request = false;
    uint16_t const source = uint16_t(oam_dma_page << 8);
    int64_t dmc_halt = -1;
    auto note_dmc_halt = [&] {
        int64_t const c = cycles.load(std::memory_order_relaxed);
        if (!dmc_halt_requested || c < dmc_halt_from) return;
        dmc_halt_requested = false;
        dmc_halt = c;
    };
    auto dmc_read_due = [&] {
        int64_t const c = cycles.load(std::memory_order_relaxed);
        return dmc_halt >= 0 && get_cycle(c) && c >= dmc_halt + 2;
    };
    note_dmc_halt();
    cycle_read(pc_exact);
    int copied = 0;
    bool holding = false;
    uint8_t byte = 0;
    while (copied < 256) {
        note_dmc_halt();
        bool const get = get_cycle(cycles.load(std::memory_order_relaxed));
        if (dmc_read_due()) {
            read_dmc_byte();
            dmc_halt = -1;
        } else if (get && !holding) {
            byte = cycle_read(uint16_t(source + copied));
            holding = true;
        } else if (!get && holding) {
            cycle_write(0x2004, byte);
            holding = false;
            ++copied;
        } else {
            cycle_read(pc_exact);
        }
    }
    if (dmc_halt < 0) return;
    while (!dmc_read_due())
        cycle_read(pc_exact);
    read_dmc_byte();
}

// The DMC's read cycle: the byte fills the sample buffer and is what the data bus carries.
void CPU::read_dmc_byte() {
    open_bus = apu->complete_dmc_fetch(cycles.load(std::memory_order_relaxed));
    plan_apu();
    end_cycle();
}

} // namespace NES
