#include "cartridge/mappers/ntdec2722.hpp"

#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

void NTDEC2722::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    switch (cpu_address(cpu, addr) >> 13) {
    case 4:
        irq_enable = false;
        irq_counter = TIMER_PERIOD;
        break;
    case 5: irq_enable = true; break;
    case 7: copy_prg(cpu, 0xC000, uint8_t(*value) * 8, 0x2000); break;
    default: break;
    }
}

uint64_t NTDEC2722::quiet_dots(PPU const&) const {
    return irq_enable && irq_counter > 0 ? uint64_t(irq_counter - 1) : 0;
}

void NTDEC2722::clock(void** args) {
    if (!irq_enable) return;
    if (--irq_counter > 0) return;
    cpu_of(args).irq_pending = true;
    irq_counter = TIMER_PERIOD;
}

void NTDEC2722::save_extension(void**, char* extension, unsigned char*) {
    extension[0] = char(irq_counter & 0xFF);
    extension[1] = char(irq_counter >> 8);
    extension[2] = char(irq_enable);
}

// A count outside 1 to a whole period starts a whole period.
void NTDEC2722::load_extension(void** args, char const* extension, unsigned char const*) {
    uint16_t const counter = uint16_t(uint8_t(extension[0]) | uint8_t(extension[1]) << 8);
    irq_counter = counter >= 1 && counter <= TIMER_PERIOD ? counter : TIMER_PERIOD;
    irq_enable = extension[2] != 0;
    cpu_of(args).plan_catch_up();
}

// The timer reloads as it reaches 0, so it holds 1 to a whole period.
void NTDEC2722::snapshot(Snapshot& s) {
    s.bounded(irq_counter, uint16_t(1), TIMER_PERIOD);
    s.field(irq_enable);
}

} // namespace NES
