// Building a console from a Python file object (anything with "name" and "read").
#include <pybind11/pybind11.h>

#include "console/nes_unit.hpp"

namespace py = pybind11;

NESUnit::NESUnit(py::object rom_file, int speed) {
    build_parts(speed);
    // str, bytes and bytearray convert; anything else is a cast error.
    std::string const name = py::cast<std::string>(rom_file.attr("name"));
    std::string const bytes = py::cast<std::string>(rom_file.attr("read")());
    auto const* image = reinterpret_cast<unsigned char const*>(bytes.data());
    try {
        NES::ROM::check_image(long(bytes.size()), image);
    } catch (std::invalid_argument const& e) {
        throw std::invalid_argument(name + ": " + e.what());
    }
    detectOS(name.c_str());
    rom = std::make_unique<NES::ROM>(long(bytes.size()), image);
    attach_cartridge();
}
