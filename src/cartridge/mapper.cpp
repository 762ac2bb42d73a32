#include "cartridge/mapper.hpp"

#include <cstring>

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr int NAMETABLE_SIZE = 0x400;

} // namespace

// Boards without registers behind a hook simply ignore it.
void Mapper::map_write(void**, signed char*, signed char*) {}
void Mapper::map_read(void**, signed char*) {}
void Mapper::clock(void**) {}
void Mapper::a12_rose(void**, uint64_t, uint64_t) {}
uint64_t Mapper::quiet_dots(PPU const&) const {
    return UINT64_MAX;
}
void Mapper::serialize(void**, char*) {}
void Mapper::deserialize(void**, char*) {}
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
    signed char* const second_elsewhere = ppu.memory + 0x2400;
    signed char* const second_horizontal = ppu.memory + 0x2800;
    bool const four_screen = ppu.mirroring == MIRROR_FOUR_SCREEN || mirroring == MIRROR_FOUR_SCREEN;
    if (!four_screen && ppu.mirroring == MIRROR_HORIZONTAL)
        std::memcpy(second_elsewhere, second_horizontal, NAMETABLE_SIZE);
    else if (!four_screen && mirroring == MIRROR_HORIZONTAL)
        std::memcpy(second_horizontal, second_elsewhere, NAMETABLE_SIZE);
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
