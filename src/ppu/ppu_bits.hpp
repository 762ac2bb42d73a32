// Register and sprite attribute bits and the frame geometry the renderer works in, shared
// by its per-dot and per-span paths and the hardware-mode address line and fetch pipeline.
#pragma once

#include <cstdint>

namespace NES::ppu_bits {

// Frame geometry: 262 lines of 341 dots, the last of them the pre-render line.
constexpr int DOTS_PER_LINE = 341;
constexpr int PRE_RENDER_LINE = 261;

// PPUCTRL bits.
constexpr uint8_t CTRL_SPRITE_TABLE = 0x08; // 8x8 sprite patterns at 0x1000
constexpr uint8_t CTRL_BG_TABLE = 0x10;     // background patterns at 0x1000
constexpr uint8_t CTRL_TALL_SPRITES = 0x20; // 8x16 sprites
// PPUMASK bits.
constexpr uint8_t MASK_GREYSCALE = 0x01;    // colours ANDed with $30
constexpr uint8_t MASK_BG_LEFT = 0x02;      // background in the leftmost 8 pixels
constexpr uint8_t MASK_SPRITES_LEFT = 0x04; // sprites in the leftmost 8 pixels
constexpr uint8_t MASK_BG = 0x08;
constexpr uint8_t MASK_SPRITES = 0x10;
// PPUSTATUS bits.
constexpr uint8_t STATUS_OVERFLOW = 0x20;
constexpr uint8_t STATUS_SPRITE0_HIT = 0x40;
constexpr uint8_t STATUS_VBLANK = 0x80;

// Sprite attribute bits.
constexpr uint8_t ATTR_BEHIND_BG = 0x20;
constexpr uint8_t ATTR_FLIP_X = 0x40;
constexpr uint8_t ATTR_FLIP_Y = 0x80;

// `v` moved one tile right, wrapping coarse X into the horizontal neighbour nametable.
inline uint16_t coarse_x_incremented(uint16_t v) {
    return (v & 0x001F) == 31 ? uint16_t((v & ~0x001F) ^ 0x0400) : uint16_t(v + 1);
}

} // namespace NES::ppu_bits
