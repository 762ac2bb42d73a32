// CRC-32C by tables and by the processor's instructions.
//
// The arithmetic: the bytes are one polynomial over GF(2), the first bit (bit 0 of the
// first byte) its highest term, and the CRC register R is the remainder of the bytes
// read so far times x^32, modulo the polynomial P. Registers are "reflected": bit i of
// a 32-bit register holds the coefficient of x^(31 - i), so multiplying by x is a shift
// right, and a term x^32 shifted out comes back as P's lower terms (0x82F63B78).
//
// The tables read eight bytes a step (slicing by 8). The SSE4.2 CRC instruction reads
// eight bytes a step too, but one step must wait for the last (three cycles each), so
// long runs are folded instead: 16-byte accumulators stand for the bytes read so far,
// and each step multiplies every accumulator by x^(8 x the bytes they cover together)
// (a carry-less multiply of its two halves by constants) and adds the next bytes to it:
// eight 32-byte accumulators where the processor multiplies 32 bytes at once
// (VPCLMULQDQ), four of 16 bytes elsewhere. What is left at the end is
// 16 bytes equivalent to all that was folded, which the CRC instruction then reads like
// any other bytes.
#include "persistence/crc32c.hpp"

#include <array>
#include <cstring>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace NES {

namespace {

constexpr uint32_t REFLECTED_POLYNOMIAL = 0x82F63B78;

constexpr uint32_t times_x(uint32_t r) {
    return (r >> 1) ^ ((r & 1) ? REFLECTED_POLYNOMIAL : 0);
}

// table[k][b]: the register after byte b is followed by k zero bytes, from register 0.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables make_tables() {
    Tables table{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t r = b;
        for (int bit = 0; bit < 8; ++bit)
            r = times_x(r);
        table[0][b] = r;
    }
    for (size_t k = 1; k < table.size(); ++k)
        for (uint32_t b = 0; b < 256; ++b)
            table[k][b] = (table[k - 1][b] >> 8) ^ table[0][table[k - 1][b] & 0xFF];
    return table;
}

constexpr Tables TABLES = make_tables();

uint32_t tables_update(uint32_t r, unsigned char const* data, size_t size) {
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word = 0;
        for (int k = 7; k >= 0; --k)
            word = word << 8 | data[i + size_t(k)];
        word ^= r;
        r = 0;
        for (int k = 0; k < 8; ++k)
            r ^= TABLES[size_t(7 - k)][(word >> (8 * k)) & 0xFF];
    }
    for (; i < size; ++i)
        r = (r >> 8) ^ TABLES[0][(r ^ data[i]) & 0xFF];
    return r;
}

#if defined(__x86_64__) && defined(__GNUC__)

// x^n mod P as a register.
constexpr uint32_t x_power(int n) {
    uint32_t r = 0x80000000; // 1
    for (int i = 0; i < n; ++i)
        r = times_x(r);
    return r;
}

// Moving a 16-byte accumulator A = E x^64 + L (E its earlier, low quadword) `bits`
// forward multiplies it by x^bits, modulo P: E x^(bits + 64) + L x^bits. A carry-less
// product of two reflected quadwords comes out times x (its top term lands one place
// down), and a register shifted into a quadword's upper half is the same polynomial;
// so E and L are multiplied by x^(bits + 63) mod P and x^(bits - 1) mod P.
struct FoldConstants {
    uint64_t earlier, later;
};

constexpr FoldConstants fold_by(int bits) {
    return {uint64_t(x_power(bits + 63)) << 32, uint64_t(x_power(bits - 1)) << 32};
}

constexpr FoldConstants FOLD_512 = fold_by(512);
constexpr FoldConstants FOLD_128 = fold_by(128);
// Below this, folding saves less than setting it up costs.
constexpr size_t FOLD_FROM = 256;

[[gnu::target("sse4.2,pclmul")]] inline __m128i fold(__m128i a, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11));
}

[[gnu::target("sse4.2,pclmul")]] inline __m128i load(unsigned char const* at) {
    return _mm_loadu_si128(reinterpret_cast<__m128i const*>(at));
}

[[gnu::target("sse4.2")]] uint32_t instruction_update(uint32_t r, unsigned char const* data,
                                                      size_t size) {
    uint64_t wide = r;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        wide = _mm_crc32_u64(wide, word);
    }
    r = uint32_t(wide);
    for (; i < size; ++i)
        r = _mm_crc32_u8(r, data[i]);
    return r;
}

// The 16 bytes that stand for the folded bytes, followed by the rest, through the CRC
// instruction from register 0.
[[gnu::target("sse4.2,pclmul")]] uint32_t finish(__m128i folded, unsigned char const* rest,
                                                 size_t size) {
    __m128i const by_128 = _mm_set_epi64x(int64_t(FOLD_128.later), int64_t(FOLD_128.earlier));
    size_t i = 0;
    for (; i + 16 <= size; i += 16)
        folded = _mm_xor_si128(fold(folded, by_128), load(rest + i));
    unsigned char bytes[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), folded);
    return instruction_update(instruction_update(0, bytes, 16), rest + i, size - i);
}

// Blocks of 16 bytes in order, each folded into the next.
[[gnu::target("sse4.2,pclmul")]] __m128i chain(__m128i const* blocks, int count) {
    __m128i const by_128 = _mm_set_epi64x(int64_t(FOLD_128.later), int64_t(FOLD_128.earlier));
    __m128i one = blocks[0];
    for (int k = 1; k < count; ++k)
        one = _mm_xor_si128(fold(one, by_128), blocks[k]);
    return one;
}

[[gnu::target("sse4.2,pclmul")]] uint32_t folding_update(uint32_t r, unsigned char const* data,
                                                         size_t size) {
    if (size < FOLD_FROM) return instruction_update(r, data, size);
    // The register joins the first bytes, and counts from 0 from there.
    __m128i acc[4] = {_mm_xor_si128(load(data), _mm_cvtsi32_si128(int(r))), load(data + 16),
                      load(data + 32), load(data + 48)};
    size_t i = 64;
    __m128i const by_512 = _mm_set_epi64x(int64_t(FOLD_512.later), int64_t(FOLD_512.earlier));
    for (; i + 64 <= size; i += 64)
        for (int k = 0; k < 4; ++k)
            acc[k] = _mm_xor_si128(fold(acc[k], by_512), load(data + i + 16 * k));
    return finish(chain(acc, 4), data + i, size - i);
}

constexpr int WIDE_ACCUMULATORS = 8;
constexpr size_t WIDE_STRIDE = 32 * WIDE_ACCUMULATORS;
constexpr FoldConstants FOLD_WIDE = fold_by(8 * WIDE_STRIDE);

[[gnu::target("avx2")]] inline __m256i wide_load(unsigned char const* at) {
    return _mm256_loadu_si256(reinterpret_cast<__m256i const*>(at));
}

[[gnu::target("avx2,vpclmulqdq,sse4.2,pclmul")]] uint32_t
wide_update(uint32_t r, unsigned char const* data, size_t size) {
    if (size < 2 * WIDE_STRIDE) return folding_update(r, data, size);
    __m256i acc[WIDE_ACCUMULATORS];
    for (int k = 0; k < WIDE_ACCUMULATORS; ++k)
        acc[k] = wide_load(data + 32 * k);
    acc[0] = _mm256_xor_si256(acc[0], _mm256_zextsi128_si256(_mm_cvtsi32_si128(int(r))));
    __m256i const by = _mm256_set_epi64x(int64_t(FOLD_WIDE.later), int64_t(FOLD_WIDE.earlier),
                                         int64_t(FOLD_WIDE.later), int64_t(FOLD_WIDE.earlier));
    size_t i = WIDE_STRIDE;
    for (; i + WIDE_STRIDE <= size; i += WIDE_STRIDE)
        for (int k = 0; k < WIDE_ACCUMULATORS; ++k) {
            __m256i const folded = _mm256_xor_si256(_mm256_clmulepi64_epi128(acc[k], by, 0x00),
                                                    _mm256_clmulepi64_epi128(acc[k], by, 0x11));
            acc[k] = _mm256_xor_si256(folded, wide_load(data + i + 32 * k));
        }
    __m128i blocks[2 * WIDE_ACCUMULATORS];
    for (int k = 0; k < WIDE_ACCUMULATORS; ++k) {
        blocks[2 * k] = _mm256_castsi256_si128(acc[k]);
        blocks[2 * k + 1] = _mm256_extracti128_si256(acc[k], 1);
    }
    return finish(chain(blocks, 2 * WIDE_ACCUMULATORS), data + i, size - i);
}

using Update = uint32_t (*)(uint32_t, unsigned char const*, size_t);

Update best_update() {
    if (!__builtin_cpu_supports("sse4.2") || !__builtin_cpu_supports("pclmul"))
        return tables_update;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq")) return wide_update;
    return folding_update;
}

#endif

} // namespace

uint32_t crc32c_portable(unsigned char const* data, size_t size) {
    return ~tables_update(~uint32_t(0), data, size);
}

uint32_t crc32c(unsigned char const* data, size_t size) {
#if defined(__x86_64__) && defined(__GNUC__)
    static Update const update = best_update();
    return ~update(~uint32_t(0), data, size);
#else
    return crc32c_portable(data, size);
#endif
}

} // namespace NES
