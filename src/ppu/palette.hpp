// The console's 64 colours: palette value n (a byte of palette memory, 0x3F00-0x3F1F)
// is drawn as the RGB triple NTSC_TO_RGB[3n .. 3n+2].
#pragma once

#include <cstdint>

namespace NES {

constexpr int PALETTE_COLOURS = 64;

extern uint8_t const NTSC_TO_RGB[PALETTE_COLOURS * 3];

// The RGB triple of palette value `colour` (0-63) under PPUMASK's emphasis bits
// (`emphasis` = PPUMASK >> 5: bit 0 red, 1 green, 2 blue). Each emphasised channel
// keeps its level while the other two darken, by a quarter per bit; the blacks of
// columns $xE and $xF stay black.
uint8_t const* emphasised_rgb(uint8_t colour, uint8_t emphasis);

} // namespace NES
