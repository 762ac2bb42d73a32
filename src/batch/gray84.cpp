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
// worked out in double and stored as float, as it has always been. Besides the whole
// taps, a boundary that double arithmetic puts a hair off a whole input pixel adds a tap
// of a negligible weight; the float average has always included it.
std::array<FloatTaps, GRAY_SIZE> float_taps(int in) {
    std::array<FloatTaps, GRAY_SIZE> taps{};
    double const scale = double(in) / GRAY_SIZE;
    for (int o = 0; o < GRAY_SIZE; ++o) {
        double const begin = o * scale;
        double const end = (o + 1) * scale;
        FloatTaps& t = taps[size_t(o)];
        t.first = int(begin);
        for (int i = t.first, k = 0; i < in && i < end && k < 4; ++i, ++k) {
            double const covered = std::min<double>(end, i + 1) - std::max<double>(begin, i);
            t.weight[k] = float(covered);
        }
    }
    return taps;
}

void row_luma(uint8_t const* rgb, uint8_t* luma) {
    for (int x = 0; x < SCREEN_WIDTH; ++x)
        luma[x] = rgb_luma(rgb + 3 * x);
}

// With a pooled picture, each row's channelwise maximum is taken into a row buffer first,
// where it is a plain loop the compiler vectorises.
void luma_portable(uint8_t const* picture, uint8_t const* pooled, uint8_t* luma) {
    int const row_bytes = 3 * SCREEN_WIDTH;
    std::array<uint8_t, 3 * SCREEN_WIDTH> maxima;
    for (int y = 0; y < SCREEN_HEIGHT; ++y, picture += row_bytes, luma += SCREEN_WIDTH) {
        if (!pooled) {
            row_luma(picture, luma);
            continue;
        }
        uint8_t const* other = pooled + y * row_bytes;
        for (int i = 0; i < row_bytes; ++i)
            maxima[size_t(i)] = std::max(picture[i], other[i]);
        row_luma(maxima.data(), luma);
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

FloatTaps const* float_row_taps() {
    static std::array<FloatTaps, GRAY_SIZE> const taps = float_taps(SCREEN_HEIGHT);
    return taps.data();
}

FloatTaps const* float_column_taps() {
    static std::array<FloatTaps, GRAY_SIZE> const taps = float_taps(SCREEN_WIDTH);
    return taps.data();
}

uint8_t float_area_mean(uint8_t const* luma, int row, int column) {
    FloatTaps const& rows = float_row_taps()[row];
    FloatTaps const& columns = float_column_taps()[column];
    float line[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int j = 0; j < 4; ++j) {
        uint8_t const* in = luma + last_row_at_most(rows.first + j) * SCREEN_WIDTH + columns.first;
        for (int k = 0; k < 4; ++k)
            line[k] += rows.weight[j] * float(in[k]);
    }
    float sum = 0.0f;
    for (int k = 0; k < 4; ++k)
        sum += columns.weight[k] * line[k];
    return uint8_t(std::min(255.0f, sum / FLOAT_AREA + 0.5f));
}

} // namespace gray84_detail

uint8_t rgb_luma(uint8_t const* rgb) {
    return uint8_t((299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2] + 500u) / 1000u);
}

void gray84_shrink(uint8_t const* luma, uint8_t* out, Gray84Kernel kernel) {
    using namespace gray84_detail;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (kernel == Gray84Kernel::avx2) return shrink_avx2(luma, out);
#endif
    (void)kernel;
    shrink_portable(luma, out);
}

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
