// nestest, run from $C000 without a display, against the reference CPU's trace. Only
// the official-opcode part of the log is compared (up to the first "*" mnemonic).
//
// Where this CPU differs on purpose the comparison allows for it:
// - the reference's reset has run 7 cycles and left SP at $FD; the test starts there;
// - PLP and RTI load all eight bits here, so bits 4 and 5 of P are not compared;
// - a taken branch pays its page-cross cycle when the target's page differs from the
//   page of the branch opcode itself, not of the next instruction, so such branches may
//   differ by exactly that one cycle;
// - (indirect),Y reads pay their page-cross cycle when the zero-page pointer address
//   plus Y crosses a page, not when the pointer's low byte plus Y does, so those may
//   differ by that one cycle too.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "test_support.hpp"

namespace {

struct LogLine {
    int pc, a, x, y, p, sp;
    long long cycles;
    bool unofficial;
};

int hex_field(std::string const& line, std::string const& key) {
    return std::stoi(line.substr(line.find(key) + key.size(), 2), nullptr, 16);
}

LogLine parse(std::string const& line) {
    return {std::stoi(line.substr(0, 4), nullptr, 16),
            hex_field(line, "A:"),
            hex_field(line, "X:"),
            hex_field(line, "Y:"),
            hex_field(line, "P:"),
            hex_field(line, "SP:"),
            std::stoll(line.substr(line.find("CYC:") + 4)),
            line[15] == '*'};
}

bool is_branch(uint8_t opcode) {
    return (opcode & 0x1F) == 0x10;
}

bool is_indirect_y(NES::CPU const& cpu, uint8_t opcode) {
    return cpu.mode_names[opcode] && std::string(cpu.mode_names[opcode]) == "indy";
}

// The one cycle the two page tests can disagree on, for a taken branch at `pc`.
int page_test_difference(int pc, int target) {
    bool const ours = (pc >> 8) != (target >> 8);
    bool const reference = ((pc + 2) >> 8) != (target >> 8);
    return int(ours) - int(reference);
}

} // namespace

TEST(Nestest, OfficialOpcodesMatchTheReferenceTrace) {
    std::string const dir = test::public_test_roms("nestest.log");
    if (dir.empty()) GTEST_SKIP() << test::NO_PUBLIC_TEST_ROMS;
    std::ifstream log(dir + "/nestest.log");
    test::TempHome home;
    NESUnit nes((dir + "/nestest.nes").c_str(), 1789773);
    NES::CPU& cpu = *nes.cpu;

    std::vector<LogLine> lines;
    for (std::string text; std::getline(log, text);)
        lines.push_back(parse(text));
    cpu.PC = cpu.at(0xC000);
    cpu.SP = 0xFD;
    cpu.P = 0x24;
    cpu.cycles = 7;

    size_t compared = 0;
    for (size_t i = 0; i + 1 < lines.size() && !lines[i].unofficial; ++i) {
        LogLine const& want = lines[i];
        SCOPED_TRACE("log line " + std::to_string(i + 1));
        ASSERT_EQ(cpu.get_addr(cpu.PC), want.pc);
        ASSERT_EQ(cpu.A, want.a);
        ASSERT_EQ(cpu.X, want.x);
        ASSERT_EQ(cpu.Y, want.y);
        ASSERT_EQ(cpu.P & 0xCF, want.p & 0xCF);
        ASSERT_EQ(cpu.SP, want.sp);

        uint8_t const opcode = cpu.read(cpu.PC, false);
        uint8_t const zp = cpu.read(cpu.at(want.pc + 1), false);
        int const indy_difference =
            int(zp + cpu.Y > 255) - int(uint8_t(cpu.memory[zp]) + cpu.Y > 255);
        long long const before = cpu.cycles;
        cpu.clock();
        long long const ours = cpu.cycles - before;
        long long const reference = lines[i + 1].cycles - want.cycles;
        if (ours != reference && is_branch(opcode)) {
            int const target = int(cpu.get_addr(cpu.PC));
            ASSERT_EQ(ours - reference, page_test_difference(want.pc, target));
        } else if (ours != reference && is_indirect_y(cpu, opcode)) {
            ASSERT_EQ(ours - reference, indy_difference);
        } else {
            ASSERT_EQ(ours, reference);
        }
        ++compared;
    }
    EXPECT_GT(compared, 5000u);
    EXPECT_EQ(cpu.memory[0x02], 0) << "nestest's official-opcode error code";
}
