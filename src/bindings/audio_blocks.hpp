#pragma once

#include <pybind11/pybind11.h>

class NESUnit;

namespace vandrel {

// The latest published block of 1024 samples (16-bit little-endian mono) as bytes
// objects: the mixed block, or with `split_channels` the mixed block and one block per
// channel (pulse 1, pulse 2, triangle, noise, DMC), and for a cartridge with sound
// channels of its own one more, for those together. A list holding one empty bytes
// object when no new block is ready.
pybind11::list audio_blocks(NESUnit& nes, bool split_channels);

} // namespace vandrel
