// A cartridge board's own sound channels. Some boards carry a sound chip whose output is
// mixed with the console's on the cartridge connector; the board owns the unit, and the
// APU (APU::attach_expansion) asks it for its output at every sample it takes.
//
// The unit keeps time in APU steps (two CPU cycles each), as the APU's `cycles` counts
// them, and runs lazily: it moves on only when asked for a sample or told of a register
// access, each of which names the step it happens on. Steps never go back, so each call
// names a step at or after the unit's last. A board makes an access land on its step by
// bringing the APU up to the access first (APU::expansion_step): every sample before it
// has then been taken.
#pragma once

#include <cstdint>

namespace NES {

class ExpansionSound {
public:
    virtual ~ExpansionSound() = default;

    // The unit's output once it has run every step before `step`, as its term of the
    // mix: on the scale of the console's channel terms, where 1.0 is a full-scale sample.
    virtual float sample(uint64_t step) = 0;
};

} // namespace NES
