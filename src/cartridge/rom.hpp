// The cartridge: an iNES (or NES 2.0) image parsed into PRG ROM, CHR ROM, the header
// facts the console needs and one mapper object chosen by the image's mapper number.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "cartridge/mapper.hpp"
#include "cartridge/mapper_table.hpp"
#include "cartridge/rom_windows.hpp"
#include "cartridge/shared_images.hpp"

namespace NES {

// Nametable arrangements, shared by the ROM, the PPU and the mappers.
enum Mirroring : int32_t {
    MIRROR_HORIZONTAL = 0, // $2000=$2400, $2800=$2C00
    MIRROR_VERTICAL = 1,   // $2000=$2800, $2400=$2C00
    MIRROR_FOUR_SCREEN = 2,
    MIRROR_SINGLE_SCREEN = 3, // every nametable shows the lower 1 KiB of nametable RAM
    // ... the upper 1 KiB (AxROM, Camerica's BF9097), kept at $2400 as the vertical
    // arrangement keeps it.
    MIRROR_SINGLE_SCREEN_UPPER = 4,
    // Each nametable shows the page its board names (PPU::nametable_page): MMC5.
    MIRROR_BOARD_PAGES = 5,
};

class ROM {
public:
    // The built-in blank image: 16 KiB of zero PRG, CHR RAM, mapper 0.
    ROM();
    // Parses an image held in memory; the ROM shares the image's bytes with every other
    // ROM made from the same image (shared_images.hpp).
    ROM(long size, unsigned char const* data);
    explicit ROM(char const* path);
    ROM(ROM const&) = delete;
    ROM& operator=(ROM const&) = delete;

    bool battery = false;                  // flags 6 bit 1: battery-backed PRG RAM
    std::span<unsigned char const> prg;    // PRG ROM, prg_size bytes of the shared image
    std::span<unsigned char const> chr;    // CHR ROM, chr_size bytes (empty with CHR RAM)
    unsigned char* chr_ram = nullptr;      // the PPU's pattern tables, when chr_size is 0
    int32_t mirroring = MIRROR_HORIZONTAL; // from the header; the PPU keeps the live copy
    bool nes2 = false;                     // flags 7 bits 2-3 == 2
    unsigned char header[16] = {};
    unsigned char trainer[512] = {}; // kept, but never placed in the CPU address space
    int32_t prg_size = 0;
    int32_t chr_size = 0;
    std::unique_ptr<Mapper> mapper;
    BoardFacts board; // what the header says of the board beyond its number
    // What the CPU's $8000-$FFFF and the PPU's pattern tables hold of the ROM; the copies
    // below keep them up to date.
    RomWindows prg_windows;
    RomWindows chr_windows;

    void load_file(char const* path);
    // Parses an image of `size` bytes. An image without the iNES magic leaves the ROM
    // empty (no PRG, no CHR, no mapper); a malformed one is refused with
    // std::invalid_argument before anything is printed.
    void load_arr(long size, unsigned char const* data);
    // A fresh board for the same number. The PPU keeps a pointer to the board: attach
    // the cartridge to the PPU again (PPU::loadRom) after calling this.
    void reset_mapper();

    // Pointers to 1 KiB units of PRG and CHR; the index wraps modulo the ROM size.
    unsigned char const* get_prg_bank(int index) const;
    unsigned char const* get_chr_bank(int index) const;
    // Copy `length` bytes of consecutive 1 KiB units starting at unit `index`. Each
    // unit wraps on its own, so a copy never reads past the end of the ROM, whatever
    // the bank number or the ROM size: a too-small ROM shows up mirrored, as it does on
    // a board whose upper address lines are not connected.
    void copy_prg(signed char* dest, int index, int length);
    void copy_chr(signed char* dest, int index, int length);

    // The PRG mapping step of the CPU attach: places PRG banks into the CPU memory
    // image by mapper number. `prg_bank` is the CPU's UxROM bank, in 1 KiB units.
    void map_prg(signed char* cpu_memory, int prg_bank);

    // Checks an image without printing anything; throws std::invalid_argument saying
    // what is wrong when it is too short, lacks the magic, or declares sizes that the
    // bank helpers cannot serve (no PRG ROM, less than 1 KiB, more than fits the image).
    static void check_image(long size, unsigned char const* data);
    // An iNES image of this cartridge: the header, the trainer when it has one, PRG and
    // CHR ROM; a console built from it is built like this one.
    std::vector<unsigned char> image() const;
    // The same bytes as held in the shared image, and their hash (0 for an empty ROM).
    std::span<unsigned char const> image_bytes() const;
    uint64_t identity() const { return shared ? shared->identity : 0; }

private:
    std::shared_ptr<SharedImage const> shared;
};

// The largest image a header can describe with plain bank counts: the 16-byte header, the
// 512-byte trainer, and NES 2.0's 12-bit counts (up to $EFF; $F selects the exponent
// form, which exists for odd small sizes) of 16 KiB PRG and 8 KiB CHR banks. iNES 1
// images, with 8-bit counts, stay far below it. Nothing larger is read as a cartridge.
inline constexpr int64_t MAX_IMAGE_SIZE = 16 + 512 + 0xEFF * (int64_t(16384) + 8192);

// Reads a cartridge file into memory: NES::FileError naming the path when it cannot be
// opened or read (a folder too), std::invalid_argument naming the path when it is not a
// regular file or holds more than MAX_IMAGE_SIZE bytes. Reads at most MAX_IMAGE_SIZE + 1
// bytes and never waits for a writer (a FIFO is refused at once).
std::vector<unsigned char> read_whole_file(char const* path);

} // namespace NES
