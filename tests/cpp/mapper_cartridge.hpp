// Cartridges for the mapper tests, built in memory. Every 1 KiB unit of PRG and CHR ROM
// is filled with its own unit number (16-bit little-endian words), so a test can read
// which unit sits at any address of the CPU or PPU memory image. The header is NES 2.0,
// which also describes sizes that are not whole 16 KiB or 8 KiB banks.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "test_support.hpp"

namespace mapper_test {

// NES 2.0 size fields: whole units as a 12-bit count, anything else in the
// exponent-multiplier form 2^E x (2M + 1). Returns {low byte, high nibble}.
inline std::pair<uint8_t, uint8_t> size_fields(int bytes, int unit) {
    if (bytes % unit == 0 && bytes / unit < 0xF00)
        return {uint8_t(bytes / unit), uint8_t(bytes / unit >> 8)};
    for (int e = 0; e < 64; ++e)
        for (int m = 0; m < 4; ++m)
            if ((int64_t(1) << e) * (2 * m + 1) == bytes) return {uint8_t(e << 2 | m), 0x0F};
    throw std::invalid_argument("no NES 2.0 encoding for this size");
}

inline void tag_units(std::vector<unsigned char>& out, int bytes) {
    for (int i = 0; i < bytes; i += 2) {
        int const unit = i / 1024;
        out.push_back(uint8_t(unit));
        out.push_back(uint8_t(unit >> 8));
    }
}

inline std::vector<unsigned char> tagged_image(uint32_t mapper, int prg_bytes, int chr_bytes,
                                               uint8_t flags6 = 0) {
    auto const [prg_low, prg_high] = size_fields(prg_bytes, 16384);
    auto const [chr_low, chr_high] = size_fields(chr_bytes, 8192);
    uint8_t const f6 = uint8_t((mapper & 0x0F) << 4 | flags6);
    uint8_t const f7 = uint8_t((mapper & 0xF0) | 0x08); // NES 2.0
    uint8_t const nibbles = uint8_t(chr_high << 4 | prg_high);
    std::vector<unsigned char> out = {'N', 'E', 'S', 0x1A, prg_low, chr_low, f6, f7, 0, nibbles};
    out.resize(16, 0);
    tag_units(out, prg_bytes);
    tag_units(out, chr_bytes);
    return out;
}

inline std::unique_ptr<NESUnit> console(test::TempHome const& home,
                                        std::vector<unsigned char> const& image,
                                        NES::Accuracy accuracy = NES::Accuracy::fast) {
    std::string const path = test::write_temp_file(home.path(), "mapper.nes", image);
    return std::make_unique<NESUnit>(path.c_str(), 1789773, accuracy);
}

// The unit number stored at an address of a memory image.
inline int unit_at(signed char const* memory, int addr) {
    return uint8_t(memory[addr]) | uint8_t(memory[addr + 1]) << 8;
}

// A CPU write through the bus, as a game's STA makes it.
inline void poke(NESUnit& nes, uint16_t addr, uint8_t value) {
    nes.cpu->write(nes.cpu->memory + addr, static_cast<signed char>(value));
}

// A CPU read of PPU address `addr` through PPUADDR and PPUDATA (the read buffer takes
// the byte, which is what a board watching the pattern reads hears of).
inline void ppu_read(NESUnit& nes, uint16_t addr) {
    poke(nes, 0x2006, uint8_t(addr >> 8));
    poke(nes, 0x2006, uint8_t(addr));
    nes.cpu->read(nes.cpu->memory + 0x2007, false);
}

} // namespace mapper_test
