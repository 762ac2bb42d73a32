#include "bindings/controller_wrapper.hpp"
#include "bindings/docstrings.hpp"

#include <memory>
#include <string>

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

void ControllerWrapper::setButtons(py::int_ mask) {
    long const value = PyLong_AsLong(mask.ptr());
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (value < 0 || value > 0xFF)
        throw py::value_error("setButtons: the mask holds eight buttons, 0-255, got " +
                              std::to_string(value));
    controller.set_buttons(static_cast<uint8_t>(value));
}

namespace vandrel {

void register_controller(py::module_& m) {
    py::class_<ControllerWrapper>(m, "Controller", docs::CONTROLLER_CLASS)
        .def(py::init<>())
        .def("updateInputs", &ControllerWrapper::updateInputs, docs::CONTROLLER_UPDATEINPUTS)
        .def("setButtons", &ControllerWrapper::setButtons, docs::CONTROLLER_SETBUTTONS)
        .def(
            "getButtons",
            [](ControllerWrapper const& self) { return self.controller.buttons_mask(); },
            docs::CONTROLLER_GETBUTTONS)
        // Copies and pickles keep the buttons held.
        .def(
            py::pickle([](ControllerWrapper const& self) { return self.controller.buttons_mask(); },
                       [](uint8_t mask) {
                           auto wrapper = std::make_unique<ControllerWrapper>();
                           wrapper->controller.set_buttons(mask);
                           return wrapper;
                       }));
}

} // namespace vandrel
