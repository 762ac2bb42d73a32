// A 64-bit multiply-xor hash over whole words, in four independent lanes so that the
// multiplications overlap: cheap enough to run over every snapshot saved and restored,
// and over a cartridge image when it is loaded. It catches accidental changes; it is no
// defence against a forger (the checks behind it are).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace NES {

inline uint64_t hash64(unsigned char const* data, size_t size) {
    constexpr uint64_t PRIME = 0x100000001B3ULL;
    uint64_t lane[4] = {0xCBF29CE484222325ULL, 0x84222325CBF29CE4ULL, 0x9E3779B97F4A7C15ULL,
                        0xC2B2AE3D27D4EB4FULL};
    size_t i = 0;
    for (; i + 32 <= size; i += 32)
        for (int k = 0; k < 4; ++k) {
            uint64_t word;
            std::memcpy(&word, data + i + 8 * k, 8);
            lane[k] = (lane[k] ^ word) * PRIME;
            lane[k] ^= lane[k] >> 29;
        }
    uint64_t h = lane[0] ^ (lane[1] * 3) ^ (lane[2] * 5) ^ (lane[3] * 7) ^ size;
    for (; i < size; ++i)
        h = (h ^ data[i]) * PRIME;
    h ^= h >> 31;
    return h * 0x9E3779B97F4A7C15ULL;
}

} // namespace NES
