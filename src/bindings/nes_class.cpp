// The Python class "NES": the console facade with its methods in registration order.
#include "bindings/nes_class.hpp"

#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bindings/accuracy_argument.hpp"
#include "bindings/array_views.hpp"
#include "bindings/audio_blocks.hpp"
#include "bindings/console_pickle.hpp"
#include "bindings/contiguous_bytes.hpp"
#include "bindings/controller_wrapper.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/file_names.hpp"
#include "bindings/initialised.hpp"
#include "bindings/interrupt_watch.hpp"
#include "bindings/python_console.hpp"
#include "bindings/python_errors.hpp"
#include "cartridge/rom.hpp"

namespace py = pybind11;

namespace vandrel {

namespace {

constexpr int DEFAULT_CLOCK_SPEED = 1789773;

// A path goes to the file system as a C string, so a NUL would cut it short.
void refuse_nul(std::string const& path, char const* what) {
    if (path.find('\0') != std::string::npos)
        throw py::value_error(std::string(what) + " contains a NUL character");
}

// A console the user built, with the warning a board that is not emulated deserves
// (copies and unpickled consoles come from one that gave it already).
PythonConsole::Holder announced(PythonConsole::Holder console) {
    if (!console->board_emulated())
        warn_unsupported_board(console->mapper_number(), BuiltBy::constructor);
    return console;
}

// None and anything else that is no str or bytes go on to from_object, which names them.
PythonConsole::Holder from_path(std::string const& rom_name, int speed, py::handle accuracy) {
    NES::Accuracy const mode = accuracy_from(accuracy);
    refuse_nul(rom_name, "rom_name");
    return announced(PythonConsole::Holder(new PythonConsole(rom_name.c_str(), speed, mode)));
}

PythonConsole::Holder blank(int speed, py::handle accuracy) {
    return PythonConsole::Holder(new PythonConsole(speed, accuracy_from(accuracy)));
}

// Whether a file object's read takes a size, as every file object's does; the minimal
// stand-in the stubs describe has a bare read(). Without a signature to look at, the
// file protocol is assumed.
bool read_takes_size(py::handle read) {
    py::object signature;
    try {
        signature = py::module_::import("inspect").attr("signature")(read);
    } catch (py::error_already_set const& e) {
        if (e.matches(PyExc_ValueError) || e.matches(PyExc_TypeError)) return true;
        throw;
    }
    try {
        signature.attr("bind")(0);
        return true;
    } catch (py::error_already_set const& e) {
        if (e.matches(PyExc_TypeError)) return false;
        throw;
    }
}

std::string too_large(std::string const& name) {
    return name + ": the file holds more than the largest iNES image (" +
           std::to_string(NES::MAX_IMAGE_SIZE) + " bytes)";
}

// A file object: its name names the save folder, and read(size) stops one byte past the
// largest iNES image, so that an endless stream costs no more than that.
PythonConsole::Holder from_file(py::handle file, int speed, NES::Accuracy mode) {
    std::string const name = path_bytes(file.attr("name"), "rom_file.name");
    py::object const read = file.attr("read");
    py::object contents = read_takes_size(read) ? read(NES::MAX_IMAGE_SIZE + 1) : read();
    // The stubs let read() give text, taken as its UTF-8 bytes.
    if (PyUnicode_Check(contents.ptr()))
        contents = py::reinterpret_steal<py::object>(PyUnicode_AsUTF8String(contents.ptr()));
    if (!contents) throw py::error_already_set();
    if (!PyObject_CheckBuffer(contents.ptr()))
        raise_conversion_error(std::string("rom_file.read() must return bytes, not ") +
                               Py_TYPE(contents.ptr())->tp_name);
    ContiguousBytes const image(contents);
    if (image.size() > size_t(NES::MAX_IMAGE_SIZE)) throw py::value_error(too_large(name));
    return announced(
        PythonConsole::Holder(new PythonConsole(name, image.data(), image.size(), speed, mode)));
}

// What the other constructors leave: a path object (os.PathLike: pathlib.Path, ...), a
// str path that is not UTF-8 (os.fsdecode of undecodable bytes), or a file object with
// "name" and "read".
PythonConsole::Holder from_object(py::object rom, int speed, py::handle accuracy) {
    if (PyUnicode_Check(rom.ptr()) || py::hasattr(rom, "__fspath__"))
        return from_path(path_bytes(rom, "rom_name"), speed, accuracy);
    NES::Accuracy const mode = accuracy_from(accuracy);
    if (!py::hasattr(rom, "read"))
        throw py::type_error("rom_name must be a path (str, bytes, bytearray or os.PathLike) "
                             "or a file object with read() and name, not " +
                             class_name(rom));
    return from_file(rom, speed, mode);
}

bool set_save_dir(PythonConsole& self, py::handle path) {
    std::string folder = path_bytes(path, "path");
    refuse_nul(folder, "the save folder path");
    return self.setSaveDir(std::move(folder));
}

py::str get_save_dir(PythonConsole& self) {
    return path_text(self.getSaveDir());
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
    return byte_view(self, nes.ppu->rgb_picture(), {NES::SCREEN_HEIGHT, NES::SCREEN_WIDTH, 3},
                     {NES::SCREEN_WIDTH * 3, 3, 1});
}

py::array color_lookup(py::object self) {
    auto& nes = self.cast<PythonConsole&>();
    return byte_view(self, nes.colour_table, {NES::PALETTE_COLOURS, 3}, {3, 1});
}

py::list get_audio(PythonConsole& self, bool split_channels) {
    return audio_blocks(self, split_channels);
}

// The record is written straight into the bytes object that is returned.
py::bytes get_state(PythonConsole& self) {
    auto state = py::reinterpret_steal<py::bytes>(
        PyBytes_FromStringAndSize(nullptr, Py_ssize_t(self.state_size())));
    if (!state) throw py::error_already_set();
    self.take_state(reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(state.ptr())));
    return state;
}

void set_state(PythonConsole& self, py::handle data) {
    ContiguousBytes const record(data);
    using Fault = NES::CPU::RecordFault;
    Fault const fault = NES::CPU::state_fault(record.data(), record.size());
    if (fault == Fault::length) {
        size_t const own = self.state_size();
        std::string const with_trailer =
            own == NES::CPU::STATE_SIZE
                ? std::string()
                : " (" + std::to_string(own) + " with this board's trailer)";
        throw py::value_error("setState: a state record is " +
                              std::to_string(NES::CPU::STATE_SIZE) + " bytes" + with_trailer +
                              ", got " + std::to_string(record.size()));
    }
    if (fault == Fault::board_record)
        throw py::value_error("setState: the record's last board bytes are neither zero nor a "
                              "board extension's marker; the console is unchanged");
    if (!self.restore_state(record.data(), record.size()))
        throw py::value_error("setState: the record's program counter lies outside the "
                              "address space; the console is unchanged");
}

// Any integer other than 0 and 1 is refused, whatever its size.
void set_controller(PythonConsole& self, ControllerWrapper& controller, py::handle port) {
    auto const index = py::reinterpret_steal<py::object>(PyNumber_Index(port.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    long long const number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (number == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0 || number < 0 || number > 1)
        throw py::value_error("controller port must be 0 or 1, got " +
                              py::str(index).cast<std::string>());
    self.setController(controller.controller, int(number));
    self.plugged[number] = py::cast(&controller);
}

// Steps without the interpreter lock, which the per-frame callable takes back; Ctrl-C
// ends a run of several frames after the frame in progress (bindings/interrupt_watch.hpp).
void run_frames(PythonConsole& self, int64_t count) {
    InterruptWatch const watch(count > 1);
    {
        py::gil_scoped_release release;
        self.run_frames_until(count, watch.flag());
    }
    watch.raise_if_interrupted();
}

// None is taken as the stubs promise, and the next frame then says what went wrong.
void per_frame(PythonConsole& self, std::optional<NESUnit::FrameCallback> callback) {
    if (!callback)
        callback = [] {
            throw std::runtime_error("the per-frame callable is None (perFrame(None)); give "
                                     "perFrame a callable, such as lambda: None");
        };
    self.perFrame(*callback);
}

// Run threads step without the interpreter lock; end them all while the interpreter
// can still serve their per-frame callables, and let the threads that destroy consoles
// handed over to them finish with it. A reference to each console is held meanwhile, so
// that no callable can hand its console over while it is being halted here.
void halt_all_run_threads() {
    std::vector<py::object> held;
    std::vector<PythonConsole*> consoles;
    for (PythonConsole* console : PythonConsole::live_consoles()) {
        held.push_back(py::cast(console, py::return_value_policy::reference));
        consoles.push_back(console);
    }
    {
        py::gil_scoped_release release;
        for (PythonConsole* console : consoles)
            console->halt();
        NESUnit::wait_for_handed_over_threads();
    }
    held.clear();
}

} // namespace

void register_nes(py::module_& m) {
    using Release = py::call_guard<py::gil_scoped_release>;
    py::class_<PythonConsole, PythonConsole::Holder> nes(m, "NES", docs::NES_CLASS);
    nes.def(py::init(&from_path), docs::NES_DUNDER_INIT_0, py::arg("rom_name"),
            py::arg("CLOCK_SPEED") = DEFAULT_CLOCK_SPEED, py::kw_only(),
            py::arg("accuracy") = "fast")
        .def(py::init(&blank), docs::NES_DUNDER_INIT_1,
             py::arg("CLOCK_SPEED") = DEFAULT_CLOCK_SPEED, py::kw_only(),
             py::arg("accuracy") = "fast")
        .def(py::init(&from_object), docs::NES_DUNDER_INIT_2, py::arg("rom_file"),
             py::arg("CLOCK_SPEED") = DEFAULT_CLOCK_SPEED, py::kw_only(),
             py::arg("accuracy") = "fast")
        .def_property_readonly(
            "accuracy",
            [](PythonConsole const& self) { return NES::accuracy_name(self.accuracy()); },
            docs::NES_ACCURACY)
        .def_property_readonly("mapperNumber", &NESUnit::mapper_number, docs::NES_MAPPERNUMBER)
        .def_property_readonly("boardSupported", &NESUnit::board_emulated, docs::NES_BOARDSUPPORTED)
        .def("reset", &NESUnit::press_reset, docs::NES_RESET)
        .def("cpuMem", &cpu_mem, docs::NES_CPUMEM)
        .def("ppuMem", &ppu_mem, docs::NES_PPUMEM)
        .def("OAM", &oam, docs::NES_OAM)
        .def("getImg", &get_img, docs::NES_GETIMG)
        .def("colorLookup", &color_lookup, docs::NES_COLORLOOKUP)
        .def("getAudio", &get_audio, docs::NES_GETAUDIO, py::arg("split_channels") = false)
        // Waiting for the run thread or for a stepping caller must not hold the lock
        // their per-frame callables may need.
        .def("start", &NESUnit::start, docs::NES_START, Release())
        .def("stop", &NESUnit::stop, docs::NES_STOP, Release())
        .def("saveState", &NESUnit::save, docs::NES_SAVESTATE, py::arg("slot"), py::pos_only())
        .def("loadState", &NESUnit::load, docs::NES_LOADSTATE, py::arg("slot"), py::pos_only())
        .def("setPaused", &NESUnit::set_pause, docs::NES_SETPAUSED, py::arg("paused"),
             py::pos_only(), Release())
        .def("setSaveDir", &set_save_dir, docs::NES_SETSAVEDIR, py::arg("path"), py::pos_only())
        .def("getSaveDir", &get_save_dir, docs::NES_GETSAVEDIR)
        .def("setController", &set_controller, docs::NES_SETCONTROLLER, py::arg("controller"),
             py::arg("port"), py::pos_only())
        .def("frameCount", &NESUnit::frame_count, docs::NES_FRAMECOUNT)
        .def("cycleCount", &NESUnit::cycle_count, docs::NES_CYCLECOUNT)
        .def("runFrame", &NESUnit::runFrame, docs::NES_RUNFRAME)
        .def("runFrames", &run_frames, docs::NES_RUNFRAMES, py::arg("count") = 1)
        .def("getState", &get_state, docs::NES_GETSTATE)
        .def("setState", &set_state, docs::NES_SETSTATE, py::arg("data"))
        .def("perFrame", &per_frame, docs::NES_PERFRAME, py::arg("callback"), py::pos_only())
        .def("saveBattery", &NESUnit::save_battery, docs::NES_SAVEBATTERY)
        .def("getSnapshot", &get_snapshot, docs::NES_GETSNAPSHOT, py::kw_only(),
             py::arg("into") = py::none(), py::arg("picture") = true)
        .def("setSnapshot", &set_snapshot, docs::NES_SETSNAPSHOT, py::arg("data"))
        // Copies and pickles: a console of the same cartridge restored from a snapshot.
        .def(py::pickle(&console_state, &console_from_state))
        .def("__copy__", &shallow_copy_console)
        .def("__deepcopy__", &copy_console, py::arg("memo"));
    refuse_second_init(nes, typeid(PythonConsole), "__init__");
    refuse_second_init(nes, typeid(PythonConsole), "__setstate__");

    py::module_::import("atexit").attr("register")(py::cpp_function(&halt_all_run_threads));
}

} // namespace vandrel
