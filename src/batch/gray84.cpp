#include "batch/gray84.hpp"

#include <algorithm>
#include <array>
#include <numeric>

#include "ppu/ppu.hpp"

namespace NES {

namespace gray84_detail {

namespace {

// The taps of `out` output pixels over `in` input pixels, in exact parts: measured in
// units of 1/(out/g) input pixel, output pixel o covers [o * in/g, (o + 1) * in/g).
std::array<Taps, GRAY_SIZE> area_taps(int in) {
    int const g = std::gcd(in, GRAY_SIZE);
    int const unit = GRAY_SIZE / g;
    int const width = in / g;
    std::array<Taps, GRAY_SIZE> taps{};
    for (int o = 0; o < GRAY_SIZE; ++o) {
        int const begin = o * width;
        int const end = begin + width;
        Taps& t = taps[size_t(o)];
        t.first = begin / unit;
        for (int i = t.first; i * unit < end; ++i)
            t.weight[t.count++] = std::min(end, (i + 1) * unit) - std::max(begin, i * unit);
    }
    return taps;
}

// The float average's weights: the fraction of each input pixel an output pixel covers,
// worked out in double and stored as float, as it has always been.
// Besides the whole taps, a boundary that double arithmetic puts a hair off a whole input
// pixel adds a tap of a negligible weight; the float average has always included it.
struct FloatSpan {
    int first = 0;
    int count = 0;
    float weights[4] = {}; // a pixel spans at most 4 input pixels per axis, these included
};

std::array<FloatSpan, GRAY_SIZE> float_spans(int in) {
    std::array<FloatSpan, GRAY_SIZE> spans{};
    double const scale = double(in) / GRAY_SIZE;
    for (int o = 0; o < GRAY_SIZE; ++o) {
        double const begin = o * scale;
        double const end = (o + 1) * scale;
        FloatSpan& span = spans[size_t(o)];
        span.first = int(begin);
        for (int i = span.first; i < in && i < end && span.count < 4; ++i) {
            double const covered = std::min<double>(end, i + 1) - std::max<double>(begin, i);
            span.weights[span.count++] = float(covered);
        }
    }
    return spans;
}

struct FloatShrink {
    std::array<FloatSpan, GRAY_SIZE> rows = float_spans(SCREEN_HEIGHT);
    std::array<FloatSpan, GRAY_SIZE> columns = float_spans(SCREEN_WIDTH);
    float area = float(SCREEN_HEIGHT) / GRAY_SIZE * float(SCREEN_WIDTH) / GRAY_SIZE;
};

uint8_t pixel_luma(uint8_t const* rgb) {
    return uint8_t((299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2] + 500u) / 1000u);
}

void luma_portable(uint8_t const* picture, uint8_t const* pooled, uint8_t* luma) {
    int const pixels = SCREEN_WIDTH * SCREEN_HEIGHT;
    if (!pooled) {
        for (int i = 0; i < pixels; ++i)
            luma[i] = pixel_luma(picture + 3 * i);
        return;
    }
    for (int i = 0; i < pixels; ++i) {
        uint8_t const rgb[3] = {std::max(picture[3 * i], pooled[3 * i]),
                                std::max(picture[3 * i + 1], pooled[3 * i + 1]),
                                std::max(picture[3 * i + 2], pooled[3 * i + 2])};
        luma[i] = pixel_luma(rgb);
    }
}

void shrink_portable(uint8_t const* luma, uint8_t* out) {
    Taps const* const rows = row_taps();
    Taps const* const columns = column_taps();
    std::array<uint16_t, SCREEN_WIDTH> line; // at most 20 x 255: the rows' sums fit 16 bits
    for (int r = 0; r < GRAY_SIZE; ++r) {
        Taps const& row = rows[r];
        line.fill(0);
        for (int k = 0; k < row.count; ++k) {
            uint8_t const* in = luma + (row.first + k) * SCREEN_WIDTH;
            for (int x = 0; x < SCREEN_WIDTH; ++x)
                line[size_t(x)] = uint16_t(line[size_t(x)] + row.weight[k] * in[x]);
        }
        for (int c = 0; c < GRAY_SIZE; ++c) {
            Taps const& column = columns[c];
            uint32_t sum = 0;
            for (int k = 0; k < column.count; ++k)
                sum += uint32_t(column.weight[k]) * line[size_t(column.first + k)];
            out[r * GRAY_SIZE + c] = is_halfway(sum) ? float_area_mean(luma, r, c)
                                                     : uint8_t((sum + AREA_PARTS / 2) / AREA_PARTS);
        }
    }
}

} // namespace

Taps const* row_taps() {
    static std::array<Taps, GRAY_SIZE> const taps = area_taps(SCREEN_HEIGHT);
    return taps.data();
}

Taps const* column_taps() {
    static std::array<Taps, GRAY_SIZE> const taps = area_taps(SCREEN_WIDTH);
    return taps.data();
}

// The float average of one output pixel, each operation as the separable float shrink does
// it: the covered rows summed into each covered column (in row order), the columns summed
// (in column order), divided by the area. Its float rounding errors stay far below the
// 1/1280 that separates any other sum from a halfway point, so only halfway sums need it.
uint8_t float_area_mean(uint8_t const* luma, int row, int column) {
    static FloatShrink const tables;
    FloatSpan const& rows = tables.rows[size_t(row)];
    FloatSpan const& columns = tables.columns[size_t(column)];
    // All four columns and rows at once, which the compiler turns into vector operations:
    // a column past the span's last reads the padded scratch and goes unused, and a row
    // past it (read as the last row) is weighted 0, which adds an exact 0.
    float line[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int j = 0; j < 4; ++j) {
        int const y = std::min(rows.first + j, SCREEN_HEIGHT - 1);
        uint8_t const* in = luma + y * SCREEN_WIDTH + columns.first;
        for (int k = 0; k < 4; ++k)
            line[k] += rows.weights[j] * float(in[k]);
    }
    float sum = 0.0f;
    for (int k = 0; k < columns.count; ++k)
        sum += columns.weights[k] * line[k];
    return uint8_t(std::min(255.0f, sum / tables.area + 0.5f));
}

} // namespace gray84_detail

Gray84Kernel best_gray84_kernel() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static bool const avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return Gray84Kernel::avx2;
#endif
    return Gray84Kernel::portable;
}

void gray84(uint8_t const* picture, uint8_t const* pooled, uint8_t* luma, uint8_t* out,
            Gray84Kernel kernel) {
    using namespace gray84_detail;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (kernel == Gray84Kernel::avx2) {
        luma_avx2(picture, pooled, luma);
        shrink_avx2(luma, out);
        return;
    }
#endif
    (void)kernel;
    luma_portable(picture, pooled, luma);
    shrink_portable(luma, out);
}

} // namespace NES
