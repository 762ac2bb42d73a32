// Snapshots, copies and pickles of a console.
//
// A snapshot (NES.getSnapshot) is the console's whole state as bytes, from which a
// console of the same cartridge continues exactly as this one would: unlike the
// save-state record it keeps the PPU and APU mid-frame and the sound not yet fetched.
// A pickle holds what it takes to build the console again elsewhere (the cartridge's
// iNES image, the name that names its save folder, its clock speed), its snapshot, its
// save folder when that exists there too, its colour table and its controllers. The
// per-frame callable and the run thread are not copied: a copy starts stopped, with
// the default callable.
#pragma once

#include <pybind11/pybind11.h>

#include "bindings/python_console.hpp"

namespace vandrel {

// A new bytes object, or with `into` a writable buffer of at least the snapshot's length
// whose first bytes receive it (the count is returned).
pybind11::object get_snapshot(PythonConsole& self, pybind11::object into, bool picture);
void set_snapshot(PythonConsole& self, pybind11::handle data);
pybind11::tuple console_state(PythonConsole& self);
PythonConsole::Holder console_from_state(pybind11::tuple const& state);
// copy.deepcopy: the console a pickle round trip would give, built directly.
PythonConsole::Holder copy_console(PythonConsole& self, pybind11::dict memo);
// copy.copy: the same, built directly, with the controllers shared.
PythonConsole::Holder shallow_copy_console(PythonConsole& self);

} // namespace vandrel
