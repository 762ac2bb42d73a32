// The CPU bus: mirror folding, register routing, controller ports and OAM DMA.
#include <gtest/gtest.h>

#include "cartridge/mapper.hpp"
#include "test_support.hpp"

namespace {

class Bus : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes = test::console(home.path(), image());
    NES::CPU& cpu = *nes->cpu;

    static test::Image image() {
        test::Image im;
        im.at(0x8123, {0x99});
        return im;
    }
    uint8_t read(uint16_t addr) { return cpu.read(cpu.at(addr), true); }
    void write(uint16_t addr, uint8_t value) {
        cpu.write(cpu.at(addr), static_cast<signed char>(value));
    }
};

TEST_F(Bus, RamMirrorsFoldOntoTheFirst2K) {
    write(0x0801, 0x55);
    for (uint16_t a : {0x0001, 0x1001, 0x1801})
        EXPECT_EQ(read(a), 0x55) << std::hex << a;
    EXPECT_EQ(cpu.memory[0x0801], 0);
}

TEST_F(Bus, PpuRegisterMirrorsActLikeTheRegister) {
    write(0x3FF8, 0x03); // PPUCTRL: nametable bits into t
    EXPECT_EQ(uint8_t(cpu.memory[0x2000]), 0x03);
    EXPECT_EQ(nes->ppu->t & 0x0C00, 0x0C00);
}

TEST_F(Bus, SixteenKilobyteNromAppearsTwice) {
    EXPECT_EQ(read(0xC123), 0x99);
    EXPECT_EQ(read(0x8123), 0x99);
}

TEST(BusFold, ThirtyTwoKilobyteNromIsNotFolded) {
    test::TempHome home;
    test::Image im;
    im.prg_banks = 2;
    im.prg.resize(32768);
    im.prg[0x4123] = 0x77;
    im.prg[0x0123] = 0x11;
    auto nes = test::console(home.path(), im);
    EXPECT_EQ(nes->cpu->read(nes->cpu->at(0xC123), true), 0x77);
}

struct RecordingMapper : NES::Mapper {
    RecordingMapper() : Mapper(0) {}
    int writes = 0;
    int64_t last_addr = -1;
    void map_write(void** args, signed char* addr, signed char* value) override {
        ++writes;
        last_addr = addr - static_cast<NES::CPU*>(args[0])->memory;
        *value = 0x42; // boards may replace the byte that gets stored
    }
};

TEST_F(Bus, MapperSeesEveryWriteAfterFoldingAndMayReplaceTheByte) {
    auto recorder = std::make_unique<RecordingMapper>();
    RecordingMapper* seen = recorder.get();
    nes->rom->mapper = std::move(recorder);
    nes->ppu->mapper = nes->rom->mapper.get(); // the PPU holds the board too
    uint8_t const before = uint8_t(cpu.memory[0x8000]);
    write(0x8000, 0x12);
    EXPECT_EQ(seen->writes, 1);
    EXPECT_EQ(uint8_t(cpu.memory[0x8000]), before) << "ROM is never stored into";
    write(0x0805, 0x12);
    EXPECT_EQ(seen->last_addr, 0x0005);
    EXPECT_EQ(cpu.memory[0x0005], 0x42);
}

TEST_F(Bus, RegisterBytesKeepTheLastWriteExceptPpuStatus) {
    cpu.memory[0x2002] = static_cast<signed char>(0x80);
    write(0x2002, 0x00);
    EXPECT_EQ(uint8_t(cpu.memory[0x2002]), 0x80);
    write(0x4000, 0x3F);
    EXPECT_EQ(read(0x4000), 0x3F);
    write(0x4014, 0x02);
    EXPECT_EQ(read(0x4014), 0x02);
    write(0x2006, 0x21);
    EXPECT_EQ(read(0x2006), 0x21);
}

TEST_F(Bus, ControllerShiftsButtonsOutInReportOrder) {
    bool buttons[8] = {true, false, false, true, false, false, false, false};
    nes->controller1.update_inputs(buttons);
    write(0x4016, 1);
    write(0x4016, 0);
    uint8_t const expected[9] = {0x41, 0x40, 0x40, 0x41, 0x40, 0x40, 0x40, 0x40, 0x41};
    for (uint8_t e : expected)
        EXPECT_EQ(read(0x4016), e);
}

TEST_F(Bus, StrobeHeldHighKeepsReportingTheFirstLatchedButton) {
    bool a_only[8] = {true, false, false, false, false, false, false, false};
    nes->controller1.update_inputs(a_only);
    write(0x4016, 1);
    bool others[8] = {false, true, true, true, true, true, true, true};
    nes->controller1.update_inputs(others);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(read(0x4016), 0x41);
}

TEST_F(Bus, EmptyPortReadsReleasedThenOnes) {
    cpu.set_controller(nullptr, 1);
    write(0x4016, 1);
    write(0x4016, 0);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(read(0x4017), 0x40);
    EXPECT_EQ(read(0x4017), 0x41);
}

TEST_F(Bus, SecondPortReadsItsOwnController) {
    NES::Controller pad;
    bool right[8] = {false, false, false, false, false, false, false, true};
    pad.update_inputs(right);
    nes->setController(pad, 1);
    write(0x4016, 1);
    write(0x4016, 0);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(read(0x4017), 0x40);
    EXPECT_EQ(read(0x4017), 0x41);
    EXPECT_EQ(read(0x4016), 0x40) << "port 0 still reads the built-in pad";
}

TEST_F(Bus, OamDmaCopiesAPageMaskingAttributeBytes) {
    for (int i = 0; i < 256; ++i)
        cpu.memory[0x0200 + i] = static_cast<signed char>(0xFF - i);
    int64_t const cycles = cpu.cycles;
    nes->ppu->oam_addr = 4;
    write(0x4014, 0x02);
    NES::PPU& ppu = *nes->ppu;
    EXPECT_EQ(ppu.oam[4], 0xFF);        // from $0200
    EXPECT_EQ(ppu.oam[2], 0x01 & 0xE3); // from $02FE, an attribute byte
    EXPECT_EQ(ppu.oam[6], (0xFF - 2) & 0xE3);
    EXPECT_EQ(ppu.oam_addr, 4);
    EXPECT_EQ(cpu.cycles.load(), cycles);
}

TEST_F(Bus, OamDmaFromThePpuPageReadsRegistersWithTheirEffects) {
    NES::PPU& ppu = *nes->ppu;
    ppu.v = 0x2000;
    write(0x4014, 0x20);
    // 256 reads of $2000-$2007 repeated: 32 of them were PPUDATA reads.
    EXPECT_EQ(ppu.v, 0x2000 + 32);
}

} // namespace
