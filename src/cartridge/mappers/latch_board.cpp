#include "cartridge/mappers/latch_board.hpp"

#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

void LatchBoard::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    if (cpu_address(cpu, addr) < 0x8000) return;
    latch = uint8_t(*value);
    if (bus_conflicts) latch &= uint8_t(*addr);
    apply(cpu, ppu_of(args), true);
}

void LatchBoard::snapshot(Snapshot& s) {
    s.field(latch);
}

void LatchBoard::serialize(void**, char* record) {
    record[0] = char(latch);
}

void LatchBoard::deserialize(void** args, char* record) {
    latch = uint8_t(record[0]);
    apply(cpu_of(args), ppu_of(args), false);
}

} // namespace NES
