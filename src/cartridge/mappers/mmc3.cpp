#include "cartridge/mappers/mmc3.hpp"

#include <algorithm>

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr uint8_t PRG_MODE = 0x40, CHR_INVERSION = 0x80;
constexpr uint8_t SHOW_BACKGROUND_OR_SPRITES = 0x18; // PPUMASK bits 3 and 4
constexpr int COUNTING_DOT = 256;
// The filter passes a rise only after A12 stayed low through M2 falls counted this way
// (cycle boundaries between the dot it fell and the dot it rose) numbering at least
// four: the nine-dot low between a line's last nametable fetches (dot 337) and the next
// line's first pattern fetch (dot 5), three cycles exactly, is filtered out, so that a
// background at $1000 clocks the counter once per line, as the scanline-timing test
// cartridge shows; a CPU toggling A12 through $2006 passes it.
constexpr uint64_t A12_FILTER_M2_FALLS = 4;

// Cycle boundaries between two dots: one per CPU cycle, where the cycle whose access the
// PPU meets at dot_of_cycle ends.
uint64_t m2_falls_between(uint64_t from, uint64_t to) {
    uint64_t const lead = CPU::PPU_LEAD_DOTS;
    auto cycle_at = [&](uint64_t dot) { return dot < lead ? 0 : (dot - lead) / 3; };
    return cycle_at(to) - cycle_at(from);
}

// PPU address of the bank of each CHR register R0-R5 without inversion.
constexpr uint16_t CHR_TARGET[6] = {0x0000, 0x0800, 0x1000, 0x1400, 0x1800, 0x1C00};

// The windows' note of which banks they hold moves with their bytes.
void exchange(signed char* a, signed char* b, int length, RomWindows& windows) {
    std::swap_ranges(a, a + length, b);
    windows.exchanged(a, b, length);
}

} // namespace

void MMC3::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    int32_t const address = cpu_address(cpu, addr);
    uint8_t const v = uint8_t(*value);
    bool const odd = address & 1;
    switch (address >> 13) {
    case 4:
        if (odd)
            write_bank_data(cpu, ppu_of(args), v);
        else
            write_bank_select(cpu, ppu_of(args), v);
        break;
    case 5:
        if (odd) {
            if (revision == Revision::mmc6) break; // MMC6's own RAM bits (mmc3.hpp)
            prg_ram_protect = v & 0x40;
            prg_ram_enable = v & 0x80;
        } else if (ppu_of(args).mirroring != MIRROR_FOUR_SCREEN) {
            set_mirroring(ppu_of(args), (v & 1) ? MIRROR_HORIZONTAL : MIRROR_VERTICAL);
        }
        break;
    case 6:
        if (odd)
            irq_counter = -1;
        else
            irq_latch = v;
        break;
    case 7:
        irq_enable = odd;
        if (!odd) cpu.mapper_irq = false; // hardware mode's IRQ line: $E000 releases it
        break;
    default: protect_prg_ram(address, addr, value); break;
    }
}

// A mode bit that changes carries the banks already in place to their new addresses.
void MMC3::write_bank_select(CPU& cpu, PPU& ppu, uint8_t value) {
    bank_select = value;
    uint8_t const changed = mode ^ value;
    if (changed & PRG_MODE)
        exchange(cpu.memory + 0x8000, cpu.memory + 0xC000, 0x2000, cpu.rom->prg_windows);
    if (changed & CHR_INVERSION)
        exchange(ppu.memory + 0x0000, ppu.memory + 0x1000, 0x1000, ppu.rom->chr_windows);
    mode = value;
}

// R0 and R1 select 2 KiB banks, so the low bit of their number is ignored; R6 and R7
// count 8 KiB banks with six bits.
void MMC3::write_bank_data(CPU& cpu, PPU& ppu, uint8_t value) {
    int const r = bank_select & 7;
    if (r >= 6) {
        uint16_t const target = (r == 7) ? 0xA000 : (mode & PRG_MODE) ? 0xC000 : 0x8000;
        copy_prg(cpu, target, (value & 0x3F) * 8, 0x2000);
        return;
    }
    uint16_t const target = CHR_TARGET[r] ^ ((mode & CHR_INVERSION) ? 0x1000 : 0);
    if (r < 2)
        copy_chr(ppu, target, value & 0xFE, 0x800);
    else
        copy_chr(ppu, target, value, 0x400);
}

// The CPU stores whatever byte *value holds after this call; a protected write leaves
// the stored byte as it is. An MMC6 never protects, whatever a record restored.
void MMC3::protect_prg_ram(int32_t address, signed char* addr, signed char* value) const {
    if (prg_ram_protect && revision != Revision::mmc6 && address >= 0x6000 && address < 0x8000)
        *value = *addr;
}

void MMC3::clock(void** args) {
    PPU const& ppu = ppu_of(args);
    if (ppu.traces_a12) return; // hardware mode counts A12 rises instead
    if (ppu.dot == COUNTING_DOT && !ppu.vblank && (*ppu.ppumask & SHOW_BACKGROUND_OR_SPRITES))
        scanline_clock(&cpu_of(args));
}

uint64_t MMC3::quiet_dots(PPU const& ppu) const {
    if (ppu.traces_a12) {
        uint64_t const rise = ppu.next_a12_rise_dot();
        return rise == UINT64_MAX ? UINT64_MAX : rise - ppu.dot_count;
    }
    int32_t const last_quiet = COUNTING_DOT - 1;
    return uint64_t(ppu.dot <= last_quiet ? last_quiet - ppu.dot : 341 - ppu.dot + last_quiet);
}

// Decrement; reaching 0 raises the IRQ (when enabled) and reloads, going below 0 (after
// a $C001 write, or with a latch of 0) only reloads. Written as tests on the value before
// the step, which keeps any counter restored from a save state free of overflow. The
// alternate revision also raises it when the reload a $C001 write asked for loads 0, as
// its counter does in hardware mode; its other reloads raise none either way.
void MMC3::scanline_clock(CPU* cpu) {
    if (irq_counter == 1) {
        if (irq_enable) cpu->irq_pending = true;
        irq_counter = irq_latch;
    } else if (irq_counter <= 0) {
        if (revision == Revision::alternate && irq_counter < 0 && irq_latch == 0 && irq_enable)
            cpu->irq_pending = true;
        irq_counter = irq_latch;
    } else {
        --irq_counter;
    }
}

// The counter is reloaded when it is 0 or a reload was asked for ($C001 leaves it at
// -1), else decremented; then a counter of 0 raises the IRQ while IRQs are enabled. The
// common revision (and the MMC6) looks only at the result, so a latch of 0 raises it on
// every clock; the alternate one raises it only for a decrement to 0 or a reload asked
// for through $C001.
void MMC3::a12_rose(void** args, uint64_t dot, uint64_t low_since) {
    if (m2_falls_between(low_since, dot) < A12_FILTER_M2_FALLS) return;
    bool const reloads = irq_counter <= 0;
    bool const asked = irq_counter < 0;
    if (reloads)
        irq_counter = irq_latch;
    else
        --irq_counter;
    bool const counts = revision != Revision::alternate || !reloads || asked;
    if (irq_counter == 0 && counts && irq_enable) cpu_of(args).mapper_irq = true;
}

void MMC3::serialize(void**, char* record) {
    record[0] = char(bank_select);
    record[1] = char(mode);
    record[2] = char(prg_ram_protect);
    record[3] = char(prg_ram_enable);
    record[4] = char(irq_enable);
    put_le32(record + 7, irq_counter);
    record[11] = char(irq_latch);
}

// The banks come back with the memory images; only the registers are restored.
void MMC3::deserialize(void**, char* record) {
    bank_select = uint8_t(record[0]);
    mode = uint8_t(record[1]);
    prg_ram_protect = record[2] != 0;
    prg_ram_enable = record[3] != 0;
    irq_enable = record[4] != 0;
    irq_counter = get_le32(record + 7);
    irq_latch = uint8_t(record[11]);
}

void MMC3::save_extension(void** args, char* extension, unsigned char*) {
    extension[0] = char(ppu_of(args).mirroring == MIRROR_HORIZONTAL);
}

// The nametables came back laid out as the saved arrangement keeps them.
void MMC3::load_extension(void** args, char const* extension, unsigned char const*) {
    PPU& ppu = ppu_of(args);
    if (ppu.mirroring == MIRROR_FOUR_SCREEN) return;
    restore_mirroring(ppu, extension[0] ? MIRROR_HORIZONTAL : MIRROR_VERTICAL);
}

void MMC3::snapshot(Snapshot& s) {
    s.field(bank_select);
    s.field(mode);
    s.field(prg_ram_protect);
    s.field(prg_ram_enable);
    s.field(irq_enable);
    s.field(irq_counter);
    s.field(irq_latch);
}

} // namespace NES
