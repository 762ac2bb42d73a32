// Save-state files: layout, round trips, and files that must be refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cartridge/mappers/mmc3.hpp"
#include "persistence/file_error.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;

namespace {

class SaveState : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes = test::console(home.path(), test::Image());
    NES::CPU& cpu = *nes->cpu;

    std::string slot_file(int slot) const { return nes->getSaveDir() + "/" + std::to_string(slot); }

    std::vector<char> bytes(int slot) const {
        std::ifstream in(slot_file(slot), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void write_bytes(int slot, std::vector<char> const& data) const {
        std::ofstream(slot_file(slot), std::ios::binary)
            .write(data.data(), std::streamsize(data.size()));
    }
};

TEST_F(SaveState, RoundTripRestoresRegistersAndBothMemoryImagesButNotOam) {
    cpu.A = 1, cpu.X = 2, cpu.Y = 3, cpu.SP = 0xF0, cpu.P = 0xE5;
    cpu.PC = cpu.at(0x1234);
    cpu.memory[0x0042] = 0x42;
    nes->ppu->memory[0x2000] = 0x20;
    nes->ppu->oam[5] = 0x55;
    nes->save(3);
    cpu.A = cpu.X = cpu.Y = 0;
    cpu.SP = 0xFF, cpu.P = 0x24;
    cpu.PC = cpu.at(0x8000);
    cpu.memory[0x0042] = 0;
    nes->ppu->memory[0x2000] = 0;
    nes->ppu->oam[5] = 0x66;
    ASSERT_TRUE(nes->load(3));
    EXPECT_EQ(cpu.A, 1);
    EXPECT_EQ(cpu.X, 2);
    EXPECT_EQ(cpu.Y, 3);
    EXPECT_EQ(cpu.SP, 0xF0);
    EXPECT_EQ(cpu.P, 0xE5);
    EXPECT_EQ(cpu.get_addr(cpu.PC), 0x1234);
    EXPECT_EQ(cpu.memory[0x0042], 0x42);
    EXPECT_EQ(nes->ppu->memory[0x2000], 0x20);
    EXPECT_EQ(nes->ppu->oam[5], 0x66);
}

TEST_F(SaveState, FileLayoutIsLittleEndianWithAZeroMapperRecord) {
    cpu.P = 0x24;
    cpu.A = 0xAA;
    cpu.PC = cpu.at(0xC123);
    cpu.memory[0x0000] = 0x77;
    nes->ppu->memory[0x3F00] = 0x0F;
    nes->save(-1);
    ASSERT_TRUE(fs::exists(nes->getSaveDir() + "/-1"));
    std::vector<char> file = bytes(-1);
    ASSERT_EQ(file.size(), 82189u);
    EXPECT_EQ(file[0], 0x24);
    EXPECT_EQ(uint8_t(file[1]), 0xAA);
    EXPECT_EQ(uint8_t(file[5]), 0x23);
    EXPECT_EQ(uint8_t(file[6]), 0xC1);
    for (int i = 7; i < 13; ++i)
        EXPECT_EQ(file[i], 0);
    EXPECT_EQ(file[13], 0x77);
    EXPECT_EQ(file[65549 + 0x3F00], 0x0F);
    for (size_t i = 81933; i < file.size(); ++i)
        ASSERT_EQ(file[i], 0) << i;
}

struct BadState {
    char const* what;
    size_t size;
    int64_t pc;
};

class RefusedStates : public SaveState, public ::testing::WithParamInterface<BadState> {};

TEST_P(RefusedStates, LeaveTheConsoleUnchanged) {
    nes->save(1);
    std::vector<char> file = bytes(1);
    for (int i = 0; i < 8; ++i)
        file[5 + i] = char(uint64_t(GetParam().pc) >> (8 * i));
    file.resize(GetParam().size, 0x11);
    write_bytes(1, file);
    cpu.A = 0x5A;
    cpu.memory[0x10] = 0x5A;
    EXPECT_FALSE(nes->load(1)) << GetParam().what;
    EXPECT_EQ(cpu.A, 0x5A);
    EXPECT_EQ(cpu.memory[0x10], 0x5A);
}

INSTANTIATE_TEST_SUITE_P(SaveState, RefusedStates,
                         ::testing::Values(BadState{"short", 82188, 0x8000},
                                           BadState{"long", 82190, 0x8000}, BadState{"empty", 0, 0},
                                           BadState{"PC past $FFFF", 82189, 0x10000},
                                           BadState{"negative PC", 82189, -1}));

TEST_F(SaveState, MissingSlotLoadsNothing) {
    EXPECT_FALSE(nes->load(9));
}

TEST_F(SaveState, AConsoleWithoutASaveFolderRefusesToSave) {
    testing::internal::CaptureStdout();
    NESUnit blank(1789773);
    testing::internal::GetCapturedStdout();
    EXPECT_THROW(blank.save(0), std::runtime_error);
    EXPECT_FALSE(fs::exists("/0")) << "a state in the file-system root";
    EXPECT_FALSE(blank.load(0));
}

TEST_F(SaveState, AFailedWriteKeepsNoPartialFile) {
    // A folder where the slot's file should be: the final rename fails.
    fs::create_directories(slot_file(4) + "/occupied");
    EXPECT_THROW(nes->save(4), NES::FileError);
    for (auto const& entry : fs::directory_iterator(nes->getSaveDir()))
        EXPECT_EQ(entry.path().filename().string().find("4."), std::string::npos) << entry.path();
    EXPECT_TRUE(fs::is_directory(slot_file(4) + "/occupied"));
}

TEST_F(SaveState, ANewSaveReplacesTheOldOneWhole) {
    cpu.A = 1;
    nes->save(2);
    cpu.A = 2;
    nes->save(2);
    cpu.A = 0;
    ASSERT_TRUE(nes->load(2));
    EXPECT_EQ(cpu.A, 2);
}

} // namespace

namespace {

// A UxROM image whose 16 KiB banks start with their own number.
test::Image uxrom_image() {
    test::Image im;
    im.flags6 = 0x20;
    im.prg_banks = 4;
    im.prg.assign(4 * 16384, 0);
    for (int bank = 0; bank < 4; ++bank)
        im.prg[size_t(bank) * 16384] = uint8_t(bank);
    return im;
}

TEST(MapperStates, UxromStateBringsItsBankBackOnAConsoleAtAnotherBank) {
    test::TempHome home;
    auto nes = test::console(home.path(), uxrom_image());
    NES::CPU& cpu = *nes->cpu;
    cpu.write(cpu.at(0x8000), 0x13); // bank 3
    cpu.memory[0x6000] = 0x66;
    nes->save(1);
    std::ifstream in(nes->getSaveDir() + "/1", std::ios::binary);
    std::vector<char> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(file[81933], 48) << "the record holds the bank as a 1 KiB index";

    auto other = test::console(home.path(), uxrom_image());
    other->cpu->write(other->cpu->at(0x8000), 0x00);
    ASSERT_TRUE(other->load(1));
    EXPECT_EQ(other->cpu->memory[0x8000], 3);
    EXPECT_EQ(other->cpu->prg_bank, 48);
    EXPECT_EQ(other->cpu->memory[0x6000], 0x66);
    other->cpu->write(other->cpu->at(0x8000), 0x01);
    EXPECT_EQ(other->cpu->memory[0x8000], 1) << "the board still switches after a load";
}

TEST(MapperStates, Mmc3CounterResumesFromTheSavedValue) {
    test::TempHome home;
    test::Image im;
    im.flags6 = 0x40;
    im.prg_banks = 2;
    auto nes = test::console(home.path(), im);
    auto& board = static_cast<NES::MMC3&>(*nes->rom->mapper);
    board.irq_counter = 17;
    nes->save(0);
    board.irq_counter = 3;
    ASSERT_TRUE(nes->load(0));
    EXPECT_EQ(board.irq_counter, 17);
}

} // namespace
