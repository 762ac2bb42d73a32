// Fuzzes save-state records through the path that loadState takes: CPU::load_state on
// an in-memory record (the file form only reads the file into such a record).
//
// The console: the demo cartridge's program under each board the emulator knows, in
// both accuracy modes (and, for the boards that switch CHR RAM banks, once more with CHR
// RAM, so that their record trailer is exercised), so that every board's record reader
// sees fuzzed registers, extensions and trailers. Each input gets a freshly built
// console: load_state replaces only what a record holds (registers, both memory images,
// the board's state), so restoring a pristine record alone would leave the PPU, the APU
// and the cycle counts of the previous input behind, and the harness would not be
// deterministic. Building a console from memory costs far less than stepping.
//
// The input: byte 0 chooses the console (modulo their number); the rest, the payload,
//  - is first given to load_state as it is. A payload whose length is not the one its
//    board record states (or whose board record ends in bytes no record holds) must be
//    refused without changing anything; any other is a whole record;
//  - when refused, is read as a patch over a valid record (the board's state after a
//    few frames of the demo), so that random inputs still load: chunks of
//        region (1 byte, modulo 5: 0 registers, 1 board record, 2 CPU memory,
//                3 PPU memory, 4 the trailer or, without one, the board record),
//        offset (2 bytes, little-endian, modulo the region's size), length (1 byte),
//        then that many bytes
//    written over the record and clipped at the end of the region.
// A loaded record runs a few hundred instructions. What must hold besides what the
// sanitizers watch: a whole record is accepted exactly when it is well formed and its
// PC lies in the address space, and a state saved after the run loads again and saves
// to the same record.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "console/nes_unit.hpp"
#include "fuzz_support.hpp"

namespace fs = std::filesystem;

namespace {

using Record = std::vector<unsigned char>;

constexpr size_t RECORD_SIZE = NES::CPU::STATE_SIZE;
constexpr int INSTRUCTIONS = 300;
// Frames the demo runs before its state becomes the board's pristine record: past its
// reset code, with the picture on and the music playing.
constexpr int WARM_UP_FRAMES = 10;

// The record's regions: registers with PC, the board's registers, CPU and PPU memory,
// and the trailer after the record.
struct Region {
    size_t offset;
    size_t size;
};
constexpr Region BOARD_RECORD = {RECORD_SIZE - 256, 256};
constexpr Region REGIONS[] = {
    {0, 13},
    BOARD_RECORD,
    {13, 0x10000},
    {13 + 0x10000, 0x4000},
};
constexpr size_t PC_OFFSET = 5;
// The boards that switch banks of CHR RAM, whose records have a trailer with CHR RAM.
constexpr uint32_t CHR_RAM_BANKING[] = {28, 30};

struct Board {
    std::vector<unsigned char> image;
    NES::Accuracy accuracy;
    Record pristine;
};

std::vector<Board> boards;

std::unique_ptr<NESUnit> console_of(Board const& board) {
    return std::make_unique<NESUnit>(std::string("state.nes"), board.image.data(),
                                     board.image.size(), 0, board.accuracy);
}

Record saved_state(NESUnit& unit) {
    Record record(unit.cpu->state_size());
    unit.cpu->save_state(record.data());
    return record;
}

Board board_for(std::vector<unsigned char> image, NES::Accuracy accuracy) {
    Board board{std::move(image), accuracy, {}};
    auto unit = console_of(board);
    for (int i = 0; i < WARM_UP_FRAMES; ++i)
        unit->runFrame();
    board.pristine = saved_state(*unit);
    return board;
}

// The image with its CHR ROM left out: the board gets CHR RAM.
std::vector<unsigned char> with_chr_ram(std::vector<unsigned char> image) {
    constexpr size_t CHR_ROM_UNIT = 0x2000;
    size_t const chr = size_t(image[5]) * CHR_ROM_UNIT;
    image.resize(image.size() - chr);
    image[5] = 0;
    return image;
}

uint16_t le16(uint8_t const* at) {
    return uint16_t(at[0] | at[1] << 8);
}

int64_t record_pc(Record const& record) {
    uint64_t pc = 0;
    for (int i = 0; i < 8; ++i)
        pc |= uint64_t(record[PC_OFFSET + i]) << (8 * i);
    return int64_t(pc);
}

Record patched(Record record, uint8_t const* patch, size_t size) {
    constexpr size_t CHUNK_HEADER = 4;
    Region const trailer = {RECORD_SIZE, record.size() - RECORD_SIZE};
    size_t at = 0;
    while (at + CHUNK_HEADER <= size) {
        uint8_t const choice = patch[at] % 5;
        Region const region = choice < 4 ? REGIONS[choice] : trailer.size ? trailer : BOARD_RECORD;
        size_t const offset = le16(patch + at + 1) % region.size;
        size_t const length = std::min<size_t>(patch[at + 3], size - at - CHUNK_HEADER);
        size_t const kept = std::min(length, region.size - offset);
        std::memcpy(record.data() + region.offset + offset, patch + at + CHUNK_HEADER, kept);
        at += CHUNK_HEADER + length;
    }
    return record;
}

// Whether load_state takes the record as a whole one (its PC is checked after that).
bool whole_record(uint8_t const* payload, size_t size) {
    using Fault = NES::CPU::RecordFault;
    Fault const fault = NES::CPU::state_fault(payload, size);
    return fault == Fault::none || fault == Fault::program_counter;
}

// A refused record must leave the console as it was.
void refused_unchanged(NESUnit& unit, uint8_t const* payload, size_t size) {
    Record const before = saved_state(unit);
    fuzz::require(!unit.cpu->load_state(payload, size), "a record that is not whole is refused");
    fuzz::require(saved_state(unit) == before, "a refused record changes nothing");
}

void load_and_run(NESUnit& unit, Record const& record) {
    int64_t const pc = record_pc(record);
    bool const usable = whole_record(record.data(), record.size()) && pc >= 0 && pc <= 0xFFFF;
    bool const loaded = unit.cpu->load_state(record.data(), record.size());
    fuzz::require(loaded == usable,
                  "a record is accepted exactly when it is whole and its PC lies in the address "
                  "space");
    if (!loaded) return;
    fuzz::step(unit, INSTRUCTIONS);
    Record const saved = saved_state(unit);
    fuzz::require(unit.cpu->load_state(saved.data(), saved.size()), "a saved state loads again");
    fuzz::require(saved_state(unit) == saved, "a loaded state saves to the same record");
}

Record seed_input(size_t board, Record const& payload) {
    Record input = payload;
    input.insert(input.begin(), uint8_t(board));
    return input;
}

// Small patches: PC into RAM, I/O and the vectors; fuzzed board registers.
std::vector<Record> seed_patches() {
    return {
        {},
        {0, 5, 0, 8, 0x00, 0x02, 0, 0, 0, 0, 0, 0},
        {0, 5, 0, 8, 0x02, 0x20, 0, 0, 0, 0, 0, 0},
        {0, 5, 0, 8, 0xFA, 0xFF, 0, 0, 0, 0, 0, 0},
        {1, 0, 0, 12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {1, 0, 0, 12, 0x80, 0x7F, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x05},
        {2, 0x00, 0x20, 8, 0x80, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    };
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_console_home();
    for (NES::Accuracy accuracy : {NES::Accuracy::fast, NES::Accuracy::hardware}) {
        for (uint32_t mapper : fuzz::KNOWN_MAPPERS)
            boards.push_back(
                board_for(fuzz::with_mapper(fuzz::demo_cartridge(), mapper), accuracy));
        for (uint32_t mapper : CHR_RAM_BANKING)
            boards.push_back(board_for(
                with_chr_ram(fuzz::with_mapper(fuzz::demo_cartridge(), mapper)), accuracy));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    if (size == 0) return 0;
    Board const& board = boards[data[0] % boards.size()];
    uint8_t const* payload = data + 1;
    size_t const payload_size = size - 1;
    auto unit = console_of(board);
    if (whole_record(payload, payload_size)) {
        load_and_run(*unit, Record(payload, payload + payload_size));
        return 0;
    }
    refused_unchanged(*unit, payload, payload_size);
    load_and_run(*unit, patched(board.pristine, payload, payload_size));
    return 0;
}

void write_seeds(fs::path const& dir, std::vector<fs::path> const&) {
    int n = 0;
    auto write = [&](Record const& input) {
        fuzz::write_file(dir / ("state-" + std::to_string(n++)), input);
    };
    for (size_t b = 0; b < boards.size(); ++b) {
        write(seed_input(b, boards[b].pristine));
        for (Record const& patch : seed_patches())
            write(seed_input(b, patch));
    }
}
