// Console snapshots: a console restored from one continues exactly as the original, on
// every board the 6502 test programs use, and a snapshot that is not usable changes
// nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cartridge/shared_images.hpp"
#include "console/nes_unit.hpp"
#include "mapper_cartridge.hpp"
#include "persistence/crc32c.hpp"
#include "test_support.hpp"

namespace {

using Verdict = NESUnit::SnapshotVerdict;

// Everything a program could observe of a console, sound included.
std::vector<unsigned char> observed(NESUnit& nes) {
    std::vector<unsigned char> all(nes.cpu->memory, nes.cpu->memory + 0x10000);
    all.insert(all.end(), nes.ppu->memory, nes.ppu->memory + 0x4000);
    all.insert(all.end(), nes.ppu->oam, nes.ppu->oam + 256);
    all.insert(all.end(), nes.ppu->rgb_picture(), nes.ppu->rgb_picture() + NES::FRAME_BYTES);
    // The samples of the block being filled, and the published block until it is fetched.
    uint64_t const samples = nes.apu->samples;
    size_t const filled = samples == 0 ? 0 : (samples - 1) % NES::APU::BUFFER_LEN + 1;
    auto const* sound = reinterpret_cast<unsigned char const*>(nes.apu->buffers.data());
    all.insert(all.end(), sound, sound + filled * sizeof(NES::APU::Levels));
    if (nes.apu->buffer_ready) {
        auto const* out = reinterpret_cast<unsigned char const*>(nes.apu->out_buffers.data());
        all.insert(all.end(), out, out + sizeof nes.apu->out_buffers);
    }
    int64_t const counters[2] = {nes.cycle_count(), nes.frame_count()};
    auto const* bytes = reinterpret_cast<unsigned char const*>(counters);
    all.insert(all.end(), bytes, bytes + sizeof counters);
    return all;
}

std::string program(char const* name) {
    return std::string(VANDREL_ASM_ROMS) + "/" + name + ".nes";
}

class SnapshotPrograms : public testing::TestWithParam<char const*> {};

TEST_P(SnapshotPrograms, ARestoredConsoleContinuesExactlyAsTheOriginal) {
    test::TempHome home;
    std::string const path = program(GetParam());
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "ca65/ld65 not installed: the 6502 test programs were not built";
    NESUnit original(path.c_str(), 1789773);
    original.runFrames(7);
    for (int i = 0; i < 5000; ++i) // stop mid-frame, mid-scanline
        original.single_cycle();
    std::vector<unsigned char> const snapshot = original.take_snapshot();
    // The console's own pass, compiled for saving alone, writes the same bytes.
    std::vector<unsigned char> written(snapshot.size());
    ASSERT_EQ(original.write_snapshot(written.data(), written.size(), true), snapshot.size());
    EXPECT_EQ(written, snapshot);

    std::vector<unsigned char> const image = original.rom->image();
    NESUnit twin(path, image.data(), image.size(), 1789773);
    twin.runFrames(3);
    ASSERT_EQ(twin.restore_snapshot(snapshot.data(), snapshot.size()), Verdict::restored);
    EXPECT_EQ(observed(twin), observed(original));
    for (int frame = 0; frame < 40; ++frame) {
        original.runFrames(1);
        twin.runFrames(1);
        ASSERT_EQ(observed(twin), observed(original)) << "frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, SnapshotPrograms,
                         testing::Values("cpu_checks", "ppu_demo", "mapper_mmc3", "board_fme7",
                                         "board_mmc5"));

TEST(Snapshot, AnUnusableSnapshotChangesNothing) {
    test::TempHome home;
    test::Image image;
    image.at(0x8000, {0xE8, 0x4C, 0x00, 0x80}); // INX; JMP $8000
    auto nes = test::console(home.path(), image);
    nes->runFrames(2);
    std::vector<unsigned char> const good = nes->take_snapshot();
    nes->runFrames(1);
    std::vector<unsigned char> const before = observed(*nes);

    auto flipped = [&](size_t at) {
        std::vector<unsigned char> bad = good;
        bad[at] ^= 0x01;
        return bad;
    };
    std::vector<unsigned char> const shorter(good.begin(), good.end() - 1);
    EXPECT_EQ(nes->restore_snapshot(shorter.data(), shorter.size()), Verdict::damaged);
    EXPECT_EQ(nes->restore_snapshot(good.data(), 10), Verdict::not_a_snapshot);
    auto bad = flipped(0);
    EXPECT_EQ(nes->restore_snapshot(bad.data(), bad.size()), Verdict::not_a_snapshot);
    bad = flipped(8);
    EXPECT_EQ(nes->restore_snapshot(bad.data(), bad.size()), Verdict::other_version);
    bad = flipped(16);
    EXPECT_EQ(nes->restore_snapshot(bad.data(), bad.size()), Verdict::other_cartridge);
    bad = flipped(good.size() / 2);
    EXPECT_EQ(nes->restore_snapshot(bad.data(), bad.size()), Verdict::damaged);
    EXPECT_EQ(observed(*nes), before);

    test::Image other;
    other.at(0x8000, {0xC8, 0x4C, 0x00, 0x80}); // INY; JMP $8000
    auto stranger = test::console(home.path(), other, "other.nes");
    EXPECT_EQ(stranger->restore_snapshot(good.data(), good.size()), Verdict::other_cartridge);
    EXPECT_EQ(nes->restore_snapshot(good.data(), good.size()), Verdict::restored);
}

// A snapshot is untrusted input: one whose fields describe no state the console could
// reach is refused, with its check value sealed as the loader computes it, and the
// console that refuses it is unchanged. Each edit is made to a live console, whose
// snapshot then carries it; the console restoring it may hold a state of its own
// (`target_edit`), which a check must not read in place of the snapshot's.
using Edit = void (*)(NESUnit&);

struct CraftedCase {
    char const* name;
    Edit edit;
    NES::Accuracy accuracy = NES::Accuracy::fast;
    Edit target_edit = nullptr;
};

constexpr NES::Accuracy HARDWARE = NES::Accuracy::hardware;

// A DMC fetch the APU has asked for, with the CPU's halt for it.
void dmc_fetch_pending(NESUnit& n) {
    n.apu->dmc_fetch_requested = true;
    n.cpu->dmc_halt_requested = true;
    n.cpu->dmc_halt_from = n.cpu->cycles;
}

class CraftedSnapshots : public testing::TestWithParam<CraftedCase> {};

TEST_P(CraftedSnapshots, AreRefusedAndChangeNothing) {
    test::TempHome home;
    test::Image image;
    image.at(0x8000, {0xE8, 0x4C, 0x00, 0x80}); // INX; JMP $8000
    CraftedCase const& c = GetParam();
    auto original = test::console(home.path(), image, "test.nes", 1789773, c.accuracy);
    original->runFrames(3);
    c.edit(*original);
    std::vector<unsigned char> const crafted = original->take_snapshot();

    auto target = test::console(home.path(), image, "test.nes", 1789773, c.accuracy);
    target->runFrames(1);
    if (c.target_edit) c.target_edit(*target);
    std::vector<unsigned char> const before = target->take_snapshot();
    EXPECT_EQ(target->restore_snapshot(crafted.data(), crafted.size()), Verdict::damaged);
    EXPECT_EQ(target->take_snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, CraftedSnapshots,
    testing::Values(
        CraftedCase{"post_render_off_below_the_picture",
                    [](NESUnit& n) { n.ppu->scanline = 245, n.ppu->post_render = false; }},
        CraftedCase{"vblank_in_the_picture", [](NESUnit& n) { n.ppu->vblank = true; }},
        CraftedCase{"clock_speed_0", [](NESUnit& n) { n.cpu->clock_speed = 0; }},
        CraftedCase{"cycles_far_ahead", [](NESUnit& n) { n.cpu->cycles = int64_t(1) << 40; }},
        CraftedCase{"cycles_negative", [](NESUnit& n) { n.cpu->cycles = -1; }},
        CraftedCase{"instruction_ahead_of_cycles",
                    [](NESUnit& n) { n.cpu->instruction_start = n.cpu->cycles + 1; }},
        CraftedCase{"apu_ahead", [](NESUnit& n) { n.apu->cycles += 1000; }},
        CraftedCase{"apu_clock_not_half_the_cpu", [](NESUnit& n) { n.apu->apu_clock += 1; }},
        CraftedCase{"sprite_column_past_the_pattern",
                    [](NESUnit& n) {
                        n.ppu->line_count = 1, n.ppu->active_mask = 1;
                        n.ppu->x_counters[0] = -1, n.ppu->sprite_columns[0] = 199;
                    }},
        CraftedCase{"sprite_slot_beyond_the_line",
                    [](NESUnit& n) { n.ppu->line_count = 0, n.ppu->active_mask = 1; }},
        CraftedCase{"samples_near_2_pow_62",
                    [](NESUnit& n) { n.apu->samples = uint64_t(1) << 62; }},
        CraftedCase{"dmc_level_huge", [](NESUnit& n) { n.apu->dmc_level = 1 << 20; }},
        CraftedCase{"noise_timer_at_int_max", [](NESUnit& n) { n.apu->noise_timer = INT32_MAX; }},
        CraftedCase{"dmc_bits_gone_while_playing",
                    [](NESUnit& n) { n.apu->dmc_bits = 0, n.apu->dmc_silent = false; }},
        CraftedCase{"triangle_output_nan", [](NESUnit& n) { n.apu->triangle_out = std::nanf(""); }},
        CraftedCase{"sample_rate_changed", [](NESUnit& n) { n.apu->sample_rate = 48000; }},
        CraftedCase{"dmc_halt_far_ahead_without_a_fetch",
                    [](NESUnit& n) {
                        n.cpu->dmc_halt_requested = true;
                        n.cpu->dmc_halt_from = n.cpu->cycles + 1000;
                    },
                    HARDWARE},
        CraftedCase{"dmc_fetch_without_a_halt_into_a_console_halting",
                    [](NESUnit& n) { n.apu->dmc_fetch_requested = true; }, HARDWARE,
                    dmc_fetch_pending},
        CraftedCase{"dmc_halt_at_the_end_of_time",
                    [](NESUnit& n) {
                        dmc_fetch_pending(n);
                        n.cpu->cycles = INT64_MAX;
                        n.cpu->dmc_halt_from = INT64_MAX;
                    },
                    HARDWARE},
        CraftedCase{"frame_origin_near_int64_min",
                    [](NESUnit& n) { n.apu->frame_origin = INT64_MIN + 5; }, HARDWARE},
        CraftedCase{"apu_exact_clock_at_int64_max",
                    [](NESUnit& n) { n.apu->exact_clock = INT64_MAX; }, HARDWARE},
        CraftedCase{"frame_write_due_past_int64_max",
                    [](NESUnit& n) {
                        n.apu->exact_clock = INT64_MAX - 1;
                        n.apu->frame_write_due = INT64_MAX;
                    },
                    HARDWARE}),
    [](testing::TestParamInfo<CraftedCase> const& info) { return info.param.name; });

// Every state a program can reach round-trips, in both modes: the demo cartridge (its
// music plays DMC samples) snapshotted where runFrame returns, inside the per-frame
// callable and between two instructions mid-frame, restored into a console holding the
// previous state, and saved back to the same bytes.
std::vector<unsigned char> demo_cartridge() {
    std::ifstream file(VANDREL_DEMO_CARTRIDGE, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

class ReachableStates : public testing::TestWithParam<NES::Accuracy> {};

TEST_P(ReachableStates, AreRestoredWhole) {
    test::TempHome home;
    std::vector<unsigned char> const image = demo_cartridge();
    auto console = [&] {
        return std::make_unique<NESUnit>("demo.nes", image.data(), image.size(), 1789773,
                                         GetParam());
    };
    auto const nes = console(), mid_frame = console(), twin = console();
    int refused = 0, sample_playing = 0, fetch_pending = 0;
    auto round_trip = [&](NESUnit& from) {
        std::vector<unsigned char> const snapshot = from.take_snapshot(nullptr, false);
        sample_playing += from.apu->dmc_remaining != 0;
        fetch_pending += from.apu->dmc_fetch_requested;
        bool const whole =
            twin->restore_snapshot(snapshot.data(), snapshot.size()) == Verdict::restored &&
            twin->take_snapshot(nullptr, false) == snapshot;
        refused += !whole;
    };
    nes->perFrame([&] { round_trip(*nes); });
    for (int frame = 0; frame < 1600; ++frame) {
        nes->runFrame();
        round_trip(*nes);
        // Between two instructions, stepped as runFrame steps.
        for (int i = 0; i < 2000 + 37 * (frame % 64); ++i)
            mid_frame->step_lazily();
        mid_frame->catch_up();
        round_trip(*mid_frame);
    }
    EXPECT_EQ(refused, 0);
    EXPECT_GT(sample_playing, 0);
    EXPECT_TRUE(GetParam() != HARDWARE || fetch_pending > 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, ReachableStates,
                         testing::Values(NES::Accuracy::fast, NES::Accuracy::hardware));

// The check value is the standard CRC-32C whichever instructions compute it, on any
// length and alignment (the folding paths begin at 256 and 512 bytes and take up to 512
// bytes a step: every length up to 1600 tries each remainder after a whole step).
TEST(CheckValue, IsCrc32cOnEveryPath) {
    unsigned char const nine[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(NES::crc32c(nine, 9), 0xE3069283u);
    EXPECT_EQ(NES::crc32c_portable(nine, 9), 0xE3069283u);
    std::vector<unsigned char> bytes(20000);
    uint32_t seed = 1;
    for (unsigned char& b : bytes)
        b = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
    int differing = 0;
    for (size_t size = 0; size < 19000; size += size < 1600 ? 1 : 997)
        for (size_t offset : {0, 1, 13})
            differing += NES::crc32c(bytes.data() + offset, size) !=
                         NES::crc32c_portable(bytes.data() + offset, size);
    EXPECT_EQ(differing, 0);
}

// No damage of one bit, nor any burst of up to 32 bits, gets through the check value:
// every such snapshot is refused and changes nothing.
TEST(Snapshot, EveryFlippedBitAndShortBurstIsRefused) {
    test::TempHome home;
    auto nes = test::console(home.path(), test::Image());
    nes->runFrames(2);
    std::vector<unsigned char> const good = nes->take_snapshot(nullptr, false);
    int accepted = 0;
    auto damaged = [&](size_t bit, uint32_t pattern) {
        std::vector<unsigned char> bad = good;
        for (size_t k = 0; k < 32 && bit + k < 8 * bad.size(); ++k)
            if (pattern >> k & 1) bad[(bit + k) / 8] ^= uint8_t(1 << (bit + k) % 8);
        accepted += nes->restore_snapshot(bad.data(), bad.size()) == Verdict::restored;
    };
    for (size_t bit = 0; bit < 8 * good.size(); ++bit)
        damaged(bit, 1);
    uint32_t seed = 7;
    for (int burst = 0; burst < 20000; ++burst) {
        seed = seed * 1103515245 + 12345;
        int const length = 2 + int(seed >> 8) % 31;
        uint32_t const inner = seed * 2654435761u;
        uint32_t const pattern = (inner | 1 | 1u << (length - 1)) & (~0u >> (32 - length));
        damaged(size_t(seed >> 4) % (8 * good.size()), pattern);
    }
    EXPECT_EQ(accepted, 0);
    EXPECT_EQ(nes->take_snapshot(nullptr, false), good);
}

// Bools are single bytes in a snapshot: any other byte than 0 or 1 is refused, or an
// accepted snapshot would not save back to the same bytes. The byte of PPU's write
// toggle is found as the one byte that changes with it.
TEST(Snapshot, ABoolHoldingAnotherByteIsRefused) {
    test::TempHome home;
    auto nes = test::console(home.path(), test::Image());
    nes->runFrames(1);
    std::vector<unsigned char> const good = nes->take_snapshot();
    nes->ppu->w = !nes->ppu->w;
    std::vector<unsigned char> const toggled = nes->take_snapshot();
    nes->ppu->w = !nes->ppu->w;
    size_t at = 0;
    while (at < good.size() - 8 && good[at] == toggled[at])
        ++at;
    ASSERT_LT(at, good.size() - 8);
    std::vector<unsigned char> bad = good;
    bad[at] = 2;
    NESUnit::seal_snapshot(bad);
    EXPECT_EQ(nes->restore_snapshot(bad.data(), bad.size()), Verdict::damaged);
    EXPECT_EQ(nes->take_snapshot(), good);
}

// A per-frame callable may restore a snapshot taken where the step began, which sets the
// frame count back: the step still returns after its frames, with the console whole.
TEST(Snapshot, ACallableRestoringTheStartingFrameLetsTheStepReturn) {
    test::TempHome home;
    auto nes = test::console(home.path(), test::Image());
    nes->runFrames(2);
    std::vector<unsigned char> const start = nes->take_snapshot();
    int calls = 0;
    nes->perFrame([&] {
        ++calls;
        ASSERT_EQ(nes->restore_snapshot(start.data(), start.size()), Verdict::restored);
    });
    nes->runFrames(3);
    EXPECT_EQ(calls, 3);
    nes->perFrame([] {});
    std::vector<unsigned char> const after = nes->take_snapshot();
    EXPECT_EQ(nes->restore_snapshot(after.data(), after.size()), Verdict::restored);
}

// A snapshot names the banks the ROM windows hold instead of holding them: a console
// whose windows hold other banks (here, a fresh one) copies them again on restore, and
// one restored to the fresh state copies the start's banks back. Each board's writes
// switch every kind of window it has (MMC3's mode bits exchange windows as well). A
// board that keeps banks of its own out of the images (CHR RAM not shown) brings them
// back too: the `back` writes show them again.
struct BankCase {
    char const* name;
    uint32_t mapper;
    int prg_bytes, chr_bytes;
    std::vector<std::pair<uint16_t, uint8_t>> writes;
    std::vector<std::pair<uint16_t, uint8_t>> back = {};
};

class SnapshotBanks : public testing::TestWithParam<BankCase> {};

TEST_P(SnapshotBanks, ComeBackFromTheRom) {
    test::TempHome home;
    BankCase const& c = GetParam();
    std::vector<unsigned char> const image =
        mapper_test::tagged_image(c.mapper, c.prg_bytes, c.chr_bytes);
    auto original = mapper_test::console(home, image);
    auto fresh = mapper_test::console(home, image);
    std::vector<unsigned char> const start = fresh->take_snapshot(nullptr, false);
    for (auto [addr, value] : c.writes)
        mapper_test::poke(*original, addr, value);
    std::vector<unsigned char> const switched = original->take_snapshot(nullptr, false);
    EXPECT_LT(switched.size(), 16384u) << "the banks are named, not copied";

    auto windows = [](NESUnit const& nes) {
        std::vector<signed char> bytes(0x8000 + 0x2000);
        std::copy_n(nes.cpu->memory + 0x8000, 0x8000, bytes.begin());
        std::copy_n(nes.ppu->memory, 0x2000, bytes.begin() + 0x8000);
        return bytes;
    };
    ASSERT_EQ(fresh->restore_snapshot(switched.data(), switched.size()), Verdict::restored);
    EXPECT_EQ(windows(*fresh), windows(*original));
    EXPECT_EQ(fresh->take_snapshot(nullptr, false), switched);
    for (auto [addr, value] : c.back) {
        mapper_test::poke(*fresh, addr, value);
        mapper_test::poke(*original, addr, value);
    }
    EXPECT_EQ(windows(*fresh), windows(*original));
    ASSERT_EQ(original->restore_snapshot(start.data(), start.size()), Verdict::restored);
    auto const untouched = mapper_test::console(home, image);
    EXPECT_EQ(windows(*original), windows(*untouched));
}

INSTANTIATE_TEST_SUITE_P(
    Boards, SnapshotBanks,
    testing::Values(BankCase{"uxrom", 2, 128 * 1024, 8192, {{0x8000, 5}}},
                    BankCase{"cnrom", 3, 32768, 32768, {{0x8000, 2}}},
                    // Control $1E (PRG mode 3, CHR mode 1), CHR banks 3 and 5, PRG bank 2: five
                    // serial writes each.
                    BankCase{"mmc1", 1, 128 * 1024, 32768, {{0x8000, 0}, {0x8000, 1}, {0x8000, 1},
                                                            {0x8000, 1}, {0x8000, 1}, {0xA000, 1},
                                                            {0xA000, 1}, {0xA000, 0}, {0xA000, 0},
                                                            {0xA000, 0}, {0xC000, 1}, {0xC000, 0},
                                                            {0xC000, 1}, {0xC000, 0}, {0xC000, 0},
                                                            {0xE000, 0}, {0xE000, 1}, {0xE000, 0},
                                                            {0xE000, 0}, {0xE000, 0}}},
                    BankCase{"mmc3",
                             4,
                             128 * 1024,
                             65536,
                             {{0x8000, 6},
                              {0x8001, 5},
                              {0x8000, 0x47},
                              {0x8001, 9},
                              {0x8000, 0x82},
                              {0x8001, 7},
                              {0x8000, 0x05},
                              {0x8001, 33}}},
                    BankCase{"ntdec2722", 40, 65536, 8192, {{0xE000, 3}}},
                    BankCase{"mmc2",
                             9,
                             128 * 1024,
                             128 * 1024,
                             {{0xA000, 5}, {0xB000, 3}, {0xC000, 9}, {0xD000, 21}, {0xE000, 30}}},
                    BankCase{"mmc4",
                             10,
                             256 * 1024,
                             128 * 1024,
                             {{0xA000, 5}, {0xB000, 3}, {0xC000, 9}, {0xD000, 21}, {0xE000, 30}}},
                    // A byte in CHR RAM bank 0, then CHR bank 3 and PRG bank 5 ($65 AND the
                    // ROM byte $7F): bank 0 waits in the board.
                    BankCase{"unrom512",
                             30,
                             128 * 1024,
                             0,
                             {{0x2006, 0x00}, {0x2006, 0x10}, {0x2007, 0x42}, {0xFC00, 0x65}},
                             {{0xFC00, 0x05}}},
                    BankCase{"action53",
                             28,
                             128 * 1024,
                             0,
                             {{0x2006, 0x00},
                              {0x2006, 0x10},
                              {0x2007, 0x42},
                              {0x5000, 0x00},
                              {0x8000, 0x03},
                              {0x5000, 0x81},
                              {0x8000, 0x02}},
                             {{0x5000, 0x00}, {0x8000, 0x00}}},
                    // PRG bank 5 at $8000 (command 9), CHR bank 6 at $0C00 (command 3).
                    BankCase{"fme7", 69, 65536, 8192, {{0x8000, 9}, {0xA000, 5}}},
                    BankCase{"fme7_chr", 69, 65536, 8192, {{0x8000, 3}, {0xA000, 6}}}),
    [](testing::TestParamInfo<BankCase> const& info) { return std::string(info.param.name); });

// Consoles built from one image share its bytes; the last one to go frees them, and a
// console outlives the others that shared its image.
TEST(SharedImages, LiveAsLongAsTheirLastConsole) {
    test::TempHome home;
    std::vector<unsigned char> const image = mapper_test::tagged_image(0, 32768, 8192);
    size_t const before = NES::shared_images_held();
    auto first = mapper_test::console(home, image);
    auto second = mapper_test::console(home, image);
    EXPECT_EQ(NES::shared_images_held(), before + 1);
    EXPECT_EQ(first->rom->prg.data(), second->rom->prg.data());
    first.reset();
    second->runFrames(2);
    EXPECT_EQ(mapper_test::unit_at(second->cpu->memory, 0xFC00), 31);
    second.reset();
    EXPECT_EQ(NES::shared_images_held(), before);
}

} // namespace
