// UNROM 512, mapper 30 (RetroUSB, InfiniteNESLives and later homebrew boards): a
// switchable 16 KiB PRG bank at $8000 and the last 16 KiB fixed at $C000, 32 KiB of CHR
// RAM in four 8 KiB banks, one register `MCCP PPPP`: PPPPP the PRG bank (up to 512 KiB),
// CC the CHR RAM bank, M the one-screen page on boards wired for it.
//
// The header tells the wiring:
//   - battery bit clear: the plain board, register at $8000-$FFFF, with bus conflicts
//     (the ROM stays enabled: the register takes the value AND the ROM byte);
//   - battery bit set: the self-flashing board, register at $C000-$FFFF only and no bus
//     conflicts. Its writes to $8000-$BFFF program the flash chip, which is not emulated:
//     they change nothing, so a game that saves into its own ROM keeps nothing;
//   - flags 6 bits 3 and 0 both set: one-screen mirroring whose page is M; bit 3 alone:
//     four nametables on the board; bit 3 clear: the header's fixed H or V.
// The register powers up as 0: bank 0 at $8000, CHR bank 0, the lower screen.
// Record: byte 0 the register.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"
#include "cartridge/mapper_table.hpp"
#include "cartridge/mappers/chr_ram_banks.hpp"

namespace NES {

class Unrom512 : public Mapper {
public:
    explicit Unrom512(BoardFacts const& facts);

    uint8_t latch = 0;

    int32_t power_on_mirroring(int32_t header) const override;
    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;
    // The record's trailer holds the CHR RAM banks (chr_ram_banks.hpp); its extension
    // holds nothing.
    bool extends_record() const override { return true; }
    size_t trailer_size() const override { return chr.trailer_size(); }
    void save_extension(void** args, char* extension, unsigned char* trailer) override;
    void load_extension(void** args, char const* extension, unsigned char const* trailer) override;

private:
    static uint8_t chr_bank(uint8_t latch) { return (latch >> 5) & 0x03; }
    int32_t screen() const; // the one-screen page M selects

    bool const flashable;
    bool const one_screen;
    ChrRamBanks chr;
};

} // namespace NES
