// Linked into the libFuzzer binaries only. Every input builds a console, and its PPU
// (about 470 KiB) is too large for ASan's size classes: ASan maps such a block afresh
// for every input and unmaps it after, so each input paid for over a hundred page
// faults and the harnesses spent about as long in the kernel as in the emulator.
//
// These replacements of the (unaligned) operator new and delete keep freed blocks of
// 256 KiB or more and hand them out again for the same size, which doubles the
// executions per second. Every block still comes from ASan's malloc and stays
// allocated as far as ASan can tell, so accesses past its ends are still caught. What
// is lost: a use after free of a kept block, and new/free or new[]/delete mismatches,
// since every form now goes through malloc and free. The sanitizer builds of the tests
// (cmake --preset asan) still check those. The aligned forms stay ASan's; C++ always
// pairs them with the aligned deletes.
#include <sanitizer/allocator_interface.h>

#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>

namespace {

constexpr std::size_t LARGE_BLOCK = 256 * 1024;

struct Kept {
    void* block = nullptr;
    std::size_t size = 0;
};

std::mutex kept_mutex;
Kept kept[4];

void* reuse(std::size_t size) {
    std::lock_guard lock(kept_mutex);
    for (Kept& k : kept)
        if (k.block && k.size == size) return std::exchange(k.block, nullptr);
    return nullptr;
}

bool keep(void* block, std::size_t size) {
    std::lock_guard lock(kept_mutex);
    for (Kept& k : kept)
        if (!k.block) {
            k = {block, size};
            return true;
        }
    return false;
}

void* allocate(std::size_t size) noexcept {
    if (size >= LARGE_BLOCK)
        if (void* block = reuse(size)) return block;
    return std::malloc(size ? size : 1);
}

void* allocate_or_throw(std::size_t size) {
    if (void* block = allocate(size)) return block;
    throw std::bad_alloc();
}

void release(void* block) noexcept {
    if (!block) return;
    std::size_t const size = __sanitizer_get_allocated_size(block);
    if (size >= LARGE_BLOCK && keep(block, size)) return;
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) {
    return allocate_or_throw(size);
}
void* operator new[](std::size_t size) {
    return allocate_or_throw(size);
}
void* operator new(std::size_t size, std::nothrow_t const&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, std::nothrow_t const&) noexcept {
    return allocate(size);
}
void operator delete(void* block) noexcept {
    release(block);
}
void operator delete[](void* block) noexcept {
    release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    release(block);
}
void operator delete(void* block, std::nothrow_t const&) noexcept {
    release(block);
}
void operator delete[](void* block, std::nothrow_t const&) noexcept {
    release(block);
}
