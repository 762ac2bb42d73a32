// The module's own Python classes of errors and warnings, made as the module vandrel
// is imported, and the helpers that raise them from either module.
//
// ConversionError is raised where vandrel converts a Python value itself (an element of
// updateInputs' list, what a file object's read() returns, a path, a button mask, a
// pickled field) and the value is of a type it cannot take. It derives from TypeError,
// which says what went wrong, and from RuntimeError, which the same faults raised when
// pybind11 converted those values, so that callers catching either keep working.
//
// UnsupportedBoardWarning is issued when a console is built for a mapper number
// without a board of its own.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace vandrel {

// The class vandrel.`name`, looked up through the module so that vandrel_gym._batch,
// a module of its own, raises the very same class.
inline pybind11::object vandrel_class(char const* name) {
    return pybind11::module_::import("vandrel").attr(name);
}

[[noreturn]] inline void raise_conversion_error(std::string const& message) {
    PyErr_SetString(vandrel_class("ConversionError").ptr(), message.c_str());
    throw pybind11::error_already_set();
}

// Where the Python line that built the console is: the caller of a bound function, or
// two frames up from a constructor, whose __init__ is wrapped in a Python function
// (bindings/initialised.hpp).
enum class BuiltBy : int { function = 1, constructor = 2 };

// Issued at the Python line that built the console, so that the warnings filter's
// "once per location" default shows it once however many consoles that line builds.
inline void warn_unsupported_board(uint32_t mapper_number, BuiltBy built_by) {
    std::string const message =
        "the cartridge's board (mapper " + std::to_string(mapper_number) +
        ") is not emulated: it loads with nothing mapped, so its picture and sound are wrong";
    if (PyErr_WarnEx(vandrel_class("UnsupportedBoardWarning").ptr(), message.c_str(),
                     Py_ssize_t(built_by)) != 0)
        throw pybind11::error_already_set();
}

} // namespace vandrel
