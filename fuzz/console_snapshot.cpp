// Fuzzes the console snapshot loader, the path that setSnapshot, pickles and copies take:
// NESUnit::restore_snapshot on a snapshot whose fields were edited and whose check value
// was then sealed anew, as someone crafting a snapshot would, so that every edit reaches
// the field checks behind the check value.
//
// The consoles: the demo cartridge's program under each board the emulator knows. Each
// board has six pristine snapshots, taken where a program can take them: where runFrame
// returns, inside the per-frame callable (the PPU stopped at the end of a frame, behind
// the CPU), and between two instructions in the middle of a frame; each with the
// finished picture and without it.
//
// The input: byte 0 chooses the board and byte 1 the pristine snapshot (each modulo their
// number); the rest is a patch over it, in chunks of
//     field (2 bytes, little-endian, modulo the number of fields), offset in the field
//     (2 bytes, little-endian, modulo its size), length (1 byte), then that many bytes
// written over the field and clipped at its end. Fields are found from the snapshot's
// layout (each pristine snapshot has its own: which memory pages and ROM windows a
// snapshot holds depends on the state), so edits land on registers and counters as often
// as on memory.
//
// What must hold besides what the sanitizers watch and the time limit catches (a step
// running for ever): a refused snapshot changes nothing; an accepted one saves back to
// the same bytes, runs a whole frame, and what the frame leaves is accepted again.
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
    std::vector<Pristine> pristine; // at return, in the callable, mid-frame; each twice
};

std::vector<Board> boards;

std::unique_ptr<NESUnit> console_of(Board const& board) {
    return std::make_unique<NESUnit>(std::string("snapshot.nes"), board.image.data(),
                                     board.image.size(), 0);
}

// Both forms of the console's snapshot now, with their layouts.
void add_pristine(Board& board, NESUnit& unit) {
    for (bool picture : {true, false}) {
        Pristine p{{}, {}, picture};
        p.snapshot = unit.take_snapshot(&p.layout, picture);
        board.pristine.push_back(std::move(p));
    }
}

Board board_for(uint32_t mapper) {
    Board board{fuzz::with_mapper(fuzz::demo_cartridge(), mapper), {}};
    auto unit = console_of(board);
    unit->runFrames(WARM_UP_FRAMES);
    add_pristine(board, *unit);
    unit->perFrame([&] { add_pristine(board, *unit); });
    unit->runFrame();
    unit->perFrame([] {});
    fuzz::step(*unit, MID_FRAME_INSTRUCTIONS);
    add_pristine(board, *unit);
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

Verdict restore(NESUnit& unit, Bytes const& snapshot) {
    return unit.restore_snapshot(snapshot.data(), snapshot.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_console_home();
    for (uint32_t mapper : fuzz::KNOWN_MAPPERS)
        boards.push_back(board_for(mapper));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    if (size < 2) return 0;
    Board const& board = boards[data[0] % boards.size()];
    Pristine const& pristine = board.pristine[data[1] % board.pristine.size()];
    Bytes const snapshot = patched(pristine, data + 2, size - 2);
    auto unit = console_of(board);
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
            write({uint8_t(b), uint8_t(p)});
            for (uint16_t field = 0; field < boards[b].pristine[p].layout.size(); field += 7)
                write({uint8_t(b), uint8_t(p), uint8_t(field), uint8_t(field >> 8), 0, 0, 1, 0xFF});
        }
    }
}
