#include "cartridge/mappers/mmc1.hpp"

#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr int KIB_4 = 0x1000, KIB_8 = 0x2000, KIB_16 = 0x4000, KIB_32 = 0x8000;

int last_16k_bank(CPU const& cpu) {
    return cpu.rom->prg_size / 1024 - 16;
}

// Value 1 shows the upper page of nametable RAM on the board, which the hardware mode
// follows; the fast mode's model shows the lower page for 0 and 1 alike.
int32_t mirroring_of_control(unsigned char value, bool hardware) {
    switch (value & 3) {
    case 2: return MIRROR_VERTICAL;
    case 3: return MIRROR_HORIZONTAL;
    case 1: return hardware ? MIRROR_SINGLE_SCREEN_UPPER : MIRROR_SINGLE_SCREEN;
    default: return MIRROR_SINGLE_SCREEN;
    }
}

// Control bits 0-1 that show an arrangement (the fast mode's lower screen stands for 0).
uint8_t control_of_mirroring(int32_t mirroring) {
    switch (mirroring) {
    case MIRROR_VERTICAL: return 2;
    case MIRROR_HORIZONTAL: return 3;
    case MIRROR_SINGLE_SCREEN_UPPER: return 1;
    default: return 0;
    }
}

} // namespace

void MMC1::map_write(void** args, signed char* addr, signed char* value) {
    CPU& cpu = cpu_of(args);
    int32_t const address = cpu_address(cpu, addr);
    if (address < 0x8000) return;
    uint8_t const v = uint8_t(*value);
    if (v & 0x80) {
        reset_port(cpu, ppu_of(args));
        return;
    }
    uint8_t const old = shift;
    shift = uint8_t((v & 1) << 4 | old >> 1);
    if (!(old & 1)) return;
    data = shift;
    write_register(cpu, ppu_of(args), address);
    shift = EMPTY;
}

// A write with bit 7 set discards the collected bits and loads control $0C: PRG mode 3
// with the last bank at $C000, CHR mode 0 and single-screen mirroring.
void MMC1::reset_port(CPU& cpu, PPU& ppu) {
    shift = EMPTY;
    control(&cpu, &ppu, 0x0C);
}

void MMC1::write_register(CPU& cpu, PPU& ppu, int32_t address) {
    switch (address >> 13) {
    case 4: control(&cpu, &ppu, data); break;
    case 5: write_chr_bank_0(ppu); break;
    case 6: write_chr_bank_1(ppu); break;
    default: write_prg_bank(cpu); break;
    }
}

void MMC1::control(CPU* cpu, PPU* ppu, unsigned char value) {
    set_mirroring(*ppu, mirroring_of_control(value, ppu->hardware));
    chr_mode = value & 0x10;
    set_prg_mode(*cpu, (value >> 2) & 3);
}

// Entering a mode with a fixed bank places that bank at once.
void MMC1::set_prg_mode(CPU& cpu, uint8_t mode) {
    prg_mode = mode;
    if (prg_mode == 2) copy_prg(cpu, 0x8000, 0, KIB_16);
    if (prg_mode == 3) copy_prg(cpu, 0xC000, last_16k_bank(cpu), KIB_16);
}

// On a CHR RAM cartridge the source is the pattern memory itself, so these copies move
// the RAM's own bytes (in CHR mode 0 they land where they already are).
void MMC1::write_chr_bank_0(PPU& ppu) {
    if (chr_mode)
        copy_chr(ppu, 0x0000, data * 4, KIB_4);
    else
        copy_chr(ppu, 0x0000, (data & 0x1E) * 4, KIB_8);
}

void MMC1::write_chr_bank_1(PPU& ppu) {
    if (chr_mode) copy_chr(ppu, 0x1000, data * 4, KIB_4);
}

void MMC1::write_prg_bank(CPU& cpu) {
    switch (prg_mode) {
    case 0:
    case 1: copy_prg(cpu, 0x8000, (data & 0x1E) * 16, KIB_32); break;
    case 2:
        copy_prg(cpu, 0x8000, 0, KIB_16);
        copy_prg(cpu, 0xC000, data * 16, KIB_16);
        break;
    default:
        copy_prg(cpu, 0x8000, data * 16, KIB_16);
        copy_prg(cpu, 0xC000, last_16k_bank(cpu), KIB_16);
        break;
    }
}

void MMC1::save_extension(void** args, char* extension, unsigned char*) {
    extension[0] = char(prg_mode);
    extension[1] = char(chr_mode);
    extension[2] = char(shift);
    extension[3] = char(data);
    extension[4] = char(control_of_mirroring(ppu_of(args).mirroring));
}

// The nametables came back laid out as the saved arrangement keeps them. A serial port
// without its marker bit among five bits would never complete a write: it is emptied.
void MMC1::load_extension(void** args, char const* extension, unsigned char const*) {
    PPU& ppu = ppu_of(args);
    prg_mode = uint8_t(extension[0]) & 3;
    chr_mode = extension[1] != 0;
    shift = uint8_t(extension[2]) & 0x1F;
    if (shift == 0) shift = EMPTY;
    data = uint8_t(extension[3]) & 0x1F;
    restore_mirroring(ppu, mirroring_of_control(uint8_t(extension[4]), ppu.hardware));
}

// The serial port always holds its marker bit among five bits.
void MMC1::snapshot(Snapshot& s) {
    s.bounded(prg_mode, uint8_t(0), uint8_t(3));
    s.field(chr_mode);
    s.bounded(shift, uint8_t(1), uint8_t(0x1F));
    s.bounded(data, uint8_t(0), uint8_t(0x1F));
}

} // namespace NES
