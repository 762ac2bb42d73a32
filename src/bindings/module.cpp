// The extension module "vandrel": the classes "NES" and "Controller", the error and
// warning classes of bindings/python_errors.hpp, and the stubs' module docstring.
// The module definition checks the interpreter version before anything else (an
// ImportError on any interpreter but 3.12) and declares that it does not support
// multiple interpreters.
#include <pybind11/pybind11.h>

#include <cstring>
#include <string>

#include "bindings/controller_wrapper.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/file_names.hpp"
#include "bindings/nes_class.hpp"
#include "persistence/file_error.hpp"

namespace py = pybind11;

namespace {

// File-system failures become the OSError subclass that matches their errno
// (FileNotFoundError, PermissionError, ...) with the path as its filename, as os.fsdecode
// gives it.
void translate_file_errors(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (NES::FileError const& e) {
        py::object exc = py::reinterpret_borrow<py::object>(PyExc_OSError)(
            e.error_number, std::strerror(e.error_number), vandrel::path_text(e.path));
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    }
}

// A Python class named vandrel.`name` deriving from `bases`, with the stubs' docstring.
void add_class(py::module_& m, char const* name, char const* doc, py::tuple const& bases) {
    std::string const qualified = std::string("vandrel.") + name;
    PyObject* const cls = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (!cls) throw py::error_already_set();
    m.add_object(name, py::reinterpret_steal<py::object>(cls));
}

void add_error_and_warning_classes(py::module_& m) {
    auto builtin = [](PyObject* type) { return py::reinterpret_borrow<py::object>(type); };
    add_class(m, "ConversionError", vandrel::docs::CONVERSIONERROR_CLASS,
              py::make_tuple(builtin(PyExc_TypeError), builtin(PyExc_RuntimeError)));
    add_class(m, "UnsupportedBoardWarning", vandrel::docs::UNSUPPORTEDBOARDWARNING_CLASS,
              py::make_tuple(builtin(PyExc_UserWarning)));
}

} // namespace

PYBIND11_MODULE(vandrel, m, py::multiple_interpreters::not_supported()) {
    py::register_exception_translator(&translate_file_errors);
    py::register_local_exception_translator(&vandrel::translate_invalid_argument);
    m.doc() = vandrel::docs::MODULE;
    add_error_and_warning_classes(m);
    // Controller first, so that the console's methods name it in their signatures.
    vandrel::register_controller(m);
    vandrel::register_nes(m);
}
