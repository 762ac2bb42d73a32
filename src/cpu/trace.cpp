// The development trace: with `debug` set, every instruction prints one line with the
// cycle count, the decoded instruction, its operand and the registers, followed by the
// occupied part of the stack; every OAM DMA prints the new OAM.
#include <cinttypes>

#include "cpu/cpu.hpp"
#include "ppu/ppu.hpp"

namespace NES {

void CPU::ins_str_mem(char* buf, int n, unsigned char* op, signed char* operand) {
    signed char* op_at = reinterpret_cast<signed char*>(op);
    map_memory(&op_at);
    map_memory(&operand);
    uint8_t const c = uint8_t(*op_at);
    unsigned v = 0;
    for (int i = 1; i < instr_length; ++i)
        v |= unsigned(uint8_t(*at(get_addr(op_at) + i))) << (8 * (i - 1));
    if (!mnemonics[c] || !mode_names[c]) {
        snprintf(buf, size_t(n), "0x%02x: ---", c);
        return;
    }
    // The accumulator is not in the image: its operand shows address 0000 and A.
    bool const is_a = operand == accumulator();
    long long const operand_addr = is_a ? 0 : get_addr(operand);
    unsigned const operand_value = is_a ? A : uint8_t(*operand);
    snprintf(buf, size_t(n),
             "Cycles: %lli, 0x%02x: %s, %s $%04x->%04llx=%02x, PC=$%04llx - A=%02x - X=%02x - "
             "Y=%02x - P=%02x",
             static_cast<long long>(cycles), c, mnemonics[c], mode_names[c], v, operand_addr,
             operand_value, static_cast<long long>(get_addr(PC)), A, X, Y, P);
}

void CPU::ins_str(char* buf, int n, unsigned char opcode) {
    if (!mnemonics[opcode] || !mode_names[opcode]) {
        snprintf(buf, size_t(n), "0x%02x: ---", opcode);
        return;
    }
    snprintf(buf, size_t(n), "0x%02x: %s, %s, PC=$%04llx - A=%u - X=%u - Y=%u", opcode,
             mnemonics[opcode], mode_names[opcode], static_cast<long long>(get_addr(PC)), A, X, Y);
}

void CPU::print_trace(signed char* operand) {
    char line[256];
    ins_str_mem(line, sizeof line, reinterpret_cast<unsigned char*>(PC), operand);
    printf("%s ", line);
    printf("SP: %02x [", SP);
    if (SP != 0xFF) {
        printf("%02x", uint8_t(memory[0x1FF]));
        for (int a = 0x1FE; a > 0x100 + SP; --a)
            printf(",%02x", uint8_t(memory[a]));
    }
    puts("]");
}

void CPU::print_oam() {
    printf("New OAM: [");
    for (uint8_t b : ppu->oam)
        printf("%02x,", b);
    puts("]");
}

} // namespace NES
