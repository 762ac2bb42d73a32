// Building a console from a Python file object (anything with "name" and "read").
#include <pybind11/pybind11.h>

#include "console/nes_unit.hpp"

namespace py = pybind11;

NESUnit::NESUnit(py::object rom_file, int speed) {
    // str, bytes and bytearray convert; anything else is a cast error.
    std::string const name = py::cast<std::string>(rom_file.attr("name"));
    std::string const bytes = py::cast<std::string>(rom_file.attr("read")());
    build_from_image(name, reinterpret_cast<unsigned char const*>(bytes.data()), bytes.size(),
                     speed);
}
