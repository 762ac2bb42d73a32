// What an agent sees of a console after a step, written straight into the caller's
// arrays:
//   rgb     (240, 256, 3) the picture,
//   gray84  (84, 84)      the picture's luma shrunk by area averaging (gray84.hpp),
//   ram     (2048)        CPU RAM $0000-$07FF.
// With max-pooling the picture is the pixelwise maximum of the last two frames, channel
// by channel (before gray84 takes its luma), which shows sprites that flicker on
// alternate frames, as is usual for Atari-style environments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "batch/gray84.hpp"

namespace NES {

enum class Observation { rgb, gray84, ram };

constexpr int RAM_SIZE = 2048;

// "rgb", "gray84" or "ram"; std::invalid_argument for anything else.
Observation observation_from_name(std::string const& name);
char const* observation_name(Observation observation);
size_t observation_bytes(Observation observation);

// out[i] = max(a[i], b[i]) over n bytes.
void max_of(uint8_t const* a, uint8_t const* b, uint8_t* out, size_t n);

} // namespace NES
