// The Python "Controller": a controller whose buttons a Python program sets. The
// NES::Controller is its first member, so a pointer to the wrapper is a pointer to the
// controller.
#pragma once

#include <pybind11/pybind11.h>

#include "bindings/initialised.hpp"
#include "cpu/controller.hpp"

struct ControllerWrapper {
    NES::Controller controller;

    // Takes elements 0-7 of the list as the buttons A, B, Select, Start, Up, Down,
    // Left, Right; nothing changes unless all eight convert to booleans (True, False,
    // None, or anything with __bool__: numbers, NumPy booleans). An element that is
    // none of these is a vandrel.ConversionError; an exception from __bool__ propagates as it is.
    void updateInputs(pybind11::list buttons);
    // All eight buttons from one integer, bit 0 A ... bit 7 Right; ValueError outside
    // 0-255, vandrel.ConversionError for anything but an integer.
    void setButtons(pybind11::handle mask);
};

static_assert(offsetof(ControllerWrapper, controller) == 0);

// A Controller made by Controller.__new__ alone is refused before any method sees it.
VANDREL_INITIALISED_CASTER(ControllerWrapper)

namespace vandrel {
void register_controller(pybind11::module_& m);
}
