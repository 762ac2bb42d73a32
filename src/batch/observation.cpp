#include "batch/observation.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

#include "ppu/ppu.hpp"

namespace NES {

namespace {

// The input pixels an output pixel covers along one axis, with the fraction of each that
// it covers; the weights of one output pixel add up to in/out.
struct Span {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Span> area_spans(int in, int out) {
    std::vector<Span> spans(static_cast<size_t>(out));
    double const scale = double(in) / out;
    for (int o = 0; o < out; ++o) {
        double const begin = o * scale;
        double const end = (o + 1) * scale;
        Span& span = spans[size_t(o)];
        span.first = int(begin);
        for (int i = span.first; i < in && i < end; ++i) {
            double const covered = std::min<double>(end, i + 1) - std::max<double>(begin, i);
            span.weights.push_back(float(covered));
        }
    }
    return spans;
}

struct Shrink {
    std::vector<Span> rows = area_spans(SCREEN_HEIGHT, GRAY_SIZE);
    std::vector<Span> columns = area_spans(SCREEN_WIDTH, GRAY_SIZE);
    float area = float(SCREEN_HEIGHT) / GRAY_SIZE * float(SCREEN_WIDTH) / GRAY_SIZE;
};

Shrink const& shrink_tables() {
    static Shrink const tables;
    return tables;
}

} // namespace

Observation observation_from_name(std::string const& name) {
    if (name == "rgb") return Observation::rgb;
    if (name == "gray84") return Observation::gray84;
    if (name == "ram") return Observation::ram;
    throw std::invalid_argument("observation must be \"rgb\", \"gray84\" or \"ram\", got \"" +
                                name + "\"");
}

char const* observation_name(Observation observation) {
    switch (observation) {
    case Observation::rgb: return "rgb";
    case Observation::gray84: return "gray84";
    case Observation::ram: return "ram";
    }
    return "";
}

size_t observation_bytes(Observation observation) {
    switch (observation) {
    case Observation::rgb: return size_t(FRAME_BYTES);
    case Observation::gray84: return size_t(GRAY_SIZE * GRAY_SIZE);
    case Observation::ram: return size_t(RAM_SIZE);
    }
    return 0;
}

void picture_luma(uint8_t const* rgb, uint8_t* luma) {
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_HEIGHT; ++i, rgb += 3)
        luma[i] = uint8_t((299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2] + 500u) / 1000u);
}

void max_of(uint8_t const* a, uint8_t const* b, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i)
        out[i] = std::max(a[i], b[i]);
}

// Separable: each output row first sums its input rows (weighted) into a line of 256
// columns, which then sums into 84 columns.
void shrink_to_gray84(uint8_t const* luma, uint8_t* out) {
    Shrink const& tables = shrink_tables();
    std::array<float, SCREEN_WIDTH> line;
    for (int r = 0; r < GRAY_SIZE; ++r) {
        Span const& rows = tables.rows[size_t(r)];
        line.fill(0.0f);
        for (size_t k = 0; k < rows.weights.size(); ++k) {
            uint8_t const* in = luma + (rows.first + int(k)) * SCREEN_WIDTH;
            float const w = rows.weights[k];
            for (int c = 0; c < SCREEN_WIDTH; ++c)
                line[size_t(c)] += w * in[c];
        }
        for (int c = 0; c < GRAY_SIZE; ++c) {
            Span const& columns = tables.columns[size_t(c)];
            float sum = 0.0f;
            for (size_t k = 0; k < columns.weights.size(); ++k)
                sum += columns.weights[k] * line[size_t(columns.first) + k];
            out[r * GRAY_SIZE + c] = uint8_t(std::min(255.0f, sum / tables.area + 0.5f));
        }
    }
}

} // namespace NES
