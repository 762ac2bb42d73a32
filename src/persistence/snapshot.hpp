// A snapshot is the complete state of a console: everything the chips hold that a later
// step could read, not only what the save-state record keeps (that record leaves out the
// PPU's and the APU's inner counters, so a console restored from it goes on differently
// from the one that saved it). Console copies, pickles and the batch stepper's resets
// restore snapshots, and a restored console continues exactly as the original would.
//
// Every chip lists its fields once, in one function that serves all three directions:
// writing them out, checking a snapshot before anything changes, and loading it. The
// layout is the fields in that order, raw, in the host's byte order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <vector>

namespace NES {

class Snapshot {
public:
    enum class Mode { save, check, load };

    // Writes the fields to the end of `out`.
    explicit Snapshot(std::vector<unsigned char>& out) : mode(Mode::save), out(&out) {}
    // Reads the fields from a snapshot: `check` only validates them, `load` stores them.
    Snapshot(Mode mode, unsigned char const* data, size_t size)
        : mode(mode), in(data), in_size(size) {}

    bool loading() const { return mode == Mode::load; }

    template <typename T> void field(T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        if (mode == Mode::save) {
            auto const* bytes = reinterpret_cast<unsigned char const*>(&value);
            out->insert(out->end(), bytes, bytes + sizeof value);
        } else {
            take(mode == Mode::load ? &value : nullptr, sizeof value);
        }
    }

    template <typename T> void field(std::atomic<T>& value) {
        T plain = value.load();
        field(plain);
        if (mode == Mode::load) value.store(plain);
    }

    // A field that indexes a table or shifts a value: a snapshot holding it outside
    // [low, high] is refused, so that no edited snapshot can make a step read out of bounds.
    template <typename T> void bounded(T& value, T low, T high) {
        T plain = value;
        if (mode == Mode::save)
            field(plain);
        else
            take(&plain, sizeof plain);
        if (plain < low || plain > high) failed = true;
        if (mode == Mode::load) value = plain;
    }

    // True when every field was read from inside the snapshot, every bounded field was
    // in range, and the snapshot held nothing more.
    bool usable() const { return !failed && (mode == Mode::save || position == in_size); }

private:
    // Copies the next `size` bytes to `to`, or only passes over them when it is null.
    void take(void* to, size_t size) {
        if (failed || in_size - position < size) {
            failed = true;
            return;
        }
        if (to) std::memcpy(to, in + position, size);
        position += size;
    }

    Mode mode;
    std::vector<unsigned char>* out = nullptr;
    unsigned char const* in = nullptr;
    size_t in_size = 0;
    size_t position = 0;
    bool failed = false;
};

} // namespace NES
