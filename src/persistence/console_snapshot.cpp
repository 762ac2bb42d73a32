// Console snapshots as byte strings:
//
//   magic "VNDLSNAP" (8) | format version (u32) | parts (u32) | cartridge identity (u64) |
//   the chips' fields: CPU, PPU, APU, mapper (see each chip's snapshot function) |
//   check value over everything before it (u32, a CRC-32C)
//
// Parts: bit 0, the finished picture is included; no other bit is used. The length
// depends on the state (memory goes in by non-zero pages), so it is counted when asked.
//
// The format version also tells the two accuracy modes apart: a hardware-mode console
// holds more state (where the CPU's bus and interrupt lines stand, the PPU's latch), so
// its snapshots are a format of their own, and a console refuses the other mode's.
//
// A snapshot is refused whole, before anything changes, when it is of another format
// or another cartridge, when its check value does not match, when its length is not
// exactly what this console's fields take, or when its fields describe no state the
// console could have reached: each chip checks its own fields, and the console checks
// the chips' clocks against each other.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "console/nes_unit.hpp"
#include "persistence/crc32c.hpp"
#include "persistence/snapshot.hpp"

namespace {

constexpr char MAGIC[8] = {'V', 'N', 'D', 'L', 'S', 'N', 'A', 'P'};
// Formats 1 and 2 (hardware mode: 0x10001 to 0x10003) are refused as another version's:
// format 3 sealed snapshots with a CRC-32C instead of a 64-bit sum. Hardware format
// 0x10004 is refused too: 0x10005 adds the PPU's power-on reset signal.
constexpr uint32_t FORMAT_VERSION = 3;
constexpr uint32_t HARDWARE_FORMAT_VERSION = 0x10005;
constexpr uint32_t WITH_PICTURE = 1;

uint32_t format_version(NES::Accuracy accuracy) {
    return accuracy == NES::Accuracy::hardware ? HARDWARE_FORMAT_VERSION : FORMAT_VERSION;
}
constexpr size_t VERSION_AT = sizeof MAGIC;
constexpr size_t PARTS_AT = VERSION_AT + sizeof(uint32_t);
constexpr size_t IDENTITY_AT = PARTS_AT + sizeof(uint32_t);
constexpr size_t HEADER_SIZE = IDENTITY_AT + sizeof(uint64_t);
constexpr size_t CHECK_SIZE = sizeof(uint32_t);

uint32_t read_u32(unsigned char const* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// The check value catches accidental damage (the field checks stand against anything
// crafted): a CRC-32C, which no error of one bit or burst of up to 32 bits gets
// through, computed fast enough for a search that saves and restores thousands of
// times a second.
uint32_t check_value(unsigned char const* data, size_t size) {
    return NES::crc32c(data, size);
}

// About five years at the console's clock. Bounding the cycle count keeps every product
// of a count and a rate (the APU's sampling rule, the run thread's pacing) in 64 bits.
constexpr int64_t MAX_CPU_CYCLES = int64_t(1) << 48;
// No instruction comes near this many cycles.
constexpr int64_t MAX_INSTRUCTION_CYCLES = 1024;
constexpr uint64_t DOTS_PER_FRAME = 262 * 341;
// The PPU and the APU run behind the CPU at most until the next event the CPU would see,
// less than a frame ahead, and the per-frame callable finds them at the end of a frame:
// they are never two frames behind. A restored console catches them up dot by dot, so a
// larger lag would only be a long wait.
constexpr uint64_t MAX_LAG_DOTS = 2 * DOTS_PER_FRAME;
constexpr uint64_t MAX_LAG_CYCLES = MAX_LAG_DOTS / 3;

// Three PPU dots and half an APU step to a CPU cycle (the APU's step covering an odd
// last cycle included); the catch-up deadline lies within a frame of the PPU; the APU's
// rate is half the CPU clock.
bool clocks_agree(NES::Snapshot::Clocks const& c) {
    if (c.cpu_cycles < 0 || c.cpu_cycles > MAX_CPU_CYCLES) return false;
    uint64_t const cycles = uint64_t(c.cpu_cycles);
    if (c.instruction_start < 0 || c.instruction_start > c.cpu_cycles ||
        c.cpu_cycles - c.instruction_start > MAX_INSTRUCTION_CYCLES)
        return false;
    if (c.ppu_dots > 3 * cycles + c.ppu_lead ||
        3 * cycles - std::min(3 * cycles, c.ppu_dots) > MAX_LAG_DOTS)
        return false;
    if (c.ppu_deadline > c.ppu_dots + DOTS_PER_FRAME) return false;
    if (c.apu_steps > cycles || 2 * c.apu_steps > cycles + 1 ||
        cycles - std::min(cycles, 2 * c.apu_steps) > MAX_LAG_CYCLES)
        return false;
    return c.apu_clock == c.clock_speed / 2;
}

void append(std::vector<unsigned char>& out, void const* data, size_t size) {
    auto const* bytes = static_cast<unsigned char const*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

} // namespace

template <class Pass> void NESUnit::visit_chips(Pass& s) {
    if (mode == NES::Accuracy::hardware) s.clocks.ppu_lead = NES::CPU::PPU_LEAD_DOTS;
    cpu->snapshot(s);
    ppu->snapshot(s);
    apu->snapshot(s);
    rom->mapper->snapshot(s);
    s.require(clocks_agree(s.clocks));
}

std::vector<unsigned char> NESUnit::take_snapshot(std::vector<NES::Snapshot::Span>* layout,
                                                  bool picture) {
    CallerClaim const claim(*this, "snapshot", Reentry::share);
    std::vector<unsigned char> out(HEADER_SIZE);
    write_header(out.data(), picture);
    NES::Snapshot s(out, layout);
    s.picture = picture;
    visit_chips(s);
    uint32_t const check = check_value(out.data(), out.size());
    append(out, &check, sizeof check);
    return out;
}

void NESUnit::write_header(unsigned char* out, bool picture) const {
    uint32_t const version = format_version(mode);
    uint32_t const parts = picture ? WITH_PICTURE : 0;
    uint64_t const identity = rom->identity();
    std::memcpy(out, MAGIC, sizeof MAGIC);
    std::memcpy(out + VERSION_AT, &version, sizeof version);
    std::memcpy(out + PARTS_AT, &parts, sizeof parts);
    std::memcpy(out + IDENTITY_AT, &identity, sizeof identity);
}

size_t NESUnit::snapshot_size(bool picture) {
    CallerClaim const claim(*this, "snapshot", Reentry::share);
    NES::Snapshot counting(nullptr, 0);
    counting.picture = picture;
    visit_chips(counting);
    return HEADER_SIZE + counting.written() + CHECK_SIZE;
}

size_t NESUnit::write_snapshot(unsigned char* out, size_t capacity, bool picture) {
    if (capacity < HEADER_SIZE + CHECK_SIZE) return 0;
    CallerClaim const claim(*this, "snapshot", Reentry::share);
    write_header(out, picture);
    NES::SavingPass s(out + HEADER_SIZE, capacity - HEADER_SIZE - CHECK_SIZE);
    s.picture = picture;
    visit_chips(s);
    if (!s.usable()) return 0;
    size_t const size = HEADER_SIZE + s.written() + CHECK_SIZE;
    uint32_t const check = check_value(out, size - CHECK_SIZE);
    std::memcpy(out + size - CHECK_SIZE, &check, CHECK_SIZE);
    return size;
}

std::optional<uint32_t> NESUnit::snapshot_version(unsigned char const* data, size_t size) {
    if (size < HEADER_SIZE + CHECK_SIZE || std::memcmp(data, MAGIC, sizeof MAGIC) != 0)
        return std::nullopt;
    return read_u32(data + VERSION_AT);
}

std::optional<NES::Accuracy> NESUnit::snapshot_accuracy(unsigned char const* data, size_t size) {
    std::optional<uint32_t> const version = snapshot_version(data, size);
    if (version == FORMAT_VERSION) return NES::Accuracy::fast;
    if (version == HARDWARE_FORMAT_VERSION) return NES::Accuracy::hardware;
    return std::nullopt;
}

uint32_t NESUnit::snapshot_format_version(NES::Accuracy accuracy) {
    return format_version(accuracy);
}

void NESUnit::seal_snapshot(std::vector<unsigned char>& snapshot) {
    if (snapshot.size() < HEADER_SIZE + CHECK_SIZE) return;
    uint32_t const check = check_value(snapshot.data(), snapshot.size() - CHECK_SIZE);
    std::memcpy(snapshot.data() + snapshot.size() - CHECK_SIZE, &check, CHECK_SIZE);
}

void NESUnit::load_trusted_snapshot(unsigned char const* data, size_t size) {
    CallerClaim const claim(*this, "restoreSnapshot", Reentry::share);
    NES::LoadingPass loading(data + HEADER_SIZE, size - HEADER_SIZE - CHECK_SIZE);
    loading.picture = read_u32(data + PARTS_AT) & WITH_PICTURE;
    visit_chips(loading);
}

NESUnit::SnapshotVerdict NESUnit::restore_snapshot(unsigned char const* data, size_t size) {
    CallerClaim const claim(*this, "restoreSnapshot", Reentry::share);
    if (!snapshot_version(data, size)) return SnapshotVerdict::not_a_snapshot;
    std::optional<NES::Accuracy> const accuracy = snapshot_accuracy(data, size);
    if (!accuracy) return SnapshotVerdict::other_version;
    if (*accuracy != mode) return SnapshotVerdict::other_accuracy;
    uint64_t identity;
    std::memcpy(&identity, data + IDENTITY_AT, sizeof identity);
    if (identity != rom->identity()) return SnapshotVerdict::other_cartridge;
    if (read_u32(data + size - CHECK_SIZE) != check_value(data, size - CHECK_SIZE))
        return SnapshotVerdict::damaged;
    uint32_t const parts = read_u32(data + PARTS_AT);
    if ((parts & ~WITH_PICTURE) != 0) return SnapshotVerdict::damaged;
    unsigned char const* fields = data + HEADER_SIZE;
    size_t const fields_size = size - HEADER_SIZE - CHECK_SIZE;
    NES::CheckingPass checking(fields, fields_size);
    checking.picture = parts & WITH_PICTURE;
    visit_chips(checking);
    if (!checking.usable()) return SnapshotVerdict::damaged;
    NES::LoadingPass loading(fields, fields_size);
    loading.picture = checking.picture;
    visit_chips(loading);
    return SnapshotVerdict::restored;
}
