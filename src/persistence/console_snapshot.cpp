// Console snapshots as byte strings:
//
//   magic "VNDLSNAP" (8) | format version (u32) | cartridge identity (u64) |
//   the chips' fields: CPU, PPU, APU, mapper (see each chip's snapshot function) |
//   check value over everything before it (u64)
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
#include "persistence/snapshot.hpp"

namespace {

constexpr char MAGIC[8] = {'V', 'N', 'D', 'L', 'S', 'N', 'A', 'P'};
constexpr uint32_t FORMAT_VERSION = 1;
constexpr uint32_t HARDWARE_FORMAT_VERSION = 0x10002;

uint32_t format_version(NES::Accuracy accuracy) {
    return accuracy == NES::Accuracy::hardware ? HARDWARE_FORMAT_VERSION : FORMAT_VERSION;
}
constexpr size_t HEADER_SIZE = sizeof MAGIC + sizeof(uint32_t) + sizeof(uint64_t);
constexpr size_t CHECK_SIZE = sizeof(uint64_t);

// A 64-bit multiply-xor hash over whole words: cheap enough to run over a whole snapshot
// (half a megabyte) on every restore, and it catches any accidental change.
uint64_t check_value(unsigned char const* data, size_t size) {
    uint64_t h = 0xCBF29CE484222325ULL;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = (h ^ word) * 0x100000001B3ULL;
        h ^= h >> 29;
    }
    for (; i < size; ++i)
        h = (h ^ data[i]) * 0x100000001B3ULL;
    return h;
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

uint64_t NESUnit::compute_cartridge_identity() const {
    std::vector<unsigned char> const image = rom->image();
    return check_value(image.data(), image.size());
}

void NESUnit::visit_chips(NES::Snapshot& s) {
    if (mode == NES::Accuracy::hardware) s.clocks.ppu_lead = NES::CPU::PPU_LEAD_DOTS;
    cpu->snapshot(s);
    ppu->snapshot(s);
    apu->snapshot(s);
    rom->mapper->snapshot(s);
    s.require(clocks_agree(s.clocks));
}

std::vector<unsigned char> NESUnit::take_snapshot(std::vector<NES::Snapshot::Span>* layout) {
    if (!layout) {
        std::vector<unsigned char> out(snapshot_size());
        write_snapshot(out.data(), out.size());
        return out;
    }
    CallerClaim const claim(*this, "snapshot", Reentry::share);
    std::vector<unsigned char> out;
    out.resize(HEADER_SIZE);
    write_header(out.data());
    NES::Snapshot s(out, layout);
    visit_chips(s);
    uint64_t const check = check_value(out.data(), out.size());
    append(out, &check, sizeof check);
    return out;
}

void NESUnit::write_header(unsigned char* out) const {
    uint32_t const version = format_version(mode);
    std::memcpy(out, MAGIC, sizeof MAGIC);
    std::memcpy(out + sizeof MAGIC, &version, sizeof version);
    std::memcpy(out + sizeof MAGIC + sizeof version, &cartridge_identity,
                sizeof cartridge_identity);
}

// The fields take the same bytes in every state of a console: counted once.
size_t NESUnit::snapshot_size() {
    size_t known = snapshot_bytes.load(std::memory_order_relaxed);
    if (known != 0) return known;
    CallerClaim const claim(*this, "snapshot", Reentry::share);
    NES::Snapshot counting(nullptr, 0);
    visit_chips(counting);
    known = HEADER_SIZE + counting.written() + CHECK_SIZE;
    snapshot_bytes.store(known, std::memory_order_relaxed);
    return known;
}

bool NESUnit::write_snapshot(unsigned char* out, size_t size) {
    if (size != snapshot_size()) return false;
    CallerClaim const claim(*this, "snapshot", Reentry::share);
    write_header(out);
    size_t const fields_size = size - HEADER_SIZE - CHECK_SIZE;
    NES::Snapshot s(out + HEADER_SIZE, fields_size);
    visit_chips(s);
    if (!s.usable() || s.written() != fields_size)
        throw std::logic_error("snapshot: the console's fields changed length");
    uint64_t const check = check_value(out, size - CHECK_SIZE);
    std::memcpy(out + size - CHECK_SIZE, &check, CHECK_SIZE);
    return true;
}

std::optional<NES::Accuracy> NESUnit::snapshot_accuracy(unsigned char const* data, size_t size) {
    if (size < HEADER_SIZE + CHECK_SIZE || std::memcmp(data, MAGIC, sizeof MAGIC) != 0)
        return std::nullopt;
    uint32_t version;
    std::memcpy(&version, data + sizeof MAGIC, sizeof version);
    if (version == FORMAT_VERSION) return NES::Accuracy::fast;
    if (version == HARDWARE_FORMAT_VERSION) return NES::Accuracy::hardware;
    return std::nullopt;
}

void NESUnit::seal_snapshot(std::vector<unsigned char>& snapshot) {
    if (snapshot.size() < HEADER_SIZE + CHECK_SIZE) return;
    uint64_t const check = check_value(snapshot.data(), snapshot.size() - CHECK_SIZE);
    std::memcpy(snapshot.data() + snapshot.size() - CHECK_SIZE, &check, CHECK_SIZE);
}

NESUnit::SnapshotVerdict NESUnit::restore_snapshot(unsigned char const* data, size_t size) {
    CallerClaim const claim(*this, "restoreSnapshot", Reentry::share);
    if (size < HEADER_SIZE + CHECK_SIZE || std::memcmp(data, MAGIC, sizeof MAGIC) != 0)
        return SnapshotVerdict::not_a_snapshot;
    std::optional<NES::Accuracy> const accuracy = snapshot_accuracy(data, size);
    if (!accuracy) return SnapshotVerdict::other_version;
    if (*accuracy != mode) return SnapshotVerdict::other_accuracy;
    uint32_t version;
    std::memcpy(&version, data + sizeof MAGIC, sizeof version);
    uint64_t identity;
    std::memcpy(&identity, data + sizeof MAGIC + sizeof version, sizeof identity);
    if (identity != cartridge_identity) return SnapshotVerdict::other_cartridge;
    uint64_t check;
    std::memcpy(&check, data + size - CHECK_SIZE, CHECK_SIZE);
    if (check != check_value(data, size - CHECK_SIZE)) return SnapshotVerdict::damaged;
    unsigned char const* fields = data + HEADER_SIZE;
    size_t const fields_size = size - HEADER_SIZE - CHECK_SIZE;
    NES::Snapshot checking(NES::Snapshot::Mode::check, fields, fields_size);
    visit_chips(checking);
    if (!checking.usable()) return SnapshotVerdict::damaged;
    NES::Snapshot loading(NES::Snapshot::Mode::load, fields, fields_size);
    visit_chips(loading);
    return SnapshotVerdict::restored;
}
