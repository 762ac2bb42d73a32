// Save-state files: a raw little-endian snapshot of the CPU registers, the CPU and PPU
// memory images and the mapper's registers, 82189 bytes, one file per slot:
//
//   offset      size   content
//   0           1      P
//   1           1      A
//   2           1      X
//   3           1      Y
//   4           1      SP
//   5           8      PC as a signed 64-bit CPU address
//   13          65536  CPU memory image $0000-$FFFF, with the cartridge RAM at
//                      $6000-$7FFF even while the board shows ROM there
//   65549       16384  PPU memory $0000-$3FFF
//   81933       256    mapper record, zero where the board writes nothing
//
// Mapped banks live in the memory images, so restoring the images restores the banks;
// the mapper record only restores the board's registers.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "console/nes_unit.hpp"
#include "persistence/file_error.hpp"
#include "persistence/save_folders.hpp"
#include "persistence/whole_file.hpp"

namespace NES {

namespace {

constexpr size_t REGISTERS_SIZE = 13;
constexpr size_t CPU_MEMORY_SIZE = 0x10000;
constexpr size_t PPU_MEMORY_SIZE = 0x4000;
constexpr size_t MAPPER_RECORD_SIZE = 256;
constexpr size_t PRG_RAM = 0x6000, PRG_RAM_SIZE = 0x2000;
static_assert(CPU::STATE_SIZE ==
              REGISTERS_SIZE + CPU_MEMORY_SIZE + PPU_MEMORY_SIZE + MAPPER_RECORD_SIZE);

void put_le64(unsigned char* out, int64_t value) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(uint64_t(value) >> (8 * i));
}

int64_t get_le64(unsigned char const* in) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value |= uint64_t(in[i]) << (8 * i);
    return int64_t(value);
}

} // namespace

void CPU::save_state(unsigned char* out) {
    std::memset(out, 0, STATE_SIZE);
    out[0] = P;
    out[1] = A;
    out[2] = X;
    out[3] = Y;
    out[4] = SP;
    put_le64(out + 5, get_addr(PC));
    std::memcpy(out + REGISTERS_SIZE, memory, CPU_MEMORY_SIZE);
    if (signed char const* const parked = rom->mapper->parked_prg_ram())
        std::memcpy(out + REGISTERS_SIZE + PRG_RAM, parked, PRG_RAM_SIZE);
    std::memcpy(out + REGISTERS_SIZE + CPU_MEMORY_SIZE, ppu->memory, PPU_MEMORY_SIZE);
    void* args[3] = {this, ppu, apu};
    rom->mapper->serialize(args, reinterpret_cast<char*>(out + STATE_SIZE - MAPPER_RECORD_SIZE));
}

bool CPU::save_state(FILE* f) {
    std::vector<unsigned char> state(STATE_SIZE);
    save_state(state.data());
    return std::fwrite(state.data(), 1, STATE_SIZE, f) == STATE_SIZE;
}

// A record that is not exactly one snapshot long, or whose PC lies outside the address
// space, is refused whole before anything changes.
bool CPU::load_state(unsigned char const* in, size_t size) {
    if (size != STATE_SIZE) return false;
    int64_t const pc = get_le64(in + 5);
    if (pc < 0 || pc > 0xFFFF) return false;
    P = in[0];
    A = in[1];
    X = in[2];
    Y = in[3];
    SP = in[4];
    PC = memory + pc;
    // The ROM windows take the record's bytes window by window: one that already holds
    // them keeps its note of the bank it shows; any other now holds bytes of its own.
    unsigned char const* const cpu_image = in + REGISTERS_SIZE;
    unsigned char const* const ppu_image = cpu_image + CPU_MEMORY_SIZE;
    std::memcpy(memory, cpu_image, 0x8000);
    rom->prg_windows.overwrite(cpu_image + 0x8000);
    rom->chr_windows.overwrite(ppu_image);
    std::memcpy(ppu->memory + 0x2000, ppu_image + 0x2000, PPU_MEMORY_SIZE - 0x2000);
    char record[MAPPER_RECORD_SIZE];
    std::memcpy(record, in + STATE_SIZE - MAPPER_RECORD_SIZE, MAPPER_RECORD_SIZE);
    void* args[3] = {this, ppu, apu};
    rom->mapper->deserialize(args, record);
    return true;
}

// One byte more than a record is asked for, so that a longer file is seen as such.
bool CPU::load_state(FILE* f) {
    std::vector<unsigned char> state(STATE_SIZE + 1);
    size_t const got = std::fread(state.data(), 1, state.size(), f);
    return load_state(state.data(), got);
}

} // namespace NES

std::string NESUnit::state_path(int slot) const {
    return save_dir + NES::sep + std::to_string(slot);
}

// Written whole or not at all, so a failed write never costs the previous save of the slot.
void NESUnit::save(int slot) {
    CallerClaim const claim(*this, "saveState", Reentry::share);
    if (save_dir.empty())
        throw std::runtime_error("saveState: this console has no save folder; call setSaveDir() "
                                 "first");
    NES::write_whole_file(state_path(slot), "cannot write the save state",
                          [this](FILE* f) { return cpu->save_state(f); });
}

bool NESUnit::load(int slot) {
    CallerClaim const claim(*this, "loadState", Reentry::share);
    if (save_dir.empty()) return false;
    std::string const path = state_path(slot);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) return false;
        throw NES::FileError(errno, path, "cannot read the save state");
    }
    bool const loaded = cpu->load_state(f);
    std::fclose(f);
    return loaded;
}

void NESUnit::take_state(unsigned char* record) {
    CallerClaim const claim(*this, "getState", Reentry::share);
    cpu->save_state(record);
}

bool NESUnit::restore_state(unsigned char const* record, size_t size) {
    CallerClaim const claim(*this, "setState", Reentry::share);
    return cpu->load_state(record, size);
}
