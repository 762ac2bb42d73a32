#include "cartridge/mappers/unrom512.hpp"

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"

namespace NES {

namespace {

constexpr uint8_t BATTERY = 0x02;
constexpr uint8_t ONE_SCREEN = 0x09; // flags 6: four-screen bit and vertical bit together

} // namespace

Unrom512::Unrom512(BoardFacts const& facts)
    : Mapper(30), flashable(facts.flags6 & BATTERY),
      one_screen((facts.flags6 & ONE_SCREEN) == ONE_SCREEN), chr(facts.chr_size == 0) {}

int32_t Unrom512::power_on_mirroring(int32_t header) const {
    return one_screen ? MIRROR_SINGLE_SCREEN : header;
}

void Unrom512::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    int32_t const address = cpu_address(cpu, addr);
    if (address < (flashable ? 0xC000 : 0x8000)) return;
    uint8_t const previous = latch;
    latch = uint8_t(*value);
    if (!flashable) latch &= uint8_t(*addr); // bus conflict
    copy_prg(cpu, 0x8000, (latch & 0x1F) * 16, 0x4000);
    PPU& ppu = ppu_of(args);
    chr.show(ppu, chr_bank(previous), chr_bank(latch));
    if (one_screen) set_mirroring(ppu, screen());
}

int32_t Unrom512::screen() const {
    return (latch & 0x80) ? MIRROR_SINGLE_SCREEN_UPPER : MIRROR_SINGLE_SCREEN;
}

void Unrom512::snapshot(Snapshot& s) {
    chr.snapshot(s, chr_bank(s.field(latch)));
}

void Unrom512::serialize(void**, char* record) {
    record[0] = char(latch);
}

// The PRG bank, the CHR bank shown and the nametables come back with the memory images.
void Unrom512::deserialize(void** args, char* record) {
    latch = uint8_t(record[0]);
    if (one_screen) restore_mirroring(ppu_of(args), screen());
}

void Unrom512::save_extension(void** args, char*, unsigned char* trailer) {
    if (trailer) chr.save_trailer(ppu_of(args), chr_bank(latch), trailer);
}

void Unrom512::load_extension(void**, char const*, unsigned char const* trailer) {
    if (trailer) chr.load_trailer(trailer);
}

} // namespace NES
