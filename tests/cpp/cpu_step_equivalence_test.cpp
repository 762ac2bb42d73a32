// The compiled instruction steps against the table step: two consoles start from the
// same random state (registers, interrupt lines, the whole memory image) and run the
// same random instruction streams, one through clock() and one through a reference
// step that walks the public opcode tables and the general bus exactly as the table
// step does. After every instruction the registers, PC, cycle count, length and
// interrupt state must agree, and so must the memory image and what the PPU, the APU
// and the board saw. Random bytes everywhere make every opcode appear with operands in
// RAM and its mirrors, cartridge RAM, ROM, the 16 KiB fold and the registers, and the
// streams jump and branch across all of them, including the edges where the direct
// fetch gives way to the table step ($07FE, $1FFE, $BFFE, $FFFE).
#include <gtest/gtest.h>

#include <bitset>
#include <cstring>
#include <random>

#include "test_support.hpp"

namespace {

// One instruction exactly as the table step runs it, with nothing but public members:
// bus reads of the opcode and (twice) of the next byte, the mode and the operation from
// the tables, the page-cross rule through cross_index, the NMI sample before the
// operation, the interrupts after it.
void reference_step(NES::CPU& cpu) {
    cpu.instruction_start = cpu.cycles.load();
    cpu.instr_length = 1;
    signed char* const o = cpu.PC;
    uint8_t const opcode = cpu.read(o, true);
    signed char* const o1 = cpu.at(cpu.get_addr(o) + 1);
    uint8_t const b = cpu.read(o1, true);
    cpu.read(o1, true);
    NES::CPU::AddrMode const mode = cpu.addr_modes[opcode];
    signed char* const operand = mode ? (cpu.*mode)(o1) : o1;
    cpu.cycles +=
        (b + *cpu.cross_index[opcode] > 255) ? cpu.cross_cycles[opcode] : cpu.base_cycles[opcode];
    bool const line = (cpu.memory[0x2000] & 0x80) && cpu.nmi_sample;
    cpu.nmi_sample = cpu.ppu->nmi_occurred;
    if (NES::CPU::Operation const op = cpu.instructions[opcode]) (cpu.*op)(operand);
    cpu.PC = cpu.at(cpu.get_addr(cpu.PC) + cpu.instr_length);
    if (line && !cpu.nmi_line)
        cpu.start_nmi();
    else if (cpu.irq_pending)
        cpu.start_irq();
    cpu.nmi_line = line;
}

struct Board {
    char const* name;
    uint8_t prg_banks; // 16 KiB units
    uint8_t mapper;
};

std::ostream& operator<<(std::ostream& os, Board const& b) {
    return os << b.name;
}

class StepEquivalence : public ::testing::TestWithParam<Board> {
protected:
    test::TempHome home;

    std::unique_ptr<NESUnit> build() const {
        test::Image image;
        image.prg_banks = GetParam().prg_banks;
        image.flags6 = uint8_t(GetParam().mapper << 4);
        return test::console(home.path(), image);
    }

    // Everything the two consoles must agree on after an instruction; the memory images
    // only when `images` is set (a difference there stays until overwritten).
    static void expect_same(NESUnit const& a, NESUnit const& b, bool images,
                            std::string const& where) {
        NES::CPU const& x = *a.cpu;
        NES::CPU const& y = *b.cpu;
        ASSERT_EQ(x.get_addr(x.PC), y.get_addr(y.PC)) << where;
        ASSERT_EQ(x.cycles.load(), y.cycles.load()) << where;
        ASSERT_EQ(x.instruction_start, y.instruction_start) << where;
        ASSERT_EQ(x.A, y.A) << where;
        ASSERT_EQ(x.X, y.X) << where;
        ASSERT_EQ(x.Y, y.Y) << where;
        ASSERT_EQ(x.P, y.P) << where;
        ASSERT_EQ(x.SP, y.SP) << where;
        ASSERT_EQ(x.instr_length, y.instr_length) << where;
        ASSERT_EQ(x.nmi_sample, y.nmi_sample) << where;
        ASSERT_EQ(x.nmi_line, y.nmi_line) << where;
        ASSERT_EQ(x.irq_pending, y.irq_pending) << where;
        ASSERT_EQ(x.strobe, y.strobe) << where;
        ASSERT_EQ(a.ppu->dot_count, b.ppu->dot_count) << where;
        ASSERT_EQ(a.ppu->v, b.ppu->v) << where;
        ASSERT_EQ(a.ppu->t, b.ppu->t) << where;
        ASSERT_EQ(a.ppu->w, b.ppu->w) << where;
        ASSERT_EQ(a.ppu->read_buffer, b.ppu->read_buffer) << where;
        ASSERT_EQ(a.ppu->nmi_occurred, b.ppu->nmi_occurred) << where;
        ASSERT_EQ(std::memcmp(a.ppu->oam, b.ppu->oam, sizeof a.ppu->oam), 0) << where;
        ASSERT_EQ(a.apu->cycles, b.apu->cycles) << where;
        if (!images) return;
        ASSERT_EQ(std::memcmp(x.memory, y.memory, sizeof x.memory), 0) << where;
        ASSERT_EQ(std::memcmp(a.ppu->memory, b.ppu->memory, sizeof a.ppu->memory), 0) << where;
    }
};

TEST_P(StepEquivalence, RandomStreamsMatchTheTableStep) {
    std::unique_ptr<NESUnit> fast = build();
    std::unique_ptr<NESUnit> slow = build();
    // Inside RAM, its mirrors, cartridge RAM, both PRG halves, the registers, and the
    // edges of the direct fetch.
    constexpr uint16_t STARTS[] = {0x0200, 0x07FE, 0x0FFF, 0x1FFE, 0x2000, 0x4018,
                                   0x6000, 0x8000, 0xBFFE, 0xC000, 0xFFFE, 0xFFFF};
    constexpr int SEEDS = 4;
    constexpr int STEPS = 300;
    std::bitset<256> seen; // opcodes run from RAM or cartridge space
    for (int seed = 0; seed < SEEDS; ++seed) {
        for (uint16_t start : STARTS) {
            std::mt19937 rng(uint32_t(seed * 65536 + start));
            auto const byte = [&rng] { return uint8_t(rng() & 0xFF); };
            // The same random state in both consoles.
            for (int i = 0; i < 0x10000; ++i)
                fast->cpu->memory[i] = slow->cpu->memory[i] = static_cast<signed char>(byte());
            for (NESUnit* nes : {fast.get(), slow.get()}) {
                NES::CPU& cpu = *nes->cpu;
                rng.seed(uint32_t(seed * 65536 + start + 1));
                cpu.A = byte(), cpu.X = byte(), cpu.Y = byte(), cpu.SP = byte(), cpu.P = byte();
                uint8_t const lines = byte();
                cpu.nmi_sample = lines & 1, cpu.nmi_line = lines & 2, cpu.irq_pending = lines & 4;
                cpu.PC = cpu.at(start);
            }
            for (int step = 0; step < STEPS; ++step) {
                uint16_t const pc = uint16_t(fast->cpu->get_addr(fast->cpu->PC));
                if (pc < 0x2000 || pc >= 0x4020)
                    seen.set(uint8_t(fast->cpu->read(fast->cpu->PC, false)));
                fast->cpu->clock();
                reference_step(*slow->cpu);
                expect_same(*fast, *slow, step % 8 == 7 || step == STEPS - 1,
                            "seed " + std::to_string(seed) + ", start " + std::to_string(start) +
                                ", step " + std::to_string(step) + ", pc " + std::to_string(pc));
                if (HasFatalFailure()) return;
            }
        }
    }
    EXPECT_EQ(seen.count(), 256u) << "the streams did not run every opcode";
}

INSTANTIATE_TEST_SUITE_P(Boards, StepEquivalence,
                         ::testing::Values(Board{"nrom_16k_folded", 1, 0}, Board{"nrom_32k", 2, 0},
                                           Board{"mmc1", 8, 1}, Board{"uxrom", 8, 2},
                                           Board{"mmc3", 8, 4}),
                         [](auto const& info) { return std::string(info.param.name); });

} // namespace
