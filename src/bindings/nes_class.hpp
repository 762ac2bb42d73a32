#pragma once

#include <pybind11/pybind11.h>

namespace vandrel {
void register_nes(pybind11::module_& m);
}
