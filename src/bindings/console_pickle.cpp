#include "bindings/console_pickle.hpp"

#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "bindings/contiguous_bytes.hpp"
#include "bindings/controller_wrapper.hpp"
#include "bindings/file_names.hpp"
#include "bindings/python_errors.hpp"
#include "bindings/snapshot_refusal.hpp"
#include "console/progress.hpp"

namespace py = pybind11;

namespace vandrel {

namespace {

// The layout of the pickled tuple; a later layout gets a new number.
constexpr int PICKLE_FORMAT = 1;
constexpr size_t PICKLE_FIELDS = 8;

void restore(PythonConsole& console, unsigned char const* data, size_t size, char const* what) {
    check_restored(console.restore_snapshot(data, size), console.accuracy(), what, data, size);
}

// A field of the pickled tuple that must be of one type: ConversionError naming it
// otherwise.
template <typename T> T field(py::tuple const& state, size_t index, char const* what) {
    py::handle const value = state[index];
    try {
        return value.cast<T>();
    } catch (py::cast_error const&) {
        raise_conversion_error(std::string("NES pickle: ") + what +
                               " has the wrong type or is out of range (" +
                               Py_TYPE(value.ptr())->tp_name + ")");
    }
}

void plug_controllers(PythonConsole& console, py::tuple const& controllers) {
    for (int port = 0; port < 2; ++port) {
        py::handle const controller = controllers[size_t(port)];
        if (controller.is_none()) continue;
        auto& wrapper = controller.cast<ControllerWrapper&>();
        console.setController(wrapper.controller, port);
        console.plugged[port] = py::reinterpret_borrow<py::object>(controller);
    }
}

} // namespace

namespace {

// The snapshot, written into a scratch buffer of the calling thread that keeps its size
// from call to call: its length is known only once it is written.
std::vector<unsigned char> const& written_snapshot(PythonConsole& self, bool picture,
                                                   size_t& size) {
    thread_local std::vector<unsigned char> scratch(size_t(1) << 16);
    size = self.write_snapshot(scratch.data(), scratch.size(), picture);
    if (size == 0) {
        scratch.resize(self.snapshot_size(picture));
        size = self.write_snapshot(scratch.data(), scratch.size(), picture);
    }
    return scratch;
}

} // namespace

namespace {

// Written straight into a new bytes object as long as the snapshot fits the room the
// calling thread's last one took (with a page or so to spare), which is then shrunk to
// its length; a larger one goes through the scratch buffer.
py::bytes new_snapshot_bytes(PythonConsole& self, bool picture) {
    constexpr size_t SPARE = 2048;
    thread_local size_t last_size = 0;
    if (last_size != 0) {
        PyObject* bytes = PyBytes_FromStringAndSize(nullptr, Py_ssize_t(last_size + SPARE));
        if (!bytes) throw py::error_already_set();
        auto* const to = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes));
        size_t const size = self.write_snapshot(to, last_size + SPARE, picture);
        if (size != 0) {
            last_size = size;
            if (_PyBytes_Resize(&bytes, Py_ssize_t(size)) != 0) throw py::error_already_set();
            return py::reinterpret_steal<py::bytes>(bytes);
        }
        Py_DECREF(bytes);
    }
    size_t size = 0;
    std::vector<unsigned char> const& snapshot = written_snapshot(self, picture, size);
    last_size = size;
    return py::bytes(reinterpret_cast<char const*>(snapshot.data()), size);
}

} // namespace

py::object get_snapshot(PythonConsole& self, py::object into, bool picture) {
    if (into.is_none()) return new_snapshot_bytes(self, picture);
    size_t size = 0;
    std::vector<unsigned char> const& snapshot = written_snapshot(self, picture, size);
    WritableBytes const buffer(into);
    if (buffer.size() < size)
        throw py::value_error("getSnapshot: the buffer holds " + std::to_string(buffer.size()) +
                              " bytes; this console's snapshot takes " + std::to_string(size));
    std::memcpy(buffer.data(), snapshot.data(), size);
    return py::int_(size);
}

void set_snapshot(PythonConsole& self, py::handle data) {
    ContiguousBytes const snapshot(data);
    restore(self, snapshot.data(), snapshot.size(), "setSnapshot");
}

py::tuple console_state(PythonConsole& self) {
    py::object name = py::none();
    py::object image = py::none();
    if (!self.blank_cartridge()) {
        name = path_text(self.cartridge_name());
        std::span<unsigned char const> const bytes = self.rom->image_bytes();
        image = py::bytes(reinterpret_cast<char const*>(bytes.data()), bytes.size());
    }
    py::object controllers[2];
    for (int port = 0; port < 2; ++port)
        controllers[port] = self.plugged[port] ? self.plugged[port] : py::none();
    return py::make_tuple(
        PICKLE_FORMAT, name, image, int(self.cpu->clock_speed), path_text(self.getSaveDir()),
        get_snapshot(self, py::none(), true),
        py::bytes(reinterpret_cast<char const*>(self.colour_table), sizeof self.colour_table),
        py::make_tuple(controllers[0], controllers[1]));
}

namespace {

PythonConsole::Holder build_console(bool blank, std::string const& name, unsigned char const* image,
                                    size_t image_size, int speed, std::string const& save_dir,
                                    unsigned char const* snapshot, size_t snapshot_size,
                                    void const* colours, py::tuple const& controllers,
                                    char const* what) {
    // The snapshot says which mode the console ran in.
    NES::Accuracy const mode =
        NESUnit::snapshot_accuracy(snapshot, snapshot_size).value_or(NES::Accuracy::fast);

    // A copy or an unpickled console is no construction the user asked to watch: its
    // progress lines stay quiet, as the batch stepper's do.
    NES::QuietHere const quiet_while_building;
    PythonConsole::Holder console =
        blank ? PythonConsole::Holder(new PythonConsole(speed, mode))
              : PythonConsole::Holder(new PythonConsole(name, image, image_size, speed, mode));
    restore(*console, snapshot, snapshot_size, what);
    // The save folder comes along when it exists here too; elsewhere the copy keeps the
    // cartridge's own folder.
    if (save_dir != console->getSaveDir() && save_dir.find('\0') == std::string::npos)
        console->setSaveDir(save_dir);
    std::memcpy(console->colour_table, colours, sizeof console->colour_table);
    plug_controllers(*console, controllers);
    return console;
}

} // namespace

// Every field is checked before the console is built, so that a wrong pickle makes no
// save folder.
PythonConsole::Holder console_from_state(py::tuple const& state) {
    if (state.size() != PICKLE_FIELDS || !PyLong_Check(state[0].ptr()) ||
        py::int_(state[0]).cast<long long>() != PICKLE_FORMAT)
        throw py::value_error("NES: this pickle was made by another version of vandrel");
    bool const blank = state[1].is_none();
    std::string const name = blank ? std::string() : path_bytes(state[1], "NES pickle: the name");
    std::optional<ContiguousBytes> image;
    if (!blank) image.emplace(state[2]);
    int const speed = field<int>(state, 3, "the clock speed");
    std::string const save_dir = path_bytes(state[4], "NES pickle: the save folder");
    ContiguousBytes const snapshot(state[5]);
    ContiguousBytes const colours(state[6]);
    auto const controllers = field<py::tuple>(state, 7, "the controllers");
    if (controllers.size() != 2)
        throw py::value_error("NES pickle: the controllers are a pair, got " +
                              std::to_string(controllers.size()));
    for (py::handle const controller : controllers) {
        if (controller.is_none()) continue;
        if (!py::isinstance<ControllerWrapper>(controller))
            raise_conversion_error(std::string("NES pickle: a controller has the wrong type (") +
                                   Py_TYPE(controller.ptr())->tp_name + ")");
        controller.cast<ControllerWrapper&>(); // refuses one that was never built
    }
    if (colours.size() != sizeof(PythonConsole::colour_table))
        throw py::value_error("NES pickle: the colour table is not " +
                              std::to_string(sizeof(PythonConsole::colour_table)) + " bytes");

    return build_console(blank, name, image ? image->data() : nullptr, image ? image->size() : 0,
                         speed, save_dir, snapshot.data(), snapshot.size(), colours.data(),
                         controllers, "NES pickle");
}

namespace {

// What a pickle would rebuild, built at once: no tuple, no bytes objects, the cartridge
// image taken from the shared copy, the snapshot from the scratch buffer.
PythonConsole::Holder copy_with_controllers(PythonConsole& self, py::tuple const& controllers) {
    bool const blank = self.blank_cartridge();
    std::span<unsigned char const> const image = self.rom->image_bytes();
    size_t size = 0;
    std::vector<unsigned char> const& snapshot = written_snapshot(self, true, size);
    return build_console(blank, self.cartridge_name(), blank ? nullptr : image.data(),
                         blank ? 0 : image.size(), int(self.cpu->clock_speed), self.getSaveDir(),
                         snapshot.data(), size, self.colour_table, controllers, "NES copy");
}

} // namespace

// The controllers are deep copies, as they would be through the pickle protocol.
PythonConsole::Holder copy_console(PythonConsole& self, py::dict memo) {
    py::object const deepcopy = py::module_::import("copy").attr("deepcopy");
    py::object controllers[2];
    for (int port = 0; port < 2; ++port)
        controllers[port] = self.plugged[port] ? deepcopy(self.plugged[port], memo) : py::none();
    return copy_with_controllers(self, py::make_tuple(controllers[0], controllers[1]));
}

// The controllers are shared, as copy.copy through the pickle protocol shares them.
PythonConsole::Holder shallow_copy_console(PythonConsole& self) {
    py::object controllers[2];
    for (int port = 0; port < 2; ++port)
        controllers[port] = self.plugged[port] ? self.plugged[port] : py::none();
    return copy_with_controllers(self, py::make_tuple(controllers[0], controllers[1]));
}

} // namespace vandrel
