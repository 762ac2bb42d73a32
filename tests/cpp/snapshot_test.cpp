// Console snapshots: a console restored from one continues exactly as the original, on
// every board the 6502 test programs use, and a snapshot that is not usable changes
// nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "console/nes_unit.hpp"
#include "test_support.hpp"

namespace {

using Verdict = NESUnit::SnapshotVerdict;

// Everything a program could observe of a console, sound included.
std::vector<unsigned char> observed(NESUnit& nes) {
    std::vector<unsigned char> all(nes.cpu->memory, nes.cpu->memory + 0x10000);
    all.insert(all.end(), nes.ppu->memory, nes.ppu->memory + 0x4000);
    all.insert(all.end(), nes.ppu->oam, nes.ppu->oam + 256);
    all.insert(all.end(), nes.ppu->image, nes.ppu->image + NES::FRAME_BYTES);
    auto const* sound = reinterpret_cast<unsigned char const*>(nes.apu->buffers.data());
    all.insert(all.end(), sound, sound + sizeof nes.apu->buffers);
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
                         testing::Values("cpu_checks", "ppu_demo", "mapper_mmc3"));

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
    bad = flipped(12);
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

} // namespace
