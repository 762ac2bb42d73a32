// The instruction set: arithmetic and flags, addressing corner cases, cycle counts with
// page crossings and branches, the stack operations and the extra opcode rows.
#include <gtest/gtest.h>

#include <vector>

#include "test_support.hpp"

namespace {

class Instructions : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes =
        test::console(home.path(), test::Image().vectors(0x9000, 0x8000, 0xA000));
    NES::CPU& cpu = *nes->cpu;

    // Runs one instruction at `addr` and returns the cycles it took.
    int64_t run_at(uint16_t addr, std::initializer_list<uint8_t> code) {
        test::load_program(cpu, addr, code);
        int64_t const before = cpu.cycles;
        cpu.clock();
        return cpu.cycles - before;
    }
    int64_t run(std::initializer_list<uint8_t> code) { return run_at(0x0200, code); }
    int pc() const { return int(cpu.get_addr(cpu.PC)); }
};

struct AluCase {
    uint8_t opcode, a, m;
    bool carry_in, decimal;
    uint8_t result;
    bool c, z, v, n;
};

class Arithmetic : public Instructions, public ::testing::WithParamInterface<AluCase> {};

TEST_P(Arithmetic, SetsResultAndFlags) {
    AluCase const k = GetParam();
    cpu.A = k.a;
    cpu.P = uint8_t(0x20 | (k.carry_in ? 1 : 0) | (k.decimal ? 8 : 0));
    run({k.opcode, k.m});
    EXPECT_EQ(cpu.A, k.result);
    EXPECT_EQ(cpu.get_flag('C'), k.c);
    EXPECT_EQ(cpu.get_flag('Z'), k.z);
    EXPECT_EQ(cpu.get_flag('V'), k.v);
    EXPECT_EQ(cpu.get_flag('N'), k.n);
}

INSTANTIATE_TEST_SUITE_P(
    AdcSbc, Arithmetic,
    ::testing::Values(AluCase{0x69, 0x50, 0x50, false, false, 0xA0, false, false, true, true},
                      AluCase{0x69, 0xFF, 0x01, false, false, 0x00, true, true, false, false},
                      AluCase{0x69, 0x80, 0x80, true, false, 0x01, true, false, true, false},
                      AluCase{0xE9, 0x00, 0x01, true, false, 0xFF, false, false, false, true},
                      AluCase{0xE9, 0x00, 0x01, true, true, 0xFF, false, false, false, true},
                      AluCase{0xE9, 0x80, 0x01, true, false, 0x7F, true, false, true, false},
                      AluCase{0xE9, 0x05, 0x05, false, false, 0xFF, false, false, false, true},
                      AluCase{0x69, 0x09, 0x01, false, true, 0x0A, false, false, false, false}));

TEST_F(Instructions, CompareSetsCarryZeroAndNegativeOfTheDifference) {
    cpu.A = 0x10;
    run({0xC9, 0x20});
    EXPECT_FALSE(cpu.get_flag('C'));
    EXPECT_FALSE(cpu.get_flag('Z'));
    EXPECT_TRUE(cpu.get_flag('N'));
    cpu.X = 0x20;
    run({0xE0, 0x20});
    EXPECT_TRUE(cpu.get_flag('C'));
    EXPECT_TRUE(cpu.get_flag('Z'));
}

TEST_F(Instructions, IndirectJumpWrapsInsideThePointersPage) {
    // $10FF and $1000 are RAM mirrors of $00FF and $0000.
    cpu.memory[0x00FF] = 0x34;
    cpu.memory[0x0000] = 0x12;
    cpu.memory[0x0100] = 0x56; // where a carry into the high byte would look
    run({0x6C, 0xFF, 0x10});
    EXPECT_EQ(pc(), 0x1234);
}

TEST_F(Instructions, ZeroPageIndexingWrapsInPageZero) {
    cpu.memory[0x0010] = 0x77;
    cpu.X = 0x20;
    run({0xB5, 0xF0}); // LDA $F0,X
    EXPECT_EQ(cpu.A, 0x77);
    cpu.memory[0x00FF] = 0x00;
    cpu.memory[0x0000] = 0x03;
    cpu.memory[0x0300] = 0x42;
    cpu.X = 0;
    run({0xA1, 0xFF}); // LDA ($FF,X): pointer from $00FF and $0000
    EXPECT_EQ(cpu.A, 0x42);
}

struct CycleCase {
    char const* what;
    std::vector<uint8_t> code;
    uint8_t x, y;
    int cycles;
};

class Cycles : public Instructions, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(Cycles, CountsTheTableAndPageCrossings) {
    CycleCase const& k = GetParam();
    cpu.X = k.x;
    cpu.Y = k.y;
    test::load_program(cpu, 0x0200, {});
    for (size_t i = 0; i < k.code.size(); ++i)
        cpu.memory[0x200 + i] = static_cast<signed char>(k.code[i]);
    int64_t const before = cpu.cycles;
    cpu.clock();
    EXPECT_EQ(cpu.cycles - before, k.cycles) << k.what;
}

INSTANTIATE_TEST_SUITE_P(
    PageCross, Cycles,
    ::testing::Values(CycleCase{"LDA abs,X crossing", {0xBD, 0xF0, 0x12}, 0x20, 0, 5},
                      CycleCase{"LDA abs,X same page", {0xBD, 0xF0, 0x12}, 0x0F, 0, 4},
                      CycleCase{"STA abs,X crossing", {0x9D, 0xF0, 0x12}, 0x20, 0, 5},
                      CycleCase{"STA abs,X same page", {0x9D, 0xF0, 0x12}, 0x0F, 0, 5},
                      CycleCase{"LDA (zp),Y crossing", {0xB1, 0xF0}, 0, 0x20, 6},
                      CycleCase{"LDA (zp),Y same page", {0xB1, 0xF0}, 0, 0x0F, 5},
                      CycleCase{"LDX abs,Y crossing", {0xBE, 0xFF, 0x03}, 0, 0x01, 5},
                      CycleCase{"LDY abs,X crossing", {0xBC, 0xFF, 0x03}, 0x01, 0, 5},
                      CycleCase{"ASL abs,X", {0x1E, 0xFF, 0x03}, 0x01, 0, 7},
                      CycleCase{"no-op abs,X crossing", {0x1C, 0xFF, 0x03}, 0x01, 0, 5},
                      CycleCase{"no-op without mode", {0xB3, 0xFF}, 0x01, 0x01, 5},
                      CycleCase{"BRK", {0x00}, 0, 0, 7}));

struct BranchCase {
    uint16_t at;
    uint8_t offset;
    bool taken;
    int cycles;
    uint16_t lands;
};

class Branches : public Instructions, public ::testing::WithParamInterface<BranchCase> {};

// The page test compares the branch opcode's own address with the target.
TEST_P(Branches, AddCyclesForTakingAndForChangingPage) {
    BranchCase const k = GetParam();
    cpu.P = k.taken ? 0x20 : 0x22; // BNE: taken when Z is clear
    EXPECT_EQ(run_at(k.at, {0xD0, k.offset}), k.cycles);
    EXPECT_EQ(pc(), k.lands);
}

INSTANTIATE_TEST_SUITE_P(Bne, Branches,
                         ::testing::Values(BranchCase{0x02FD, 0x10, true, 4, 0x030F},
                                           BranchCase{0x02F0, 0x0D, true, 3, 0x02FF},
                                           BranchCase{0x02FE, 0x00, true, 4, 0x0300},
                                           BranchCase{0x0250, 0xFE, true, 3, 0x0250},
                                           BranchCase{0x0200, 0x80, true, 4, 0x0182},
                                           BranchCase{0x02FD, 0x10, false, 2, 0x02FF}));

TEST_F(Instructions, BrkPushesReturnAddressAndPWithBAndLeavesI) {
    test::load_program(cpu, 0x0280, {0x00});
    cpu.P = 0x20;
    cpu.SP = 0xFF;
    cpu.clock();
    EXPECT_EQ(pc(), 0xA000);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FF]), 0x02);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FE]), 0x82);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FD]), 0x30);
    EXPECT_FALSE(cpu.get_flag('I'));
    EXPECT_EQ(cpu.P, 0x30);
}

TEST_F(Instructions, JsrAndRtsReturnAfterTheCall) {
    test::load_program(cpu, 0x0300, {0x60}); // RTS
    test::load_program(cpu, 0x0200, {0x20, 0x00, 0x03, 0xE8});
    EXPECT_EQ(run_at(0x0200, {0x20, 0x00, 0x03}), 6);
    EXPECT_EQ(pc(), 0x0300);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FF]), 0x02);
    EXPECT_EQ(uint8_t(cpu.memory[0x1FE]), 0x02);
    cpu.clock();
    EXPECT_EQ(pc(), 0x0203);
}

TEST_F(Instructions, PhpPushesBAndBit5AndPlpLoadsAllEightBits) {
    cpu.P = 0x01;
    run({0x08}); // PHP
    run({0x68}); // PLA
    EXPECT_EQ(cpu.A, 0x31);
    cpu.memory[0x1FF] = 0x00;
    cpu.SP = 0xFE;
    run({0x28}); // PLP
    EXPECT_EQ(cpu.P, 0x00);
    cpu.memory[0x1FD] = static_cast<signed char>(0xD3);
    cpu.memory[0x1FE] = 0x00;
    cpu.memory[0x1FF] = 0x04;
    cpu.SP = 0xFC;
    run({0x40}); // RTI
    EXPECT_EQ(cpu.P, 0xD3);
    EXPECT_EQ(pc(), 0x0400);
}

TEST_F(Instructions, AccumulatorShiftTouchesOnlyA) {
    cpu.A = 0x80;
    cpu.P = 0x20;
    run({0x0A});
    EXPECT_EQ(cpu.A, 0x00);
    EXPECT_TRUE(cpu.get_flag('C'));
    EXPECT_TRUE(cpu.get_flag('Z'));
    cpu.A = 0x01;
    run({0x6A}); // ROR A: carry in at bit 7
    EXPECT_EQ(cpu.A, 0x80);
    EXPECT_TRUE(cpu.get_flag('C'));
}

TEST_F(Instructions, ModelessLdxLoadsTheNextByteAndRunsItAsTheNextOpcode) {
    EXPECT_EQ(run({0xB2, 0x05}), 0); // the mode-less rows carry 0 in the cycle tables
    EXPECT_EQ(cpu.X, 0x05);
    EXPECT_EQ(pc(), 0x0201);
}

TEST_F(Instructions, ImmediateShiftWritesIntoTheInstructionStream) {
    run({0x02, 0x41}); // ASL #$41 in RAM rewrites its own operand
    EXPECT_EQ(uint8_t(cpu.memory[0x0201]), 0x82);
    EXPECT_EQ(pc(), 0x0202);
    run({0x1A, 0x03}); // ASL with "impl": shifts the next byte, length 1
    EXPECT_EQ(uint8_t(cpu.memory[0x0201]), 0x06);
    EXPECT_EQ(pc(), 0x0201);
}

TEST_F(Instructions, StxAbsoluteXStoresX) {
    cpu.X = 0x05;
    run({0x9E, 0x00, 0x03});
    EXPECT_EQ(cpu.memory[0x0305], 0x05);
}

TEST_F(Instructions, OpcodesWithoutOperationAreNoOpsOfTheirLength) {
    struct Case {
        uint8_t opcode;
        int length;
    };
    for (Case c : {Case{0x04, 2}, Case{0x0C, 3}, Case{0x14, 2}, Case{0x1C, 3}, Case{0x03, 1},
                   Case{0x80, 1}, Case{0xFF, 3}}) {
        cpu.A = 0x11, cpu.X = 0, cpu.Y = 0, cpu.P = 0x24;
        run({c.opcode, 0x10, 0x02});
        EXPECT_EQ(pc(), 0x0200 + c.length) << std::hex << int(c.opcode);
        EXPECT_EQ(cpu.A, 0x11);
        EXPECT_EQ(cpu.P, 0x24);
    }
}

TEST_F(Instructions, ReadModifyWriteOnPpuDataReadsOnceThenWritesOnce) {
    NES::PPU& ppu = *nes->ppu;
    ppu.memory[0x2000] = 0x10;
    ppu.memory[0x2001] = 0x20;
    ppu.v = 0x2000;
    ppu.read_buffer = 0x7F;
    run({0xEE, 0x07, 0x20}); // INC $2007
    // The read returned the old buffer ($7F) and advanced v; $80 was written at $2001.
    EXPECT_EQ(ppu.read_buffer, 0x10);
    EXPECT_EQ(uint8_t(ppu.memory[0x2001]), 0x80);
    EXPECT_EQ(ppu.v, 0x2002);
}

} // namespace
