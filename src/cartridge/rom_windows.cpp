#include "cartridge/rom_windows.hpp"

#include <algorithm>
#include <cstring>

#include "persistence/snapshot.hpp"

namespace NES {

void RomWindows::attach(signed char* first, int windows) {
    base = first;
    count = std::min(windows, MAX_WINDOWS);
    std::fill(unit, unit + MAX_WINDOWS, BLANK);
}

void RomWindows::forget() {
    std::fill(unit, unit + MAX_WINDOWS, NOT_ROM);
}

void RomWindows::overwrite(unsigned char const* bytes) {
    for (int w = 0; w < count; ++w) {
        signed char* const window = base + w * WINDOW;
        unsigned char const* const from = bytes + size_t(w) * WINDOW;
        if (std::memcmp(window, from, WINDOW) == 0) continue;
        std::memcpy(window, from, WINDOW);
        unit[w] = NOT_ROM;
    }
}

// The window `p` starts, or -1 when p is outside the windows or not at a window's start.
int RomWindows::window_of(signed char const* p) const {
    if (!base || p < base || p >= base + count * WINDOW) return -1;
    long const offset = long(p - base);
    return offset % WINDOW == 0 ? int(offset / WINDOW) : -1;
}

void RomWindows::copied(signed char const* dest, int first_unit, int length, int units) {
    if (!base) return;
    for (int offset = 0; offset < length; offset += WINDOW) {
        signed char const* const at = dest + offset;
        int const w = window_of(at);
        if (w >= 0) {
            unit[w] = length - offset >= WINDOW && units > 0
                          ? int32_t((int64_t(first_unit) + offset / WINDOW) % units)
                          : NOT_ROM;
        } else if (at + WINDOW > base && at < base + count * WINDOW) {
            // Lands across windows: the windows it touches hold bytes of their own.
            long const from = std::max(0L, long(at - base)) / WINDOW;
            long const to =
                std::min(long(count) * WINDOW - 1, long(at - base) + WINDOW - 1) / WINDOW;
            for (long k = from; k <= to; ++k)
                unit[k] = NOT_ROM;
        }
    }
}

void RomWindows::exchanged(signed char const* a, signed char const* b, int length) {
    int const wa = window_of(a), wb = window_of(b);
    if (wa >= 0 && wb >= 0 && length % WINDOW == 0 && wa + length / WINDOW <= count &&
        wb + length / WINDOW <= count) {
        std::swap_ranges(unit + wa, unit + wa + length / WINDOW, unit + wb);
        return;
    }
    // Not window-aligned: whatever the exchange touched holds bytes of its own.
    for (signed char const* p : {a, b})
        copied(p, 0, length, 0);
}

template <class Pass> void RomWindows::snapshot(Pass& s, unsigned char const* rom, int units) {
    for (int w = 0; w < count; ++w) {
        int32_t held = unit[w];
        int32_t const saved = s.bounded(held, BLANK, int32_t(units) - 1);
        signed char* const window = base + w * WINDOW;
        if (saved == NOT_ROM) s.sparse(window, WINDOW);
        if (!s.loading()) continue;
        if (saved == BLANK && unit[w] != BLANK)
            std::memset(window, 0, WINDOW);
        else if (saved >= 0 && saved != unit[w])
            std::memcpy(window, rom + size_t(saved) * WINDOW, WINDOW);
        unit[w] = saved;
    }
}

// The passes the console runs: its own, fixed when compiled, and the general one.
template void RomWindows::snapshot(Snapshot&, unsigned char const*, int);
template void RomWindows::snapshot(SavingPass&, unsigned char const*, int);
template void RomWindows::snapshot(CheckingPass&, unsigned char const*, int);
template void RomWindows::snapshot(LoadingPass&, unsigned char const*, int);

} // namespace NES
