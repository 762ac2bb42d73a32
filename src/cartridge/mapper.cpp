#include "cartridge/mapper.hpp"

#include <cstring>

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr int NAMETABLE_SIZE = 0x400;

// Where the PPU's memory image keeps the second page of nametable RAM.
signed char* second_page(PPU& ppu, int32_t mirroring) {
    return ppu.memory + (mirroring == MIRROR_HORIZONTAL ? 0x2800 : 0x2400);
}

} // namespace

// Boards without registers behind a hook simply ignore it.
void Mapper::map_write(void**, signed char*, signed char*) {}
void Mapper::map_read(void**, signed char*) {}
void Mapper::clock(void**) {}
void Mapper::a12_rose(void**, uint64_t, uint64_t) {}
void Mapper::pattern_read(void**, uint16_t) {}
void Mapper::read_register(void**, uint16_t, uint8_t&) {}
void Mapper::fetch_background(PPU const&, int, uint16_t, BackgroundTile&) const {}
void Mapper::fetch_sprite_row(PPU const& ppu, uint16_t address, uint8_t& lo, uint8_t& hi) const {
    lo = uint8_t(ppu.memory[address]);
    hi = uint8_t(ppu.memory[address | 8]);
}
uint64_t Mapper::quiet_dots(PPU const&) const {
    return UINT64_MAX;
}
void Mapper::serialize(void**, char*) {}
void Mapper::deserialize(void**, char*) {}
void Mapper::save_extension(void**, char*, unsigned char*) {}
void Mapper::load_extension(void**, char const*, unsigned char const*) {}
void Mapper::snapshot(Snapshot&) {}

int32_t Mapper::cpu_address(CPU const& cpu, signed char const* addr) {
    return int32_t(cpu.get_addr(addr) & 0xFFFF);
}

void Mapper::copy_prg(CPU& cpu, uint16_t cpu_addr, int bank, int length) {
    cpu.rom->copy_prg(cpu.memory + cpu_addr, bank, length);
}

void Mapper::copy_chr(PPU& ppu, uint16_t ppu_addr, int bank, int length) {
    ppu.rom->copy_chr(ppu.memory + ppu_addr, bank, length);
}

void Mapper::set_mirroring(PPU& ppu, int32_t mirroring) {
    if (mirroring == ppu.mirroring) return;
    if (mirroring != MIRROR_FOUR_SCREEN && ppu.mirroring != MIRROR_FOUR_SCREEN) {
        signed char* const from = second_page(ppu, ppu.mirroring);
        signed char* const to = second_page(ppu, mirroring);
        if (from != to) std::memcpy(to, from, NAMETABLE_SIZE);
    }
    ppu.mirroring = mirroring;
}

void Mapper::restore_mirroring(PPU& ppu, int32_t mirroring) {
    ppu.mirroring = mirroring;
}

void Mapper::put_le32(char* at, int32_t value) {
    uint32_t const bits = uint32_t(value);
    for (int i = 0; i < 4; ++i)
        at[i] = char(bits >> (8 * i));
}

int32_t Mapper::get_le32(char const* at) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= uint32_t(uint8_t(at[i])) << (8 * i);
    return int32_t(bits);
}

} // namespace NES
