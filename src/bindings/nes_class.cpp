// The Python class "NES": the console facade with its methods in registration order.
#include "bindings/nes_class.hpp"

#include <pybind11/functional.h>

#include "bindings/array_views.hpp"
#include "bindings/audio_blocks.hpp"
#include "bindings/controller_wrapper.hpp"
#include "bindings/python_console.hpp"

namespace py = pybind11;

namespace vandrel {

namespace {

constexpr int DEFAULT_CLOCK_SPEED = 1789773;

std::unique_ptr<PythonConsole> from_path(char const* rom_name, int speed) {
    if (!rom_name)
        throw py::type_error("rom_name must be a path (str, bytes or bytearray), not None");
    return std::make_unique<PythonConsole>(rom_name, speed);
}

py::array cpu_mem(py::object self) {
    auto& nes = self.cast<PythonConsole&>();
    return byte_view(self, nes.cpu->memory, {0x10000}, {1});
}

py::array ppu_mem(py::object self) {
    auto& nes = self.cast<PythonConsole&>();
    return byte_view(self, nes.ppu->memory, {0x4000}, {1});
}

py::array oam(py::object self) {
    auto& nes = self.cast<PythonConsole&>();
    return byte_view(self, nes.ppu->oam, {256}, {1});
}

py::array get_img(py::object self) {
    auto& nes = self.cast<PythonConsole&>();
    return byte_view(self, nes.ppu->image, {NES::SCREEN_HEIGHT, NES::SCREEN_WIDTH, 3},
                     {NES::SCREEN_WIDTH * 3, 3, 1});
}

py::array color_lookup(py::object self) {
    auto& nes = self.cast<PythonConsole&>();
    return byte_view(self, nes.colour_table, {NES::PALETTE_COLOURS, 3}, {3, 1});
}

py::list get_audio(PythonConsole& self, bool split_channels) {
    return audio_blocks(self, split_channels);
}

void set_controller(PythonConsole& self, ControllerWrapper& controller, int port) {
    self.setController(controller.controller, port);
    self.plugged[static_cast<unsigned char>(port)] = py::cast(&controller);
}

// Run threads step without the interpreter lock; end them all while the interpreter
// can still serve their per-frame callables.
void halt_all_run_threads() {
    auto consoles = PythonConsole::live_consoles();
    py::gil_scoped_release release;
    for (PythonConsole* console : consoles)
        console->halt();
}

} // namespace

void register_nes(py::module_& m) {
    using Release = py::call_guard<py::gil_scoped_release>;
    py::class_<PythonConsole>(m, "NES")
        .def(py::init(&from_path), py::arg("rom_name"),
             py::arg("CLOCK_SPEED") = DEFAULT_CLOCK_SPEED)
        .def(py::init<int>(), py::arg("CLOCK_SPEED") = DEFAULT_CLOCK_SPEED)
        .def(py::init<py::object, int>(), py::arg("rom_file"),
             py::arg("CLOCK_SPEED") = DEFAULT_CLOCK_SPEED)
        .def("cpuMem", &cpu_mem)
        .def("ppuMem", &ppu_mem)
        .def("OAM", &oam)
        .def("getImg", &get_img)
        .def("colorLookup", &color_lookup)
        .def("getAudio", &get_audio, py::arg("split_channels") = false)
        .def("start", &NESUnit::start)
        // Waiting for the run thread must not hold the lock its callable may need.
        .def("stop", &NESUnit::stop, Release())
        .def("saveState", &NESUnit::save)
        .def("loadState", &NESUnit::load)
        .def("setPaused", &NESUnit::set_pause, Release())
        .def("setSaveDir", &NESUnit::setSaveDir)
        .def("getSaveDir", &NESUnit::getSaveDir)
        .def("setController", &set_controller)
        .def("frameCount", &NESUnit::frame_count)
        .def("cycleCount", &NESUnit::cycle_count)
        .def("runFrame", &NESUnit::runFrame)
        .def("perFrame", &NESUnit::perFrame);

    py::module_::import("atexit").attr("register")(py::cpp_function(&halt_all_run_threads));
}

} // namespace vandrel
