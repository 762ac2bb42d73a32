// The picture processing unit: video memory (pattern tables, nametables, palette), OAM,
// the scroll registers and the eight CPU-visible registers.
//
// The CPU-visible registers have no storage here: each is the byte of the CPU memory
// image at its address, which the CPU bus stores after the register's side effect. The
// PPU keeps pointers to those bytes and reads PPUCTRL and PPUMASK (and writes
// PPUSTATUS) in place.
#pragma once

#include <cstdint>

namespace NES {

class CPU;
class ROM;
class Mapper;

class PPU {
public:
    explicit PPU(CPU* cpu);
    PPU(PPU const&) = delete;
    PPU& operator=(PPU const&) = delete;

    CPU* cpu;
    ROM* rom = nullptr;
    uint64_t dot_count = 0;   // dots since construction or the last CPU reset
    uint64_t frame_count = 0; // completed frames
    // Video address space 0x0000-0x3FFF (the array is larger than what is addressed).
    signed char memory[0xC000] = {};
    uint8_t oam[256] = {}; // 64 sprites: Y, tile, attributes, X
    int32_t scanline = 0;  // 0-261
    int32_t dot = 25;      // 0-340: the next dot to be processed
    int32_t mirroring = 0; // 0 horizontal, 1 vertical, 2 four-screen, 3 single-screen
    Mapper* mapper = nullptr;
    bool vblank = false;       // from scanline 241 dot 1 to scanline 261 dot 1
    int32_t chr_bank = 0;      // first 1 KiB CHR bank that loadRom shows (CNROM sets it)
    bool suppress_vbl = false; // a PPUSTATUS read raced the start of vertical blank
    bool nmi_occurred = false; // the vertical-blank NMI condition the CPU samples
    bool suppress_nmi = false;
    // v and t: bits 0-4 coarse X, 5-9 coarse Y, 10-11 nametable, 12-14 fine Y.
    uint16_t v = 0;
    uint16_t t = 0;
    uint8_t x = 0;  // fine X scroll
    bool w = false; // write toggle shared by PPUSCROLL and PPUADDR
    uint8_t oam_addr = 0;
    uint8_t read_buffer = 0; // PPUDATA read buffer
    signed char* ppuctrl = nullptr;
    signed char* ppumask = nullptr;
    signed char* ppustatus = nullptr;
    signed char* oamaddr = nullptr;
    signed char* oamdata = nullptr;
    signed char* ppuscroll = nullptr;
    signed char* ppuaddr = nullptr;
    signed char* ppudata = nullptr;
    signed char* oamdma = nullptr;
    void* mapper_args[3] = {nullptr, nullptr, nullptr}; // {CPU, this PPU, APU}
    bool post_render = false; // from scanline 239 dot 340 until the frame wraps

    void loadRom(ROM* rom);
    uint8_t read(int16_t addr);
    void write(int16_t addr, signed char value);
    int16_t map_memory(int16_t& addr) const;
    int64_t get_addr(signed char const* p) const { return p - memory; }
    void set_registers();
    void v_horiz();
    void v_vert();
    void apply_and_update_registers();
    void cycle();

    // The CPU bus's side of $2000-$2007. A write may change the byte that the bus then
    // stores (OAMDATA masks attribute bytes).
    uint8_t read_register(uint16_t addr);
    void write_register(uint16_t addr, signed char& value);

private:
    uint8_t read_status();
    void advance_address() { v = uint16_t(v + ((*ppuctrl & 0x04) ? 32 : 1)); }
    void vertical_blank_dot();
    void advance_dot();
};

} // namespace NES
