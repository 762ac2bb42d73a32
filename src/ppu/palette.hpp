// The console's 64 colours: palette value n (a byte of palette memory, 0x3F00-0x3F1F)
// is drawn as the RGB triple NTSC_TO_RGB[3n .. 3n+2].
#pragma once

#include <cstdint>

namespace NES {

constexpr int PALETTE_COLOURS = 64;

extern uint8_t const NTSC_TO_RGB[PALETTE_COLOURS * 3];

} // namespace NES
