// The gray84 observation's luma straight from a picture's palette values, for the fast
// mode's pictures (no emphasis): each of the 64 colours has one luma, and each pair of
// colours one luma of their channelwise maximum (max-pooling), so a table lookup per
// pixel gives what gray84 works out from the RGB pictures, without making them.
#pragma once

#include <cstdint>

namespace NES {

// `values` and `pooled` (null: no max-pooling) are PIXELS palette values; the luma goes to
// `luma` (240 x 256).
void palette_luma(uint8_t const* values, uint8_t const* pooled, uint8_t* luma);

} // namespace NES
