// The extension module "vandrel_gym._batch": the class Batch, the batch stepper (see
// batch/batch_stepper.hpp) seen from Python. Stepping, resetting and building run
// without the interpreter lock, and Ctrl-C ends them after the frame in progress
// (bindings/interrupt_watch.hpp). The observation, RAM and frame arrays are made once:
// views of the stepper's own memory that keep the stepper alive (through a capsule, not
// through the Batch object, so that no reference cycle forms) as long as any of them is.
// A Batch made by Batch.__new__ alone, or built a second time, is refused (see
// bindings/initialised.hpp). Beside it: read_image, the cartridge file reader that
// vandrel_gym.Cartridge.read shares with Batch, and MAX_IMAGE_SIZE.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "batch/batch_stepper.hpp"
#include "bindings/accuracy_argument.hpp"
#include "bindings/batch/scenario_argument.hpp"
#include "bindings/contiguous_bytes.hpp"
#include "bindings/file_names.hpp"
#include "bindings/initialised.hpp"
#include "bindings/interrupt_watch.hpp"
#include "bindings/python_errors.hpp"
#include "bindings/snapshot_refusal.hpp"
#include "cartridge/rom.hpp"
#include "persistence/file_error.hpp"
#include "ppu/ppu.hpp"

namespace py = pybind11;

namespace {

using NES::BatchStepper;

std::string cartridge_path(py::handle rom) {
    std::string path = vandrel::path_bytes(rom, "rom");
    if (path.find('\0') != std::string::npos) throw py::value_error("rom contains a NUL character");
    return path;
}

std::vector<unsigned char> read_cartridge(std::string const& path) {
    try {
        return NES::read_whole_file(path.c_str());
    } catch (NES::FileError const& e) {
        errno = e.error_number;
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, e.path.c_str());
        throw py::error_already_set();
    }
}

// The contents of a cartridge file, read as a Batch reads its cartridge (a regular file
// no larger than the largest iNES image); vandrel_gym.Cartridge.read uses it.
py::bytes read_image(py::handle path) {
    std::vector<unsigned char> const bytes = read_cartridge(cartridge_path(path));
    return py::bytes(reinterpret_cast<char const*>(bytes.data()), bytes.size());
}

struct BatchArguments {
    int count;
    int threads;
    int frame_skip;
    bool max_pool;
    std::string observation;
    int start_frames;
    int noop_max;
    double repeat_action_probability;
    std::optional<uint64_t> seed;
    NES::Accuracy accuracy;
    py::handle start_state; // None or a snapshot's bytes
    py::handle scenario;    // None or a compiled scenario (scenario_argument.hpp)
};

std::vector<unsigned char> start_state_from(py::handle start_state) {
    if (start_state.is_none()) return {};
    if (py::isinstance<py::str>(start_state))
        throw py::type_error("Batch: start_state must be a snapshot's bytes, not str");
    vandrel::ContiguousBytes const contents(start_state);
    if (contents.size() == 0) throw py::value_error("Batch: start_state is empty");
    return {contents.data(), contents.data() + contents.size()};
}

std::shared_ptr<BatchStepper> build_stepper(std::string const& name,
                                            std::vector<unsigned char> const& image,
                                            BatchArguments const& arguments) {
    NES::BatchOptions options;
    options.count = arguments.count;
    options.threads = arguments.threads;
    options.frame_skip = arguments.frame_skip;
    options.max_pool = arguments.max_pool;
    options.observation = NES::observation_from_name(arguments.observation);
    options.start_frames = arguments.start_frames;
    options.noop_max = arguments.noop_max;
    options.repeat_action_probability = arguments.repeat_action_probability;
    options.seed = arguments.seed
                       ? *arguments.seed
                       : (uint64_t(std::random_device{}()) << 32 | std::random_device{}());
    options.accuracy = arguments.accuracy;
    options.start_state = start_state_from(arguments.start_state);
    options.scenario = vandrel::scenario_from(arguments.scenario);
    vandrel::InterruptWatch const watch;
    std::shared_ptr<BatchStepper> stepper;
    try {
        py::gil_scoped_release release;
        stepper = std::make_shared<BatchStepper>(name, image, options, watch.flag());
    } catch (NES::StartStateRefused const& refused) {
        vandrel::check_restored(refused.verdict, options.accuracy, "Batch: start_state",
                                options.start_state.data(), options.start_state.size());
    }
    watch.raise_if_interrupted();
    return stepper;
}

// A view of the stepper's memory whose base keeps the stepper alive.
template <typename T>
py::array view_of(std::shared_ptr<BatchStepper> const& stepper, T* data,
                  std::vector<py::ssize_t> shape) {
    py::capsule const owner(new std::shared_ptr<BatchStepper>(stepper),
                            [](void* p) { delete static_cast<std::shared_ptr<BatchStepper>*>(p); });
    return py::array_t<T>(std::move(shape), data, owner);
}

std::vector<py::ssize_t> observation_shape(BatchStepper const& batch) {
    py::ssize_t const n = batch.options().count;
    switch (batch.options().observation) {
    case NES::Observation::rgb: return {n, NES::SCREEN_HEIGHT, NES::SCREEN_WIDTH, 3};
    case NES::Observation::gray84: return {n, NES::GRAY_SIZE, NES::GRAY_SIZE};
    case NES::Observation::ram: break;
    }
    return {n, NES::RAM_SIZE};
}

// The Python Batch: the stepper and its arrays.
struct PyBatch {
    std::shared_ptr<BatchStepper> stepper;
    py::array observations;
    py::array ram;
    py::array frames;
    py::array values;
    py::array rewards;
    py::array done;
};

} // namespace

VANDREL_INITIALISED_CASTER(PyBatch)

namespace {

std::unique_ptr<PyBatch> make_batch(std::string const& name,
                                    std::vector<unsigned char> const& image,
                                    BatchArguments const& arguments, vandrel::BuiltBy built_by) {
    auto batch = std::make_unique<PyBatch>();
    batch->stepper = build_stepper(name, image, arguments);
    BatchStepper& stepper = *batch->stepper;
    batch->observations =
        view_of(batch->stepper, stepper.observations(), observation_shape(stepper));
    batch->ram = view_of(batch->stepper, stepper.ram(), {stepper.options().count, NES::RAM_SIZE});
    py::ssize_t const count = stepper.options().count;
    batch->frames = view_of(batch->stepper, stepper.frames(), {count});
    py::ssize_t const variables = py::ssize_t(stepper.options().scenario.variables.size());
    batch->values = view_of(batch->stepper, stepper.values(), {count, variables});
    batch->rewards = view_of(batch->stepper, stepper.rewards(), {count});
    // The stepper keeps its flags as bytes of 0 or 1, which is NumPy's bool.
    batch->done = view_of(batch->stepper, reinterpret_cast<bool*>(stepper.done()), {count});
    // One warning for the whole batch, not one per console.
    if (!stepper.board_emulated())
        vandrel::warn_unsupported_board(stepper.mapper_number(), built_by);
    return batch;
}

std::unique_ptr<PyBatch> batch_from_path(py::handle rom, int count, int threads, int frame_skip,
                                         bool max_pool, std::string observation, int start_frames,
                                         int noop_max, double repeat_action_probability,
                                         std::optional<uint64_t> seed, py::handle accuracy,
                                         py::handle start_state, py::handle scenario) {
    NES::Accuracy const mode = vandrel::accuracy_from(accuracy);
    std::string const path = cartridge_path(rom);
    return make_batch(path, read_cartridge(path),
                      {count, threads, frame_skip, max_pool, std::move(observation), start_frames,
                       noop_max, repeat_action_probability, seed, mode, start_state, scenario},
                      vandrel::BuiltBy::constructor);
}

// A cartridge held in memory, say one sent over the network to another machine: `name`
// stands for its path, naming the save folder as the file's name would.
std::unique_ptr<PyBatch> batch_from_image(py::handle image, int count, std::string const& name,
                                          int threads, int frame_skip, bool max_pool,
                                          std::string observation, int start_frames, int noop_max,
                                          double repeat_action_probability,
                                          std::optional<uint64_t> seed, py::handle accuracy,
                                          py::handle start_state, py::handle scenario) {
    NES::Accuracy const mode = vandrel::accuracy_from(accuracy);
    if (py::isinstance<py::str>(image))
        throw py::type_error("Batch.from_image: image must be bytes-like (the cartridge's "
                             "contents), not str");
    if (name.find('\0') != std::string::npos)
        throw py::value_error("Batch.from_image: name contains a NUL character");
    std::vector<unsigned char> bytes;
    {
        vandrel::ContiguousBytes const contents(image);
        if (contents.size() > size_t(NES::MAX_IMAGE_SIZE))
            throw py::value_error("Batch.from_image: the image is " +
                                  std::to_string(contents.size()) +
                                  " bytes, more than the largest iNES image (" +
                                  std::to_string(NES::MAX_IMAGE_SIZE) + " bytes)");
        bytes.assign(contents.data(), contents.data() + contents.size());
    }
    return make_batch(name, bytes,
                      {count, threads, frame_skip, max_pool, std::move(observation), start_frames,
                       noop_max, repeat_action_probability, seed, mode, start_state, scenario},
                      vandrel::BuiltBy::function);
}

// Button masks as count x ports bytes: any integer (or boolean) array of shape (N,) or
// (N, 2) with values 0-255.
std::vector<uint8_t> action_masks(BatchStepper const& batch, py::handle actions, int& ports) {
    py::array const array = py::array::ensure(actions);
    if (!array) throw py::type_error("Batch.step: actions must be an array of button masks");
    char const kind = array.dtype().kind();
    if (kind != 'u' && kind != 'i' && kind != 'b')
        throw py::type_error("Batch.step: actions must be integers (button masks), got dtype " +
                             py::str(array.dtype()).cast<std::string>());
    py::ssize_t const n = batch.options().count;
    bool const one_port = array.ndim() == 1 && array.shape(0) == n;
    bool const two_ports = array.ndim() == 2 && array.shape(0) == n && array.shape(1) == 2;
    if (!one_port && !two_ports)
        throw py::value_error("Batch.step: actions must have shape (" + std::to_string(n) +
                              ",) or (" + std::to_string(n) + ", 2), got " +
                              py::str(py::tuple(array.attr("shape"))).cast<std::string>());
    ports = one_port ? 1 : 2;
    auto const values = py::array_t<int64_t, py::array::c_style | py::array::forcecast>(array);
    std::vector<uint8_t> masks(size_t(values.size()));
    for (py::ssize_t i = 0; i < values.size(); ++i) {
        int64_t const v = values.data()[i];
        if (v < 0 || v > 255)
            throw py::value_error("Batch.step: a button mask is 0-255, got " + std::to_string(v));
        masks[size_t(i)] = uint8_t(v);
    }
    return masks;
}

std::vector<uint8_t> reset_flags(BatchStepper const& batch, py::handle reset) {
    auto const flags = py::array_t<bool, py::array::c_style | py::array::forcecast>::ensure(reset);
    if (!flags || flags.ndim() != 1 || flags.shape(0) != batch.options().count)
        throw py::value_error("Batch.step: reset must be " + std::to_string(batch.options().count) +
                              " flags");
    return std::vector<uint8_t>(flags.data(), flags.data() + flags.size());
}

void step(PyBatch& self, py::handle actions, py::handle reset) {
    BatchStepper& batch = *self.stepper;
    int ports = 1;
    std::vector<uint8_t> const masks = action_masks(batch, actions, ports);
    std::vector<uint8_t> flags;
    if (!reset.is_none()) flags = reset_flags(batch, reset);
    vandrel::InterruptWatch const watch;
    {
        py::gil_scoped_release release;
        batch.step(masks.data(), ports, flags.empty() ? nullptr : flags.data(), watch.flag());
    }
    watch.raise_if_interrupted();
}

// The consoles a call names: all of them for None, else any iterable of indices.
std::vector<size_t> chosen_consoles(BatchStepper const& batch, py::handle indices,
                                    char const* what) {
    std::vector<size_t> chosen;
    if (indices.is_none()) {
        for (int i = 0; i < batch.options().count; ++i)
            chosen.push_back(size_t(i));
        return chosen;
    }
    for (py::handle index : py::iter(indices)) {
        // Integers only (anything with __index__): 0.5 is no console.
        auto const number = py::reinterpret_steal<py::object>(PyNumber_Index(index.ptr()));
        if (!number) throw py::error_already_set();
        int overflow = 0;
        long long const i = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
        if (i == -1 && PyErr_Occurred()) throw py::error_already_set();
        if (overflow != 0 || i < 0 || i >= batch.options().count)
            throw py::index_error(std::string(what) + ": index " +
                                  py::str(number).cast<std::string>() + " is out of range for " +
                                  std::to_string(batch.options().count) + " consoles");
        chosen.push_back(size_t(i));
    }
    return chosen;
}

// A seed is an integer 0 to 2**64 - 1; anything else is a vandrel.ConversionError.
uint64_t seed_value(py::handle seed) {
    auto const number = py::reinterpret_steal<py::object>(PyNumber_Index(seed.ptr()));
    if (!number) {
        PyErr_Clear();
        vandrel::raise_conversion_error(std::string("Batch.seed: a seed must be an integer, not ") +
                                        Py_TYPE(seed.ptr())->tp_name);
    }
    unsigned long long const value = PyLong_AsUnsignedLongLong(number.ptr());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        throw py::value_error("Batch.seed: a seed is 0 to 2**64 - 1, got " +
                              py::str(number).cast<std::string>());
    }
    return uint64_t(value);
}

void reset(PyBatch& self, py::handle indices) {
    BatchStepper& batch = *self.stepper;
    std::vector<size_t> chosen = chosen_consoles(batch, indices, "Batch.reset");
    vandrel::InterruptWatch const watch;
    {
        py::gil_scoped_release release;
        batch.reset(std::move(chosen), watch.flag());
    }
    watch.raise_if_interrupted();
}

// An int s seeds the chosen consoles with s, s + 1, ...; a sequence gives one seed each.
void seed(PyBatch& self, py::handle seeds, py::handle indices) {
    BatchStepper& batch = *self.stepper;
    std::vector<size_t> const chosen = chosen_consoles(batch, indices, "Batch.seed");
    std::vector<uint64_t> values;
    if (py::isinstance<py::int_>(seeds)) {
        uint64_t const first = seed_value(seeds);
        for (size_t k = 0; k < chosen.size(); ++k)
            values.push_back(first + k);
    } else {
        for (py::handle s : py::iter(seeds))
            values.push_back(seed_value(s));
    }
    batch.seed(values, chosen);
}

size_t console_index(BatchStepper const& batch, int index, char const* what) {
    if (index < 0 || index >= batch.options().count)
        throw py::index_error(std::string(what) + ": index " + std::to_string(index) +
                              " is out of range for " + std::to_string(batch.options().count) +
                              " consoles");
    return size_t(index);
}

py::array picture(PyBatch& self, int index) {
    BatchStepper& batch = *self.stepper;
    size_t const i = console_index(batch, index, "Batch.picture");
    py::array_t<uint8_t> out({NES::SCREEN_HEIGHT, NES::SCREEN_WIDTH, 3});
    batch.picture(i, out.mutable_data());
    return out;
}

py::bytes snapshot_of(PyBatch& self, int index, bool picture) {
    BatchStepper& batch = *self.stepper;
    size_t const i = console_index(batch, index, "Batch.snapshot");
    std::vector<unsigned char> data;
    {
        py::gil_scoped_release release;
        data = batch.snapshot(i, picture);
    }
    return py::bytes(reinterpret_cast<char const*>(data.data()), data.size());
}

void write_ram(PyBatch& self, int index, int address, py::handle data) {
    BatchStepper& batch = *self.stepper;
    size_t const i = console_index(batch, index, "Batch.write_ram");
    if (address < 0)
        throw py::index_error("Batch.write_ram: address " + std::to_string(address) +
                              " is outside work RAM ($0000-$07FF)");
    if (py::isinstance<py::str>(data))
        throw py::type_error("Batch.write_ram: data must be bytes-like, not str");
    vandrel::ContiguousBytes const bytes(data);
    batch.write_ram(i, size_t(address), bytes.data(), bytes.size());
}

void restore_one(PyBatch& self, int index, py::handle data, std::optional<int64_t> frame) {
    BatchStepper& batch = *self.stepper;
    size_t const i = console_index(batch, index, "Batch.restore");
    if (frame && *frame < 0)
        throw py::value_error("Batch.restore: frame must be 0 or more, got " +
                              std::to_string(*frame));
    // The interpreter lock stays held: another thread must not change a bytearray while
    // the console checks it and then loads it.
    vandrel::ContiguousBytes const bytes(data);
    vandrel::check_restored(batch.restore(i, bytes.data(), bytes.size(), frame.value_or(-1)),
                            batch.accuracy(), "Batch.restore", bytes.data(), bytes.size());
}

void clone_onto(PyBatch& self, int source, py::handle targets) {
    BatchStepper& batch = *self.stepper;
    size_t const from = console_index(batch, source, "Batch.clone");
    std::vector<size_t> chosen = chosen_consoles(batch, targets, "Batch.clone");
    py::gil_scoped_release release;
    batch.clone(from, std::move(chosen));
}

} // namespace

PYBIND11_MODULE(_batch, m, py::multiple_interpreters::not_supported()) {
    m.doc() = "The native batch stepper of vandrel_gym: N consoles stepped by native threads.";
    auto options = [](PyBatch const& b) -> NES::BatchOptions const& {
        return b.stepper->options();
    };
    py::register_local_exception_translator(&vandrel::translate_invalid_argument);
    py::class_<PyBatch> batch(m, "Batch");
    batch
        .def(py::init(&batch_from_path), py::arg("rom"), py::arg("count"), py::kw_only(),
             py::arg("threads") = 0, py::arg("frame_skip") = 4, py::arg("max_pool") = true,
             py::arg("observation") = "rgb", py::arg("start_frames") = 0, py::arg("noop_max") = 0,
             py::arg("repeat_action_probability") = 0.0, py::arg("seed") = py::none(),
             py::arg("accuracy") = "fast", py::arg("start_state") = py::none(),
             py::arg("scenario") = py::none())
        .def_static("from_image", &batch_from_image, py::arg("image"), py::arg("count"),
                    py::kw_only(), py::arg("name") = "cartridge.nes", py::arg("threads") = 0,
                    py::arg("frame_skip") = 4, py::arg("max_pool") = true,
                    py::arg("observation") = "rgb", py::arg("start_frames") = 0,
                    py::arg("noop_max") = 0, py::arg("repeat_action_probability") = 0.0,
                    py::arg("seed") = py::none(), py::arg("accuracy") = "fast",
                    py::arg("start_state") = py::none(), py::arg("scenario") = py::none())
        .def_property_readonly("count", [=](PyBatch const& b) { return options(b).count; })
        .def_property_readonly("threads", [](PyBatch const& b) { return b.stepper->threads(); })
        .def_property_readonly("frame_skip",
                               [=](PyBatch const& b) { return options(b).frame_skip; })
        .def_property_readonly("max_pool", [=](PyBatch const& b) { return options(b).max_pool; })
        .def_property_readonly(
            "observation",
            [=](PyBatch const& b) { return NES::observation_name(options(b).observation); })
        .def_property_readonly(
            "accuracy", [](PyBatch const& b) { return NES::accuracy_name(b.stepper->accuracy()); })
        .def_readonly("observations", &PyBatch::observations)
        .def_readonly("ram", &PyBatch::ram)
        .def_readonly("frames", &PyBatch::frames)
        .def_readonly("values", &PyBatch::values)
        .def_readonly("rewards", &PyBatch::rewards)
        .def_readonly("done", &PyBatch::done)
        .def_property_readonly("last_call_seconds",
                               [](PyBatch const& b) { return b.stepper->last_call_seconds(); })
        .def("step", &step, py::arg("actions"), py::arg("reset") = py::none())
        .def("reset", &reset, py::arg("indices") = py::none())
        .def("seed", &seed, py::arg("seeds"), py::arg("indices") = py::none())
        .def("picture", &picture, py::arg("index"))
        .def("snapshot", &snapshot_of, py::arg("index"), py::kw_only(), py::arg("picture") = true)
        .def("restore", &restore_one, py::arg("index"), py::arg("data"), py::kw_only(),
             py::arg("frame") = py::none())
        .def("clone", &clone_onto, py::arg("source"), py::arg("targets"))
        .def("write_ram", &write_ram, py::arg("index"), py::arg("address"), py::arg("data"));
    vandrel::refuse_second_init(batch, typeid(PyBatch), "__init__");
    m.def("read_image", &read_image, py::arg("path"));
    m.attr("MAX_IMAGE_SIZE") = NES::MAX_IMAGE_SIZE;
}
