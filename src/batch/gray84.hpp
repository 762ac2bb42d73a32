// The gray84 observation: a 240x256 RGB picture (or the channelwise maximum of two, when
// max-pooling) turned into luma, (299 R + 587 G + 114 B) / 1000 rounded, and shrunk to
// 84x84 by area averaging: every output pixel is the mean of the input area it covers,
// partial pixels weighted by the fraction covered, rounded to the nearest integer.
//
// The shrink is done in whole numbers. An output row covers 20/7 input rows and an output
// column 64/21 input columns, so weighting rows in sevenths and columns in twenty-firsts
// makes every weight a small integer and every output pixel's area 20 x 64 = 1280 parts:
// the weighted sum S of its luma is exact, and the pixel is S / 1280 rounded. That is the
// value a straightforward float average gives too, except where S / 1280 lies exactly
// halfway between two integers: there rounding errors decide which way the float average
// goes, so such a pixel is worked out by that float average itself, operation by
// operation, which keeps the results identical to it (gray84_test.cpp compares them).
//
// The work has two kernels with identical results: a portable one, and one using AVX2
// that the processor is asked for at run time.
#pragma once

#include <cstdint>

namespace NES {

constexpr int GRAY_SIZE = 84;

// The luma scratch space gray84 needs: the picture's 240 x 256 bytes and 16 more, which
// the AVX2 kernel's sixteen-byte loads near the end of the last row may read.
constexpr int GRAY84_LUMA_BYTES = 240 * 256 + 16;

enum class Gray84Kernel { portable, avx2 };

// avx2 when this processor has it, portable otherwise.
Gray84Kernel best_gray84_kernel();

// `picture` and `pooled` are RGB pictures; pooled may be null (no max-pooling). `luma`
// is scratch space of GRAY84_LUMA_BYTES; the result goes to out[84 * 84].
void gray84(uint8_t const* picture, uint8_t const* pooled, uint8_t* luma, uint8_t* out,
            Gray84Kernel kernel = best_gray84_kernel());
// The second half of gray84 alone: the shrink of a luma plane already made (in scratch
// space of GRAY84_LUMA_BYTES) to out[84 * 84].
void gray84_shrink(uint8_t const* luma, uint8_t* out, Gray84Kernel kernel = best_gray84_kernel());
// The luma of one RGB pixel, as gray84 takes it.
uint8_t rgb_luma(uint8_t const* rgb);

namespace gray84_detail {

// Where an output pixel's inputs lie along one axis: `count` (at most 4) input pixels from
// `first`, weighted in `parts` per input pixel (7 for rows, 21 for columns).
struct Taps {
    int first = 0;
    int count = 0;
    int weight[4] = {};
};

inline constexpr int ROW_PARTS = 7;
inline constexpr int COLUMN_PARTS = 21;
inline constexpr int AREA_PARTS = 1280; // 20 input rows x 64 input columns

Taps const* row_taps();    // GRAY_SIZE entries
Taps const* column_taps(); // GRAY_SIZE entries

// The output pixel (row, column) from its exact weighted sum: rounded, or for a sum
// exactly halfway, as the float average rounds it.
inline bool is_halfway(uint32_t sum) {
    return sum % AREA_PARTS == AREA_PARTS / 2;
}

// The float average's taps along one axis: the first input pixel and four weights, 0
// past the span's last.
struct FloatTaps {
    int first = 0;
    float weight[4] = {};
};

FloatTaps const* float_row_taps();    // GRAY_SIZE entries
FloatTaps const* float_column_taps(); // GRAY_SIZE entries
// The area of an output pixel in input pixels, as the float average has it.
inline constexpr float FLOAT_AREA = float(240) / GRAY_SIZE * float(256) / GRAY_SIZE;

// Taps past a span's last are weighted 0 and add an exact 0: they read the padded scratch
// past a row's end, or the last row again in place of the rows below it.
inline int last_row_at_most(int row) {
    return row < 239 ? row : 239;
}

// The float average of one output pixel, each operation as the separable float shrink does
// it: the covered rows summed into each covered column (in row order), the columns summed
// (in column order), divided by the area. Its float rounding errors stay far below the
// 1/1280 that separates any other sum from a halfway point, so only halfway sums need it.
uint8_t float_area_mean(uint8_t const* luma, int row, int column);

// The AVX2 kernel's halves (defined only where the compiler can build them).
void luma_avx2(uint8_t const* picture, uint8_t const* pooled, uint8_t* luma);
void shrink_avx2(uint8_t const* luma, uint8_t* out);

} // namespace gray84_detail

} // namespace NES
