#include "batch/palette_luma.hpp"

#include <algorithm>

#include "batch/gray84.hpp"
#include "ppu/palette.hpp"
#include "ppu/ppu.hpp"

namespace NES {

namespace {

constexpr int COLOURS = PALETTE_COLOURS;

struct LumaTables {
    uint8_t of_colour[COLOURS];
    uint8_t of_pair[COLOURS * COLOURS]; // [a * 64 + b]: luma of max(rgb(a), rgb(b))
    LumaTables() {
        for (int a = 0; a < COLOURS; ++a) {
            of_colour[a] = rgb_luma(NTSC_TO_RGB + 3 * a);
            for (int b = 0; b < COLOURS; ++b) {
                uint8_t maxima[3];
                for (int k = 0; k < 3; ++k)
                    maxima[k] = std::max(NTSC_TO_RGB[3 * a + k], NTSC_TO_RGB[3 * b + k]);
                of_pair[a * COLOURS + b] = rgb_luma(maxima);
            }
        }
    }
};

} // namespace

void palette_luma(uint8_t const* values, uint8_t const* pooled, uint8_t* luma) {
    static LumaTables const tables;
    if (!pooled) {
        for (int p = 0; p < PIXELS; ++p)
            luma[p] = tables.of_colour[values[p] & 0x3F];
        return;
    }
    for (int p = 0; p < PIXELS; ++p)
        luma[p] = tables.of_pair[(values[p] & 0x3F) * COLOURS + (pooled[p] & 0x3F)];
}

} // namespace NES
