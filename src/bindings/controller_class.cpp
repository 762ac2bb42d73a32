#include "bindings/controller_wrapper.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/python_errors.hpp"

#include <memory>
#include <string>

namespace py = pybind11;

namespace {

// The truth values pybind11's bool conversion takes, with its errors made plain.
bool pressed_value(py::handle element, Py_ssize_t index) {
    PyObject* const object = element.ptr();
    if (object == Py_True) return true;
    if (object == Py_False || object == Py_None) return false;
    PyNumberMethods const* const number = Py_TYPE(object)->tp_as_number;
    if (!number || !number->nb_bool)
        vandrel::raise_conversion_error("updateInputs: button " + std::to_string(index) +
                                        " must be a truth value (a bool or a number), not " +
                                        Py_TYPE(object)->tp_name);
    int const truth = PyObject_IsTrue(object);
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

} // namespace

void ControllerWrapper::updateInputs(py::list buttons) {
    bool pressed[8];
    for (Py_ssize_t i = 0; i < 8; ++i) {
        // PySequence_GetItem raises the list's own IndexError for a short list.
        py::object element =
            py::reinterpret_steal<py::object>(PySequence_GetItem(buttons.ptr(), i));
        if (!element) throw py::error_already_set();
        pressed[i] = pressed_value(element, i);
    }
    controller.update_inputs(pressed);
}

// Any integer, NumPy's included (anything with __index__), as the console's other
// integer arguments take them.
void ControllerWrapper::setButtons(py::handle mask) {
    auto const number = py::reinterpret_steal<py::object>(PyNumber_Index(mask.ptr()));
    if (!number) {
        PyErr_Clear();
        vandrel::raise_conversion_error(
            std::string("setButtons: the mask must be an integer, not ") +
            Py_TYPE(mask.ptr())->tp_name);
    }
    long const value = PyLong_AsLong(number.ptr());
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (value < 0 || value > 0xFF)
        throw py::value_error("setButtons: the mask holds eight buttons, 0-255, got " +
                              std::to_string(value));
    controller.set_buttons(static_cast<uint8_t>(value));
}

namespace vandrel {

void register_controller(py::module_& m) {
    py::class_<ControllerWrapper> controller(m, "Controller", docs::CONTROLLER_CLASS);
    controller.def(py::init<>())
        .def("updateInputs", &ControllerWrapper::updateInputs, docs::CONTROLLER_UPDATEINPUTS,
             py::arg("buttons"), py::pos_only())
        .def("setButtons", &ControllerWrapper::setButtons, docs::CONTROLLER_SETBUTTONS,
             py::arg("mask"), py::pos_only())
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
    refuse_second_init(controller, typeid(ControllerWrapper), "__init__");
    refuse_second_init(controller, typeid(ControllerWrapper), "__setstate__");
}

} // namespace vandrel
