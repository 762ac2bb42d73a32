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

void ChrRamBanks::save_trailer(PPU const& ppu, uint8_t shown, unsigned char* out) const {
    for (int bank = 0; bank < BANKS; ++bank) {
        signed char const* const from = bank == shown % BANKS ? ppu.memory : banks[bank];
        std::memcpy(out + size_t(bank) * BANK_SIZE, from, BANK_SIZE);
    }
}

// The slot of the bank shown takes its bytes too: nothing reads it until the bank is
// switched away, which stores the pattern memory there first.
void ChrRamBanks::load_trailer(unsigned char const* in) {
    std::memcpy(banks, in, sizeof banks);
}

} // namespace NES
