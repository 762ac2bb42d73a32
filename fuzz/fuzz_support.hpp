// What the three harnesses share: a quiet console in a throw-away home folder, the
// invariant check that turns a broken promise into a crash libFuzzer can report, and the
// cartridges and files the seed writers start from.
//
// Each harness file defines LLVMFuzzerInitialize and LLVMFuzzerTestOneInput for
// libFuzzer, and write_seeds for its seed corpus. The same file is linked either into a
// libFuzzer binary or, with replay_main.cpp, into a plain program that replays inputs
// (the regression test) and writes the seeds, so that both run the very same harness.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class NESUnit;

namespace fuzz {

// Points HOME at a fresh temporary folder (removed at exit) and sends stdout to
// /dev/null: a console prints progress lines and makes its save folder under $HOME.
// Returns the temporary home.
std::filesystem::path quiet_console_home();

// Aborts with `invariant` on stderr unless `holds`: abort is what libFuzzer and the
// replay test both see as a failed input.
void require(bool holds, char const* invariant);

// Steps `instructions` CPU instructions as runFrame does, the PPU and the APU catching
// up lazily, and catches them up at the end. The lazy path is the one games run on, and
// it is much cheaper than catching up after every instruction.
void step(NESUnit& unit, int instructions);

std::vector<unsigned char> read_file(std::filesystem::path const& path);
void write_file(std::filesystem::path const& path, std::vector<unsigned char> const& bytes);

// The project's demo cartridge (python/vandrel_tools/demo.nes), an NROM image of 16 KiB
// PRG and 8 KiB CHR.
std::vector<unsigned char> demo_cartridge();

// An image with the same PRG and CHR under another iNES mapper number.
std::vector<unsigned char> with_mapper(std::vector<unsigned char> image, uint32_t mapper);

// The iNES mapper numbers that have a board of their own; any other gets the default.
inline constexpr uint32_t KNOWN_MAPPERS[] = {0,  1,  2,  3,  4,  5,  7,  9,  10,
                                             11, 28, 30, 34, 40, 66, 69, 71, 206};

} // namespace fuzz

// Defined by each harness: writes its seed inputs into `dir`, from `cartridges` (iNES
// files the build made) and whatever the harness builds itself.
void write_seeds(std::filesystem::path const& dir,
                 std::vector<std::filesystem::path> const& cartridges);
