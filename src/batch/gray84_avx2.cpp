// The gray84 kernel for processors with AVX2, chosen at run time: its functions are built
// for AVX2 one by one, so the rest of the library still runs on any x86-64.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "batch/gray84.hpp"
#include "ppu/ppu.hpp"

#define VANDREL_AVX2 __attribute__((target("avx2")))
// The kernel's small helpers, inlined whatever the optimisation level.
#define VANDREL_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace NES::gray84_detail {

namespace {

// Luma without a division, in 16-bit lanes. With x = 299 R + 587 G + 114 B + 500,
//   x = 8 (37 R + 73 G + 14 B + 62) + (3 R + 3 G + 2 B + 4),
// so y = floor(x / 8) = (37 R + 73 G + 14 B + 62) + ((3 R + 3 G + 2 B + 4) >> 3) fits 16
// bits (at most 31937), and the luma floor(x / 1000) = floor(y / 125) = (y * 33555) >> 22
// for every such y (33555 / 2^22 exceeds 1/125 by less than 1/(125 * 59000)). Both sums
// come from pmaddubsw over byte pairs (R, G) and (B, 1), their weights all below 128.
//
// One 128-bit lane takes 8 pixels, 24 bytes, from two loads 8 bytes apart: pixels 0-3 are
// bytes 0-11 of the first, pixels 4-7 bytes 4-15 of the second.
constexpr int8_t Z = -128; // pshufb: a zero byte
alignas(32) constexpr int8_t RG_FROM_FIRST[32] = {0, 1, 3, 4, 6, 7, 9, 10, Z, Z, Z, Z, Z, Z, Z, Z,
                                                  0, 1, 3, 4, 6, 7, 9, 10, Z, Z, Z, Z, Z, Z, Z, Z};
alignas(32) constexpr int8_t RG_FROM_SECOND[32] = {Z, Z,  Z,  Z,  Z,  Z, Z,  Z,  4,  5, 7,
                                                   8, 10, 11, 13, 14, Z, Z,  Z,  Z,  Z, Z,
                                                   Z, Z,  4,  5,  7,  8, 10, 11, 13, 14};
alignas(32) constexpr int8_t B_FROM_FIRST[32] = {2, Z, 5, Z, 8, Z, 11, Z, Z, Z, Z, Z, Z, Z, Z, Z,
                                                 2, Z, 5, Z, 8, Z, 11, Z, Z, Z, Z, Z, Z, Z, Z, Z};
alignas(32) constexpr int8_t B_FROM_SECOND[32] = {Z, Z, Z, Z, Z, Z, Z, Z, 6, Z, 9, Z, 12, Z, 15, Z,
                                                  Z, Z, Z, Z, Z, Z, Z, Z, 6, Z, 9, Z, 12, Z, 15, Z};

VANDREL_AVX2_INLINE __m256i load_lanes(uint8_t const* low, uint8_t const* high) {
    __m128i const lo = _mm_loadu_si128(reinterpret_cast<__m128i const*>(low));
    __m128i const hi = _mm_loadu_si128(reinterpret_cast<__m128i const*>(high));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// Bytes p[0..15] | p[24..39] and p[8..23] | p[32..47]: pixels 0-7 and 8-15 of a 48-byte
// run, one half per lane; with a pooled picture, each byte the larger of the two.
struct PixelLoads {
    __m256i first, second;
};

VANDREL_AVX2_INLINE PixelLoads load_pixels(uint8_t const* p) {
    return {load_lanes(p, p + 24), load_lanes(p + 8, p + 32)};
}

VANDREL_AVX2_INLINE PixelLoads load_pooled_pixels(uint8_t const* p, uint8_t const* q) {
    PixelLoads const a = load_pixels(p);
    PixelLoads const b = load_pixels(q);
    return {_mm256_max_epu8(a.first, b.first), _mm256_max_epu8(a.second, b.second)};
}

VANDREL_AVX2_INLINE __m256i mask(int8_t const* bytes) {
    return _mm256_load_si256(reinterpret_cast<__m256i const*>(bytes));
}

// Sixteen pixels' luma, one per 16-bit lane.
VANDREL_AVX2_INLINE __m256i luma16(PixelLoads const& px) {
    __m256i const rg = _mm256_or_si256(_mm256_shuffle_epi8(px.first, mask(RG_FROM_FIRST)),
                                       _mm256_shuffle_epi8(px.second, mask(RG_FROM_SECOND)));
    __m256i const b1 =
        _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(px.first, mask(B_FROM_FIRST)),
                                        _mm256_shuffle_epi8(px.second, mask(B_FROM_SECOND))),
                        _mm256_set1_epi16(0x0100));
    __m256i const high =
        _mm256_add_epi16(_mm256_maddubs_epi16(rg, _mm256_set1_epi16(73 << 8 | 37)),
                         _mm256_maddubs_epi16(b1, _mm256_set1_epi16(62 << 8 | 14)));
    __m256i const low = _mm256_add_epi16(_mm256_maddubs_epi16(rg, _mm256_set1_epi16(3 << 8 | 3)),
                                         _mm256_maddubs_epi16(b1, _mm256_set1_epi16(4 << 8 | 2)));
    __m256i const y = _mm256_add_epi16(high, _mm256_srli_epi16(low, 3));
    return _mm256_srli_epi16(_mm256_mulhi_epu16(y, _mm256_set1_epi16(int16_t(33555))), 6);
}

// Two runs of sixteen luma values as 32 bytes in pixel order.
VANDREL_AVX2_INLINE void store_luma(__m256i a, __m256i b, uint8_t* out) {
    // packus interleaves the lanes' halves: a0 b0 | a1 b1, put back as a0 a1 b0 b1.
    __m256i const packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
}

// The horizontal pass works on each input row's luma bytes: four output columns per
// 128-bit lane. Sixteen bytes loaded from the first one's first input column hold all four
// pixels' taps (the fourth ends at most 13 columns on), which pshufb places in four bytes
// per pixel for pmaddubsw to weight (in twenty-firsts, below 128) and sum pairwise.
constexpr int COLUMN_GROUPS = 12; // of eight columns: 84 and 12 unused, always 0
constexpr int PADDED_COLUMNS = 8 * COLUMN_GROUPS;

struct ColumnGroups {
    std::array<int, 2 * COLUMN_GROUPS> first{}; // per four columns
    alignas(32) std::array<std::array<int8_t, 32>, COLUMN_GROUPS> shuffle{};
    alignas(32) std::array<std::array<int8_t, 32>, COLUMN_GROUPS> weights{};

    ColumnGroups() {
        Taps const* const columns = column_taps();
        for (int four = 0; four < 2 * COLUMN_GROUPS; ++four) {
            int const group = four / 2;
            int const lane = four % 2;
            first[size_t(four)] = 4 * four < GRAY_SIZE ? columns[4 * four].first : 0;
            for (int j = 0; j < 4; ++j) {
                int const column = 4 * four + j;
                Taps const none{};
                Taps const& t = column < GRAY_SIZE ? columns[column] : none;
                for (int k = 0; k < 4; ++k) {
                    size_t const byte = size_t(16 * lane + 4 * j + k);
                    bool const used = k < t.count;
                    shuffle[size_t(group)][byte] =
                        used ? int8_t(t.first - first[size_t(four)] + k) : Z;
                    weights[size_t(group)][byte] = used ? int8_t(t.weight[k]) : 0;
                }
            }
        }
    }
};

ColumnGroups const& column_groups() {
    static ColumnGroups const groups;
    return groups;
}

// Per input row, the 96 column sums (at most 64 x 255: 16 bits).
using RowSums = std::array<int16_t, PADDED_COLUMNS>;

// Eight columns' pairwise sums: (c0 c0 c1 c1 c2 c2 c3 c3 | c4 c4 ... c7 c7).
VANDREL_AVX2_INLINE __m256i group_products(ColumnGroups const& groups, uint8_t const* row,
                                           int group) {
    __m256i const values = load_lanes(row + groups.first[size_t(2 * group)],
                                      row + groups.first[size_t(2 * group + 1)]);
    return _mm256_maddubs_epi16(
        _mm256_shuffle_epi8(values, mask(groups.shuffle[size_t(group)].data())),
        mask(groups.weights[size_t(group)].data()));
}

VANDREL_AVX2_INLINE void sum_columns(ColumnGroups const& groups, uint8_t const* row,
                                     RowSums& sums) {
    for (int group = 0; group < COLUMN_GROUPS; group += 2) {
        // hadd gives (c0-3 d0-3 | c4-7 d4-7); the permute restores column order.
        __m256i const pair = _mm256_hadd_epi16(group_products(groups, row, group),
                                               group_products(groups, row, group + 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums.data() + 8 * group),
                            _mm256_permute4x64_epi64(pair, 0xD8));
    }
}

// The exact sums S of eight output pixels, rounded as (S + 640) / 1280 =
// floor(((S + 640) >> 8) / 5) = (((S + 640) >> 8) * 3277) >> 14 (exact below 5 x 2^14);
// `halfway` marks the sums halfway between two integers.
VANDREL_AVX2_INLINE void round_half(__m256i sums, __m256i& quotient, __m256i& halfway) {
    __m256i const biased = _mm256_add_epi32(sums, _mm256_set1_epi32(AREA_PARTS / 2));
    quotient = _mm256_srli_epi32(
        _mm256_madd_epi16(_mm256_srli_epi32(biased, 8), _mm256_set1_epi32(3277)), 14);
    halfway =
        _mm256_cmpeq_epi32(_mm256_mullo_epi32(quotient, _mm256_set1_epi32(AREA_PARTS)), biased);
}

// Sixteen columns as unpacking left them, `low` holding 0-3 and 8-11 and `high` 4-7 and
// 12-15, packed into bytes in column order: quotients (0-255) without sign, masks (0 or
// -1) with.
VANDREL_AVX2_INLINE __m128i pack_quotients(__m256i low, __m256i high) {
    __m256i const words = _mm256_packus_epi32(low, high); // lanes: columns 0-7 | 8-15
    return _mm256_castsi256_si128(
        _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08));
}

VANDREL_AVX2_INLINE __m128i pack_masks(__m256i low, __m256i high) {
    __m256i const words = _mm256_packs_epi32(low, high);
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi16(words, words), 0x08));
}

// Sixteen column sums of an output row's input row k (its first, weighted 0, past its last).
VANDREL_AVX2_INLINE __m256i load_row_sums(RowSums const* row_sums, Taps const& row, int k,
                                          int column) {
    return _mm256_loadu_si256(reinterpret_cast<__m256i const*>(
        row_sums[row.first + (k < row.count ? k : 0)].data() + column));
}

// pmaddwd weights for input rows k and k + 1 of an output row (0 past its last).
VANDREL_AVX2_INLINE __m256i row_pair_weights(Taps const& row, int k) {
    int const a = k < row.count ? row.weight[k] : 0;
    int const b = k + 1 < row.count ? row.weight[k + 1] : 0;
    return _mm256_set1_epi32(b << 16 | a);
}

// Sixteen output pixels of output row `row` from its input rows' sums; returns which are
// halfway, bit i for column i.
VANDREL_AVX2_INLINE int sum_rows(RowSums const* row_sums, Taps const& row, int column,
                                 uint8_t* out) {
    __m256i const h[4] = {
        load_row_sums(row_sums, row, 0, column), load_row_sums(row_sums, row, 1, column),
        load_row_sums(row_sums, row, 2, column), load_row_sums(row_sums, row, 3, column)};
    __m256i const low = _mm256_add_epi32(
        _mm256_madd_epi16(_mm256_unpacklo_epi16(h[0], h[1]), row_pair_weights(row, 0)),
        _mm256_madd_epi16(_mm256_unpacklo_epi16(h[2], h[3]), row_pair_weights(row, 2)));
    __m256i const high = _mm256_add_epi32(
        _mm256_madd_epi16(_mm256_unpackhi_epi16(h[0], h[1]), row_pair_weights(row, 0)),
        _mm256_madd_epi16(_mm256_unpackhi_epi16(h[2], h[3]), row_pair_weights(row, 2)));
    __m256i quotient_low, quotient_high, halfway_low, halfway_high;
    round_half(low, quotient_low, halfway_low);
    round_half(high, quotient_high, halfway_high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pack_quotients(quotient_low, quotient_high));
    return _mm_movemask_epi8(pack_masks(halfway_low, halfway_high));
}

// float_area_mean with the four columns in the lanes of one vector: each lane does that
// column's multiplies and adds in the same order, so it gets the same float results, and
// the columns are then summed one after another, as there.
VANDREL_AVX2_INLINE uint8_t float_area_mean_in_lanes(uint8_t const* luma, int row, int column) {
    FloatTaps const& rows = float_row_taps()[row];
    FloatTaps const& columns = float_column_taps()[column];
    __m128 line = _mm_setzero_ps();
    for (int j = 0; j < 4; ++j) {
        int32_t four;
        std::memcpy(&four, luma + last_row_at_most(rows.first + j) * SCREEN_WIDTH + columns.first,
                    4);
        __m128 const values = _mm_cvtepi32_ps(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)));
        line = _mm_add_ps(line, _mm_mul_ps(_mm_set1_ps(rows.weight[j]), values));
    }
    __m128 const weighted = _mm_mul_ps(_mm_loadu_ps(columns.weight), line);
    float sum = _mm_cvtss_f32(weighted);
    sum += _mm_cvtss_f32(_mm_shuffle_ps(weighted, weighted, 1));
    sum += _mm_cvtss_f32(_mm_shuffle_ps(weighted, weighted, 2));
    sum += _mm_cvtss_f32(_mm_shuffle_ps(weighted, weighted, 3));
    return uint8_t(std::min(255.0f, sum / FLOAT_AREA + 0.5f));
}

} // namespace

VANDREL_AVX2 void luma_avx2(uint8_t const* picture, uint8_t const* pooled, uint8_t* luma) {
    int const pixels = SCREEN_WIDTH * SCREEN_HEIGHT;
    for (int i = 0; i < pixels; i += 32) {
        uint8_t const* p = picture + 3 * i;
        if (pooled) {
            uint8_t const* q = pooled + 3 * i;
            store_luma(luma16(load_pooled_pixels(p, q)), luma16(load_pooled_pixels(p + 48, q + 48)),
                       luma + i);
        } else {
            store_luma(luma16(load_pixels(p)), luma16(load_pixels(p + 48)), luma + i);
        }
    }
}

VANDREL_AVX2 void shrink_avx2(uint8_t const* luma, uint8_t* out) {
    ColumnGroups const& groups = column_groups();
    Taps const* const rows = row_taps();
    std::array<RowSums, SCREEN_HEIGHT> row_sums;
    for (int y = 0; y < SCREEN_HEIGHT; ++y)
        sum_columns(groups, luma + y * SCREEN_WIDTH, row_sums[size_t(y)]);
    std::array<uint8_t, PADDED_COLUMNS> row_out;
    for (int r = 0; r < GRAY_SIZE; ++r) {
        uint64_t halfway[2] = {0, 0}; // bit c % 64: column c is halfway
        for (int column = 0; column < PADDED_COLUMNS; column += 16) {
            uint64_t const sixteen =
                uint64_t(sum_rows(row_sums.data(), rows[r], column, row_out.data() + column));
            halfway[column / 64] |= sixteen << (column % 64);
        }
        uint8_t* const row_start = out + r * GRAY_SIZE;
        std::memcpy(row_start, row_out.data(), size_t(GRAY_SIZE));
        for (int half = 0; half < 2; ++half)
            for (uint64_t bits = halfway[half]; bits; bits &= bits - 1) {
                int const c = 64 * half + __builtin_ctzll(bits);
                if (c < GRAY_SIZE) row_start[c] = float_area_mean_in_lanes(luma, r, c);
            }
    }
}

} // namespace NES::gray84_detail

#endif
