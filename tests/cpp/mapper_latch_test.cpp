// The simpler boards: AxROM, Color Dreams, BNROM and NINA-001, GxROM, Camerica and
// Namco 108, on tagged cartridges whose every 1 KiB unit carries its own number. Each
// case writes the board's registers and reads which units the CPU and the PPU then see,
// and the mirroring; a save-state record and a snapshot bring the same back on a fresh
// console.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cartridge/mappers/sunsoft_fme7.hpp"
#include "cartridge/rom.hpp"
#include "mapper_cartridge.hpp"

namespace {

using mapper_test::unit_at;

struct BoardCase {
    char const* name;
    uint32_t mapper;
    int prg_bytes, chr_bytes;
    uint8_t submapper;
    std::vector<std::pair<uint16_t, uint8_t>> writes;
    std::vector<std::pair<uint16_t, int>> prg_units; // CPU address, unit seen there
    std::vector<std::pair<uint16_t, int>> chr_units; // PPU address, unit seen there
    int32_t mirroring = -1;                          // -1: as the header says
    uint8_t flags6 = 0;                              // the header's mirroring and battery bits
    // PPU addresses read through PPUDATA on each console once its registers are in place
    // (written, or restored), before the banks are looked at.
    std::vector<uint16_t> ppu_reads = {};
};

class LatchBoards : public testing::TestWithParam<BoardCase> {};

TEST_P(LatchBoards, SwitchTheirBanksAndBringThemBack) {
    test::TempHome home;
    BoardCase const& c = GetParam();
    std::vector<unsigned char> image =
        mapper_test::tagged_image(c.mapper, c.prg_bytes, c.chr_bytes, c.flags6);
    image[8] = uint8_t(image[8] | c.submapper << 4);
    auto nes = mapper_test::console(home, image);
    for (auto [addr, value] : c.writes)
        mapper_test::poke(*nes, addr, value);
    for (uint8_t table = 0; table < 4; ++table) { // a byte in each nametable
        mapper_test::poke(*nes, 0x2006, uint8_t(0x20 + 4 * table));
        mapper_test::poke(*nes, 0x2006, 0x00);
        mapper_test::poke(*nes, 0x2007, uint8_t(0xA0 + table));
    }
    auto nametables = [](NESUnit const& n) {
        return std::vector<signed char>(n.ppu->memory + 0x2000, n.ppu->memory + 0x3000);
    };
    std::vector<unsigned char> record(nes->cpu->state_size());
    nes->cpu->save_state(record.data());
    std::vector<unsigned char> const snapshot = nes->take_snapshot(nullptr, false);
    auto expect_banks = [&](NESUnit& n, char const* how) {
        for (uint16_t addr : c.ppu_reads)
            mapper_test::ppu_read(n, addr);
        for (auto [addr, unit] : c.prg_units)
            EXPECT_EQ(unit_at(n.cpu->memory, addr), unit) << how << " CPU $" << std::hex << addr;
        for (auto [addr, unit] : c.chr_units)
            EXPECT_EQ(unit_at(n.ppu->memory, addr), unit) << how << " PPU $" << std::hex << addr;
        if (c.mirroring >= 0) {
            EXPECT_EQ(n.ppu->mirroring, c.mirroring) << how;
        }
        EXPECT_EQ(nametables(n), nametables(*nes)) << how;
    };
    expect_banks(*nes, "written");

    auto loaded = mapper_test::console(home, image);
    ASSERT_TRUE(loaded->cpu->load_state(record.data(), record.size()));
    expect_banks(*loaded, "state record");

    auto restored = mapper_test::console(home, image);
    ASSERT_EQ(restored->restore_snapshot(snapshot.data(), snapshot.size()),
              NESUnit::SnapshotVerdict::restored);
    expect_banks(*restored, "snapshot");
}

constexpr int32_t LOWER = NES::MIRROR_SINGLE_SCREEN, UPPER = NES::MIRROR_SINGLE_SCREEN_UPPER;

// With bus conflicts the latch takes the written value AND the ROM byte at the address;
// a tagged unit's first byte is its number, so a write to unit u's start latches v & u.
INSTANTIATE_TEST_SUITE_P(
    Boards, LatchBoards,
    testing::Values(
        BoardCase{"axrom_power_on", 7, 256 * 1024, 0, 0, {}, {{0x8000, 0}}, {}, LOWER},
        BoardCase{"axrom",
                  7,
                  256 * 1024,
                  0,
                  0,
                  {{0x8000, 0x15}},
                  {{0x8000, 5 * 32}, {0xFC00, 5 * 32 + 31}},
                  {},
                  UPPER},
        BoardCase{"color_dreams",
                  11,
                  128 * 1024,
                  64 * 1024,
                  0,
                  {{0x8000 + 19 * 1024, 0xF3}},
                  {{0x8000, 3 * 32}},
                  {{0x0000, 1 * 8}, {0x1C00, 1 * 8 + 7}}},
        BoardCase{"color_dreams_conflict",
                  11,
                  128 * 1024,
                  64 * 1024,
                  0,
                  {{0x8000 + 2 * 1024, 0xFF}},
                  {{0x8000, 2 * 32}},
                  {{0x0000, 0}}},
        BoardCase{"gxrom",
                  66,
                  128 * 1024,
                  32 * 1024,
                  0,
                  {{0x8000 + 17 * 1024, 0x33}},
                  {{0x8000, 32}},
                  {{0x0000, 8}}},
        BoardCase{
            "bnrom", 34, 128 * 1024, 8192, 0, {{0x8000 + 3 * 1024, 0x07}}, {{0x8000, 3 * 32}}, {}},
        BoardCase{"nina_001",
                  34,
                  64 * 1024,
                  64 * 1024,
                  0,
                  {{0x7FFD, 1}, {0x7FFE, 5}, {0x7FFF, 9}},
                  {{0x8000, 32}},
                  {{0x0000, 20}, {0x1000, 36}}},
        BoardCase{"nina_by_submapper", 34, 64 * 1024, 8192, 1, {{0x7FFD, 1}}, {{0x8000, 32}}, {}},
        BoardCase{"camerica",
                  71,
                  256 * 1024,
                  0,
                  0,
                  {{0xC000, 0x0B}, {0x8000, 0x10}},
                  {{0x8000, 11 * 16}, {0xC000, 15 * 16}},
                  {},
                  NES::MIRROR_HORIZONTAL},
        BoardCase{"camerica_bf9097",
                  71,
                  128 * 1024,
                  0,
                  0,
                  {{0x9000, 0x10}},
                  {{0xC000, 7 * 16}},
                  {},
                  UPPER},
        BoardCase{"camerica_submapper_1", 71, 128 * 1024, 0, 1, {{0x8000, 0x00}}, {}, {}, LOWER},
        // R6 = 5 and R7 = 9 (the second at a mirror, $9FFE/$9FFF); R0 = 7 (low bit
        // dropped), R5 = 33; $C000 and $E000 keep the last two 8 KiB.
        BoardCase{"namco108",
                  206,
                  128 * 1024,
                  64 * 1024,
                  0,
                  {{0x8000, 6},
                   {0x8001, 5},
                   {0x9FFE, 7},
                   {0x9FFF, 9},
                   {0x8000, 0},
                   {0x8001, 7},
                   {0x8000, 5},
                   {0x8001, 33},
                   {0xA000, 0xFF}},
                  {{0x8000, 40}, {0xA000, 72}, {0xC000, 112}, {0xE000, 120}},
                  {{0x0000, 6}, {0x0400, 7}, {0x1C00, 33}},
                  NES::MIRROR_HORIZONTAL},
        // MMC2 and MMC4: PRG bank 5 (bits 4-7 dropped), CHR banks 3/9 at $0000 and 21/30
        // at $1000 for latches $FD/$FE, which start at $FE; PPU reads then set latch 0 to
        // $FD ($0FD8) and latch 1 to $FD ($1FDF), and only MMC4 takes $0FE9 (the second
        // row of marker $FE) for latch 0.
        BoardCase{
            "mmc2",
            9,
            128 * 1024,
            128 * 1024,
            0,
            {{0xA000, 0xF5}, {0xB000, 3}, {0xC000, 0xE9}, {0xD000, 21}, {0xE000, 30}, {0xF000, 0}},
            {{0x8000, 40}, {0x9C00, 47}, {0xA000, 104}, {0xFC00, 127}},
            {{0x0000, 12}, {0x0C00, 15}, {0x1000, 84}, {0x1C00, 87}},
            NES::MIRROR_VERTICAL,
            0,
            {0x0FD8, 0x1FDF, 0x0FE9}},
        BoardCase{"mmc4",
                  10,
                  256 * 1024,
                  128 * 1024,
                  0,
                  {{0xA000, 0xF5},
                   {0xB000, 3},
                   {0xC000, 0xE9},
                   {0xD000, 21},
                   {0xE000, 30},
                   {0xF000, 0},
                   {0xF000, 3}},
                  {{0x8000, 80}, {0xBC00, 95}, {0xC000, 240}, {0xFC00, 255}},
                  {{0x0000, 36}, {0x0C00, 39}, {0x1000, 84}, {0x1C00, 87}},
                  NES::MIRROR_HORIZONTAL,
                  0,
                  {0x0FD8, 0x1FDF, 0x0FE9}},
        // $B5 AND the ROM byte $FF (unit 511): M, CHR bank 1, PRG bank 21; one-screen
        // wiring (flags 6 bits 3 and 0).
        BoardCase{"unrom512",
                  30,
                  512 * 1024,
                  0,
                  0,
                  {{0xFC00, 0xB5}},
                  {{0x8000, 21 * 16}, {0xC000, 31 * 16}},
                  {},
                  UPPER,
                  0x09},
        // Mode $31 (32 KiB banks, a 256 KiB span, the upper screen), outer bank 5, inner
        // bank $1A and CHR bank $12 (D4 keeping the upper screen): 32 KiB bank 2.
        BoardCase{"action53",
                  28,
                  512 * 1024,
                  0,
                  0,
                  {{0x5000, 0x80},
                   {0x8000, 0x31},
                   {0x5000, 0x81},
                   {0x8000, 5},
                   {0x5000, 0x01},
                   {0x8000, 0x1A},
                   {0x5000, 0x00},
                   {0x8000, 0x12}},
                  {{0x8000, 64}, {0xC000, 80}},
                  {},
                  UPPER},
        // Commands (at $8000) and parameters (at $A000): PRG 5, 17 and 30 at $8000-$C000,
        // ROM bank 3 at $6000, CHR $C5 at $0000 and $3A at $1C00, one-screen upper.
        BoardCase{"sunsoft_fme7",
                  69,
                  256 * 1024,
                  256 * 1024,
                  0,
                  {{0x8000, 9},
                   {0xA000, 5},
                   {0x8000, 10},
                   {0xA000, 17},
                   {0x8000, 11},
                   {0xA000, 30},
                   {0x8000, 8},
                   {0xA000, 3},
                   {0x8000, 0},
                   {0xA000, 0xC5},
                   {0x8000, 7},
                   {0xA000, 0x3A},
                   {0x8000, 12},
                   {0xA000, 3}},
                  {{0x6000, 24}, {0x8000, 40}, {0xA000, 136}, {0xC000, 240}, {0xE000, 248}},
                  {{0x0000, 0xC5}, {0x1C00, 0x3A}},
                  UPPER},
        // PRG ROM banks 5 and 17 at $8000 and $A000, 1 KiB CHR banks $C5 and $3A, and the
        // nametables on page 0, page 1, ExRAM and the fill page (which keeps its fill).
        BoardCase{"mmc5",
                  5,
                  256 * 1024,
                  256 * 1024,
                  0,
                  {{0x5100, 3},
                   {0x5114, 0x85},
                   {0x5115, 0x91},
                   {0x5101, 3},
                   {0x5120, 0xC5},
                   {0x5127, 0x3A},
                   {0x5106, 0x37},
                   {0x5105, 0xE4}},
                  {{0x8000, 40}, {0xA000, 136}, {0xC000, 248}, {0xE000, 248}},
                  {{0x0000, 0xC5}, {0x1C00, 0x3A}},
                  NES::MIRROR_BOARD_PAGES}),
    [](testing::TestParamInfo<BoardCase> const& info) { return std::string(info.param.name); });

// While the FME-7 shows ROM at $6000, its RAM waits aside: a save-state record, a snapshot
// and the battery file all hold the RAM, and it comes back when the RAM is shown again.
// The IRQ counter's value and mode come back from the record too.
TEST(SunsoftFme7, KeepsItsRamWhileRomIsShown) {
    test::TempHome home;
    constexpr uint8_t BATTERY = 0x02;
    std::vector<unsigned char> const image =
        mapper_test::tagged_image(69, 128 * 1024, 8192, BATTERY);
    auto nes = mapper_test::console(home, image);
    auto command = [](NESUnit& n, uint8_t number, uint8_t value) {
        mapper_test::poke(n, 0x8000, number);
        mapper_test::poke(n, 0xA000, value);
    };
    mapper_test::poke(*nes, 0x6000, 0x5A);
    mapper_test::poke(*nes, 0x7FFF, 0xA5);
    command(*nes, 14, 0x34);
    command(*nes, 15, 0x12);
    command(*nes, 13, 0x01);
    command(*nes, 8, 3);
    mapper_test::poke(*nes, 0x6000, 0xFF); // ROM keeps its byte
    ASSERT_EQ(unit_at(nes->cpu->memory, 0x6000), 24);

    auto ram_comes_back = [&](NESUnit& n, char const* how) {
        EXPECT_EQ(unit_at(n.cpu->memory, 0x6000), 24) << how;
        command(n, 8, 0xC0);
        EXPECT_EQ(uint8_t(n.cpu->memory[0x6000]), 0x5A) << how;
        EXPECT_EQ(uint8_t(n.cpu->memory[0x7FFF]), 0xA5) << how;
    };
    std::vector<unsigned char> record(nes->cpu->state_size());
    nes->cpu->save_state(record.data());
    auto loaded = mapper_test::console(home, image);
    ASSERT_TRUE(loaded->cpu->load_state(record.data(), record.size()));
    auto const& board = static_cast<NES::SunsoftFME7 const&>(*loaded->rom->mapper);
    EXPECT_EQ(board.counter, 0x1234);
    EXPECT_TRUE(board.irq_enabled && !board.counting);
    ram_comes_back(*loaded, "state record");

    std::vector<unsigned char> const snapshot = nes->take_snapshot(nullptr, false);
    auto restored = mapper_test::console(home, image);
    ASSERT_EQ(restored->restore_snapshot(snapshot.data(), snapshot.size()),
              NESUnit::SnapshotVerdict::restored);
    ram_comes_back(*restored, "snapshot");

    nes->write_battery_ram();
    auto reloaded = mapper_test::console(home, image);
    EXPECT_EQ(uint8_t(reloaded->cpu->memory[0x6000]), 0x5A) << "battery file";
    EXPECT_EQ(uint8_t(reloaded->cpu->memory[0x7FFF]), 0xA5) << "battery file";
}

// The MMC5's 64 KiB of RAM: the pages not shown stay in the board, and its battery file
// holds them all, so a page written, hidden and saved comes back in the next console.
TEST(Mmc5, KeepsEveryRamPageInItsBatteryFile) {
    test::TempHome home;
    constexpr uint8_t BATTERY = 0x02;
    std::vector<unsigned char> const image =
        mapper_test::tagged_image(5, 128 * 1024, 8192, BATTERY);
    auto nes = mapper_test::console(home, image);
    mapper_test::poke(*nes, 0x5102, 2); // the write keys
    mapper_test::poke(*nes, 0x5103, 1);
    for (uint8_t page = 0; page < 8; ++page) {
        mapper_test::poke(*nes, 0x5113, page);
        mapper_test::poke(*nes, 0x7FFF, uint8_t(0x90 + page));
    }
    mapper_test::poke(*nes, 0x5113, 0);
    nes->write_battery_ram();
    auto reloaded = mapper_test::console(home, image);
    for (uint8_t page = 0; page < 8; ++page) {
        mapper_test::poke(*reloaded, 0x5113, page);
        EXPECT_EQ(uint8_t(reloaded->cpu->memory[0x7FFF]), 0x90 + page) << "page " << int(page);
    }
}

} // namespace
