// Nintendo MMC3, mapper 4: 8 KiB PRG banks, 2 KiB and 1 KiB CHR banks, mirroring, PRG
// RAM write protection and a scanline counter that raises IRQs.
//
// Registers, each a pair of addresses told apart by address bit 0:
//   $8000 even  bank select: bits 0-2 the bank register the next $8001 write fills,
//               bit 6 PRG mode, bit 7 CHR inversion
//   $8001 odd   bank data
//   $A000 even  mirroring: bit 0 clear vertical, set horizontal
//   $A001 odd   PRG RAM: bit 6 write protect, bit 7 enable
//   $C000 even  IRQ latch;  $C001 odd  IRQ reload
//   $E000 even  IRQ disable; $E001 odd IRQ enable
//
// PRG layout, mode 0: R6 at $8000, R7 at $A000, the second-to-last bank at $C000 and the
// last at $E000; mode 1 exchanges $8000 and $C000. CHR layout without inversion: R0 and
// R1 (2 KiB) at $0000 and $0800, R2-R5 (1 KiB) at $1000-$1C00; inversion exchanges the
// two 4 KiB halves.
//
// Banks live as copies in the memory images, so a change of PRG mode or CHR inversion
// exchanges the copied halves: the banks already in place move with the mode, the
// fixed second-to-last bank included. The bank registers themselves are not kept.
//
// The scanline counter is stepped once per rendered scanline, when the PPU reaches dot
// 256 outside vertical blank with background or sprites enabled.
//
// Revisions, told apart only by the NES 2.0 submapper (iNES 1 headers and submapper 0
// get the common one); records and snapshots do not hold the revision, so a state always
// goes on with the chip its cartridge's header names:
//   common     Sharp MMC3B/MMC3C: after every counter clock, a counter of 0 raises the
//              IRQ, so a latch of 0 raises it on every clock.
//   alternate  MMC3A (submapper 4): the IRQ comes when a decrement takes the counter from
//              1 to 0, or when a reload asked for through $C001 loads 0; a reload of a
//              counter that was already 0 raises none, so a latch of 0 raises one IRQ
//              after the $C001 write and then no more.
//   MMC6       (submapper 1): the counter of the common revision. Its PRG RAM is 1 KiB
//              inside the chip, switched by $8000 bit 5 and $A001 with meanings of their
//              own; the hardware notes do not describe them, so the RAM stays the plain
//              8 KiB at $6000-$7FFF, always readable and writable, and $A001 does not
//              act as MMC3's write protect (which would lock the RAM just as an MMC6
//              game enables it).
#pragma once

#include <cstdint>

#include "cartridge/mapper.hpp"

namespace NES {

class MMC3 : public Mapper {
public:
    enum class Revision : uint8_t { common, alternate, mmc6 };

    explicit MMC3(Revision revision = Revision::common) : Mapper(4, true), revision(revision) {}

    Revision const revision;
    uint8_t bank_select = 0; // last $8000 value: bits 0-2 name the next $8001 target
    uint8_t mode = 0;        // bank-select value in effect: bit 6 PRG mode, bit 7 CHR inversion
    bool prg_ram_protect = false; // $A001 bit 6: CPU writes to $6000-$7FFF are dropped (not MMC6)
    bool prg_ram_enable = true;   // $A001 bit 7: recorded in save states, gates nothing
    bool irq_enable = true;       // $E001 sets, $E000 clears
    int32_t irq_counter = 255;    // counts scanlines down; -1 after $C001 (reload next step)
    uint8_t irq_latch = 255;      // reload value of the counter

    void map_write(void** args, signed char* addr, signed char* value) override;
    void snapshot(Snapshot& s) override;
    void clock(void** args) override;
    // Hardware mode: the counter is clocked by rises of PPU A12 that follow a low of at
    // least three M2 (CPU clock) falls; the IRQ is a level the CPU sees until $E000.
    bool watches_a12() const override { return true; }
    void a12_rose(void** args, uint64_t dot, uint64_t low_since) override;
    // The counter steps when a dot leaves the PPU at dot 256: after the PPU draws dot 255.
    uint64_t quiet_dots(PPU const& ppu) const override;
    // One step of the scanline counter; an IRQ goes to `cpu`.
    void scanline_clock(CPU* cpu);
    // Record: 0 bank_select, 1 mode, 2 prg_ram_protect, 3 prg_ram_enable, 4 irq_enable,
    // 5-6 zero, 7-10 irq_counter (little-endian), 11 irq_latch, 12-13 zero. Extension:
    // 0 the mirroring ($A000 bit 0; four-screen cartridges keep theirs).
    void serialize(void** args, char* record) override;
    void deserialize(void** args, char* record) override;
    bool extends_record() const override { return true; }
    void save_extension(void** args, char* extension, unsigned char* trailer) override;
    void load_extension(void** args, char const* extension, unsigned char const* trailer) override;

private:
    void write_bank_select(CPU& cpu, PPU& ppu, uint8_t value);
    void write_bank_data(CPU& cpu, PPU& ppu, uint8_t value);
    void protect_prg_ram(int32_t address, signed char* addr, signed char* value) const;
};

} // namespace NES
