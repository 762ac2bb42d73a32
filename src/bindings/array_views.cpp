#include "bindings/array_views.hpp"

namespace py = pybind11;

namespace vandrel {

namespace {

void release_owner(PyObject* capsule) {
    Py_XDECREF(static_cast<PyObject*>(PyCapsule_GetContext(capsule)));
}

// A capsule holding the data address, with the owner as its context.
py::capsule owner_capsule(py::handle owner, void* data) {
    py::capsule capsule =
        py::reinterpret_steal<py::capsule>(PyCapsule_New(data, nullptr, release_owner));
    if (!capsule) throw py::error_already_set();
    if (PyCapsule_SetContext(capsule.ptr(), owner.ptr()) != 0) throw py::error_already_set();
    owner.inc_ref();
    return capsule;
}

} // namespace

py::array byte_view(py::handle owner, void* data, std::vector<py::ssize_t> shape,
                    std::vector<py::ssize_t> strides) {
    return py::array(py::dtype::of<uint8_t>(), std::move(shape), std::move(strides), data,
                     owner_capsule(owner, data));
}

} // namespace vandrel
