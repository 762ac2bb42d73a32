// 32 KiB of CHR RAM in four 8 KiB banks, for the boards that switch them (UNROM 512,
// Action 53).
//
// The PPU draws from and writes to its own pattern memory, which holds the bank shown;
// the other three banks wait here. A switch stores the shown bank's bytes back in its
// place and brings the new bank's in. The bank shown is the board's register, so it is
// never kept here twice: the board passes it in. The slot of the bank shown holds stale
// bytes, which nothing reads, and which the snapshot leaves out.
//
// A snapshot holds the three banks not shown (each in sparse pages, so that banks a game
// never filled cost almost nothing). The save-state record brings back the bank shown
// with the PPU's memory; the record's trailer holds all four banks in order, the one
// shown as the pattern memory holds it (a record without the trailer leaves the banks
// not shown as the console holds them).
#pragma once

#include <cstddef>
#include <cstdint>

namespace NES {

class PPU;
class Snapshot;

class ChrRamBanks {
public:
    static constexpr int BANKS = 4;
    static constexpr int BANK_SIZE = 0x2000;

    // `ram`: the cartridge has CHR RAM (an image that gives the board CHR ROM switches
    // nothing).
    explicit ChrRamBanks(bool ram) : ram(ram) {}

    // The PPU's pattern memory shows `to` from now on, instead of `from`.
    void show(PPU& ppu, uint8_t from, uint8_t to);
    // The banks not shown; `shown` is the bank shown as the snapshot holds it.
    void snapshot(Snapshot& s, uint8_t shown);

    // The save-state trailer: BANKS * BANK_SIZE bytes with CHR RAM, else none.
    size_t trailer_size() const { return ram ? size_t(BANKS) * BANK_SIZE : 0; }
    void save_trailer(PPU const& ppu, uint8_t shown, unsigned char* out) const;
    void load_trailer(unsigned char const* in);

private:
    bool const ram;
    signed char banks[BANKS][BANK_SIZE] = {};
};

} // namespace NES
