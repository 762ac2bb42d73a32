// The CPU attach: clears the CPU address space, loads battery RAM and places PRG ROM.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cartridge/rom.hpp"
#include "console/progress.hpp"
#include "cpu/cpu.hpp"

namespace NES {

namespace {

constexpr int PRG_RAM = 0x6000;
constexpr size_t PRG_RAM_SIZE = 0x2000;

bool file_exists(std::string const& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

} // namespace

void CPU::loadRom(ROM* cartridge, bool load_ram, std::string const& ram_path) {
    std::memset(memory, 0, sizeof memory);
    rom = cartridge;
    uint32_t const number = rom->mapper ? rom->mapper->number : ~0u;
    prg_fold_16k =
        (number == 0 || number == 3) && rom->prg_size >= 0x4000 && rom->prg_size < 0x8000;
    if (rom->battery && load_ram) {
        progress("load RAM file: %s\n", ram_path.c_str());
        bool const exists = file_exists(ram_path);
        progress("RAM file exists: %i\n", exists ? 1 : 0);
        if (exists) {
            if (FILE* f = std::fopen(ram_path.c_str(), "rb")) {
                this->load_ram(f);
                std::fclose(f);
            }
        }
    }
    rom->prg_windows.attach(memory + 0x8000, 32);
    rom->map_prg(memory, prg_bank);
}

// The board's own RAM when it keeps more than the window shows, else the 8 KiB at $6000
// (or where the board holds them while it shows ROM there).
bool CPU::save_ram(FILE* f) const {
    if (!rom->mapper) return std::fwrite(memory + PRG_RAM, 1, PRG_RAM_SIZE, f) == PRG_RAM_SIZE;
    std::span<signed char const> const board = rom->mapper->board_prg_ram();
    if (!board.empty()) return std::fwrite(board.data(), 1, board.size(), f) == board.size();
    signed char const* const parked = rom->mapper->parked_prg_ram();
    return std::fwrite(parked ? parked : memory + PRG_RAM, 1, PRG_RAM_SIZE, f) == PRG_RAM_SIZE;
}

// A short file fills only the start of PRG RAM. A board that keeps its own RAM shows it
// at $6000 as its PRG mapping places the power-on banks (prg_mapping.cpp).
void CPU::load_ram(FILE* f) {
    std::span<signed char> const board =
        rom->mapper ? rom->mapper->board_prg_ram() : std::span<signed char>{};
    if (!board.empty()) {
        std::fread(board.data(), 1, board.size(), f);
        return;
    }
    std::fread(memory + PRG_RAM, 1, PRG_RAM_SIZE, f);
}

} // namespace NES
