// Hardware mode's bus, cycle by cycle: what the console's documentation says a few
// instructions do on the bus, observed through the registers they reach.
#include <gtest/gtest.h>

#include "apu/apu.hpp"
#include "cartridge/rom.hpp"
#include "ppu/ppu.hpp"
#include "test_support.hpp"

namespace {

constexpr uint16_t CODE = 0x0300, NMI_HANDLER = 0x0400;

class CycleBus : public ::testing::Test {
protected:
    test::TempHome home;
    std::unique_ptr<NESUnit> nes;
    NES::CPU* cpu = nullptr;
    NES::PPU* ppu = nullptr;

    void SetUp() override {
        test::Image image;
        image.vectors(NMI_HANDLER, 0x8000, NMI_HANDLER);
        nes = test::console(home.path(), image, "test.nes", 1789773, NES::Accuracy::hardware);
        cpu = nes->cpu.get();
        ppu = nes->ppu.get();
        // The handler marks $11 and returns.
        test::load_program(*cpu, NMI_HANDLER, {0xA9, 0xAA, 0x85, 0x11, 0x40});
    }

    // Puts the PPU `dots_before` dots before line `line` dot `dot` at CPU cycle 1000,
    // in vertical blank's part of the frame, with everything caught up.
    void place_ppu(int line, int dot, int dots_before) {
        cpu->cycles = 1000;
        ppu->dot_count = NES::CPU::dot_of_cycle(1000);
        int position = line * 341 + dot - dots_before;
        ppu->scanline = position / 341;
        ppu->dot = position % 341;
        ppu->post_render = true;
        cpu->ppu_deadline = ppu->next_event_dot();
    }

    void run(std::initializer_list<uint8_t> code, int steps) {
        test::load_program(*cpu, CODE, code);
        for (int i = 0; i < steps; ++i)
            cpu->clock_exactly();
    }
};

// LDA $2002 reads on its fourth cycle. The PPU sets VBL at line 241 dot 1: a read one dot
// before keeps the flag (and the NMI) from coming at all, a read on that dot or the next
// sees the flag and cancels the NMI, a read later sees it and the NMI comes.
TEST_F(CycleBus, StatusReadRacesTheStartOfVerticalBlank) {
    struct Case {
        int dots_after_set; // where the read falls, relative to the dot that sets VBL
        bool flag_read;
        bool nmi;
    };
    for (Case c : {Case{-2, false, true}, Case{-1, false, false}, Case{0, true, false},
                   Case{1, true, false}, Case{2, true, true}, Case{5, true, true}}) {
        SetUp();
        cpu->memory[0x2000] = static_cast<signed char>(0x80); // NMI on
        // The read happens at dot_of_cycle(1003), nine dots on.
        place_ppu(241, 1, 8 - c.dots_after_set);
        run({0xAD, 0x02, 0x20, 0x85, 0x10, 0x4C, 0x05, 0x03}, 40);
        SCOPED_TRACE(c.dots_after_set);
        EXPECT_EQ(bool(cpu->memory[0x10] & 0x80), c.flag_read);
        EXPECT_EQ(cpu->memory[0x11] == static_cast<signed char>(0xAA), c.nmi);
    }
}

// INC $2007: one read and two writes of PPUDATA, each stepping v; the first write puts
// back the unchanged byte (the read buffer's old contents), the second the result.
TEST_F(CycleBus, ReadModifyWriteWritesTwice) {
    place_ppu(250, 0, 0);
    ppu->v = 0x2100;
    ppu->read_buffer = 0x41;
    ppu->memory[0x2100] = 0x17;
    run({0xEE, 0x07, 0x20}, 1);
    EXPECT_EQ(ppu->memory[0x2101], 0x41);
    EXPECT_EQ(ppu->memory[0x2102], 0x42);
    EXPECT_EQ(ppu->v, 0x2103);
    EXPECT_EQ(ppu->read_buffer, 0x17);
    EXPECT_EQ(cpu->cycles, 1006);
}

// LDA $20F2,X with X = $10 first reads $2002 (the address before its page is fixed),
// which clears VBL, then $2102 (PPUSTATUS again): the flag is gone by the second read.
// Without the crossing there is one read, which sees the flag.
TEST_F(CycleBus, IndexedReadAcrossAPageReadsTheUnfixedAddressFirst) {
    for (bool crossing : {false, true}) {
        SetUp();
        place_ppu(250, 0, 0);
        *ppu->ppustatus = static_cast<signed char>(0x80);
        if (crossing)
            run({0xA2, 0x10, 0xBD, 0xF2, 0x20, 0x85, 0x10}, 3); // LDX #$10; LDA $20F2,X
        else
            run({0xA2, 0x00, 0xBD, 0x02, 0x20, 0x85, 0x10}, 3); // LDX #$00; LDA $2002,X
        EXPECT_EQ(bool(cpu->memory[0x10] & 0x80), !crossing);
        EXPECT_EQ(cpu->cycles, 1000 + 2 + (crossing ? 5 : 4) + 3);
    }
}

// Cartridge RAM that its board switched off drives nothing: a read there sees the open
// bus, which LDA $5FF0,X with X = $10 left holding $5F (the operand's high byte, which
// the dummy read of $5F00, where nothing answers, kept).
TEST_F(CycleBus, SwitchedOffCartridgeRamReadsTheOpenBus) {
    for (bool off : {false, true}) {
        SetUp();
        cpu->memory[0x6000] = 0x42;
        nes->rom->mapper->prg_ram_off = off;
        run({0xA2, 0x10, 0xBD, 0xF0, 0x5F}, 2); // LDX #$10; LDA $5FF0,X
        EXPECT_EQ(cpu->A, off ? 0x5F : 0x42);
    }
}

// OAM DMA halts the CPU for 513 cycles, or 514 when it would start on a write cycle.
TEST_F(CycleBus, OamDmaTakes513Or514Cycles) {
    std::vector<int64_t> taken;
    for (int start : {1000, 1001}) {
        SetUp();
        place_ppu(250, 0, 0);
        cpu->cycles = start;
        for (int i = 0; i < 256; ++i)
            cpu->memory[0x200 + i] = static_cast<signed char>(i);
        cpu->A = 0x02;
        run({0x8D, 0x14, 0x40, 0xEA}, 2); // STA $4014 (page 2), NOP
        taken.push_back(cpu->cycles - start - 4 - 2);
        EXPECT_EQ(ppu->oam[0x37], 0x37 & (0x37 % 4 == 2 ? 0xE3 : 0xFF));
    }
    EXPECT_EQ(std::min(taken[0], taken[1]), 513);
    EXPECT_EQ(std::max(taken[0], taken[1]), 514);
}

// A DMC fetch asked for from a put cycle (even here) halts the CPU on its first read from
// then: four cycles on a read, three when a write held it off to a get cycle, four after
// the first of two writes; during OAM DMA it costs the copy two cycles. The byte arrives
// with the DMA's read.
TEST_F(CycleBus, DmcFetchStallsByWhatTheCpuIsDoing) {
    struct Case {
        const char* what;
        int start;
        std::vector<uint8_t> code;
        int steps;
        int halt_from;
        int cycles; // without the fetch
        int stall;
    };
    std::vector<Case> const cases = {
        {"read", 1000, {0xAD, 0x00, 0x02}, 1, 1002, 4, 4},                // LDA $0200
        {"single write", 1001, {0x8D, 0x00, 0x02, 0xEA}, 2, 1004, 6, 3},  // STA $0200, NOP
        {"first of two writes", 1001, {0x20, 0x00, 0x04}, 1, 1004, 6, 4}, // JSR
        {"second of two writes", 1000, {0x20, 0x00, 0x04}, 1, 1004, 6, 3},
        {"OAM DMA", 1000, {0x8D, 0x14, 0x40, 0xEA}, 2, 1200, 4 + 513 + 2, 2}, // STA $4014, NOP
    };
    for (Case const& c : cases) {
        SetUp();
        SCOPED_TRACE(c.what);
        place_ppu(250, 0, 0);
        cpu->cycles = c.start;
        NES::APU& apu = *nes->apu;
        apu.dmc_addr = 0xC000;
        apu.dmc_remaining = 2;
        apu.request_dmc_fetch(c.halt_from);
        for (size_t i = 0; i < c.code.size(); ++i)
            cpu->memory[CODE + i] = static_cast<signed char>(c.code[i]);
        cpu->PC = cpu->memory + CODE;
        for (int i = 0; i < c.steps; ++i)
            cpu->clock_exactly();
        EXPECT_EQ(cpu->cycles - c.start, c.cycles + c.stall);
        EXPECT_FALSE(apu.dmc_buffer_empty);
        EXPECT_EQ(apu.dmc_remaining, 1);
    }
}

// A DMC halt on a joypad read repeats the read back to back, which shifts the joypad
// once; the CPU's own read after the fetch shifts it again: one button is lost.
TEST_F(CycleBus, DmcHaltOnAJoypadReadLosesOneButton) {
    place_ppu(250, 0, 0);
    cpu->controller_shift[0] = 0b01000000; // A released, B pressed, the rest released
    nes->apu->dmc_remaining = 1;
    nes->apu->request_dmc_fetch(1003);
    run({0xAD, 0x16, 0x40}, 1); // LDA $4016 reads on cycle 1003
    EXPECT_EQ(cpu->A & 1, 1);   // B's bit
    EXPECT_EQ(cpu->controller_shift[0], 0b00000011);
}

// CLI takes effect after the next instruction's poll: a waiting IRQ comes one
// instruction late, and pushes the address after that instruction.
TEST_F(CycleBus, CliLetsAnIrqInOneInstructionLate) {
    place_ppu(250, 0, 0);
    cpu->P |= 0x04;
    cpu->mapper_irq = true;
    run({0x58, 0xEA, 0xEA, 0xEA}, 2); // CLI, NOP
    EXPECT_EQ(cpu->get_addr(cpu->PC), CODE + 2);
    cpu->clock_exactly(); // the IRQ's entry
    EXPECT_EQ(cpu->get_addr(cpu->PC), NMI_HANDLER);
    EXPECT_EQ(uint8_t(cpu->memory[0x100 + uint8_t(cpu->SP + 2)]), (CODE + 2) & 0xFF);
}

// JAM stops the CPU: cycles go on, the program counter does not; reset recovers.
TEST_F(CycleBus, JamHaltsUntilReset) {
    place_ppu(250, 0, 0);
    run({0x02}, 5);
    EXPECT_EQ(cpu->get_addr(cpu->PC), CODE + 1);
    EXPECT_GT(cpu->cycles, 1004);
    nes->press_reset();
    EXPECT_EQ(cpu->get_addr(cpu->PC), 0x8000);
    EXPECT_FALSE(cpu->jammed);
}

} // namespace
