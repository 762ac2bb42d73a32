#include "batch/observation.hpp"

#include <algorithm>
#include <stdexcept>

#include "ppu/ppu.hpp"

namespace NES {

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

void max_of(uint8_t const* a, uint8_t const* b, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i)
        out[i] = std::max(a[i], b[i]);
}

} // namespace NES
