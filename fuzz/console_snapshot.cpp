// Fuzzes the console snapshot loader, the path that setSnapshot, pickles and copies take:
// NESUnit::restore_snapshot on a snapshot whose fields were edited and whose check value
// was then sealed anew, as someone crafting a snapshot would, so that every edit reaches
// the field checks behind the check value.
//
// The consoles: the demo cartridge's program under each board the emulator knows, in
// both accuracy modes. Each board has eight pristine snapshots, taken where a program
// can take them: where runFrame returns, inside the per-frame callable (the PPU stopped
// at the end of a frame, behind the CPU), between two instructions in the middle of a
// frame, and just after a $4015 write started a DMC sample (in hardware mode, with its
// first fetch pending); each with the finished picture and without it.
//
// The input: byte 0 chooses the board (fast mode's boards first), the low nibble of
// byte 1 the pristine snapshot, and its high nibble the state of the console that
// restores it: 0 for a console fresh from power-up, n for one holding pristine snapshot
// n - 1 (each modulo their number), so that a check reading the console's own members
// instead of the snapshot's shows; the rest is a patch over it, in chunks of
//     field (2 bytes, little-endian, modulo the number of fields), offset in the field
//     (2 bytes, little-endian, modulo its size), length (1 byte), then that many bytes
// written over the field and clipped at its end. Fields are found from the snapshot's
// layout (each pristine snapshot has its own: which memory pages and ROM windows a
// snapshot holds depends on the state), so edits land on registers and counters as often
// as on memory.
//
// What must hold besides what the sanitizers watch and the time limit catches (a step
// running for ever): every pristine snapshot is accepted by a console holding any other;
// a refused snapshot changes nothing; an accepted one loads whole (it saves back to the
// same bytes), runs a whole frame, and what the frame leaves is accepted again.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/nes_unit.hpp"
#include "fuzz_support.hpp"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;
using Layout = std::vector<NES::Snapshot::Span>;
using Verdict = NESUnit::SnapshotVerdict;

// Past the demo's reset code, with the picture on and the music playing.
constexpr int WARM_UP_FRAMES = 10;
// Into the middle of the next frame.
constexpr int MID_FRAME_INSTRUCTIONS = 5000;
constexpr size_t CHUNK_HEADER = 5;

struct Pristine {
    Bytes snapshot;
    Layout layout;
    bool picture;
};

struct Board {
    Bytes image;
    NES::Accuracy accuracy;
    // At return, in the callable, mid-frame, a DMC sample started; each twice.
    std::vector<Pristine> pristine;
};

std::vector<Board> boards;

std::unique_ptr<NESUnit> console_of(Board const& board) {
    return std::make_unique<NESUnit>(std::string("snapshot.nes"), board.image.data(),
                                     board.image.size(), 0, board.accuracy);
}

// Both forms of the console's snapshot now, with their layouts.
void add_pristine(Board& board, NESUnit& unit) {
    for (bool picture : {true, false}) {
        Pristine p{{}, {}, picture};
        p.snapshot = unit.take_snapshot(&p.layout, picture);
        board.pristine.push_back(std::move(p));
    }
}

void write_register(NESUnit& unit, uint16_t addr, uint8_t value) {
    unit.cpu->write(unit.cpu->memory + addr, static_cast<signed char>(value));
}

// A 17-byte sample from $C000 at the fastest rate, started by a $4015 write.
void start_dmc_sample(NESUnit& unit) {
    write_register(unit, 0x4010, 0x0F);
    write_register(unit, 0x4012, 0x00);
    write_register(unit, 0x4013, 0x01);
    write_register(unit, 0x4015, 0x1F);
}

Verdict restore(NESUnit& unit, Bytes const& snapshot) {
    return unit.restore_snapshot(snapshot.data(), snapshot.size());
}

// A console of the board holding the state `target` names (byte 1's high nibble).
std::unique_ptr<NESUnit> target_console(Board const& board, size_t target) {
    auto unit = console_of(board);
    if (target % (board.pristine.size() + 1) != 0)
        restore(*unit, board.pristine[target % (board.pristine.size() + 1) - 1].snapshot);
    return unit;
}

Board board_for(uint32_t mapper, NES::Accuracy accuracy) {
    Board board{fuzz::with_mapper(fuzz::demo_cartridge(), mapper), accuracy, {}};
    auto unit = console_of(board);
    unit->runFrames(WARM_UP_FRAMES);
    add_pristine(board, *unit);
    unit->perFrame([&] { add_pristine(board, *unit); });
    unit->runFrame();
    unit->perFrame([] {});
    fuzz::step(*unit, MID_FRAME_INSTRUCTIONS);
    add_pristine(board, *unit);
    start_dmc_sample(*unit);
    add_pristine(board, *unit);
    for (size_t target = 1; target <= board.pristine.size(); ++target)
        for (Pristine const& p : board.pristine)
            fuzz::require(restore(*target_console(board, target), p.snapshot) == Verdict::restored,
                          "a pristine snapshot is accepted by a console holding another");
    return board;
}

uint16_t le16(uint8_t const* at) {
    return uint16_t(at[0] | at[1] << 8);
}

Bytes patched(Pristine const& pristine, uint8_t const* patch, size_t size) {
    Bytes snapshot = pristine.snapshot;
    Layout const& layout = pristine.layout;
    size_t at = 0;
    while (at + CHUNK_HEADER <= size) {
        NES::Snapshot::Span const field = layout[le16(patch + at) % layout.size()];
        size_t const offset = le16(patch + at + 2) % field.size;
        size_t const length = std::min<size_t>(patch[at + 4], size - at - CHUNK_HEADER);
        size_t const kept = std::min(length, field.size - offset);
        std::memcpy(snapshot.data() + field.offset + offset, patch + at + CHUNK_HEADER, kept);
        at += CHUNK_HEADER + length;
    }
    NESUnit::seal_snapshot(snapshot);
    return snapshot;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_console_home();
    for (NES::Accuracy accuracy : {NES::Accuracy::fast, NES::Accuracy::hardware})
        for (uint32_t mapper : fuzz::KNOWN_MAPPERS)
            boards.push_back(board_for(mapper, accuracy));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    if (size < 2) return 0;
    Board const& board = boards[data[0] % boards.size()];
    Pristine const& pristine = board.pristine[(data[1] & 0x0F) % board.pristine.size()];
    Bytes const snapshot = patched(pristine, data + 2, size - 2);
    auto unit = target_console(board, data[1] >> 4);
    Bytes const before = unit->take_snapshot();
    if (restore(*unit, snapshot) != Verdict::restored) {
        fuzz::require(unit->take_snapshot() == before, "a refused snapshot changes nothing");
        return 0;
    }
    fuzz::require(unit->take_snapshot(nullptr, pristine.picture) == snapshot,
                  "an accepted snapshot saves back to the same bytes");
    unit->runFrame();
    fuzz::require(restore(*unit, unit->take_snapshot()) == Verdict::restored,
                  "a state reached from an accepted snapshot is accepted");
    return 0;
}

// The pristine snapshots as they are, and each with one small field edit.
void write_seeds(fs::path const& dir, std::vector<fs::path> const&) {
    int n = 0;
    auto write = [&](Bytes const& input) {
        fuzz::write_file(dir / ("snapshot-" + std::to_string(n++)), input);
    };
    for (size_t b = 0; b < boards.size(); ++b) {
        for (size_t p = 0; p < boards[b].pristine.size(); ++p) {
            // Into a fresh console, and into one holding the next pristine snapshot.
            write({uint8_t(b), uint8_t(p)});
            write({uint8_t(b), uint8_t(p | (p + 2) << 4)});
            for (uint16_t field = 0; field < boards[b].pristine[p].layout.size(); field += 7)
                write({uint8_t(b), uint8_t(p), uint8_t(field), uint8_t(field >> 8), 0, 0, 1, 0xFF});
        }
    }
}
