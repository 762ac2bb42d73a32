#include "bindings/controller_wrapper.hpp"

namespace py = pybind11;

void ControllerWrapper::updateInputs(py::list buttons) {
    bool pressed[8];
    for (Py_ssize_t i = 0; i < 8; ++i) {
        // PySequence_GetItem raises the list's own IndexError for a short list.
        py::object element =
            py::reinterpret_steal<py::object>(PySequence_GetItem(buttons.ptr(), i));
        if (!element) throw py::error_already_set();
        pressed[i] = py::cast<bool>(element);
    }
    controller.update_inputs(pressed);
}

namespace vandrel {

void register_controller(py::module_& m) {
    py::class_<ControllerWrapper>(m, "Controller")
        .def(py::init<>())
        .def("updateInputs", &ControllerWrapper::updateInputs);
}

} // namespace vandrel
