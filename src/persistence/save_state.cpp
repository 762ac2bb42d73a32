// Save-state files: a raw little-endian snapshot of the CPU registers, the CPU and PPU
// memory images and the board's registers, 82189 bytes, one file per slot, followed for
// some boards by a trailer:
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
//   81933       256    board record, zero where the board writes nothing:
//     +0        64     the board's registers as files have always held them
//     +64       184    the board's extension: what earlier files lacked (its layout is
//                      the board's, beside its record in the board's header)
//     +248      4      the trailer's length, little-endian
//     +252      4      "VBX1": the extension and the trailer are present
//   82189       any    the trailer: board state the record has no room for (RAM that
//                      the memory images do not show)
//
// What each board writes (offsets within the board record; E+n is extension byte n):
//
//   board                     first part                 extension            trailer
//   0 NROM                    -                          no marker            -
//   1 MMC1                    -                          E+0 PRG mode, E+1    -
//                                                        CHR mode, E+2 serial
//                                                        port, E+3 last value,
//                                                        E+4 mirroring bits
//   2 UxROM, 3 CNROM          0-3 the bank (1 KiB units) no marker            -
//   4 MMC3                    0-13 registers, counter    E+0 horizontal       -
//   5 MMC5                    0-46 registers             -                    64 KiB PRG RAM
//   7, 11, 34, 66 latches     0-2 the latch or banks     no marker            -
//   9 MMC2, 10 MMC4           0-7 banks, latches, mirror no marker            -
//   28 Action 53              0-4 registers              -                    32 KiB CHR RAM*
//   30 UNROM 512              0 the register             -                    32 KiB CHR RAM*
//   40 NTDEC 2722             -                          E+0-1 timer, E+2 on  -
//   69 FME-7                  0-23 registers, counter,   no marker            -
//                             mirroring, sound
//   71 Camerica               0-2 bank, screen, register no marker            -
//   206 Namco 108             0 the register selected    no marker            -
//   (* four 8 KiB banks in order, with CHR RAM only; none with CHR ROM)
//
// Mapped banks live in the memory images, so restoring the images restores the banks;
// the board record only restores the board's registers. Boards whose registers all fit
// in the first part (NROM, UxROM, CNROM and the discrete-logic boards) write no marker,
// and their files are exactly as they always were. A record without the marker (all of
// its last 8 bytes zero, as every earlier file has them) loads as it always did: the
// board keeps what the record does not say. The trailer's length is the board's for its
// cartridge (boards 0-4 and 40 have none); a marked record whose trailer length differs
// from the board's still loads its registers, and the board keeps what the trailer
// would have replaced.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "cartridge/mapper.hpp"
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
constexpr size_t EXTENSION = 64, TRAILER_LENGTH = 248, MARKER = 252;
static_assert(EXTENSION + Mapper::EXTENSION_SIZE == TRAILER_LENGTH);
constexpr unsigned char MARKER_BYTES[4] = {'V', 'B', 'X', '1'};
// No board appends more than this; a longer file is no save state.
constexpr size_t LONGEST_TRAILER = 0x20000;

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

uint32_t get_le32(unsigned char const* in) {
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

// How a record's last eight bytes describe what follows its first part.
struct Extension {
    bool marked;      // the extension is present
    size_t trailer;   // the trailer's length
    bool well_formed; // unmarked and zero, or marked with a trailer no board exceeds
};

Extension extension_of(unsigned char const* board_record) {
    unsigned char const* const marker = board_record + MARKER;
    uint32_t const trailer = get_le32(board_record + TRAILER_LENGTH);
    if (std::memcmp(marker, MARKER_BYTES, sizeof MARKER_BYTES) == 0)
        return {true, trailer, trailer <= LONGEST_TRAILER};
    bool const zero = trailer == 0 && get_le32(marker) == 0;
    return {false, 0, zero};
}

} // namespace

size_t CPU::state_size() const {
    return rom->mapper->extends_record() ? STATE_SIZE + rom->mapper->trailer_size() : STATE_SIZE;
}

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
    Mapper& board = *rom->mapper;
    char* const record = reinterpret_cast<char*>(out + STATE_SIZE - MAPPER_RECORD_SIZE);
    board.serialize(args, record);
    if (!board.extends_record()) return;
    size_t const trailer = board.trailer_size();
    board.save_extension(args, record + EXTENSION, trailer ? out + STATE_SIZE : nullptr);
    for (int i = 0; i < 4; ++i)
        record[TRAILER_LENGTH + i] = char(trailer >> (8 * i));
    std::memcpy(record + MARKER, MARKER_BYTES, sizeof MARKER_BYTES);
}

bool CPU::save_state(FILE* f) {
    size_t const size = state_size();
    std::vector<unsigned char> state(size);
    save_state(state.data());
    return std::fwrite(state.data(), 1, size, f) == size;
}

CPU::RecordFault CPU::state_fault(unsigned char const* in, size_t size) {
    if (size < STATE_SIZE) return RecordFault::length;
    Extension const extension = extension_of(in + STATE_SIZE - MAPPER_RECORD_SIZE);
    if (!extension.well_formed) return RecordFault::board_record;
    if (size != STATE_SIZE + extension.trailer) return RecordFault::length;
    int64_t const pc = get_le64(in + 5);
    if (pc < 0 || pc > 0xFFFF) return RecordFault::program_counter;
    return RecordFault::none;
}

// A record that is not exactly as long as it says, whose last board bytes are neither
// zero nor the marker, or whose PC lies outside the address space, is refused whole
// before anything changes.
bool CPU::load_state(unsigned char const* in, size_t size) {
    if (state_fault(in, size) != RecordFault::none) return false;
    int64_t const pc = get_le64(in + 5);
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
    Mapper& board = *rom->mapper;
    board.deserialize(args, record);
    Extension const extension = extension_of(in + STATE_SIZE - MAPPER_RECORD_SIZE);
    if (extension.marked && board.extends_record()) {
        bool const own_trailer =
            board.trailer_size() != 0 && extension.trailer == board.trailer_size();
        board.load_extension(args, record + EXTENSION, own_trailer ? in + STATE_SIZE : nullptr);
    }
    return true;
}

// One byte more than the longest record is asked for, so that a longer file is seen as
// such.
bool CPU::load_state(FILE* f) {
    std::vector<unsigned char> state(STATE_SIZE + LONGEST_TRAILER + 1);
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

size_t NESUnit::state_size() const {
    return cpu->state_size();
}

void NESUnit::take_state(unsigned char* record) {
    CallerClaim const claim(*this, "getState", Reentry::share);
    cpu->save_state(record);
}

bool NESUnit::restore_state(unsigned char const* record, size_t size) {
    CallerClaim const claim(*this, "setState", Reentry::share);
    return cpu->load_state(record, size);
}
