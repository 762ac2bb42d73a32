#include "cartridge/mappers/chr_ram_banks.hpp"

#include <cstring>

#include "cartridge/rom.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

// An image that gives such a board CHR ROM (no such cartridge was made) keeps it in place:
// the ROM windows name its units, which must stay what the pattern memory holds.
void ChrRamBanks::show(PPU& ppu, uint8_t from, uint8_t to) {
    from %= BANKS;
    to %= BANKS;
    if (from == to || ppu.rom->chr_size != 0) return;
    std::memcpy(banks[from], ppu.memory, BANK_SIZE);
    std::memcpy(ppu.memory, banks[to], BANK_SIZE);
}

void ChrRamBanks::snapshot(Snapshot& s, uint8_t shown) {
    for (int bank = 0; bank < BANKS; ++bank)
        if (bank != shown % BANKS) s.sparse(banks[bank], BANK_SIZE);
}

} // namespace NES
