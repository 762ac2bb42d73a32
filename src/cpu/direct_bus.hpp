// Direct access to the memory image for the compiled steps, where the general bus
// (bus.cpp) would do nothing but fold the address and touch the image.
//
// Outside $2000-$5FFF no address has a register or a device behind it ($4020-$5FFF may
// hold a board's): a read there is map_memory's fold and the image byte, with no
// catch-up of the PPU or the APU. The bus also tells the mapper about every read, but
// Mapper::map_read does nothing and no board overrides it (no board watches reads), so
// leaving the call out changes nothing. Writes always tell the mapper, as the bus does:
// boards see every write, RAM included.
#pragma once

#include "cartridge/mapper.hpp"
#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"

namespace NES {

// Where the opcode and the two bytes after it lie together in the image, when they lie
// in internal RAM ($0000-$07FD) or in cartridge RAM and ROM ($6000-$FFFD): no register
// among them, so the fetch and the dummy read of the second byte do nothing but return
// image bytes. A 16 KiB PRG folds $C000-$FFFD onto $8000-$BFFD as a whole. Null
// elsewhere (registers, a board's included, RAM mirrors, the fold's edge at
// $BFFE-$BFFF, the wrap at $FFFF): the table step reads such bytes one by one through
// the bus.
inline signed char const* CPU::direct_code(uint16_t pc) const {
    if (uint16_t(pc - 0xC000) < 0x3FFE) return memory + (prg_fold_16k ? pc - 0x4000 : pc);
    if (uint16_t(pc - 0x6000) < 0xBFFE - 0x6000) return memory + pc;
    if (pc < 0x07FE) return memory + pc;
    return nullptr;
}

// The byte the bus would read at an address outside $2000-$401F: RAM mirrors fold onto
// $0000-$07FF, and a 16 KiB PRG appears again at $C000.
inline uint8_t CPU::peek(uint16_t addr) const {
    if (addr < 0x2000) return uint8_t(memory[addr & 0x07FF]);
    if (prg_fold_16k && addr >= 0xC000) addr -= 0x4000;
    return uint8_t(memory[addr]);
}

// A data read: registers ($2000-$401F, and a board's at $4020-$5FFF) go through the bus
// with their side effects and the catch-up, every other address reads the image
// directly.
inline uint8_t CPU::load(uint16_t addr) {
    if (uint16_t(addr - 0x2000) < 0x4000) return read(memory + addr, true);
    return peek(addr);
}

// A data write: internal RAM and $6000-$7FFF are stored directly once the mapper has
// seen the write (it may replace the byte); registers, $4020-$5FFF and $8000-$FFFF
// (mapper registers, which need the catch-up before and the new plan after) go through
// the bus.
inline void CPU::store(uint16_t addr, uint8_t value) {
    bool const ram = addr < 0x2000;
    if (!ram && (addr < 0x6000 || addr >= 0x8000)) {
        write(memory + addr, static_cast<signed char>(value));
        return;
    }
    store_plain(memory + (ram ? (addr & 0x07FF) : addr), value);
}

// A write to a location with nothing behind it but the image (folded RAM, $6000-$7FFF):
// the mapper sees it, as it sees every write, then the image keeps what the mapper left.
inline void CPU::store_plain(signed char* p, uint8_t value) {
    signed char d = static_cast<signed char>(value);
    void* args[3] = {this, ppu, apu};
    rom->mapper->map_write(args, p, &d);
    *p = d;
}

} // namespace NES
