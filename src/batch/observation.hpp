// What an agent sees of a console after a step, written straight into the caller's
// arrays:
//   rgb     (240, 256, 3) the picture,
//   gray84  (84, 84)      the picture's luma, (299 R + 587 G + 114 B) / 1000 rounded,
//                         shrunk by area averaging: every output pixel is the mean of
//                         the input area it covers, partial pixels weighted by the
//                         fraction covered, rounded to the nearest integer,
//   ram     (2048)        CPU RAM $0000-$07FF.
// With max-pooling the picture is the pixelwise maximum of the last two frames, channel
// by channel (before gray84 takes its luma), which shows sprites that flicker on
// alternate frames, as is usual for Atari-style environments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace NES {

enum class Observation { rgb, gray84, ram };

constexpr int GRAY_SIZE = 84;
constexpr int RAM_SIZE = 2048;

// "rgb", "gray84" or "ram"; std::invalid_argument for anything else.
Observation observation_from_name(std::string const& name);
char const* observation_name(Observation observation);
size_t observation_bytes(Observation observation);

// The luma of an RGB picture, one byte per pixel.
void picture_luma(uint8_t const* rgb, uint8_t* luma);
// out[i] = max(a[i], b[i]) over n bytes.
void max_of(uint8_t const* a, uint8_t const* b, uint8_t* out, size_t n);
// A 240x256 luma picture shrunk to 84x84 by area averaging.
void shrink_to_gray84(uint8_t const* luma, uint8_t* out);

} // namespace NES
