// The gray84 kernels against a straightforward float shrink: the same bytes for pictures
// made of palette colours (the pictures a console draws, where halfway sums are common),
// pooled and not, and for random bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "batch/gray84.hpp"
#include "ppu/palette.hpp"
#include "ppu/ppu.hpp"

namespace {

using NES::GRAY_SIZE;
using NES::SCREEN_HEIGHT;
using NES::SCREEN_WIDTH;

// The separable float area average: every input row's luma weighted into a line, the line
// weighted into the output columns, divided by the area and rounded.
std::vector<uint8_t> reference_gray84(std::vector<uint8_t> const& rgb) {
    std::vector<float> luma(size_t(SCREEN_WIDTH * SCREEN_HEIGHT));
    for (size_t i = 0; i < luma.size(); ++i)
        luma[i] = float((299u * rgb[3 * i] + 587u * rgb[3 * i + 1] + 114u * rgb[3 * i + 2] + 500u) /
                        1000u);
    struct Span {
        int first;
        std::vector<float> weights;
    };
    auto spans = [](int in) {
        std::vector<Span> result;
        double const scale = double(in) / GRAY_SIZE;
        for (int o = 0; o < GRAY_SIZE; ++o) {
            Span span{int(o * scale), {}};
            for (int i = span.first; i < in && i < (o + 1) * scale; ++i)
                span.weights.push_back(float(std::min<double>((o + 1) * scale, i + 1) -
                                             std::max<double>(o * scale, i)));
            result.push_back(span);
        }
        return result;
    };
    std::vector<Span> const rows = spans(SCREEN_HEIGHT), columns = spans(SCREEN_WIDTH);
    float const area = float(SCREEN_HEIGHT) / GRAY_SIZE * float(SCREEN_WIDTH) / GRAY_SIZE;
    std::vector<uint8_t> out(size_t(GRAY_SIZE * GRAY_SIZE));
    std::vector<float> line(static_cast<size_t>(SCREEN_WIDTH));
    for (int r = 0; r < GRAY_SIZE; ++r) {
        std::fill(line.begin(), line.end(), 0.0f);
        for (size_t k = 0; k < rows[size_t(r)].weights.size(); ++k)
            for (int c = 0; c < SCREEN_WIDTH; ++c)
                line[size_t(c)] +=
                    rows[size_t(r)].weights[k] *
                    luma[size_t((rows[size_t(r)].first + int(k)) * SCREEN_WIDTH + c)];
        for (int c = 0; c < GRAY_SIZE; ++c) {
            float sum = 0.0f;
            Span const& span = columns[size_t(c)];
            for (size_t k = 0; k < span.weights.size(); ++k)
                sum += span.weights[k] * line[size_t(span.first) + k];
            out[size_t(r * GRAY_SIZE + c)] = uint8_t(std::min(255.0f, sum / area + 0.5f));
        }
    }
    return out;
}

// A picture of palette colours in rectangles of random sizes, like tiles and sprites.
std::vector<uint8_t> palette_picture(std::mt19937& random) {
    std::vector<uint8_t> rgb(static_cast<size_t>(NES::FRAME_BYTES));
    for (int y = 0; y < SCREEN_HEIGHT; y += 1 + int(random() % 8))
        for (int x = 0; x < SCREEN_WIDTH; x += 1 + int(random() % 8)) {
            uint8_t const* colour = NES::NTSC_TO_RGB + 3 * (random() % NES::PALETTE_COLOURS);
            for (int yy = y; yy < std::min(SCREEN_HEIGHT, y + 8); ++yy)
                for (int xx = x; xx < std::min(SCREEN_WIDTH, x + 8); ++xx)
                    std::copy(colour, colour + 3, rgb.begin() + 3 * (yy * SCREEN_WIDTH + xx));
        }
    return rgb;
}

std::vector<NES::Gray84Kernel> kernels() {
    std::vector<NES::Gray84Kernel> result{NES::Gray84Kernel::portable};
    if (NES::best_gray84_kernel() == NES::Gray84Kernel::avx2)
        result.push_back(NES::Gray84Kernel::avx2);
    return result;
}

TEST(Gray84, EveryKernelMatchesTheFloatAverage) {
    std::mt19937 random(84);
    std::vector<uint8_t> luma(static_cast<size_t>(NES::GRAY84_LUMA_BYTES));
    std::vector<uint8_t> out(size_t(GRAY_SIZE * GRAY_SIZE));
    for (int picture = 0; picture < 60; ++picture) {
        std::vector<uint8_t> a = palette_picture(random);
        std::vector<uint8_t> const b = palette_picture(random);
        if (picture % 10 == 9)
            for (auto& byte : a)
                byte = uint8_t(random());
        std::vector<uint8_t> pooled(a.size());
        std::transform(a.begin(), a.end(), b.begin(), pooled.begin(),
                       [](uint8_t x, uint8_t y) { return std::max(x, y); });
        std::vector<uint8_t> const expected = reference_gray84(a);
        std::vector<uint8_t> const expected_pooled = reference_gray84(pooled);
        for (NES::Gray84Kernel kernel : kernels()) {
            SCOPED_TRACE("picture " + std::to_string(picture) + ", kernel " +
                         std::to_string(int(kernel)));
            NES::gray84(a.data(), nullptr, luma.data(), out.data(), kernel);
            ASSERT_EQ(out, expected);
            NES::gray84(a.data(), b.data(), luma.data(), out.data(), kernel);
            ASSERT_EQ(out, expected_pooled);
        }
    }
}

} // namespace
