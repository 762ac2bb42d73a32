// The `accuracy` keyword of every constructor that builds consoles.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "console/accuracy.hpp"

namespace vandrel {

// "fast" or "hardware"; anything else is refused with ValueError naming both.
inline NES::Accuracy accuracy_from(pybind11::handle value) {
    if (PyUnicode_Check(value.ptr())) {
        std::string const name = value.cast<std::string>();
        if (name == "fast") return NES::Accuracy::fast;
        if (name == "hardware") return NES::Accuracy::hardware;
    }
    throw pybind11::value_error("accuracy must be 'fast' or 'hardware', got " +
                                pybind11::repr(value).cast<std::string>());
}

} // namespace vandrel
