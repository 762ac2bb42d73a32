// Mixing and the sample stream.
//
// The mix is linear: each enabled channel's output times its weight, rounded to a float;
// the mixed sample is the sum of the five terms in extended precision, scaled to 32767,
// rounded to a float and truncated. Each channel also gets its own stream, its term
// scaled the same way. Buffers hold the low 16 bits of these values.
//
// A step takes at most one sample (APU::sample), so after c steps the count is
// floor(c * sample_rate / apu_clock) as long as that grows by at most one per step.
#include "apu/apu.hpp"

#include <cstddef>

namespace NES {

namespace {

constexpr double PULSE_WEIGHT = 0.00752;
constexpr double TRIANGLE_WEIGHT = 0.00851;
constexpr double NOISE_WEIGHT = 0.00494;
constexpr double DMC_WEIGHT = 0.00335;
constexpr float FULL_SCALE = 32767.0f;

// The five channel terms, in mixing order; 0 for a disabled channel.
struct Terms {
    float value[5];
};

Terms channel_terms(APU const& apu) {
    Terms t{};
    if (apu.enabled[0]) t.value[0] = float(apu.pulse_out[0] * PULSE_WEIGHT);
    if (apu.enabled[1]) t.value[1] = float(apu.pulse_out[1] * PULSE_WEIGHT);
    if (apu.enabled[2]) t.value[2] = float(TRIANGLE_WEIGHT * apu.triangle_out);
    if (apu.enabled[3]) t.value[3] = float(apu.noise_out * NOISE_WEIGHT);
    if (apu.enabled[4]) t.value[4] = float((2 * apu.dmc_level - 128) * DMC_WEIGHT);
    return t;
}

int mixed_value(Terms const& t) {
    long double sum = t.value[0];
    for (int i = 1; i < 5; ++i)
        sum += t.value[i];
    return int(float(sum * FULL_SCALE));
}

int channel_value(float term) {
    return int(term * FULL_SCALE);
}

} // namespace

int mix(APU* apu) {
    return mixed_value(channel_terms(*apu));
}

// A block is published just before its first sample is overwritten, so the very first
// sample publishes the zero-filled buffers.
void APU::take_sample() {
    size_t const pos = samples % BUFFER_LEN;
    if (pos == 0) publish();
    Terms const t = channel_terms(*this);
    buffers[MIXED][pos] = int16_t(mixed_value(t));
    for (int c = 0; c < 5; ++c)
        buffers[PULSE1 + c][pos] = int16_t(channel_value(t.value[c]));
    ++samples;
}

// The hand-off to the host thread. The stepping thread copies the live buffers into the
// published ones and then sets buffer_ready with release ordering; the host claims the
// block by clearing the flag with acquire ordering (claim_block), so every sample of the
// publication that set the flag is visible to it before it copies. The published samples
// are written and read as relaxed atomics: a fetch that overlaps the next publication
// (the stepping thread does not wait for the host) may return a block mixed from two
// publications, but never a torn sample.
void APU::publish() {
    for (int s = 0; s < STREAMS; ++s)
        for (int i = 0; i < BUFFER_LEN; ++i)
            std::atomic_ref<int16_t>(out_buffers[s][i])
                .store(buffers[s][i], std::memory_order_relaxed);
    buffer_ready.store(true, std::memory_order_release);
}

bool APU::claim_block() {
    return buffer_ready.exchange(false, std::memory_order_acquire);
}

void APU::read_block(Stream stream, unsigned char* out) {
    for (int i = 0; i < BUFFER_LEN; ++i) {
        auto const v = uint16_t(
            std::atomic_ref<int16_t>(out_buffers[stream][i]).load(std::memory_order_relaxed));
        out[2 * i] = uint8_t(v);
        out[2 * i + 1] = uint8_t(v >> 8);
    }
}

} // namespace NES
