// Nintendo MMC1, mapper 1: a five-write serial port feeding a control register, two CHR
// bank registers and a PRG bank register.
//
// The CPU writes one bit at a time (bit 0 of the value) to $8000-$FFFF; the fifth write
// completes a 5-bit value, and the address of that fifth write picks the register:
//   $8000-$9FFF control    bits 0-1 mirroring (0 lower, 1 upper single-screen, the
//                          fast mode's lower; 2 vertical; 3 horizontal), bits 2-3 PRG mode, bit 4
//                          CHR mode
//   $A000-$BFFF CHR bank 0 (PPU $0000: 8 KiB in CHR mode 0, even banks; 4 KiB in mode 1)
//   $C000-$DFFF CHR bank 1 (PPU $1000, 4 KiB; CHR mode 1 only)
//   $E000-$FFFF PRG bank   in 16 KiB units; bit 4 is part of the number here
// A write with bit 7 set empties the serial port and loads control $0C (PRG mode 3 with
// the last bank at $C000, CHR mode 0, single-screen mirroring).
//
// Registers are applied as they are written: each completed write copies its banks into
// the memory images, and the bank registers themselves are not kept (the modes are, and
// save states carry them with the serial port). Consecutive-cycle
// writes are not filtered, and the PRG RAM disable bit is not modelled.
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class MMC1 : public Mapper {
public:
    MMC1() : Mapper(1) {}

    // Control bits 2-3. 0, 1: one 32 KiB bank at $8000 (low bit of the number ignored);
    // 2: first bank fixed at $8000, switchable 16 KiB at $C000; 3: switchable 16 KiB at
    // $8000, last bank fixed at $C000.
    uint8_t prg_mode = 3;
    bool chr_mode = false; // control bit 4. 0: one 8 KiB bank; 1: two 4 KiB banks
    // Serial port: each write shifts its bit in at bit 4. The marker bit set on an empty
    // port reaches bit 0 after four writes, so the fifth write finds it there.
    uint8_t shift = 0x10;
    uint8_t data = 0; // the last completed 5-bit value

    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    // Save-state record: nothing in the first part; extension 0 the PRG mode, 1 the CHR
    // mode, 2 the serial port, 3 the last completed value, 4 the mirroring (control bits
    // 0-1).
    bool extends_record() const override { return true; }
    void save_extension(void** args, char* extension, unsigned char* trailer) override;
    void load_extension(void** args, char const* extension, unsigned char const* trailer) override;
    // Applies a 5-bit value to the control register.
    void control(CPU* cpu, PPU* ppu, unsigned char value);

private:
    static constexpr uint8_t EMPTY = 0x10;

    void reset_port(CPU& cpu, PPU& ppu);
    void write_register(CPU& cpu, PPU& ppu, int32_t address);
    void set_prg_mode(CPU& cpu, uint8_t mode);
    void write_chr_bank_0(PPU& ppu);
    void write_chr_bank_1(PPU& ppu);
    void write_prg_bank(CPU& cpu);
};

} // namespace NES
