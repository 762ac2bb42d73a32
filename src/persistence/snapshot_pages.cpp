// Sparse memory in snapshots: RAM, cartridge RAM, nametables and pattern memory go in by
// the 256-byte pages that hold anything. Saves and restores test every page, so the
// test runs a group of pages at a time, with an AVX2 form where the processor has it
// (the same answer, found with one test per page instead of a reduction).
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "persistence/snapshot.hpp"

namespace NES {

namespace {

uint64_t nonzero_pages_portable(unsigned char const* data, size_t pages) {
    uint64_t mask = 0;
    for (size_t p = 0; p < pages; ++p) {
        uint64_t any = 0;
        for (size_t i = 0; i < Snapshot::PAGE; i += 8) {
            uint64_t word;
            std::memcpy(&word, data + p * Snapshot::PAGE + i, 8);
            any |= word;
        }
        mask |= uint64_t(any != 0) << p;
    }
    return mask;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Eight 32-byte loads ORed together and one test per page, instead of a reduction.
[[gnu::target("avx2")]] uint64_t nonzero_pages_avx2(unsigned char const* data, size_t pages) {
    uint64_t mask = 0;
    for (size_t p = 0; p < pages; ++p) {
        auto const* page = reinterpret_cast<__m256i const*>(data + p * Snapshot::PAGE);
        __m256i any = _mm256_or_si256(_mm256_loadu_si256(page), _mm256_loadu_si256(page + 1));
        for (int i = 2; i < 8; i += 2)
            any = _mm256_or_si256(any, _mm256_or_si256(_mm256_loadu_si256(page + i),
                                                       _mm256_loadu_si256(page + i + 1)));
        mask |= uint64_t(!_mm256_testz_si256(any, any)) << p;
    }
    return mask;
}
#endif

} // namespace

uint64_t Snapshot::nonzero_pages(unsigned char const* data, size_t pages) {
#if defined(__x86_64__) && defined(__GNUC__)
    static bool const avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return nonzero_pages_avx2(data, pages);
#endif
    return nonzero_pages_portable(data, pages);
}

void Snapshot::sparse(void* data, size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    size_t const pages = size / PAGE;
    for (size_t first = 0; first < pages; first += 64)
        sparse_group(bytes + first * PAGE, std::min<size_t>(64, pages - first));
}

void Snapshot::sparse_group(unsigned char* group, size_t count) {
    uint64_t const held = mode == Mode::save ? nonzero_pages(group, count) : 0;
    uint64_t mask = 0;
    for (size_t i = 0; i < (count + 7) / 8; ++i) {
        uint8_t byte = uint8_t(held >> (8 * i));
        mask |= uint64_t(field(byte)) << (8 * i);
    }
    uint64_t const all = count == 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
    require((mask & ~all) == 0);
    mask &= all;
    size_t const present = size_t(std::popcount(mask));
    if (mode == Mode::check && !failed && in_size - position >= present * PAGE)
        require(nonzero_pages(in + position, present) ==
                (present == 64 ? ~uint64_t(0) : (uint64_t(1) << present) - 1));
    if (mode == Mode::load)
        for (uint64_t stale = nonzero_pages(group, count) & ~mask; stale; stale &= stale - 1)
            std::memset(group + size_t(std::countr_zero(stale)) * PAGE, 0, PAGE);
    if (mode == Mode::check) {
        take(nullptr, present * PAGE);
        return;
    }
    for (uint64_t left = mask; left; left &= left - 1) {
        unsigned char* const page = group + size_t(std::countr_zero(left)) * PAGE;
        if (mode == Mode::save)
            put(page, PAGE);
        else
            take(page, PAGE);
    }
}

} // namespace NES
