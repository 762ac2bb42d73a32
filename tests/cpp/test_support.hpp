// Shared helpers for the C++ tests: cartridge images built in memory, consoles built
// from them under a throw-away HOME, and a small 6502 program loader.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "console/nes_unit.hpp"

namespace test {

// An iNES image: header fields, then PRG and CHR filled by the caller.
struct Image {
    uint8_t prg_banks = 1; // 16 KiB units
    uint8_t chr_banks = 1; // 8 KiB units
    uint8_t flags6 = 0;
    uint8_t flags7 = 0;
    std::vector<uint8_t> prg; // resized to prg_banks * 16 KiB
    std::vector<uint8_t> chr;

    Image();
    // Places bytes at a CPU address of a 16 KiB NROM image ($8000-$BFFF, mirrored at
    // $C000-$FFFF).
    Image& at(uint16_t cpu_addr, std::initializer_list<uint8_t> bytes);
    Image& vectors(uint16_t nmi, uint16_t reset, uint16_t irq);
    std::vector<unsigned char> bytes() const;
};

// Points HOME at a fresh temporary folder for the life of the object.
class TempHome {
public:
    TempHome();
    ~TempHome();
    std::string const& path() const { return dir; }

private:
    std::string dir;
    std::string old_home;
    bool had_home;
};

std::string write_temp_file(std::string const& dir, std::string const& name,
                            std::vector<unsigned char> const& bytes);

// A console built from the image, written to `dir`/`name`; a speed of 0 runs the run
// thread as fast as it can.
std::unique_ptr<NESUnit> console(std::string const& dir, Image const& image,
                                 std::string const& name = "test.nes", int speed = 1789773,
                                 NES::Accuracy accuracy = NES::Accuracy::fast);

// The folder of the public test material that holds `file`: $VANDREL_TEST_ROMS first,
// then ../shared/roms beside the project; empty when neither has it.
std::string public_test_roms(std::string const& file);
inline constexpr char NO_PUBLIC_TEST_ROMS[] =
    "public test cartridges not found: set VANDREL_TEST_ROMS or put them in ../shared/roms";

// Copies a program into CPU memory at `addr` and points PC at it.
void load_program(NES::CPU& cpu, uint16_t addr, std::initializer_list<uint8_t> code);

} // namespace test
