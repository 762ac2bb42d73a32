#include "bindings/console_pickle.hpp"

#include <cstring>
#include <string>

#include "bindings/contiguous_bytes.hpp"
#include "bindings/controller_wrapper.hpp"

namespace py = pybind11;

namespace vandrel {

namespace {

// The layout of the pickled tuple; a later layout gets a new number.
constexpr int PICKLE_FORMAT = 1;
constexpr size_t PICKLE_FIELDS = 8;

void restore(PythonConsole& console, unsigned char const* data, size_t size, char const* what) {
    switch (console.restore_snapshot(data, size)) {
    case NESUnit::SnapshotVerdict::restored: return;
    case NESUnit::SnapshotVerdict::not_a_snapshot:
        throw py::value_error(std::string(what) + ": the data is not a console snapshot");
    case NESUnit::SnapshotVerdict::other_version:
        throw py::value_error(std::string(what) +
                              ": the snapshot was made by another version of vandrel");
    case NESUnit::SnapshotVerdict::other_cartridge:
        throw py::value_error(std::string(what) +
                              ": the snapshot is of another cartridge; the console is unchanged");
    case NESUnit::SnapshotVerdict::damaged:
        throw py::value_error(std::string(what) +
                              ": the snapshot is damaged; the console is unchanged");
    }
}

py::bytes as_bytes(std::vector<unsigned char> const& data) {
    return py::bytes(reinterpret_cast<char const*>(data.data()), data.size());
}

PythonConsole::Holder build_like(py::handle name, py::handle image, int speed) {
    if (name.is_none()) return PythonConsole::Holder(new PythonConsole(speed));
    ContiguousBytes const bytes(image);
    return PythonConsole::Holder(
        new PythonConsole(name.cast<std::string>(), bytes.data(), bytes.size(), speed));
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

py::bytes get_snapshot(PythonConsole& self) {
    return as_bytes(self.take_snapshot());
}

void set_snapshot(PythonConsole& self, py::handle data) {
    ContiguousBytes const snapshot(data);
    restore(self, snapshot.data(), snapshot.size(), "setSnapshot");
}

py::tuple console_state(PythonConsole& self) {
    py::object name = py::none();
    py::object image = py::none();
    if (!self.blank_cartridge()) {
        name = py::str(self.cartridge_name());
        image = as_bytes(self.rom->image());
    }
    py::object controllers[2];
    for (int port = 0; port < 2; ++port)
        controllers[port] = self.plugged[port] ? self.plugged[port] : py::none();
    return py::make_tuple(
        PICKLE_FORMAT, name, image, int(self.cpu->clock_speed), py::str(self.getSaveDir()),
        as_bytes(self.take_snapshot()),
        py::bytes(reinterpret_cast<char const*>(self.colour_table), sizeof self.colour_table),
        py::make_tuple(controllers[0], controllers[1]));
}

PythonConsole::Holder console_from_state(py::tuple const& state) {
    if (state.size() != PICKLE_FIELDS || py::int_(state[0]).cast<int>() != PICKLE_FORMAT)
        throw py::value_error("NES: this pickle was made by another version of vandrel");
    PythonConsole::Holder console = build_like(state[1], state[2], state[3].cast<int>());
    ContiguousBytes const snapshot(state[5]);
    restore(*console, snapshot.data(), snapshot.size(), "NES pickle");
    // The save folder comes along when it exists here too; elsewhere the copy keeps the
    // cartridge's own folder.
    std::string const save_dir = state[4].cast<std::string>();
    if (save_dir != console->getSaveDir() && save_dir.find('\0') == std::string::npos)
        console->setSaveDir(save_dir);
    ContiguousBytes const colours(state[6]);
    if (colours.size() != sizeof console->colour_table)
        throw py::value_error("NES pickle: the colour table is not " +
                              std::to_string(sizeof console->colour_table) + " bytes");
    std::memcpy(console->colour_table, colours.data(), colours.size());
    plug_controllers(*console, state[7].cast<py::tuple>());
    return console;
}

} // namespace vandrel
