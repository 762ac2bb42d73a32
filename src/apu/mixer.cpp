// Mixing and the sample stream.
//
// The mix is linear: each enabled channel's output (in hardware mode the DMC's, enabled
// or not) times its weight, rounded to a float; the mixed sample is the sum of the five
// terms in extended precision, scaled to 32767, rounded to a float and truncated. Each channel also
// gets its own stream, its term scaled the same way; a stream holds the low 16 bits of these
// values. The blocks keep each sample's channel levels, from which the values are worked out when
// the host reads them: a sample costs four bytes instead of twelve, and the stepping thread packs
// levels instead of mixing.
//
// A board with sound of its own adds its unit's term to the mixed sample (after the
// five, in the same sum) and has a stream of its own; its terms are kept per sample in a
// second block beside the levels. Such a sample may pass full scale, so it is clipped;
// the console's own mix is as it was.
//
// A step takes at most one sample (APU::sample), so after c steps the count is
// floor(c * sample_rate / apu_clock) as long as that grows by at most one per step.
#include "apu/apu.hpp"

#include <algorithm>
#include <cstddef>

namespace NES {

namespace {

constexpr double PULSE_WEIGHT = APU::PULSE_WEIGHT;
constexpr double TRIANGLE_WEIGHT = 0.00851;
constexpr double NOISE_WEIGHT = 0.00494;
constexpr double DMC_WEIGHT = APU::DMC_WEIGHT;
constexpr float FULL_SCALE = 32767.0f;

// The five channel terms, in mixing order.
struct Terms {
    float value[5];
};

int signed5(APU::Levels bits) {
    return int(bits & 0x1F) - ((bits & 0x10) ? 32 : 0);
}

Terms channel_terms(APU::Levels levels) {
    Terms t;
    t.value[0] = float(int8_t(signed5(levels)) * PULSE_WEIGHT);
    t.value[1] = float(int8_t(signed5(levels >> 5)) * PULSE_WEIGHT);
    t.value[2] = float(TRIANGLE_WEIGHT * float(signed5(levels >> 10)));
    t.value[3] = float(int8_t(levels >> 15 & 0x0F) * NOISE_WEIGHT);
    int const dmc_level = int((levels >> 19) + 64) & 0xFF;
    t.value[4] = float((2 * dmc_level - 128) * DMC_WEIGHT);
    return t;
}

APU::Levels channel_levels(APU const& apu) {
    auto field = [](int value, int shift, unsigned mask) {
        return APU::Levels(unsigned(value) & mask) << shift;
    };
    APU::Levels levels = 0;
    if (apu.enabled[0]) levels |= field(apu.pulse_out[0], 0, 0x1F);
    if (apu.enabled[1]) levels |= field(apu.pulse_out[1], 5, 0x1F);
    if (apu.enabled[2]) levels |= field(int(apu.triangle_out), 10, 0x1F);
    if (apu.enabled[3]) levels |= field(apu.noise_out, 15, 0x0F);
    // The console's DMC drives its level to the mixer whether or not $4015 enables it, so
    // a $4011 write alone is heard; the fast mode mixes it only while enabled.
    if (apu.enabled[4] || apu.hardware) levels |= field(apu.dmc_level - 64, 19, 0xFF);
    return levels;
}

long double sum_of(Terms const& t) {
    long double sum = t.value[0];
    for (int i = 1; i < 5; ++i)
        sum += t.value[i];
    return sum;
}

int mixed_value(Terms const& t) {
    return int(float(sum_of(t) * FULL_SCALE));
}

int channel_value(float term) {
    return int(term * FULL_SCALE);
}

// A value scaled to full scale, clipped to the 16 bits of a sample.
int clipped(long double scaled) {
    return int(float(std::clamp<long double>(scaled, INT16_MIN, INT16_MAX)));
}

} // namespace

int mix(APU* apu) {
    return mixed_value(channel_terms(channel_levels(*apu)));
}

int16_t APU::stream_value(Levels levels, Stream stream) {
    Terms const t = channel_terms(levels);
    return int16_t(stream == MIXED ? mixed_value(t) : channel_value(t.value[stream - PULSE1]));
}

int16_t APU::stream_value(Levels levels, float board, Stream stream) {
    if (stream == EXPANSION) return int16_t(clipped((long double)board * FULL_SCALE));
    if (stream != MIXED) return stream_value(levels, stream);
    return int16_t(clipped((sum_of(channel_terms(levels)) + board) * FULL_SCALE));
}

void APU::attach_expansion(ExpansionSound* unit) {
    if (!unit) {
        expansion.reset();
        return;
    }
    expansion = std::make_unique<Expansion>();
    expansion->unit = unit;
}

// A block is published just before its first sample is overwritten, so the very first
// sample publishes the zero-filled (silent) block. A board's sound comes last, out of
// line, so that the call to it is the step's last act: the APU's own sampling stays a
// leaf function, and boards without sound pay for the one test alone.
void APU::take_sample() {
    size_t const pos = samples % BUFFER_LEN;
    if (pos == 0) publish();
    buffers[pos] = channel_levels(*this);
    ++samples;
    if (expansion) sample_board(pos);
}

void APU::sample_board(size_t pos) {
    expansion->buffers[pos] = expansion->unit->sample(cycles);
}

// The hand-off to the host thread. The stepping thread copies the live block into the
// published one and then sets buffer_ready with release ordering; the host claims the
// block by clearing the flag with acquire ordering (claim_block), so every sample of the
// publication that set the flag is visible to it before it copies. The published samples
// are written and read as relaxed atomics: a fetch that overlaps the next publication
// (the stepping thread does not wait for the host) may return a block mixed from two
// publications, but never a torn sample.
void APU::publish() {
    for (int i = 0; i < BUFFER_LEN; ++i)
        std::atomic_ref<Levels>(out_buffers[i]).store(buffers[i], std::memory_order_relaxed);
    if (expansion)
        for (int i = 0; i < BUFFER_LEN; ++i)
            std::atomic_ref<float>(expansion->out_buffers[i])
                .store(expansion->buffers[i], std::memory_order_relaxed);
    buffer_ready.store(true, std::memory_order_release);
}

bool APU::claim_block() {
    return buffer_ready.exchange(false, std::memory_order_acquire);
}

// A board's stream without a board's sound is silence.
void APU::read_block(Stream stream, unsigned char* out) {
    for (int i = 0; i < BUFFER_LEN; ++i) {
        Levels const levels =
            std::atomic_ref<Levels>(out_buffers[i]).load(std::memory_order_relaxed);
        int16_t value = 0;
        if (expansion) {
            auto const board = std::atomic_ref<float>(expansion->out_buffers[i]);
            value = stream_value(levels, board.load(std::memory_order_relaxed), stream);
        } else if (stream != EXPANSION) {
            value = stream_value(levels, stream);
        }
        auto const v = uint16_t(value);
        out[2 * i] = uint8_t(v);
        out[2 * i + 1] = uint8_t(v >> 8);
    }
}

} // namespace NES
