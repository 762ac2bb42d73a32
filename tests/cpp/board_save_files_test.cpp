// Save-state files keep the board: on every board and in both modes, a program sets
// modes, banks, mirroring and RAM other than the power-on ones, saves, and a fresh
// console of the same cartridge loads the file. The program's next writes must then map
// exactly as on the console that saved: both memory images, the nametable arrangement
// and the state each would save again are the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "cartridge/mappers/ntdec2722.hpp"
#include "cartridge/rom.hpp"
#include "mapper_cartridge.hpp"

namespace {

struct Poke {
    uint16_t addr;
    uint8_t value;
};
using Program = std::vector<Poke>;

struct BoardFile {
    char const* name;
    uint32_t mapper;
    int prg_bytes, chr_bytes; // no CHR bytes: CHR RAM
    uint8_t flags6;
    Program before_save;
    Program after_load;
    // PPU addresses read through PPUDATA after each part (what the MMC2's and MMC4's
    // latches follow).
    std::vector<uint16_t> reads_before = {}, reads_after = {};
    // Board state no write reaches without the PPU running (a timer's count).
    std::function<void(NES::Mapper&)> runs = nullptr;
};

void PrintTo(BoardFile const& board, std::ostream* out) {
    *out << board.name;
}

// MMC1's five serial writes of a 5-bit value, bit 0 first.
Program mmc1(uint16_t addr, uint8_t value, int bits = 5) {
    Program out;
    for (int i = 0; i < bits; ++i)
        out.push_back({addr, uint8_t((value >> i) & 1)});
    return out;
}

Program join(std::initializer_list<Program> parts) {
    Program out;
    for (Program const& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A byte into PPU memory through PPUADDR and PPUDATA.
Program ppu_write(uint16_t addr, uint8_t value) {
    return {{0x2006, uint8_t(addr >> 8)}, {0x2006, uint8_t(addr)}, {0x2007, value}};
}

// A byte into each nametable, so that the arrangement shows in the PPU image.
Program mark_nametables(uint8_t base) {
    Program out;
    for (int table = 0; table < 4; ++table) {
        Program const one =
            ppu_write(uint16_t(0x2000 + 0x400 * table + 0x21), uint8_t(base + table));
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

void run(NESUnit& nes, Program const& program, std::vector<uint16_t> const& reads) {
    for (Poke const& poke : program)
        mapper_test::poke(nes, poke.addr, poke.value);
    for (uint16_t addr : reads)
        mapper_test::ppu_read(nes, addr);
}

std::vector<unsigned char> state_of(NESUnit& nes) {
    std::vector<unsigned char> record(nes.cpu->state_size());
    nes.cpu->save_state(record.data());
    return record;
}

class BoardFiles : public testing::TestWithParam<std::tuple<BoardFile, NES::Accuracy>> {};

TEST_P(BoardFiles, MapTheNextWritesAsTheConsoleThatSaved) {
    auto const& [board, accuracy] = GetParam();
    test::TempHome home;
    std::vector<unsigned char> const image =
        mapper_test::tagged_image(board.mapper, board.prg_bytes, board.chr_bytes, board.flags6);
    auto saver = mapper_test::console(home, image, accuracy);
    run(*saver, join({board.before_save, mark_nametables(0xA0)}), board.reads_before);
    if (board.runs) board.runs(*saver->rom->mapper);
    saver->save(1);

    auto loader = mapper_test::console(home, image, accuracy);
    ASSERT_TRUE(loader->load(1));
    for (NESUnit* nes : {saver.get(), loader.get()})
        run(*nes, join({board.after_load, mark_nametables(0xB0)}), board.reads_after);

    EXPECT_EQ(0, std::memcmp(saver->cpu->memory, loader->cpu->memory, 0x10000)) << "CPU image";
    for (int page = 0; page < 0x4000; page += 0x400)
        EXPECT_EQ(0, std::memcmp(saver->ppu->memory + page, loader->ppu->memory + page, 0x400))
            << "PPU image at $" << std::hex << page;
    EXPECT_EQ(saver->ppu->mirroring, loader->ppu->mirroring);
    EXPECT_EQ(0, std::memcmp(saver->ppu->nametable_page, loader->ppu->nametable_page,
                             sizeof saver->ppu->nametable_page));
    EXPECT_EQ(state_of(*saver), state_of(*loader)) << "the state each would save";

    // The file as earlier versions wrote it, without the extension and the trailer,
    // still loads its memory images and first record bytes.
    std::ifstream in(saver->state_path(1), std::ios::binary);
    std::vector<unsigned char> old{std::istreambuf_iterator<char>(in), {}};
    constexpr size_t RECORD = NES::CPU::STATE_SIZE - 256;
    old.resize(NES::CPU::STATE_SIZE);
    std::fill(old.begin() + RECORD + 64, old.end(), 0);
    auto old_loader = mapper_test::console(home, image, accuracy);
    ASSERT_TRUE(old_loader->cpu->load_state(old.data(), old.size()));
    std::vector<unsigned char> const again = state_of(*old_loader);
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + RECORD + 64, again.begin()));
}

std::string file_name(testing::TestParamInfo<BoardFiles::ParamType> const& info) {
    bool const hardware = std::get<1>(info.param) == NES::Accuracy::hardware;
    return std::string(std::get<0>(info.param).name) + (hardware ? "_hardware" : "_fast");
}

constexpr uint8_t VERTICAL = 0x01, ONE_SCREEN_UNROM512 = 0x09;
constexpr int K = 1024;

// One line per board and part where it fits: a table, laid out by hand.
// clang-format off
std::vector<BoardFile> boards() {
    return {
        {"nrom", 0, 32 * K, 8 * K, VERTICAL, {}, {}},
        // CHR in 4 KiB mode, one 32 KiB PRG bank, vertical; the serial port half full.
        {"mmc1", 1, 256 * K, 128 * K, 0,
         join({mmc1(0x8000, 0x12), mmc1(0xA000, 5), mmc1(0xC000, 9), mmc1(0xE000, 2),
               mmc1(0xE000, 0x06, 2)}),
         join({mmc1(0xE000, 0x01, 3), mmc1(0xC000, 3), mmc1(0xA000, 7), mmc1(0x8000, 0x1B),
               mmc1(0xE000, 4)})},
        {"uxrom", 2, 256 * K, 8 * K, 0, {{0x8000, 5}}, {{0x8000, 3}}},
        {"cnrom", 3, 32 * K, 32 * K, 0, {{0x8000, 2}}, {{0x8000, 1}}},
        // PRG mode 1 and CHR inversion, horizontal on a vertical header, R7 selected.
        {"mmc3", 4, 256 * K, 128 * K, VERTICAL,
         {{0x8000, 0xC6}, {0x8001, 3}, {0x8000, 0xC2}, {0x8001, 9}, {0xA000, 1}, {0xC000, 5},
          {0xC001, 0}, {0xE001, 0}, {0xA001, 0x80}, {0x8000, 0xC7}},
         {{0x8001, 4}, {0x8000, 0xC3}, {0x8001, 11}, {0x8000, 0x06}, {0x8001, 12}}},
        // PRG mode 1, CHR mode 1, RAM pages 3 and 5 written and page 3 shown, ExRAM as
        // plain RAM, its own nametable pages and fill.
        {"mmc5", 5, 256 * K, 128 * K, 0,
         {{0x5100, 1}, {0x5101, 1}, {0x5102, 2}, {0x5103, 1}, {0x5113, 5}, {0x6000, 0x66},
          {0x5113, 3}, {0x6000, 0x55}, {0x5104, 2}, {0x5C00, 0x77}, {0x5105, 0x44},
          {0x5106, 0x12}, {0x5107, 2}, {0x5115, 0x83}, {0x5120, 9}, {0x5124, 11}},
         {{0x5113, 5}, {0x6001, 0x67}, {0x5117, 0x81}, {0x5127, 3}, {0x5104, 0}, {0x5105, 0x1B}}},
        {"axrom", 7, 256 * K, 0, 0, {{0x8000, 0x15}}, {{0x8000, 0x02}}},
        {"mmc2", 9, 128 * K, 128 * K, 0,
         {{0xA000, 5}, {0xB000, 3}, {0xC000, 9}, {0xD000, 21}, {0xE000, 30}, {0xF000, 1}},
         {{0xB000, 8}, {0xC000, 10}, {0xD000, 12}, {0xE000, 11}, {0xA000, 2}, {0xF000, 0}},
         {0x0FD8, 0x1FDF}, {0x1FE8}},
        {"mmc4", 10, 256 * K, 128 * K, 0,
         {{0xA000, 5}, {0xB000, 3}, {0xC000, 9}, {0xD000, 21}, {0xE000, 30}, {0xF000, 1}},
         {{0xB000, 8}, {0xC000, 10}, {0xD000, 12}, {0xE000, 11}, {0xA000, 2}, {0xF000, 0}},
         {0x0FD8, 0x1FDF}, {0x0FE9}},
        // Bus conflicts: each latch value is written where the ROM holds it.
        {"color_dreams", 11, 128 * K, 64 * K, 0, {{0x8000 + 19 * K, 0xF3}}, {{0x8000 + 1 * K, 0x61}}},
        // CHR RAM bank 1 written, then bank 2 shown; one-screen upper, outer bank 5.
        {"action53", 28, 512 * K, 0, 0,
         join({{{0x5000, 0x00}, {0x8000, 0x01}}, ppu_write(0x0010, 0xB1),
               {{0x5000, 0x00}, {0x8000, 0x02}}, ppu_write(0x0010, 0xB2),
               {{0x5000, 0x80}, {0x8000, 0x31}, {0x5000, 0x81}, {0x8000, 5}, {0x5000, 0x01},
                {0x8000, 0x1A}}}),
         {{0x8000, 0x03}, {0x5000, 0x00}, {0x8000, 0x01}}},
        {"unrom512", 30, 512 * K, 0, ONE_SCREEN_UNROM512,
         join({{{0xFC00, 0x20}}, ppu_write(0x0010, 0xC1), {{0xFC00, 0xC5}}, ppu_write(0x0010, 0xC2)}),
         {{0xFC00, 0x21}}},
        {"bnrom", 34, 128 * K, 8 * K, 0, {{0x8000 + 3 * K, 0x07}}, {{0x8000 + 1 * K, 0x61}}},
        {"nina_001", 34, 64 * K, 64 * K, 0, {{0x7FFD, 1}, {0x7FFE, 5}, {0x7FFF, 9}},
         {{0x7FFE, 2}, {0x7FFD, 0}}},
        // The timer stopped part-way through a period.
        {"ntdec2722", 40, 128 * K, 8 * K, 0, {{0xE000, 2}}, {{0xA000, 0}, {0xE000, 1}}, {}, {},
         [](NES::Mapper& board) {
             auto& timer = static_cast<NES::NTDEC2722&>(board);
             timer.irq_counter = 1234;
             timer.irq_enable = false;
         }},
        {"gxrom", 66, 128 * K, 32 * K, 0, {{0x8000 + 17 * K, 0x33}}, {{0x8000, 0x20}}},
        // CHR banks, ROM at $6000 with the RAM written and put aside, one-screen upper,
        // the counter loaded and counting; command 9 selected.
        {"sunsoft_fme7", 69, 256 * K, 128 * K, 0,
         {{0x8000, 8}, {0xA000, 0xC0}, {0x6000, 0x5A}, {0x8000, 0}, {0xA000, 5}, {0x8000, 8},
          {0xA000, 3}, {0x8000, 0xC}, {0xA000, 3}, {0x8000, 0xE}, {0xA000, 0x34},
          {0x8000, 0xF}, {0xA000, 0x12}, {0x8000, 0xD}, {0xA000, 0x80}, {0x8000, 9}},
         {{0xA000, 4}, {0x8000, 8}, {0xA000, 0xC0}, {0x8000, 0xC}, {0xA000, 1}}},
        {"camerica_bf9097", 71, 256 * K, 0, 0, {{0xC000, 0x0B}, {0x9000, 0x10}},
         {{0x8000, 0x00}, {0xC000, 3}}},
        {"namco108", 206, 128 * K, 64 * K, 0,
         {{0x8000, 6}, {0x8001, 5}, {0x8000, 2}, {0x8001, 9}, {0x8000, 7}}, {{0x8001, 3}}},
    };
}
// clang-format on

INSTANTIATE_TEST_SUITE_P(EveryBoard, BoardFiles,
                         testing::Combine(testing::ValuesIn(boards()),
                                          testing::Values(NES::Accuracy::fast,
                                                          NES::Accuracy::hardware)),
                         file_name);

} // namespace
