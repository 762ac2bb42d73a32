// Paths between Python and the file system.
//
// A path goes to C++ as the file system's bytes (os.fsencode) and comes back as the str
// Python's own os functions would give (os.fsdecode, undecodable bytes kept as
// surrogates), so that a name that is not UTF-8 makes the round trip: a console built
// from b"\xff.nes" has a save folder, a getSaveDir and a pickle like any other.
// Messages that name such a path show its undecodable bytes as \xNN escapes.
#pragma once

#include <pybind11/pybind11.h>

#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "bindings/python_errors.hpp"

namespace vandrel {

// str, bytes, bytearray or os.PathLike; ConversionError naming `what` for anything else.
inline std::string path_bytes(pybind11::handle path, char const* what) {
    namespace py = pybind11;
    PyObject* const object = path.ptr();
    if (PyByteArray_Check(object))
        return std::string(PyByteArray_AS_STRING(object), size_t(PyByteArray_GET_SIZE(object)));
    if (!PyUnicode_Check(object) && !PyBytes_Check(object) &&
        !PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__fspath__"))
        raise_conversion_error(std::string(what) +
                               " must be a path (str, bytes, bytearray or os.PathLike), not " +
                               Py_TYPE(object)->tp_name);
    auto const fs_path = py::reinterpret_steal<py::object>(PyOS_FSPath(object));
    if (!fs_path) throw py::error_already_set();
    py::object bytes = fs_path;
    if (PyUnicode_Check(fs_path.ptr())) {
        bytes = py::reinterpret_steal<py::object>(PyUnicode_EncodeFSDefault(fs_path.ptr()));
        if (!bytes) throw py::error_already_set();
    }
    return std::string(PyBytes_AS_STRING(bytes.ptr()), size_t(PyBytes_GET_SIZE(bytes.ptr())));
}

inline pybind11::str path_text(std::string const& path) {
    PyObject* const text = PyUnicode_DecodeFSDefaultAndSize(path.data(), Py_ssize_t(path.size()));
    if (!text) throw pybind11::error_already_set();
    return pybind11::reinterpret_steal<pybind11::str>(text);
}

// std::invalid_argument becomes ValueError as pybind11 makes it, except that a message
// holding a path that is not UTF-8 still arrives (pybind11's own translation would raise
// UnicodeDecodeError instead). Registered module-locally by both modules.
inline void translate_invalid_argument(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (std::invalid_argument const& e) {
        PyObject* const message =
            PyUnicode_DecodeUTF8(e.what(), Py_ssize_t(std::strlen(e.what())), "backslashreplace");
        if (!message) return; // the decoding error stays raised
        PyErr_SetObject(PyExc_ValueError, message);
        Py_DECREF(message);
    }
}

} // namespace vandrel
