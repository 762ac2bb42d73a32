// NumPy arrays over console memory: zero-copy, writable views whose base is a capsule
// that holds a reference to the Python object owning the memory, so an array can never
// outlive the memory it shows.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <vector>

namespace vandrel {

pybind11::array byte_view(pybind11::handle owner, void* data, std::vector<pybind11::ssize_t> shape,
                          std::vector<pybind11::ssize_t> strides);

} // namespace vandrel
