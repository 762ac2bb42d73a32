// The CPU core: construction, reset, the instruction step, interrupts, flags and stack.
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

class CpuTest : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes =
        test::console(home.path(), test::Image().vectors(0x9000, 0x8000, 0xA000));
    NES::CPU& cpu = *nes->cpu;

    void step(int instructions = 1) {
        for (int i = 0; i < instructions; ++i)
            cpu.clock();
    }
    int pc() const { return int(cpu.get_addr(cpu.PC)); }
};

TEST(CpuConstruction, RegistersStartAsThePowerOnState) {
    NES::CPU cpu;
    EXPECT_EQ(cpu.SP, 0xFF);
    EXPECT_EQ(cpu.P, 0x24);
    EXPECT_EQ(cpu.A | cpu.X | cpu.Y, 0);
    EXPECT_EQ(cpu.cycles.load(), 0);
    EXPECT_EQ(cpu.clock_speed, 1789773);
    EXPECT_FALSE(cpu.debug);
}

TEST_F(CpuTest, ResetLoadsTheVectorThroughThe16KFoldAndKeepsRegisters) {
    cpu.A = 1, cpu.X = 2, cpu.Y = 3, cpu.SP = 0x80, cpu.P = 0xC1;
    cpu.memory[0x0042] = 9;
    cpu.cycles = 1234;
    cpu.reset();
    EXPECT_EQ(pc(), 0x8000); // read from $BFFC/$BFFD of the 16 KiB image
    EXPECT_EQ(cpu.cycles.load(), 0);
    EXPECT_EQ(nes->ppu->dot_count, 0u);
    EXPECT_EQ(cpu.A, 1);
    EXPECT_EQ(cpu.X, 2);
    EXPECT_EQ(cpu.Y, 3);
    EXPECT_EQ(cpu.SP, 0x80);
    EXPECT_EQ(cpu.P, 0xC1);
    EXPECT_EQ(cpu.memory[0x0042], 9);
}

TEST_F(CpuTest, OneByteInstructionAtFFFFContinuesAtZero) {
    cpu.memory[0xBFFF] = static_cast<signed char>(0xE8); // INX, seen at $FFFF through the fold
    cpu.PC = cpu.at(0xFFFF);
    step();
    EXPECT_EQ(pc(), 0x0000);
    EXPECT_EQ(cpu.X, 1);
}

TEST_F(CpuTest, NmiIsEnteredAtTheEndOfTheSecondInstructionAfterTheFlagRises) {
    test::load_program(cpu, 0x0200, {0xEA, 0xEA, 0xEA, 0xEA});
    cpu.memory[0x2000] = static_cast<signed char>(0x80);
    nes->ppu->nmi_occurred = true;
    step(); // takes the sample
    EXPECT_EQ(pc(), 0x0201);
    step(); // sees the edge and enters the handler
    EXPECT_EQ(pc(), 0x9000);
    EXPECT_EQ(cpu.SP, 0xFC);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FF]), 0x02);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FE]), 0x02);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FD]), 0x24);
    EXPECT_TRUE(cpu.get_flag('I'));
    test::load_program(cpu, 0x0300, {0xEA, 0xEA, 0xEA});
    step(3);
    EXPECT_EQ(pc(), 0x0303) << "no second NMI while the line stays high";
}

TEST_F(CpuTest, EnablingNmiDuringVerticalBlankRaisesOneAfterTheNextInstruction) {
    test::load_program(cpu, 0x0200, {0xA9, 0x80, 0x8D, 0x00, 0x20, 0xEA, 0xEA});
    nes->ppu->nmi_occurred = true;
    step(2); // LDA, STA $2000
    EXPECT_EQ(pc(), 0x0205);
    step(); // NOP: the line is sampled high now
    EXPECT_EQ(pc(), 0x9000);
}

TEST_F(CpuTest, InterruptEntryTakesNoCycles) {
    test::load_program(cpu, 0x0200, {0xEA});
    cpu.P = 0x20;
    cpu.irq_pending = true;
    int64_t const before = cpu.cycles;
    step();
    EXPECT_EQ(pc(), 0xA000);
    EXPECT_EQ(cpu.cycles - before, 2);
    EXPECT_FALSE(cpu.irq_pending);
}

TEST_F(CpuTest, IrqWaitsForTheFirstInstructionThatLeavesIClear) {
    test::load_program(cpu, 0x0200, {0xEA, 0x58, 0xEA});
    cpu.P = 0x24;
    cpu.irq_pending = true;
    step();
    EXPECT_EQ(pc(), 0x0201);
    EXPECT_TRUE(cpu.irq_pending);
    step(); // CLI
    EXPECT_EQ(pc(), 0xA000);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FD]), 0x20) << "P pushed with I clear";
}

TEST_F(CpuTest, RtiRestoringIClearLetsAPendingIrqIn) {
    // Stack holds P = $00 and return address $0300.
    cpu.SP = 0xFC;
    cpu.memory[0x1FD] = 0x00;
    cpu.memory[0x1FE] = 0x00;
    cpu.memory[0x1FF] = 0x03;
    test::load_program(cpu, 0x0200, {0x40});
    cpu.P = 0x24;
    cpu.irq_pending = true;
    step();
    EXPECT_EQ(pc(), 0xA000);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FE]), 0x00);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FF]), 0x03);
}

TEST_F(CpuTest, AfterBrkInterruptsPushPWithBSet) {
    test::load_program(cpu, 0x0200, {0x00, 0x00});
    cpu.P = 0x20;
    step(); // BRK goes to the IRQ vector
    EXPECT_EQ(pc(), 0xA000);
    EXPECT_TRUE(cpu.get_flag('B'));
    cpu.memory[0x2000] = static_cast<signed char>(0x80);
    nes->ppu->nmi_occurred = true;
    test::load_program(cpu, 0x0300, {0xEA, 0xEA});
    step(2);
    EXPECT_EQ(pc(), 0x9000);
    EXPECT_EQ(uint8_t(cpu.memory[0x100 + uint8_t(cpu.SP + 1)]) & 0x10, 0x10);
}

TEST(CpuFlags, UnknownLettersReadFalseAndChangeNothing) {
    NES::CPU cpu;
    cpu.P = 0xFF;
    EXPECT_FALSE(cpu.get_flag('E'));
    cpu.set_flag('E', false);
    EXPECT_EQ(cpu.P, 0xFF);
    cpu.set_flag('C', false);
    cpu.set_flag('N', false);
    EXPECT_EQ(cpu.P, 0x7E);
    EXPECT_TRUE(cpu.get_flag('V'));
}

TEST(CpuStack, WrapsInsidePageOne) {
    NES::CPU cpu;
    cpu.SP = 0x00;
    cpu.stack_push(0x5A);
    EXPECT_EQ(cpu.memory[0x100], 0x5A);
    EXPECT_EQ(cpu.SP, 0xFF);
    EXPECT_EQ(cpu.stack_pull(), 0x5A);
    EXPECT_EQ(cpu.SP, 0x00);
}

TEST(CpuClockSpeed, MeasuresCyclesPerSecond) {
    NES::CPU cpu;
    EXPECT_EQ(cpu.emulated_clock_speed(0), 0);
    EXPECT_EQ(cpu.emulated_clock_speed(1000), 0) << "no cycles yet";
    cpu.cycles = 1789773;
    EXPECT_EQ(cpu.emulated_clock_speed(1000000000), 1789773);
}

} // namespace
