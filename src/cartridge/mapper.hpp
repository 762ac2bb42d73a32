// The cartridge hardware seen from the console: every board decodes CPU writes into
// its own registers and switches banks by copying bank contents into the CPU or PPU
// memory image. Nothing ever asks a mapper to translate an address, so reads cost
// nothing; the price is paid once per bank switch.
//
// The base class also holds what several boards share: access to the argument block,
// the CPU address of a write, bank copies that stay inside the ROM, the nametable
// arrangement switch and the little-endian fields of save-state records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace NES {

class APU;
class CPU;
class PPU;
class Snapshot;
class ExpansionSound;

// One background tile as the PPU fetched it, for a board that may change the fetch
// (Mapper::fetch_background).
struct BackgroundTile {
    uint16_t nt_addr; // the nametable byte's address, $2000-$2FFF
    uint8_t tile_index;
    uint8_t fine_y; // the pattern row, 0-7
    uint8_t pattern_lo;
    uint8_t pattern_hi;
    int16_t attribute; // the attribute byte to draw with; -1: the one at the tile's address
};

// Every operation receives the mapper argument block: args[0] is the NES::CPU,
// args[1] the NES::PPU and args[2] the NES::APU.
class Mapper {
public:
    explicit Mapper(uint32_t number, bool clocked = false) : number(number), clocked(clocked) {}
    virtual ~Mapper() = default;
    Mapper(Mapper const&) = delete;
    Mapper& operator=(Mapper const&) = delete;

    // The iNES mapper number this object was made for; the PRG mapping step and the
    // CPU bus's 16 KiB PRG fold branch on it.
    uint32_t number;
    // The board counts PPU dots (scanline counters, timers). The PPU calls `clock` after
    // every dot only for such boards: for the others the call would do nothing, 89342
    // times a frame.
    bool const clocked;
    // Nothing drives the data bus at $6000-$7FFF (a board with its RAM there switched
    // off): hardware mode's reads there see the open bus. The fast mode, which keeps no
    // open bus, reads the memory image, where such a board leaves what the open bus
    // would most often hold.
    bool prg_ram_off = false;

    // A CPU write, after mirror folding and before the byte is stored; the board may
    // replace *value, and whatever it leaves there is what the CPU stores.
    virtual void map_write(void** args, signed char* addr, signed char* value);
    // A CPU read with mapper notification; it cannot change the byte read.
    virtual void map_read(void** args, signed char* addr);
    // After every PPU dot, with the PPU's own argument block.
    virtual void clock(void** args);
    // For a clocked board: how many of the coming dots can pass before its clock could
    // raise an IRQ, so that the console may let the PPU run behind the CPU that long. 0
    // means the very next dot.
    virtual uint64_t quiet_dots(PPU const& ppu) const;
    // Hardware mode, for a board that watches PPU address line A12: the line rose on dot
    // `dot` (the PPU's dot count) after being low since dot `low_since`.
    virtual bool watches_a12() const { return false; }
    virtual void a12_rose(void** args, uint64_t dot, uint64_t low_since);
    // For a board whose CHR banks follow what the PPU reads from the pattern tables (the
    // latches of MMC2 and MMC4): the PPU, which asks once as the cartridge is attached,
    // then tells it of each such read in the order the console makes them. `address`
    // ($0000-$1FFF) is the second plane of a fetched tile row (the first plane lies 8
    // bytes below and is no trigger on any board) or a $2007 read.
    virtual bool watches_patterns() const { return false; }
    virtual void pattern_read(void** args, uint16_t address);
    // A CPU read at $4020-$5FFF, once the PPU has caught up with it. `value` holds what
    // the bus reads there without the board (the open bus in hardware mode, the memory
    // image's byte in the fast mode); a board with registers there replaces it.
    virtual void read_register(void** args, uint16_t address, uint8_t& value);
    // For a board that takes part in the PPU's fetches (MMC5), asked once as the cartridge
    // is attached. The PPU then maps each nametable onto the page the board names
    // (PPU::nametable_page, with the MIRROR_BOARD_PAGES arrangement), shows the board
    // each background tile it fetched, which the board may change, and takes the sprite
    // rows' pattern planes from the board. A board with this hook also counts dots
    // (`clocked`), which keeps the PPU on its per-dot renderer.
    virtual bool joins_fetches() const { return false; }
    virtual void fetch_background(PPU const& ppu, int line, uint16_t from,
                                  BackgroundTile& tile) const;
    virtual void fetch_sprite_row(PPU const& ppu, uint16_t address, uint8_t& lo, uint8_t& hi) const;
    // The nametable arrangement at power-on, given the header's.
    virtual int32_t power_on_mirroring(int32_t header) const { return header; }
    // The board's registers at the start of a zeroed 256-byte save-state record, as
    // files have always held them (at most 64 bytes).
    virtual void serialize(void** args, char* record);
    // Restores the registers from a record, after the memory images were restored.
    virtual void deserialize(void** args, char* record);
    // What earlier files lacked, for a board that needs more than its first 64 bytes to
    // go on as it was (persistence/save_state.cpp): the extension, EXTENSION_SIZE bytes
    // of the record, and a trailer of trailer_size() bytes after the record (state that
    // has no room in it: RAM the memory images do not show). A board that extends the
    // record marks every record it writes; both depend only on the cartridge.
    static constexpr size_t EXTENSION_SIZE = 184;
    virtual bool extends_record() const { return false; }
    virtual size_t trailer_size() const { return 0; }
    // Writes the zeroed extension and, when the board has one, the trailer.
    virtual void save_extension(void** args, char* extension, unsigned char* trailer);
    // Restores them after `deserialize`, for a record that holds the extension. `trailer`
    // is null when the record has no trailer of this board's length: the board keeps
    // what it holds. Every value is untrusted and is brought into range.
    virtual void load_extension(void** args, char const* extension, unsigned char const* trailer);
    // The board's registers in a console snapshot (persistence/snapshot.hpp); boards
    // without registers have nothing to add.
    virtual void snapshot(Snapshot& s);
    // The 8 KiB of cartridge RAM while the board holds it away from the CPU's $6000-$7FFF
    // (which then shows ROM or nothing), else null: battery files and save-state records
    // take the RAM from here, whatever the CPU sees.
    virtual signed char const* parked_prg_ram() const { return nullptr; }
    // A board that keeps more cartridge RAM than the CPU's window shows (MMC5's 64 KiB):
    // all of it, in the board's page order, which its battery file holds whole. Empty for
    // the others, whose battery file is the 8 KiB at $6000.
    virtual std::span<signed char> board_prg_ram() { return {}; }
    // The board's own sound channels (apu/expansion_sound.hpp), which the console mixes
    // with its own; null for a board without sound. Asked once, at power-on.
    virtual ExpansionSound* sound() { return nullptr; }

protected:
    static CPU& cpu_of(void** args) { return *static_cast<CPU*>(args[0]); }
    static PPU& ppu_of(void** args) { return *static_cast<PPU*>(args[1]); }
    static APU& apu_of(void** args) { return *static_cast<APU*>(args[2]); }
    // The CPU address ($0000-$FFFF) that a location in the CPU memory image stands for.
    static int32_t cpu_address(CPU const& cpu, signed char const* addr);

    // Bank copies. `bank` counts 1 KiB units of the ROM and `length` bytes; both go
    // through the ROM's wrapping copy, so every 1 KiB unit of the source is taken modulo
    // the ROM size: whatever the bank number and however small or oddly sized the ROM,
    // a copy never reads past its end (a too-small ROM shows up mirrored, as on a board
    // whose upper address lines are not connected).
    static void copy_prg(CPU& cpu, uint16_t cpu_addr, int bank, int length);
    static void copy_chr(PPU& ppu, uint16_t ppu_addr, int bank, int length);

    // Sets the PPU's nametable arrangement. The PPU stores the first page of nametable
    // RAM at $2000 and the second at $2800 in the horizontal arrangement, at $2400 in the
    // others (vertical, the upper screen that shows it alone, and the lower screen, which
    // leaves it there), so a switch between horizontal and another arrangement moves the
    // second page to where the new one keeps it, as the two pages keep their contents on
    // the console. Switches from or to four-screen move nothing.
    static void set_mirroring(PPU& ppu, int32_t mirroring);
    // After a save-state record restored the nametables as the arrangement `mirroring`
    // keeps them: sets it without moving anything.
    static void restore_mirroring(PPU& ppu, int32_t mirroring);

    static void put_le32(char* at, int32_t value);
    static int32_t get_le32(char const* at);
};

} // namespace NES
