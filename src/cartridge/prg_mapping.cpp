// Where each board's PRG ROM sits in the CPU address space right after the cartridge
// is attached. UxROM repeats its row on every bank switch.
#include <algorithm>
#include <cstring>

#include "cartridge/rom.hpp"

namespace NES {

void ROM::map_prg(signed char* cpu_memory, int prg_bank) {
    if (!mapper) return;
    int const last_16k = prg_size / 1024 - 16;
    switch (mapper->number) {
    case 0:
    case 3:
        // A 16 KiB ROM fills $8000-$BFFF; the CPU bus folds $C000-$FFFF onto it.
        copy_prg(cpu_memory + 0x8000, 0, std::min(prg_size, 0x8000));
        break;
    case 1:
        copy_prg(cpu_memory + 0x8000, 0, 0x4000);
        copy_prg(cpu_memory + 0xC000, last_16k, 0x4000);
        break;
    case 7:
    case 11:
    case 34:
    case 66:
        // One 32 KiB bank, the first until the game latches another.
        copy_prg(cpu_memory + 0x8000, 0, 0x8000);
        break;
    case 9:
        // The first 8 KiB bank, then the last three.
        copy_prg(cpu_memory + 0x8000, 0, 0x2000);
        copy_prg(cpu_memory + 0xA000, prg_size / 1024 - 24, 0x6000);
        break;
    case 10:
    case 30:
    case 71:
        copy_prg(cpu_memory + 0x8000, 0, 0x4000);
        copy_prg(cpu_memory + 0xC000, last_16k, 0x4000);
        break;
    case 28:
        // Action 53's power-on registers (action53.hpp): outer bank $FF in mode 3 with a
        // 32 KiB span, 16 KiB banks $1FE and $1FF of the board's arithmetic, each taken
        // modulo the ROM as every copy is: the last 32 KiB of a ROM of 2^n bytes.
        copy_prg(cpu_memory + 0x8000, 0x1FE * 16, 0x4000);
        copy_prg(cpu_memory + 0xC000, 0x1FF * 16, 0x4000);
        break;
    case 2:
        copy_prg(cpu_memory + 0x8000, prg_bank, 0x4000);
        copy_prg(cpu_memory + 0xC000, last_16k, 0x4000);
        break;
    case 4:
    case 206:
        // $8000-$BFFF stays empty until the game selects its banks.
        copy_prg(cpu_memory + 0xC000, last_16k, 0x4000);
        break;
    case 5:
        // MMC5's power-on banks: the last 8 KiB in every window of $8000-$FFFF, and RAM
        // page 0 of the board's RAM (with what the battery file put there) at $6000.
        for (int window = 0x8000; window < 0x10000; window += 0x2000)
            copy_prg(cpu_memory + window, prg_size / 1024 - 8, 0x2000);
        std::memcpy(cpu_memory + 0x6000, mapper->board_prg_ram().data(), 0x2000);
        break;
    case 69:
        // The last 8 KiB stays at $E000; the game selects the others.
        copy_prg(cpu_memory + 0xE000, prg_size / 1024 - 8, 0x2000);
        break;
    case 40:
        copy_prg(cpu_memory + 0x6000, 48, 0x2000);
        copy_prg(cpu_memory + 0x8000, 32, 0x2000);
        copy_prg(cpu_memory + 0xA000, 40, 0x2000);
        copy_prg(cpu_memory + 0xE000, 56, 0x2000);
        break;
    default: break;
    }
}

} // namespace NES
