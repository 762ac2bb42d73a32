// CRC-32C (Castagnoli), the check value of console snapshots. Its polynomial detects
// every error of an odd number of bits (one bit included) and every burst of up to 32
// bits; other damage gets through about once in 2^32. It catches
// accidental damage only: anyone can seal a crafted snapshot with it, so the field
// checks behind it stand against what is forged.
//
// Saves and restores run it over every snapshot, thousands of times a second in a
// search, so it is computed with the processor's carry-less multiply and CRC
// instructions where it has them (chosen at run time), and with tables elsewhere: both
// give the same value for the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace NES {

// The standard CRC-32C: initial value and final XOR 0xFFFFFFFF, bits reflected (the
// value of the nine bytes "123456789" is 0xE3069283).
uint32_t crc32c(unsigned char const* data, size_t size);

// The same value from tables alone, as a processor without those instructions
// computes it.
uint32_t crc32c_portable(unsigned char const* data, size_t size);

} // namespace NES
