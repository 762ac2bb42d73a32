#include "cartridge/mappers/action53.hpp"

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

namespace {

constexpr uint8_t CHR_REGISTER = 0x00, INNER_REGISTER = 0x01, MODE_REGISTER = 0x80,
                  OUTER_REGISTER = 0x81;
constexpr uint8_t SELECT_BITS = 0x81;
constexpr uint8_t MODE_BITS = 0x3F;
constexpr uint8_t PRG_MODE_3 = 0x0C;
constexpr uint8_t VERTICAL = 2, HORIZONTAL = 3;
constexpr uint8_t SCREEN_BIT = 0x10; // D4 of $00 and $01
constexpr int KIB_PER_16K = 16;

} // namespace

Action53::Action53(BoardFacts const& facts)
    : Mapper(28), mode(uint8_t(PRG_MODE_3 | ((facts.flags6 & 1) ? VERTICAL : HORIZONTAL))),
      chr(facts.chr_size == 0) {}

int32_t Action53::power_on_mirroring(int32_t) const {
    return mirroring();
}

int32_t Action53::mirroring() const {
    switch (mode & 0x03) {
    case 0: return MIRROR_SINGLE_SCREEN;
    case 1: return MIRROR_SINGLE_SCREEN_UPPER;
    case VERTICAL: return MIRROR_VERTICAL;
    default: return MIRROR_HORIZONTAL;
    }
}

void Action53::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    int32_t const address = cpu_address(cpu, addr);
    uint8_t const v = uint8_t(*value);
    if (address >= 0x5000 && address < 0x6000) {
        selected = v & SELECT_BITS;
        return;
    }
    if (address < 0x8000) return;
    uint8_t const shown = chr_bank;
    write_register(v);
    PPU& ppu = ppu_of(args);
    place_prg(cpu);
    chr.show(ppu, shown, chr_bank);
    set_mirroring(ppu, mirroring());
}

void Action53::write_register(uint8_t value) {
    switch (selected) {
    case CHR_REGISTER:
        chr_bank = value & 0x03;
        pick_screen(value);
        break;
    case INNER_REGISTER:
        inner = value & 0x0F;
        pick_screen(value);
        break;
    case MODE_REGISTER: mode = value & MODE_BITS; break;
    case OUTER_REGISTER: outer = value; break;
    default: break; // the select keeps only bits 7 and 0
    }
}

void Action53::pick_screen(uint8_t value) {
    if (mode & 0x02) return;
    mode = uint8_t((mode & ~1) | ((value & SCREEN_BIT) ? 1 : 0));
}

void Action53::place_prg(CPU& cpu) const {
    int const size = (mode >> 4) & 0x03;
    int const prg_mode = (mode >> 2) & 0x03;
    int lower, upper; // 16 KiB banks at $8000 and $C000
    if (prg_mode < 2) {
        int const mask = (1 << size) - 1;
        int const bank = (outer & ~mask) | (inner & mask);
        lower = 2 * bank;
        upper = 2 * bank + 1;
    } else {
        int const mask = (2 << size) - 1;
        int const chosen = ((2 * outer) & ~mask) | (inner & mask);
        lower = prg_mode == 2 ? 2 * outer : chosen;
        upper = prg_mode == 2 ? chosen : 2 * outer + 1;
    }
    copy_prg(cpu, 0x8000, lower * KIB_PER_16K, 0x4000);
    copy_prg(cpu, 0xC000, upper * KIB_PER_16K, 0x4000);
}

void Action53::snapshot(Snapshot& s) {
    uint8_t const select = s.field(selected);
    s.require((select & ~SELECT_BITS) == 0);
    uint8_t const shown = s.bounded(chr_bank, uint8_t(0), uint8_t(ChrRamBanks::BANKS - 1));
    s.bounded(inner, uint8_t(0), uint8_t(0x0F));
    s.bounded(mode, uint8_t(0), MODE_BITS);
    s.field(outer);
    chr.snapshot(s, shown);
}

void Action53::serialize(void**, char* record) {
    record[0] = char(selected);
    record[1] = char(chr_bank);
    record[2] = char(inner);
    record[3] = char(mode);
    record[4] = char(outer);
}

// The PRG banks, the CHR bank shown and the nametables come back with the memory images.
void Action53::deserialize(void** args, char* record) {
    selected = uint8_t(record[0]) & SELECT_BITS;
    chr_bank = uint8_t(record[1]) & (ChrRamBanks::BANKS - 1);
    inner = uint8_t(record[2]) & 0x0F;
    mode = uint8_t(record[3]) & MODE_BITS;
    outer = uint8_t(record[4]);
    restore_mirroring(ppu_of(args), mirroring());
}

void Action53::save_extension(void** args, char*, unsigned char* trailer) {
    if (trailer) chr.save_trailer(ppu_of(args), chr_bank, trailer);
}

void Action53::load_extension(void**, char const*, unsigned char const* trailer) {
    if (trailer) chr.load_trailer(trailer);
}

} // namespace NES
