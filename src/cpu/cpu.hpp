// The console's 6502-family processor (the 2A03 core: no decimal arithmetic).
//
// Timing is instruction-grained: clock() fetches, decodes and executes one whole
// instruction and adds its cycle count to `cycles`; the PPU and the APU then catch up
// with it. They do so lazily: the console leaves them behind for as long as nothing
// could tell, and the bus brings them to where the instruction found them (the cycle
// count when it began) before any access that they could see or answer: a PPU or sound
// register, OAM DMA, a mapper register. Locations are pointers into `memory` (the CPU address of a
// location is its distance from memory[0]) because the mapper interface works on such pointers; the
// accumulator is a location too, for the "acc" addressing mode.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "cpu/controller.hpp"

#include "console/recycled_storage.hpp"

namespace NES {

class PPU;
class APU;
class ROM;
enum class Mode : uint8_t;     // opcode_grid.hpp
enum class Mnemonic : uint8_t; // opcode_grid.hpp

class CPU : public RecycledStorage<CPU> {
public:
    // An addressing mode takes the location of the byte after the opcode and returns
    // the operand location; an operation works on that location.
    using AddrMode = signed char* (CPU::*)(signed char*);
    using Operation = void (CPU::*)(signed char*);

    CPU() : CPU(false) {}
    explicit CPU(bool debug);
    CPU(CPU const&) = delete;
    CPU& operator=(CPU const&) = delete;

    PPU* ppu = nullptr;
    APU* apu = nullptr;
    int32_t clock_speed = 1789773; // emulated Hz; paces the run thread, derives the APU rate
    int64_t start_time = 0;        // wall clock (ns) at construction or at the last start
    uint8_t A = 0, X = 0, Y = 0;
    uint8_t controller_shift[2] = {0, 0}; // shift registers of controller ports 1 and 2
    signed char* PC = nullptr;            // location of the opcode being executed
    uint8_t instr_length = 1;             // 1, 2 or 3; set by the addressing mode
    uint16_t nmi_vector = 0xFFFA;
    uint16_t reset_vector = 0xFFFC;
    uint16_t irq_vector = 0xFFFE; // IRQ and BRK
    AddrMode addr_modes[256];     // null for implied and mode-less opcodes
    Operation instructions[256];  // null for the opcodes without an operation
    signed char memory[0x10000];  // the whole CPU address space, I/O bytes included
    ROM* rom = nullptr;
    // CPU cycles since the last reset. Only the stepping thread writes it; other threads
    // may read it at any time (relaxed: they see a value at most a step old).
    std::atomic<int64_t> cycles{0};
    bool nmi_sample = false;  // the PPU's nmi_occurred, sampled at the previous instruction
    bool irq_pending = false; // set by the DMC and IRQ boards; cleared on entry or release
    bool nmi_line = false;    // PPUCTRL bit 7 AND the sample, one instruction ago
    bool strobe = false;      // bit 0 of the last $4016 write
    bool debug = false;       // instruction trace and register dumps on standard output
    // Lazy catch-up. The cycle count when the current instruction began: where its bus
    // accesses must find the PPU (three dots per cycle) and the APU.
    int64_t instruction_start = 0;
    // The PPU may run behind the CPU until its dot count would pass this dot: there it
    // changes something the CPU sees without asking (NMI, IRQ, the end of a frame).
    uint64_t ppu_deadline = 0;
    // The devices must catch up after every instruction (a DMC IRQ may come, or the
    // trace prints every instruction).
    bool catch_up_every_step = true;
    int32_t prg_bank = 0; // UxROM's PRG bank at $8000, in 1 KiB units
    Controller* controllers[2] = {nullptr, nullptr};
    // Held while a strobe latches the controllers and while one is plugged in: the host
    // may unplug (and free) a controller from another thread while this console steps,
    // and a latch must never read one that is gone. A strobe is a rare I/O write, so
    // the uncontended lock costs nothing per instruction.
    std::mutex controllers_mutex;
    uint8_t SP = 0xFF; // the stack is page 1
    // Status register, bit by bit: 7 N negative, 6 V overflow, 5 always 1 after reset,
    // 4 B break (a real stored bit here: BRK sets it), 3 D decimal (stored, never used),
    // 2 I interrupt disable, 1 Z zero, 0 C carry.
    uint8_t P = 0x24;
    char const* mnemonics[256];
    uint8_t base_cycles[256];
    uint8_t cross_cycles[256]; // the count when an indexed access crosses a page
    char const* mode_names[256];
    // For the page-cross test: X for "absx", Y for "absy" and "indy", else a zero byte,
    // so the test is one addition for every opcode. Derived from mode_names.
    uint8_t const* cross_index[256];

    // Power-on: the clocks start at 0 and PC comes from the reset vector (in hardware mode
    // through the reset sequence, whose 7 cycles leave S at $FD).
    void reset();
    // The reset button: S down by 3 without writes, I set, PC from the reset vector; A,
    // X, Y and the other flags kept; 7 cycles.
    void press_reset();
    void clock();
    void start_nmi();
    void start_irq();
    void set_controller(Controller* c, unsigned char port) {
        std::lock_guard<std::mutex> lock(controllers_mutex);
        controllers[port] = c;
    }
    bool get_flag(char letter) const;
    void set_flag(char letter, bool value);
    void stack_push(signed char b) { memory[0x100 + SP--] = b; }
    uint8_t stack_pull() { return uint8_t(memory[0x100 + ++SP]); }
    int64_t get_addr(signed char const* p) const { return p - memory; }
    int emulated_clock_speed(long long elapsed_ns) const;
    void define_opcodes();
    void define_timings();

    // The bus.
    uint8_t read(signed char* p, bool notify_mapper);
    // A read at $4020-$5FFF, which a board's register may answer.
    [[gnu::noinline]] uint8_t read_board_register(signed char const* p, uint8_t image_byte);
    // Brings the APU and the PPU to `instruction_start`; they never pass the end of a
    // frame here, since the console catches them up whenever that is due.
    void catch_up_devices();
    // The same for the devices named by a mask of SEEN_BY_* bits (bus.cpp).
    void catch_up(uint8_t devices);
    // Sets the deadline and the every-step flag from where the devices stand now; after
    // every catch-up and after every write that may move them.
    void plan_catch_up();
    void write(signed char* p, signed char d);
    void map_memory(signed char** p) const;

    // Cartridge attach and battery RAM. `ram_path` names this console's battery RAM
    // file, read when the cartridge has a battery and `load_ram` is set.
    void loadRom(ROM* rom, bool load_ram, std::string const& ram_path);
    bool save_ram(FILE* f) const; // false when not every byte was written
    void load_ram(FILE* f);

    // Save states: a record of STATE_SIZE bytes and the board's trailer, state_size()
    // bytes in all (layout with the save-state code). Files and in-memory records go
    // through the same two functions: load_state changes nothing unless it is given
    // exactly one whole record (state_fault says why not). The FILE forms report whether
    // every byte was written, or whether the file held one usable record.
    static constexpr size_t STATE_SIZE = 82189;
    size_t state_size() const;
    enum class RecordFault { none, length, board_record, program_counter };
    static RecordFault state_fault(unsigned char const* record, size_t size);
    void save_state(unsigned char* record);
    bool load_state(unsigned char const* record, size_t size);
    bool save_state(FILE* f);
    bool load_state(FILE* f);
    // Every field of the state in a console snapshot (persistence/snapshot.hpp).
    template <class Pass> void snapshot(Pass& s);

    // Hardware mode (cycle_bus.cpp, cycle_step.cpp): every cycle is one bus access at its
    // own cycle. The PPU is brought to the exact dot of every access it could answer, and
    // to every dot at which it changes what the CPU sees unasked (the deadline, as in
    // the fast mode); the interrupt lines are sampled at the end of every cycle.
    bool hardware = false;
    uint8_t open_bus = 0;         // the last byte on the CPU data bus
    bool jammed = false;          // a JAM opcode stopped the CPU until reset
    bool nmi_pending = false;     // an NMI edge was seen and not yet taken
    bool nmi_level = false;       // the PPU's NMI output when last sampled
    bool interrupt_due = false;   // an interrupt was due at the end of the latest cycle
    bool poll_due = false;        // ... at the end of the cycle before it
    bool take_interrupt = false;  // the last instruction's poll: the next step enters one
    bool oam_dma_request = false; // a $4014 write: DMA halts the CPU on its next read
    uint8_t oam_dma_page = 0;
    // The cycle by which the APU must be caught up: the end of the cycle of its next
    // frame counter event or DMC sample fetch.
    int64_t apu_deadline = INT64_MAX;
    // A DMC sample fetch halts the CPU on its first read from cycle dmc_halt_from on (a
    // write cannot be halted: the halt waits for the next read).
    bool dmc_halt_requested = false;
    int64_t dmc_halt_from = 0;
    bool repeating_read = false; // the halt's reads after its first: back to back with it
    // The DMA unit reads on "get" cycles and writes on the "put" cycles between them.
    static constexpr bool get_cycle(int64_t cycle) { return (cycle & 1) == 1; }
    bool mapper_irq = false; // the board's IRQ line, held until the board releases it
    bool apu_irq = false;    // the APU's IRQ line: its frame or DMC IRQ flag
    // One instruction, interrupt entry or DMA, cycle by cycle.
    void clock_exactly();
    // Brings the PPU to the dot of the current cycle.
    void sync_ppu();
    // The dot count the PPU stands at when the CPU accesses the bus on cycle `cycle`.
    static uint64_t dot_of_cycle(int64_t cycle) { return 3 * uint64_t(cycle) + PPU_LEAD_DOTS; }
    static constexpr uint64_t PPU_LEAD_DOTS = 2;
    // The dot count up to which the NMI line has been sampled at the end of the cycle
    // before cycle `cycle`: the CPU sees the PPU's NMI output a little after the dots
    // of its own access, so a PPUSTATUS read in the next cycle can still cancel an NMI
    // the PPU raised one or two dots before that read.
    static uint64_t nmi_sample_dot(int64_t cycle) { return dot_of_cycle(cycle) - NMI_SAMPLE_LAG; }
    static constexpr uint64_t NMI_SAMPLE_LAG = 2;

    // Trace text.
    void ins_str_mem(char* buf, int n, unsigned char* op, signed char* operand);
    void ins_str(char* buf, int n, unsigned char opcode);

    // Addressing modes.
    signed char* acc(signed char* o1);
    signed char* imm(signed char* o1);
    signed char* zpg(signed char* o1);
    signed char* zpgx(signed char* o1);
    signed char* zpgy(signed char* o1);
    signed char* abs(signed char* o1);
    signed char* absx(signed char* o1);
    signed char* absy(signed char* o1);
    signed char* ind(signed char* o1);
    signed char* xind(signed char* o1);
    signed char* indy(signed char* o1);
    signed char* rel(signed char* o1);

    // Operations, by mnemonic.
    void ADC(signed char* m);
    void AND(signed char* m);
    void ASL(signed char* m);
    void BCC(signed char* m);
    void BCS(signed char* m);
    void BEQ(signed char* m);
    void BIT(signed char* m);
    void BMI(signed char* m);
    void BNE(signed char* m);
    void BPL(signed char* m);
    void BRK(signed char* m);
    void BVC(signed char* m);
    void BVS(signed char* m);
    void CLC(signed char* m);
    void CLD(signed char* m);
    void CLI(signed char* m);
    void CLV(signed char* m);
    void CMP(signed char* m);
    void CPX(signed char* m);
    void CPY(signed char* m);
    void DEC(signed char* m);
    void DEX(signed char* m);
    void DEY(signed char* m);
    void EOR(signed char* m);
    void INC(signed char* m);
    void INX(signed char* m);
    void INY(signed char* m);
    void JMP(signed char* m);
    void JSR(signed char* m);
    void LDA(signed char* m);
    void LDX(signed char* m);
    void LDY(signed char* m);
    void LSR(signed char* m);
    void NOP(signed char* m);
    void ORA(signed char* m);
    void PHA(signed char* m);
    void PHP(signed char* m);
    void PLA(signed char* m);
    void PLP(signed char* m);
    void ROL(signed char* m);
    void ROR(signed char* m);
    void RTI(signed char* m);
    void RTS(signed char* m);
    void SBC(signed char* m);
    void SEC(signed char* m);
    void SED(signed char* m);
    void SEI(signed char* m);
    void STA(signed char* m);
    void STX(signed char* m);
    void STY(signed char* m);
    void TAX(signed char* m);
    void TAY(signed char* m);
    void TSX(signed char* m);
    void TXA(signed char* m);
    void TXS(signed char* m);
    void TYA(signed char* m);

    // The location of a CPU address; every address the CPU forms wraps to 16 bits.
    signed char* at(int64_t addr) { return memory + (addr & 0xFFFF); }
    signed char* accumulator() { return reinterpret_cast<signed char*>(&A); }

private:
    // Status bits used by the operations.
    static constexpr uint8_t FLAG_C = 0x01, FLAG_Z = 0x02, FLAG_I = 0x04, FLAG_D = 0x08,
                             FLAG_B = 0x10, FLAG_U = 0x20, FLAG_V = 0x40, FLAG_N = 0x80;

    // The cartridge is a 16 KiB NROM or CNROM board, whose PRG appears twice; fixed by
    // loadRom so that the fold costs one test per access.
    bool prg_fold_16k = false;

    void set_zn(uint8_t value) {
        P = (P & ~(FLAG_Z | FLAG_N)) | (value == 0 ? FLAG_Z : 0) | (value & FLAG_N);
    }
    void set_bit(uint8_t flag, bool on) { P = on ? (P | flag) : (P & ~flag); }
    void add_cycles(int n) {
        cycles.store(cycles.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    }
    // The instruction step through the member-function tables above, where every access
    // goes through the general bus (cpu.cpp). It serves the trace, JMP (ind), and the
    // instructions whose bytes the direct step does not fetch (see direct_code): from
    // register addresses, RAM mirrors, the 16 KiB fold's edge or across $FFFF.
    void step_through_tables();
    // The end of every step: a new NMI edge, else a pending IRQ, enters its handler.
    // `line` is PPUCTRL bit 7 AND the NMI sample as the instruction found them.
    void take_interrupts(bool line) {
        if (line && !nmi_line)
            start_nmi();
        else if (irq_pending)
            start_irq();
        nmi_line = line;
    }

    // The direct step (dispatch.cpp): one compiled step per opcode for the instructions
    // whose bytes lie in RAM or cartridge space, with direct access to the memory image
    // where the bus would do nothing else (direct_bus.hpp). It behaves exactly as the
    // table step.
    struct Step {
        signed char const* code; // the opcode's byte in the image, the operand bytes after it
        uint16_t pc;             // the opcode's address
        uint8_t b;               // the byte after the opcode
        uint16_t ea;             // the operand address (unused for the accumulator)
        uint16_t next;           // the address of the next instruction
        int64_t cycles;          // the cycle count at the end of the instruction
    };
    signed char const* direct_code(uint16_t pc) const;
    uint8_t peek(uint16_t addr) const;
    uint8_t load(uint16_t addr);
    void store(uint16_t addr, uint8_t value);
    void store_plain(signed char* p, uint8_t value);
    using DirectStep = void (*)(CPU& cpu, uint16_t pc, signed char const* code, int64_t start);
    template <uint8_t OPCODE>
    static void direct_step(CPU& cpu, uint16_t pc, signed char const* code, int64_t start);
    template <uint8_t OPCODE> static constexpr DirectStep direct_step_of();
    template <uint8_t OPCODE> void execute(uint16_t pc, signed char const* code, int64_t start);
    template <Mode M> uint16_t effective_address(Step const& s);
    template <Mode M> bool crosses_page(uint8_t b) const;
    template <Mode M> uint8_t operand(Step const& s);
    template <Mode M> void set_operand(Step const& s, uint8_t value);
    template <Mnemonic O, Mode M> void perform(Step& s);
    void branch_direct(Step& s, bool taken);
    void compare_direct(uint8_t reg, uint8_t value);

    void branch(signed char* target, bool taken);
    void compare(uint8_t reg, signed char* m);
    void enter_interrupt(uint16_t vector);
    void jump_to(int64_t addr) { PC = at(addr - instr_length); }
    void oam_dma(uint8_t page);
    void write_strobe(uint8_t value);
    uint8_t read_controller(int port);
    void print_trace(signed char* operand);
    void print_oam();

    // Hardware mode's bus: one cycle each (cycle_bus.hpp, cycle_bus.cpp).
    uint8_t cycle_read(uint16_t addr);
    void cycle_write(uint16_t addr, uint8_t value);
    void end_cycle();
    // The rare paths of a cycle (registers, DMC halts) stay out of line, so that the
    // common one (RAM and ROM) inlines into every instruction's cycles.
    [[gnu::noinline]] uint8_t read_io(uint16_t addr);
    [[gnu::noinline]] void write_io(uint16_t addr, uint8_t value);
    void reach_events();
    void sample_nmi();
    void run_oam_dma();
    [[gnu::noinline]] void stall_for_dmc(uint16_t addr);
    void read_dmc_byte();
    void plan_apu();
    // Hardware mode's instruction step (cycle_step.cpp).
    void execute_exactly(uint8_t opcode);
    void interrupt_sequence(bool brk);
    void reset_sequence();
    uint16_t fetch_word();
    uint8_t fetch_byte() { return cycle_read(pc_exact++); }
    void push_exactly(uint8_t value) { cycle_write(uint16_t(0x100 | SP--), value); }
    uint8_t pull_exactly() { return cycle_read(uint16_t(0x100 | ++SP)); }
    uint16_t pc_exact = 0; // PC while an instruction runs in hardware mode
};

} // namespace NES
