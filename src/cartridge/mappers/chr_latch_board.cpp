#include "cartridge/mappers/chr_latch_board.hpp"

#include "cartridge/rom.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr int CHR_WINDOW = 0x1000;
constexpr int CHR_WINDOW_KIB = 4;
constexpr uint8_t PRG_BITS = 0x0F, CHR_BITS = 0x1F;
constexpr uint16_t MARKER_FD = 0x0FD8, MARKER_FE = 0x0FE8; // second planes, in each table

} // namespace

void ChrLatchBoard::map_write(void** args, signed char* addr, signed char* value) {
    int32_t const address = cpu_address(cpu_of(args), addr);
    uint8_t const v = uint8_t(*value);
    int const region = address >> 12;
    if (region == 0xA) {
        prg_bank = v & PRG_BITS;
        copy_prg(cpu_of(args), 0x8000, prg_bank * prg_window_kib, prg_window_kib * 1024);
    } else if (region >= 0xB && region <= 0xE) {
        int const reg = region - 0xB;
        chr_banks[reg] = v & CHR_BITS;
        int const window = reg / 2;
        if (latch_fe[window] == bool(reg & 1)) copy_window(ppu_of(args), window);
    } else if (region == 0xF) {
        PPU& ppu = ppu_of(args);
        if (ppu.mirroring != MIRROR_FOUR_SCREEN)
            set_mirroring(ppu, (v & 1) ? MIRROR_HORIZONTAL : MIRROR_VERTICAL);
    }
}

void ChrLatchBoard::pattern_read(void** args, uint16_t address) {
    uint16_t const row_start = address & 0x0FF8;
    if (row_start != MARKER_FD && row_start != MARKER_FE) return;
    int const window = (address >> 12) & 1;
    if (window == 0 && !whole_low_markers && (address & 7) != 0) return;
    bool const fe = row_start == MARKER_FE;
    if (latch_fe[window] == fe) return;
    latch_fe[window] = fe;
    copy_window(ppu_of(args), window);
}

void ChrLatchBoard::copy_window(PPU& ppu, int window) {
    int const bank = chr_banks[2 * window + (latch_fe[window] ? 1 : 0)];
    copy_chr(ppu, uint16_t(window * CHR_WINDOW), bank * CHR_WINDOW_KIB, CHR_WINDOW);
}

void ChrLatchBoard::snapshot(Snapshot& s) {
    s.bounded(prg_bank, uint8_t(0), PRG_BITS);
    for (uint8_t& bank : chr_banks)
        s.bounded(bank, uint8_t(0), CHR_BITS);
    s.field(latch_fe);
}

void ChrLatchBoard::serialize(void** args, char* record) {
    record[0] = char(prg_bank);
    for (int i = 0; i < 4; ++i)
        record[1 + i] = char(chr_banks[i]);
    record[5] = char(latch_fe[0]);
    record[6] = char(latch_fe[1]);
    record[7] = char(ppu_of(args).mirroring == MIRROR_HORIZONTAL);
}

// The banks come back with the memory images, and the nametables lie where the saved
// arrangement keeps them: the arrangement is set without moving them.
void ChrLatchBoard::deserialize(void** args, char* record) {
    prg_bank = uint8_t(record[0]) & PRG_BITS;
    for (int i = 0; i < 4; ++i)
        chr_banks[i] = uint8_t(record[1 + i]) & CHR_BITS;
    latch_fe[0] = record[5] != 0;
    latch_fe[1] = record[6] != 0;
    PPU& ppu = ppu_of(args);
    if (ppu.mirroring != MIRROR_FOUR_SCREEN)
        ppu.mirroring = record[7] ? MIRROR_HORIZONTAL : MIRROR_VERTICAL;
}

} // namespace NES
