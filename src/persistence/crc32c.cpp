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
// eight 64-byte accumulators where the processor multiplies 64 bytes at once (VPCLMULQDQ
// on AVX-512 registers), eight of 32 bytes where it multiplies 32, four of 16 bytes
// elsewhere. Folding beats the CRC instruction even on three interleaved streams (at most
// 8 bytes a cycle, against over 20 for 64-byte folding), and sharing the work between
// the two measured no faster than folding alone. What is left at the end is
// 16 bytes equivalent to all that was folded, which the CRC instruction then reads like
// any other bytes.
#include "persistence/crc32c.hpp"

#include <algorithm>
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

// With 512-bit registers: eight accumulators of 64 bytes, each step moving them 512
// bytes forward. The products and the next bytes are added in one three-way XOR.
constexpr int ZMM_ACCUMULATORS = 8;
constexpr size_t ZMM_STRIDE = 64 * ZMM_ACCUMULATORS;

// FOLD_64S[d]: a lane moved d x 64 bytes forward (entry 0 unused), for adding the
// accumulators and the last whole 64-byte blocks together at the end: each moved by its
// own distance to the last one, all at once, rather than folded into each other in turn.
constexpr int MOST_64S = ZMM_ACCUMULATORS - 1 + int(ZMM_STRIDE / 64) - 1;

constexpr std::array<FoldConstants, MOST_64S + 1> make_fold_64s() {
    std::array<FoldConstants, MOST_64S + 1> table{};
    for (int d = 1; d <= MOST_64S; ++d)
        table[size_t(d)] = fold_by(512 * d);
    return table;
}

constexpr std::array<FoldConstants, MOST_64S + 1> FOLD_64S = make_fold_64s();

// The four lanes of one 64-byte accumulator moved to the last lane: 48, 32 and 16 bytes
// forward, the last one not at all (its multipliers 0, its bytes added as they are).
constexpr std::array<FoldConstants, 4> FOLD_LANES = {fold_by(384), fold_by(256), fold_by(128),
                                                     FoldConstants{0, 0}};

constexpr uint8_t XOR3 = 0x96; // the truth table of a ^ b ^ c for VPTERNLOGQ

[[gnu::target("avx512f,vpclmulqdq")]] inline __m512i zmm_fold_add(__m512i a, __m512i k,
                                                                  __m512i next) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(a, k, 0x00),
                                     _mm512_clmulepi64_epi128(a, k, 0x11), next, XOR3);
}

[[gnu::target("avx512f,vpclmulqdq")]] inline __m512i zmm_by(FoldConstants const& k) {
    return _mm512_maskz_broadcast_i32x4(0xFFFF,
                                        _mm_loadu_si128(reinterpret_cast<__m128i const*>(&k)));
}

[[gnu::target("avx512f,avx512vl,vpclmulqdq,avx2,sse4.2,pclmul")]] uint32_t
zmm_update(uint32_t r, unsigned char const* data, size_t size) {
    if (size < ZMM_STRIDE) return wide_update(r, data, size);
    __m512i acc[ZMM_ACCUMULATORS];
    for (int k = 0; k < ZMM_ACCUMULATORS; ++k)
        acc[k] = _mm512_loadu_si512(data + 64 * k);
    acc[0] = _mm512_xor_si512(acc[0], _mm512_zextsi128_si512(_mm_cvtsi32_si128(int(r))));
    __m512i const by = zmm_by(fold_by(8 * ZMM_STRIDE));
    size_t i = ZMM_STRIDE;
    for (; i + ZMM_STRIDE <= size; i += ZMM_STRIDE)
        for (int k = 0; k < ZMM_ACCUMULATORS; ++k)
            acc[k] = zmm_fold_add(acc[k], by, _mm512_loadu_si512(data + i + 64 * k));

    // The last whole block stays where it is; every other one is moved to it.
    size_t const tail = (size - i) / 64;
    size_t const blocks = ZMM_ACCUMULATORS + tail;
    __m512i sum = tail ? _mm512_loadu_si512(data + i + 64 * (tail - 1)) : acc[ZMM_ACCUMULATORS - 1];
    for (size_t k = 0; k < std::min(size_t(ZMM_ACCUMULATORS), blocks - 1); ++k)
        sum = zmm_fold_add(acc[k], zmm_by(FOLD_64S[blocks - 1 - k]), sum);
    for (size_t k = 0; k + 1 < tail; ++k)
        sum = zmm_fold_add(_mm512_loadu_si512(data + i + 64 * k), zmm_by(FOLD_64S[tail - 1 - k]),
                           sum);
    i += 64 * tail;
    __m512i const lanes =
        zmm_fold_add(sum, _mm512_loadu_si512(FOLD_LANES.data()), _mm512_maskz_mov_epi64(0xC0, sum));
    __m256i const halves = _mm256_xor_si256(_mm512_maskz_extracti64x4_epi64(0xF, lanes, 0),
                                            _mm512_maskz_extracti64x4_epi64(0xF, lanes, 1));
    __m128i const folded =
        _mm_xor_si128(_mm256_castsi256_si128(halves), _mm256_extracti128_si256(halves, 1));
    return finish(folded, data + i, size - i);
}

using Update = uint32_t (*)(uint32_t, unsigned char const*, size_t);

Update best_update() {
    if (!__builtin_cpu_supports("sse4.2") || !__builtin_cpu_supports("pclmul"))
        return tables_update;
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("vpclmulqdq"))
        return folding_update;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) return zmm_update;
    return wide_update;
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
