// Which 1 KiB unit of the cartridge's ROM each 1 KiB window of a memory image holds.
//
// Boards place banks by copying them into the CPU and PPU memory images, so what a
// window shows depends on the whole history of bank switches and mode changes, not
// only on the registers a board keeps. The ROM's copies note it here as they happen
// (and a board that exchanges windows says so), so that a snapshot can name each
// window's bank instead of holding its bytes, and a restore can copy the bank again.
// A window that no copy has reached since the image was cleared is BLANK: it holds
// zeros, which is all a snapshot says of it. A window that holds anything else (RAM, a
// bank only partly copied, bytes from a save-state record) is NOT_ROM, and a snapshot
// holds its bytes.
#pragma once

#include <cstdint>

namespace NES {

struct RomWindows {
    static constexpr int32_t NOT_ROM = -1;
    static constexpr int32_t BLANK = -2;
    static constexpr int WINDOW = 1024;
    static constexpr int MAX_WINDOWS = 32;

    signed char* base = nullptr; // the first window's byte in the memory image
    int count = 0;
    int32_t unit[MAX_WINDOWS];

    // The windows of `windows` KiB from `first` on, cleared: all BLANK.
    void attach(signed char* first, int windows);
    // Every window holds bytes of its own from now on.
    void forget();
    // The windows take `count` KiB of bytes from `bytes`: a window that holds them
    // already keeps its unit (or stays BLANK), any other becomes NOT_ROM.
    void overwrite(unsigned char const* bytes);
    // `length` bytes were copied to `dest` from ROM unit `first_unit` on, each unit taken
    // modulo `units`. Windows the copy covers whole hold those units; windows it covers
    // in part hold bytes of their own.
    void copied(signed char const* dest, int first_unit, int length, int units);
    // The `length` bytes at `dest` were given bytes of the board's own (RAM).
    void overwritten(signed char const* dest, int length) { copied(dest, 0, length, 0); }
    // The `length` bytes at `a` and at `b` were exchanged.
    void exchanged(signed char const* a, signed char const* b, int length);

    // The windows in a snapshot: each window's unit, and the bytes of the NOT_ROM
    // windows. On load, a window is copied from `rom` (`units` KiB), or cleared, only
    // when it holds another unit than the one saved, so a restore that changes no bank
    // copies nothing.
    template <class Pass> void snapshot(Pass& s, unsigned char const* rom, int units);

private:
    int window_of(signed char const* p) const;
};

} // namespace NES
