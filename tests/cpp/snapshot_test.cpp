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
#include <string>
#include <vector>

#include "cartridge/shared_images.hpp"
#include "console/nes_unit.hpp"
#include "mapper_cartridge.hpp"
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
// snapshot then carries it.
using Edit = void (*)(NESUnit&);

struct CraftedCase {
    char const* name;
    Edit edit;
};

class CraftedSnapshots : public testing::TestWithParam<CraftedCase> {};

TEST_P(CraftedSnapshots, AreRefusedAndChangeNothing) {
    test::TempHome home;
    test::Image image;
    image.at(0x8000, {0xE8, 0x4C, 0x00, 0x80}); // INX; JMP $8000
    auto original = test::console(home.path(), image);
    original->runFrames(3);
    GetParam().edit(*original);
    std::vector<unsigned char> const crafted = original->take_snapshot();

    auto target = test::console(home.path(), image);
    target->runFrames(1);
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
        CraftedCase{"sample_rate_changed", [](NESUnit& n) { n.apu->sample_rate = 48000; }}),
    [](testing::TestParamInfo<CraftedCase> const& info) { return info.param.name; });

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
