// The CPU bus. The memory image is the store of the whole address space, I/O included:
//
//   $0000-$07FF  internal RAM ($0800-$1FFF fold onto it)
//   $2000-$2007  PPU register bytes ($2008-$3FFF fold onto them)
//   $4000-$4017  APU and I/O register bytes: the last byte written to each
//   $4018-$7FFF  plain bytes; $6000-$7FFF is cartridge RAM
//   $8000-$FFFF  PRG ROM, copied in by the cartridge; CPU writes never change it
//
// Reads and writes fold the address, give registers their side effects, tell the
// mapper, and otherwise touch the image directly.
#include "apu/apu.hpp"
#include "cartridge/rom.hpp"
#include "cpu/cpu.hpp"
#include "ppu/ppu.hpp"

namespace NES {

void CPU::map_memory(signed char** p) const {
    int64_t const a = *p - memory;
    if (a < 0 || a > 0xFFFF) return; // the accumulator
    if (prg_fold_16k && a >= 0xC000) {
        *p -= 0x4000;
    } else if (a >= 0x0800 && a < 0x2000) {
        *p = const_cast<signed char*>(memory) + (a & 0x07FF);
    } else if (a >= 0x2008 && a < 0x4000) {
        *p = const_cast<signed char*>(memory) + (0x2000 + (a & 7));
    }
}

namespace {

// Which devices an access must find caught up, by folded address.
constexpr uint8_t SEEN_BY_PPU = 1, SEEN_BY_APU = 2;

// The PPU registers, and the sound registers but the controller ports:
// $4016 and $4017 read only the controllers. A board's registers at $4020-$5FFF may
// follow the PPU (MMC5's scanline counter) or carry sound.
uint8_t devices_reading(int64_t a) {
    if (a >= 0x2000 && a < 0x4000) return SEEN_BY_PPU;
    if (a >= 0x4000 && a < 0x4020 && a != 0x4016 && a != 0x4017) return SEEN_BY_APU;
    if (a >= 0x4020 && a < 0x6000) return SEEN_BY_PPU | SEEN_BY_APU;
    return 0;
}

// Writes: OAM DMA fills the PPU's OAM (its source reads catch up by themselves), a
// $4016 write only strobes the controllers, $4017 is the APU's frame counter, and the
// mapper's registers at $8000-$FFFF switch the banks the PPU draws and the DMC reads.
uint8_t devices_writing(int64_t a) {
    if (a == 0x4014) return SEEN_BY_PPU;
    if (a == 0x4016) return 0;
    if (a == 0x4017) return SEEN_BY_APU;
    if (a >= 0x8000) return SEEN_BY_PPU | SEEN_BY_APU;
    return devices_reading(a);
}

} // namespace

void CPU::catch_up_devices() {
    catch_up(SEEN_BY_PPU | SEEN_BY_APU);
}

void CPU::catch_up(uint8_t devices) {
    if (devices & SEEN_BY_APU) apu->catch_up(instruction_start);
    if (devices & SEEN_BY_PPU) ppu->run_until(3 * uint64_t(instruction_start));
}

void CPU::plan_catch_up() {
    ppu_deadline = ppu->next_event_dot();
    catch_up_every_step = debug || apu->irq_possible();
    if (hardware) plan_apu();
}

// A read that does not tell the mapper is the DMC's sample fetch, which the APU makes as
// it catches up: it brings up the PPU where it must, never the APU again. (A game's DMC
// reads $8000-$FFFF; a restored snapshot may name any address, registers included.)
uint8_t CPU::read(signed char* p, bool notify_mapper) {
    if (p == accumulator()) return A;
    map_memory(&p);
    uint8_t devices = devices_reading(get_addr(p));
    if (!notify_mapper) devices &= uint8_t(~SEEN_BY_APU);
    if (devices) catch_up(devices);
    uint8_t result;
    switch (get_addr(p)) {
    case 0x2002:
    case 0x2004:
    case 0x2007: result = ppu->read_register(uint16_t(get_addr(p))); break;
    case 0x4015: result = apu->read_status(); break;
    case 0x4016: result = read_controller(0); break;
    case 0x4017: result = read_controller(1); break;
    default:
        result = uint8_t(*p);
        if (get_addr(p) >= 0x4020 && get_addr(p) < 0x6000) result = read_board_register(p, result);
        break;
    }
    if (notify_mapper) {
        void* args[3] = {this, ppu, apu};
        rom->mapper->map_read(args, p);
    }
    return result;
}

// Out of the way of the PPU and APU registers' reads, which the bus serves inline.
uint8_t CPU::read_board_register(signed char const* p, uint8_t image_byte) {
    void* args[3] = {this, ppu, apu};
    rom->mapper->read_register(args, uint16_t(get_addr(p)), image_byte);
    return image_byte;
}

void CPU::write(signed char* p, signed char d) {
    if (p == accumulator()) {
        A = uint8_t(d);
        return;
    }
    map_memory(&p);
    int64_t const a = get_addr(p);
    uint8_t const devices = devices_writing(a);
    if (devices) catch_up(devices);
    bool store = true;
    if (a >= 0x2000 && a <= 0x2007) {
        if (a == 0x2002)
            store = false; // PPUSTATUS keeps its value
        else if (a != 0x2001)
            ppu->write_register(uint16_t(a), d);
    } else if (a == 0x4014) {
        oam_dma(uint8_t(d));
    } else if (a == 0x4016) {
        write_strobe(uint8_t(d));
    } else if (a >= 0x4000 && a <= 0x4017) {
        apu->write_register(uint16_t(a), uint8_t(d)); // sound registers
    } else if (a >= 0x8000) {
        store = false; // ROM: only the mapper sees the write
    }
    void* args[3] = {this, ppu, apu};
    rom->mapper->map_write(args, p, &d);
    if (store) *p = d;
    if (devices) plan_catch_up();
}

// Writing 1 to $4016 latches both ports at once; while the strobe bit stays 1 the
// ports keep reporting the first button without shifting.
void CPU::write_strobe(uint8_t value) {
    strobe = value & 1;
    if (!strobe) return;
    std::lock_guard<std::mutex> lock(controllers_mutex);
    for (int port = 0; port < 2; ++port)
        controller_shift[port] = controllers[port] ? controllers[port]->get_input_byte() : 0;
}

// Bit 0 is the next button; bit 6 is set as the open bus leaves it on a real console.
// After eight reads the shifted-in ones make every further read report 1.
uint8_t CPU::read_controller(int port) {
    uint8_t const bit = controller_shift[port] >> 7;
    if (!strobe) controller_shift[port] = uint8_t(controller_shift[port] << 1 | 1);
    return 0x40 | bit;
}

// OAM DMA copies one CPU page into OAM starting at the PPU's OAM address; every byte is
// an ordinary bus read with its side effects. It takes no CPU time here.
void CPU::oam_dma(uint8_t page) {
    int const source = page * 256;
    for (int i = 0; i < 256; ++i) {
        uint8_t b = read(memory + source + i, true);
        uint8_t const j = uint8_t(ppu->oam_addr + i);
        if (j % 4 == 2) b &= 0xE3; // attribute bytes have no bits 2-4
        ppu->oam[j] = b;
    }
    if (debug) print_oam();
}

} // namespace NES
