// The instruction trace and the OAM dump, byte for byte.
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

class Trace : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes = test::console(
        home.path(),
        test::Image().at(0x8000, {0xA9, 0x10, 0x18, 0xEA, 0x04, 0x00}).vectors(0, 0x8000, 0));
    NES::CPU& cpu = *nes->cpu;

    std::string traced(int instructions = 1) {
        cpu.debug = true;
        testing::internal::CaptureStdout();
        for (int i = 0; i < instructions; ++i)
            cpu.clock();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(Trace, ImmediateLoadAfterReset) {
    EXPECT_EQ(traced(), "Cycles: 2, 0xa9: LDA, imm $0010->8001=10, PC=$8000 - A=00 - X=00 - "
                        "Y=00 - P=24 SP: ff []\n");
}

TEST_F(Trace, ShowsTheFoldedOperandButTheUnfoldedPc) {
    cpu.PC = cpu.at(0xC000);
    EXPECT_EQ(traced(), "Cycles: 2, 0xa9: LDA, imm $0010->8001=10, PC=$c000 - A=00 - X=00 - "
                        "Y=00 - P=24 SP: ff []\n");
}

TEST_F(Trace, ImpliedInstructionsShowTheFollowingByte) {
    cpu.PC = cpu.at(0x8002);
    EXPECT_EQ(traced(), "Cycles: 2, 0x18: CLC, impl $0000->8003=ea, PC=$8002 - A=00 - X=00 - "
                        "Y=00 - P=24 SP: ff []\n");
}

TEST_F(Trace, OpcodesWithoutAnOperationPrintOnlyTheOpcode) {
    cpu.PC = cpu.at(0x8004);
    EXPECT_EQ(traced(), "0x04: --- SP: ff []\n");
}

TEST_F(Trace, AccumulatorOperandsShowAddressZeroAndA) {
    test::load_program(cpu, 0x0200, {0x0A});
    cpu.A = 0x80;
    EXPECT_EQ(traced(), "Cycles: 2, 0x0a: ASL, acc $0000->0000=80, PC=$0200 - A=80 - X=00 - "
                        "Y=00 - P=24 SP: ff []\n");
}

TEST_F(Trace, PrintsTheOccupiedStackFromTheTop) {
    cpu.memory[0x1FF] = 0x01;
    cpu.memory[0x1FE] = static_cast<signed char>(0xAB);
    cpu.memory[0x1FD] = 0x0C;
    cpu.SP = 0xFC;
    std::string const line = traced();
    EXPECT_EQ(line.substr(line.find(" SP:")), " SP: fc [01,ab,0c]\n");
}

TEST_F(Trace, OamDumpListsAllBytesWithATrailingComma) {
    cpu.memory[0x0200] = static_cast<signed char>(0x80);
    cpu.debug = true;
    testing::internal::CaptureStdout();
    cpu.write(cpu.at(0x4014), 0x02);
    fflush(stdout);
    std::string expected = "New OAM: [80,";
    for (int i = 1; i < 256; ++i)
        expected += "00,";
    expected += "]\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

TEST_F(Trace, ShortDescriptionPrintsRegistersInDecimal) {
    char line[128];
    cpu.A = 0x80;
    cpu.ins_str(line, sizeof line, 0xA9);
    EXPECT_STREQ(line, "0xa9: LDA, imm, PC=$8000 - A=128 - X=0 - Y=0");
    cpu.ins_str(line, sizeof line, 0x03);
    EXPECT_STREQ(line, "0x03: ---");
}

TEST_F(Trace, PpuDataWritesAreReportedWithTheNewAddress) {
    cpu.debug = true;
    nes->ppu->v = 0x2108;
    testing::internal::CaptureStdout();
    cpu.write(cpu.at(0x2007), 0x55);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ppu->2108: 55\nv changed to 8457\n");
}

} // namespace
