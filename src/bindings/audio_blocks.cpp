#include "bindings/audio_blocks.hpp"

#include <array>

#include "console/nes_unit.hpp"

namespace py = pybind11;

namespace vandrel {

namespace {

constexpr size_t BLOCK_BYTES = 2 * NES::APU::BUFFER_LEN;

py::bytes block_bytes(NES::APU& apu, NES::APU::Stream stream) {
    std::array<unsigned char, BLOCK_BYTES> raw;
    apu.read_block(stream, raw.data());
    return py::bytes(reinterpret_cast<char const*>(raw.data()), raw.size());
}

} // namespace

// Claiming the block clears the ready flag first, so the block is handed out once; the
// bytes objects are copies taken now (the stepping thread may publish again at any time).
py::list audio_blocks(NESUnit& nes, bool split_channels) {
    py::list blocks;
    NES::APU& apu = *nes.apu;
    if (!apu.claim_block()) {
        blocks.append(py::bytes());
        return blocks;
    }
    int const streams = split_channels ? apu.stream_count() : 1;
    for (int s = 0; s < streams; ++s)
        blocks.append(block_bytes(apu, NES::APU::Stream(s)));
    return blocks;
}

} // namespace vandrel
