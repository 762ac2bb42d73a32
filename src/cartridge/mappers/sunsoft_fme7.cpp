#include "cartridge/mappers/sunsoft_fme7.hpp"

#include <cstring>

#include "apu/apu.hpp"
#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr uint16_t LOW_WINDOW = 0x6000;
constexpr uint8_t PRG_BANK = 0x3F;
constexpr int PRG_BANK_SIZE = 0x2000, CHR_BANK_SIZE = 0x400;
constexpr int32_t ARRANGEMENT[4] = {MIRROR_VERTICAL, MIRROR_HORIZONTAL, MIRROR_SINGLE_SCREEN,
                                    MIRROR_SINGLE_SCREEN_UPPER};
constexpr int SOUND_RECORD = 7; // where the sound registers lie in the save-state record

// The cycle a register write lands on: hardware mode's own; the fast mode's at the
// instruction's start, where its devices catch up for the write.
int64_t write_cycle(CPU const& cpu) {
    return cpu.hardware ? cpu.cycles.load(std::memory_order_relaxed) : cpu.instruction_start;
}

bool open_bus_window(uint8_t window) {
    return (window & SunsoftFME7::RAM_SELECT) && !(window & SunsoftFME7::RAM_ENABLE);
}

} // namespace

void SunsoftFME7::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    int32_t const address = cpu_address(cpu, addr);
    if (address < 0x8000) {
        // ROM, or RAM switched off, keeps its byte.
        if (address >= LOW_WINDOW && !shows_ram(low_window)) *value = *addr;
        return;
    }
    uint8_t const v = uint8_t(*value);
    if (address < 0xA000)
        command = v & 0x0F;
    else if (address < 0xC000)
        write_parameter(cpu, ppu_of(args), v);
    else if (address < 0xE000)
        audio.select(v);
    else
        audio.write(v, apu_of(args).expansion_step(write_cycle(cpu)));
}

void SunsoftFME7::write_parameter(CPU& cpu, PPU& ppu, uint8_t value) {
    switch (command) {
    case 8: select_low_window(cpu, value); break;
    case 9:
    case 10:
    case 11:
        copy_prg(cpu, uint16_t(0x8000 + (command - 9) * PRG_BANK_SIZE), (value & PRG_BANK) * 8,
                 PRG_BANK_SIZE);
        break;
    case 12: set_mirroring(ppu, ARRANGEMENT[value & 3]); break;
    case 13: control_irq(cpu, value); break;
    case 14:
    case 15: {
        count_to(cpu, write_cycle(cpu) + 1);
        int const shift = command == 14 ? 0 : 8;
        counter = uint16_t((counter & ~(0xFF << shift)) | value << shift);
        set_alarm();
        break;
    }
    default: copy_chr(ppu, uint16_t(command * CHR_BANK_SIZE), value, CHR_BANK_SIZE); break;
    }
}

// The RAM leaves the image for `ram_aside` when the window stops showing it, and comes
// back when it shows it again.
void SunsoftFME7::select_low_window(CPU& cpu, uint8_t value) {
    signed char* const window = cpu.memory + LOW_WINDOW;
    bool const had_ram = shows_ram(low_window);
    low_window = value;
    prg_ram_off = open_bus_window(value);
    if (shows_ram(value)) {
        if (had_ram) return;
        std::memcpy(window, ram_aside, LOW_WINDOW_SIZE);
        std::memset(ram_aside, 0, LOW_WINDOW_SIZE);
        return;
    }
    if (had_ram) std::memcpy(ram_aside, window, LOW_WINDOW_SIZE);
    show_low_window(cpu);
}

// ROM, or what a read of switched-off RAM most often finds on the open bus: the high
// byte of the address, the last byte an absolute-addressed read fetched.
void SunsoftFME7::show_low_window(CPU& cpu) const {
    if (!(low_window & RAM_SELECT)) {
        copy_prg(cpu, LOW_WINDOW, (low_window & PRG_BANK) * 8, LOW_WINDOW_SIZE);
        return;
    }
    for (int page = 0; page < LOW_WINDOW_SIZE / 256; ++page)
        std::memset(cpu.memory + LOW_WINDOW + page * 256, (LOW_WINDOW >> 8) + page, 256);
}

signed char const* SunsoftFME7::parked_prg_ram() const {
    return shows_ram(low_window) ? nullptr : ram_aside;
}

// Any write releases /IRQ.
void SunsoftFME7::control_irq(CPU& cpu, uint8_t value) {
    count_to(cpu, write_cycle(cpu) + 1);
    release_irq(cpu);
    counting = value & COUNTING;
    irq_enabled = value & IRQ_ENABLE;
    set_alarm();
}

void SunsoftFME7::count_to(CPU& cpu, int64_t cycle) {
    if (cycle <= counted_to) return;
    if (counting) {
        int64_t const steps = cycle - counted_to;
        // The step that finds the counter at 0 wraps it: the steps wrap it when they
        // outnumber its value.
        if (irq_enabled && steps > counter) raise_irq(cpu);
        counter = uint16_t(uint64_t(counter) - uint64_t(steps));
    }
    counted_to = cycle;
}

uint16_t SunsoftFME7::counter_at(int64_t cycle) const {
    if (!counting || cycle <= counted_to) return counter;
    return uint16_t(uint64_t(counter) - uint64_t(cycle - counted_to));
}

// The fast mode's CPU has one pending flag for every IRQ source: releasing /IRQ clears
// it, as taking the IRQ would.
void SunsoftFME7::raise_irq(CPU& cpu) {
    if (irq_line) return;
    irq_line = true;
    if (cpu.hardware)
        cpu.mapper_irq = true;
    else
        cpu.irq_pending = true;
}

void SunsoftFME7::release_irq(CPU& cpu) {
    if (!irq_line) return;
    irq_line = false;
    if (cpu.hardware)
        cpu.mapper_irq = false;
    else
        cpu.irq_pending = false;
}

// The wrap comes in the cycle that finds the counter at 0, `counter` cycles after
// counted_to; the CPU sees it at that cycle's end, when the PPU stands three dots on.
void SunsoftFME7::set_alarm() {
    bool const armed = counting && irq_enabled && !irq_line;
    alarm_dot = armed ? 3 * uint64_t(counted_to + counter + 1) : UINT64_MAX;
}

// The PPU calls this after every dot or run of dots; a run that passes the alarm raises
// /IRQ at its end, before the CPU goes on.
void SunsoftFME7::clock(void** args) {
    PPU const& ppu = ppu_of(args);
    if (ppu.dot_count < alarm_dot) return;
    count_to(cpu_of(args), int64_t(ppu.dot_count / 3));
    set_alarm();
}

uint64_t SunsoftFME7::quiet_dots(PPU const& ppu) const {
    if (alarm_dot == UINT64_MAX) return UINT64_MAX;
    return alarm_dot > ppu.dot_count ? alarm_dot - 1 - ppu.dot_count : 0;
}

void SunsoftFME7::serialize(void** args, char* record) {
    uint16_t const now = counter_at(cpu_of(args).cycles.load(std::memory_order_relaxed));
    record[0] = char(command);
    record[1] = char(low_window);
    record[2] = char(now & 0xFF);
    record[3] = char(now >> 8);
    record[4] = char((counting ? COUNTING : 0) | (irq_enabled ? IRQ_ENABLE : 0));
    record[5] = char(irq_line);
    record[6] = char(ppu_of(args).mirroring);
    audio.save_registers(record + SOUND_RECORD);
}

// The banks come back with the memory images, whose $6000-$7FFF holds the RAM; the
// nametables come laid out for the arrangement saved.
void SunsoftFME7::deserialize(void** args, char* record) {
    CPU& cpu = cpu_of(args);
    command = uint8_t(record[0]) & 0x0F;
    low_window = RAM_SELECT | RAM_ENABLE;
    std::memset(ram_aside, 0, LOW_WINDOW_SIZE);
    select_low_window(cpu, uint8_t(record[1]));
    counter = uint16_t(uint8_t(record[2]) | uint8_t(record[3]) << 8);
    counted_to = cpu.cycles.load(std::memory_order_relaxed);
    counting = record[4] & COUNTING;
    irq_enabled = record[4] & IRQ_ENABLE;
    irq_line = record[5] != 0;
    if (cpu.hardware) cpu.mapper_irq = irq_line;
    for (int32_t const arrangement : ARRANGEMENT)
        if (record[6] == arrangement) ppu_of(args).mirroring = arrangement;
    audio.restore_registers(record + SOUND_RECORD);
    set_alarm();
    cpu.plan_catch_up();
}

// The counter goes in as it stands at the snapshot's cycle count.
void SunsoftFME7::snapshot(Snapshot& s) {
    s.bounded(command, uint8_t(0), uint8_t(15));
    s.field(low_window);
    int64_t const now = s.clocks.cpu_cycles;
    uint16_t value = counter_at(now);
    s.field(value);
    s.field(counting);
    s.field(irq_enabled);
    s.field(irq_line);
    s.sparse(ram_aside, LOW_WINDOW_SIZE);
    audio.snapshot(s);
    if (!s.loading()) return;
    counter = value;
    counted_to = now;
    prg_ram_off = open_bus_window(low_window);
    set_alarm();
}

} // namespace NES
