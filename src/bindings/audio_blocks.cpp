#include "bindings/audio_blocks.hpp"

#include "console/nes_unit.hpp"

namespace py = pybind11;

namespace vandrel {

py::list audio_blocks(NESUnit&, bool) {
    py::list blocks;
    blocks.append(py::bytes());
    return blocks;
}

} // namespace vandrel
