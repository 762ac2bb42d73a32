// The equivalence guard: runs a cartridge for N frames under a fixed input script and
// hashes everything a program can observe, once per frame, so that any change to the
// core can be checked against the hashes recorded before it.
//
// Two hashes per frame:
//   - at return: when runFrame() has returned, as a program stepping frame by frame sees
//     the console (the published picture, both memory images, OAM, the audio block a
//     getAudio() call would deliver, the cycle and frame counters, the save-state
//     record);
//   - in the callable: the same inside the per-frame callable, at the moment the frame
//     completes (the audio block is hashed as published, without claiming it).
//
// Usage:
//   vandrel_fingerprint CARTRIDGE FRAMES --write FILE   record "frame at-return in-callable"
//   vandrel_fingerprint CARTRIDGE FRAMES --check FILE   compare with a recorded file
// with --hardware last, the console runs in hardware accuracy mode.
//
// Every few frames, in the callable or at return, the console also restores a snapshot
// of itself: each state a run passes through must be one a snapshot may hold, and
// restoring it must change nothing the hashes see. A refused one stops the run (exit 1).
//
// With --check it names the first frame that differs and exits 1, or exits 77 (the skip
// code of the test runner) when the cartridge is absent. The console's own progress
// messages go to standard output as usual; the tool's verdict goes to standard error.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/nes_unit.hpp"

namespace {

constexpr int SKIP = 77;

// A 64-bit hash over bytes, four independent multiply-mix lanes so that hashing the
// several hundred kilobytes of one frame's state costs little next to emulating it. Not
// cryptographic: it only has to notice accidental differences.
class Hash {
public:
    void add(void const* data, size_t size) {
        auto const* p = static_cast<unsigned char const*>(data);
        size_t i = 0;
        for (; i + 32 <= size; i += 32)
            for (int lane = 0; lane < 4; ++lane)
                mix(lane, load64(p + i + 8 * lane));
        for (size_t j = i; j < size; j += 8) {
            uint64_t word = 0;
            std::memcpy(&word, p + j, std::min<size_t>(8, size - j));
            mix(int((j / 8) & 3), word);
        }
        mix(0, size);
    }
    template <typename T> void add_value(T value) { add(&value, sizeof value); }
    uint64_t digest() const {
        uint64_t h = 0;
        for (uint64_t lane : lanes)
            h = (h ^ lane) * 0x9E3779B97F4A7C15ull, h ^= h >> 29;
        return h;
    }

private:
    uint64_t lanes[4] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull,
                         0x082EFA98EC4E6C89ull};
    static uint64_t load64(unsigned char const* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    void mix(int lane, uint64_t word) {
        uint64_t h = (lanes[lane] ^ word) * 0xFF51AFD7ED558CCDull;
        lanes[lane] = h ^ (h >> 32);
    }
};

// One input script for every cartridge: the D-pad walks round in steps of 45 frames, A
// and B tap now and then, and Start is pressed for five frames every four seconds, so
// that title screens give way to play and menus move.
uint8_t script_buttons(int frame) {
    static constexpr uint8_t A = 0x01, B = 0x02, START = 0x08, UP = 0x10, DOWN = 0x20, LEFT = 0x40,
                             RIGHT = 0x80;
    static constexpr uint8_t DPAD[6] = {RIGHT, RIGHT, LEFT, DOWN, UP, 0};
    uint8_t buttons = DPAD[(frame / 45) % 6];
    if (frame % 240 >= 100 && frame % 240 < 105) buttons |= START;
    if (frame % 30 < 3) buttons |= A;
    if (frame % 50 >= 10 && frame % 50 < 13) buttons |= B;
    return buttons;
}

void press(NES::Controller& pad, uint8_t mask) {
    bool buttons[8];
    for (int i = 0; i < 8; ++i)
        buttons[i] = (mask >> i) & 1;
    pad.update_inputs(buttons);
}

std::vector<unsigned char> state_record(NESUnit& nes) {
    std::vector<unsigned char> record(nes.cpu->state_size());
    nes.cpu->save_state(record.data());
    return record;
}

void hash_machine(Hash& h, NESUnit& nes) {
    h.add(nes.ppu->rgb_picture(), size_t(NES::FRAME_BYTES));
    h.add(nes.cpu->memory, sizeof nes.cpu->memory);
    h.add(nes.ppu->memory, 0x4000);
    h.add(nes.ppu->oam, sizeof nes.ppu->oam);
    h.add_value(nes.cycle_count());
    h.add_value(nes.frame_count());
    std::vector<unsigned char> const record = state_record(nes);
    h.add(record.data(), record.size());
}

// The block a getAudio() call would return now: claimed and read (all streams) when
// `claim` is set, else the published block and its ready flag, left in place.
void hash_audio(Hash& h, NESUnit& nes, bool claim) {
    NES::APU& apu = *nes.apu;
    bool const ready = claim ? apu.claim_block() : apu.buffer_ready.load();
    h.add_value(ready);
    if (!ready && claim) return;
    unsigned char block[2 * NES::APU::BUFFER_LEN];
    for (int s = 0; s < NES::APU::STREAMS; ++s) {
        apu.read_block(NES::APU::Stream(s), block);
        h.add(block, sizeof block);
    }
}

// Snapshot restores: at return on frames 0, 5, 10, ..., in the callable on 2, 7, 12, ...
// At return, the snapshot goes to a second console of the same cartridge, which takes
// over the run: whatever the snapshot leaves out must make no difference.
constexpr int RESTORE_EVERY = 5;
constexpr int RESTORE_IN_CALLABLE = 2;

void restore(NESUnit& into, std::vector<unsigned char> const& snapshot, int frame) {
    if (into.restore_snapshot(snapshot.data(), snapshot.size()) ==
        NESUnit::SnapshotVerdict::restored)
        return;
    std::fprintf(stderr, "fingerprint: frame %d: a console refused a snapshot of its cartridge\n",
                 frame);
    std::exit(1);
}

struct FrameHashes {
    uint64_t at_return;
    uint64_t in_callable;
};

std::vector<FrameHashes> run(char const* cartridge, int frames, NES::Accuracy accuracy) {
    NESUnit first(cartridge, 1789773, accuracy);
    NESUnit second(cartridge, 1789773, accuracy);
    second.runFrames(3); // so that what it holds differs from the first console's
    NESUnit* live = &first;
    NESUnit* idle = &second;
    std::vector<FrameHashes> hashes;
    uint64_t callable_hash = 0;
    int frame = 0;
    auto const each_frame = [&] {
        if (frame % RESTORE_EVERY == RESTORE_IN_CALLABLE)
            restore(*live, live->take_snapshot(), frame);
        Hash h;
        hash_machine(h, *live);
        hash_audio(h, *live, false);
        callable_hash = h.digest();
    };
    first.perFrame(each_frame);
    second.perFrame(each_frame);
    for (; frame < frames; ++frame) {
        press(live->controller1, script_buttons(frame));
        live->runFrame();
        if (frame % RESTORE_EVERY == 0) {
            restore(*idle, live->take_snapshot(), frame);
            std::swap(live, idle);
        }
        Hash h;
        hash_machine(h, *live);
        hash_audio(h, *live, true);
        hashes.push_back({h.digest(), callable_hash});
    }
    return hashes;
}

std::string line_of(int frame, FrameHashes const& h) {
    char text[64];
    std::snprintf(text, sizeof text, "%d %016" PRIx64 " %016" PRIx64, frame, h.at_return,
                  h.in_callable);
    return text;
}

int check(std::vector<FrameHashes> const& hashes, char const* golden_path) {
    std::ifstream golden(golden_path);
    if (!golden) {
        std::fprintf(stderr, "fingerprint: cannot read %s\n", golden_path);
        return 2;
    }
    std::string expected;
    for (size_t frame = 0; frame < hashes.size(); ++frame) {
        std::string const actual = line_of(int(frame), hashes[frame]);
        if (!std::getline(golden, expected)) {
            std::fprintf(stderr, "fingerprint: %s ends before frame %zu\n", golden_path, frame);
            return 1;
        }
        if (actual != expected) {
            std::fprintf(stderr, "fingerprint: frame %zu differs\n  expected %s\n  actual   %s\n",
                         frame, expected.c_str(), actual.c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "fingerprint: %zu frames match %s\n", hashes.size(), golden_path);
    return 0;
}

// Save folders go to a scratch home, not the user's.
std::filesystem::path scratch_home() {
    char pattern[] = "/tmp/vandrel-fingerprint-XXXXXX";
    char* dir = mkdtemp(pattern);
    if (!dir) {
        std::perror("fingerprint: mkdtemp");
        std::exit(2);
    }
    setenv("HOME", dir, 1);
    return dir;
}

} // namespace

int main(int argc, char** argv) {
    bool const hardware = argc == 6 && std::strcmp(argv[5], "--hardware") == 0;
    bool const writing = (argc == 5 || hardware) && std::strcmp(argv[3], "--write") == 0;
    bool const checking = (argc == 5 || hardware) && std::strcmp(argv[3], "--check") == 0;
    if (!writing && !checking) {
        std::fprintf(stderr,
                     "usage: %s CARTRIDGE FRAMES --write FILE | --check FILE [--hardware]\n",
                     argv[0]);
        return 2;
    }
    char const* cartridge = argv[1];
    int const frames = std::atoi(argv[2]);
    if (!std::filesystem::exists(cartridge)) {
        std::fprintf(stderr,
                     "fingerprint: %s is absent, skipped (public test cartridges: set "
                     "VANDREL_TEST_ROMS or put them in ../shared/roms)\n",
                     cartridge);
        return checking ? SKIP : 2;
    }
    std::filesystem::path const home = scratch_home();
    std::vector<FrameHashes> const hashes =
        run(cartridge, frames, hardware ? NES::Accuracy::hardware : NES::Accuracy::fast);
    std::filesystem::remove_all(home);
    if (checking) return check(hashes, argv[4]);
    std::ofstream out(argv[4]);
    for (size_t frame = 0; frame < hashes.size(); ++frame)
        out << line_of(int(frame), hashes[frame]) << '\n';
    return out ? 0 : 2;
}
