// A snapshot is the complete state of a console: everything the chips hold that a later
// step could read, not only what the save-state record keeps (that record leaves out the
// PPU's and the APU's inner counters, so a console restored from it goes on differently
// from the one that saved it). Console copies, pickles and the batch stepper's resets
// restore snapshots, and a restored console continues exactly as the original would.
//
// Every chip lists its fields once, in one function template that serves all three
// directions: writing them out, checking a snapshot before anything changes, and loading
// it (through Snapshot, or through a SnapshotPass whose direction is fixed). The
// layout is the fields in that order, raw, in the host's byte order. A snapshot holds
// only what the console needs to go on: memory that is mostly zero goes in by 256-byte
// pages (`sparse`), what the cartridge's ROM holds is named by bank instead of copied,
// and the finished picture may be left out (`picture`).
//
// A snapshot is untrusted input: a file or a pickle may come from anyone, and its check
// value only catches accidental damage. So the check pass must prove that the snapshot
// describes a state the console could have reached, from which no step can index out of
// an array, overflow or run for ever: every field is range-checked as it is read, and the
// fields that depend on each other are checked together (`require`). For that, every
// scalar read returns its value as the snapshot holds it, in every direction: the check
// pass stores nothing, so a chip checks the returned values, never its own members (nor
// another chip's: what one chip's check needs from another's fields goes through
// `clocks`, filled from the snapshot's values).
//
// A restore is all or nothing: the check pass decides, and the load pass that follows
// it reads the same bytes along the same path, so it checks nothing and cannot stop
// halfway. Checks compute with the snapshot's clocks in 128 bits (ClockMath): a sum or
// difference of two 64-bit values held anywhere could wrap, and so pass a check it
// fails.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace NES {

// Arithmetic on clocks and counters as a snapshot holds them, where no sum or difference
// of two 64-bit values overflows.
using ClockMath = __int128;

class Snapshot {
public:
    enum class Mode { save, check, load };

    // What ties the chips together, as the snapshot holds it: the counters of their
    // clocks, and a DMC sample fetch both the APU and the CPU hold. Each chip reports its
    // own while its fields are read; a later chip and the console check them against
    // each other.
    struct Clocks {
        int64_t cpu_cycles = 0;
        int64_t instruction_start = 0;
        int32_t clock_speed = 0;
        uint64_t ppu_deadline = 0;
        uint64_t ppu_dots = 0;
        uint64_t apu_steps = 0;
        int32_t apu_clock = 0;
        // How far the PPU may stand ahead of three dots per CPU cycle: in hardware mode
        // it is brought to the dot of the cycle's access.
        uint64_t ppu_lead = 0;
        // Hardware mode: the CPU has a halt pending for the APU's DMC fetch.
        bool dmc_halt_requested = false;
    };
    Clocks clocks;
    // The finished picture is part of the snapshot (as palette values).
    bool picture = true;

    // Where one field lies in the bytes written: the fuzzer aims its edits at fields.
    struct Span {
        size_t offset;
        size_t size;
    };

    // Writes the fields to the end of `out`, and lists where each lies in `layout` when
    // one is given.
    explicit Snapshot(std::vector<unsigned char>& out, std::vector<Span>* layout = nullptr)
        : mode(Mode::save), out(&out), layout(layout) {}
    // Writes the fields into the `capacity` bytes at `to`; with `to` null, only counts
    // them (written() then says how many bytes they take).
    Snapshot(unsigned char* to, size_t capacity)
        : mode(Mode::save), raw_out(to), in_size(capacity) {}
    // Reads the fields from a snapshot: `check` only validates them, `load` stores them.
    Snapshot(Mode mode, unsigned char const* data, size_t size)
        : mode(mode), in(data), in_size(size) {}

    bool loading() const { return mode == Mode::load; }
    // Writing (or counting) the fields of a live console, which a chip may first bring
    // up to date where that changes nothing it will do (a lazily run unit).
    bool saving() const { return mode == Mode::save; }

    // A scalar field; returns its value as saved or as read. A bool is one byte, and any
    // byte but 0 or 1 is refused: it would be no bool at all, and would save back
    // differently.
    template <typename T> T field(T& value) { return field_in(mode, value); }
    template <typename T> T field(std::atomic<T>& value) { return atomic_in(mode, value); }

    // An array of raw bytes or numbers, any value of which is a state (memory, pictures,
    // sample buffers); arrays of bools are read flag by flag.
    template <typename T, size_t N> void field(T (&values)[N]) { array_in(mode, values); }
    template <typename T, size_t N> void field(std::array<T, N>& values) {
        static_assert(std::is_trivially_copyable_v<T> && !std::is_same_v<T, bool>);
        raw_in(mode, values.data(), sizeof values);
    }

    // `size` bytes at `data`, any value of which is a state.
    void bytes(void* data, size_t size) { raw_in(mode, data, size); }

    // `size` bytes at `data` (a multiple of PAGE), any value of which is a state, most of
    // them usually zero: per group of up to 64 pages, a bit per page (in as many bytes as
    // the group needs) tells which pages follow, and the pages left out are zero. A zero
    // page is always left out, so that a state has one snapshot (snapshot_pages.cpp).
    static constexpr size_t PAGE = 256;
    void sparse(void* data, size_t size);

    // A small array whose elements the chip checks against other fields: returns them as
    // saved or as read.
    template <typename T, size_t N> std::array<T, N> elements(T (&values)[N]) {
        return elements_in(mode, values);
    }

    // A field that indexes a table, shifts a value or counts: a snapshot holding it
    // outside [low, high] is refused.
    template <typename T> T bounded(T& value, T low, T high) {
        return bounded_in(mode, value, low, high);
    }

    // A condition the fields read so far must meet together; a snapshot that fails it
    // is refused. Only the check pass looks: a live console meets every condition, and a
    // load follows a check of the same bytes.
    void require(bool holds) { require_in(mode, holds); }

    // True when every field was read from inside the snapshot, every condition held, and
    // the snapshot held nothing more.
    bool usable() const { return !failed && (mode == Mode::save || position == in_size); }
    // The bytes written (or counted) so far.
    size_t written() const { return position; }

protected:
    // The bodies of the fields, for a direction given as an argument: the passes whose
    // direction is fixed when compiled (SnapshotPass) pass it as a constant, and the
    // always-inlined bodies then fold to the one direction's few instructions.
    template <typename T> [[gnu::always_inline]] T field_in(Mode m, T& value) {
        static_assert(std::is_arithmetic_v<T>);
        T plain = value;
        if (m == Mode::save) {
            put(&plain, sizeof plain);
        } else if constexpr (std::is_same_v<T, bool>) {
            uint8_t byte = 0;
            take(&byte, 1);
            require_in(m, byte <= 1);
            plain = byte == 1;
        } else {
            take(&plain, sizeof plain);
        }
        if (m == Mode::load) value = plain;
        return plain;
    }

    template <typename T> [[gnu::always_inline]] T atomic_in(Mode m, std::atomic<T>& value) {
        T plain = value.load();
        plain = field_in(m, plain);
        if (m == Mode::load) value.store(plain);
        return plain;
    }

    template <typename T, size_t N> [[gnu::always_inline]] void array_in(Mode m, T (&values)[N]) {
        static_assert(std::is_arithmetic_v<T>);
        if constexpr (std::is_same_v<T, bool>) {
            for (bool& value : values)
                field_in(m, value);
        } else {
            raw_in(m, values, sizeof values);
        }
    }

    template <typename T, size_t N>
    [[gnu::always_inline]] std::array<T, N> elements_in(Mode m, T (&values)[N]) {
        std::array<T, N> plain;
        for (size_t i = 0; i < N; ++i)
            plain[i] = field_in(m, values[i]);
        return plain;
    }

    template <typename T> [[gnu::always_inline]] T bounded_in(Mode m, T& value, T low, T high) {
        T const plain = field_in(m, value);
        require_in(m, plain >= low && plain <= high);
        return plain;
    }

    [[gnu::always_inline]] void require_in(Mode m, bool holds) {
        if (!holds && m == Mode::check) failed = true;
    }

    [[gnu::always_inline]] void raw_in(Mode m, void* values, size_t size) {
        if (m == Mode::save)
            put(values, size);
        else
            take(m == Mode::load ? values : nullptr, size);
    }

private:
    // Bit i set when page i of the `pages` (at most 64) at `data` holds a non-zero byte.
    static uint64_t nonzero_pages(unsigned char const* data, size_t pages);
    void sparse_group(unsigned char* group, size_t count);

    // Inlined, so that a scalar field's copy has a constant size and compiles to a move.
    [[gnu::always_inline]] void put(void const* from, size_t size) {
        if (raw_out) {
            if (in_size - position < size) {
                failed = true;
                return;
            }
            std::memcpy(raw_out + position, from, size);
        } else if (out) {
            append(from, size);
        }
        position += size;
    }

    [[gnu::noinline]] void append(void const* from, size_t size) {
        auto const* bytes = static_cast<unsigned char const*>(from);
        if (layout) layout->push_back(Span{out->size(), size});
        out->insert(out->end(), bytes, bytes + size);
    }

    // Copies the next `size` bytes to `to`, or only passes over them when it is null.
    [[gnu::always_inline]] void take(void* to, size_t size) {
        if (failed || in_size - position < size) {
            failed = true;
            return;
        }
        if (to) std::memcpy(to, in + position, size);
        position += size;
    }

    Mode mode;
    std::vector<unsigned char>* out = nullptr;
    std::vector<Span>* layout = nullptr;
    unsigned char* raw_out = nullptr;
    unsigned char const* in = nullptr;
    size_t in_size = 0;
    size_t position = 0;
    bool failed = false;
};

// A snapshot pass whose direction is fixed when compiled: the console's own saves,
// checks and loads, which run thousands of times a second for programs that search.
// The chips' field lists are templates over the pass, so each direction compiles to
// straight-line code without a test of the direction per field; the fields, their
// order and their checks are the same as through Snapshot, which serves the rarer forms
// (counting, writing into a vector with a layout) and the boards' registers.
template <Snapshot::Mode M> class SnapshotPass final : public Snapshot {
public:
    // Saving: into the `capacity` bytes at `to`.
    SnapshotPass(unsigned char* to, size_t capacity) requires(M == Mode::save)
        : Snapshot(to, capacity) {}
    // Checking or loading the `size` bytes at `data`.
    SnapshotPass(unsigned char const* data, size_t size) requires(M != Mode::save)
        : Snapshot(M, data, size) {}

    bool loading() const { return M == Mode::load; }
    template <typename T> T field(T& value) { return field_in(M, value); }
    template <typename T> T field(std::atomic<T>& value) { return atomic_in(M, value); }
    template <typename T, size_t N> void field(T (&values)[N]) { array_in(M, values); }
    template <typename T, size_t N> void field(std::array<T, N>& values) {
        static_assert(std::is_trivially_copyable_v<T> && !std::is_same_v<T, bool>);
        raw_in(M, values.data(), sizeof values);
    }
    void bytes(void* data, size_t size) { raw_in(M, data, size); }
    template <typename T, size_t N> std::array<T, N> elements(T (&values)[N]) {
        return elements_in(M, values);
    }
    template <typename T> T bounded(T& value, T low, T high) {
        return bounded_in(M, value, low, high);
    }
    void require(bool holds) { require_in(M, holds); }
};

using SavingPass = SnapshotPass<Snapshot::Mode::save>;
using CheckingPass = SnapshotPass<Snapshot::Mode::check>;
using LoadingPass = SnapshotPass<Snapshot::Mode::load>;

} // namespace NES
