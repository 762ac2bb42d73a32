// The console as Python holds it: NESUnit plus what only the Python side needs.
#pragma once

#include <pybind11/pybind11.h>

#include <cstring>
#include <unordered_set>

#include "console/nes_unit.hpp"
#include "ppu/palette.hpp"

namespace vandrel {

class PythonConsole : public NESUnit {
public:
    template <typename... Args>
    explicit PythonConsole(Args&&... args) : NESUnit(std::forward<Args>(args)...) {
        std::memcpy(colour_table, NES::NTSC_TO_RGB, sizeof colour_table);
        live_consoles().insert(this);
    }

    // Deallocation runs with the interpreter lock held, and the run thread may need
    // that lock for a per-frame callable: release it while the thread ends.
    ~PythonConsole() {
        live_consoles().erase(this);
        pybind11::gil_scoped_release release;
        halt();
    }

    // References to the Python controllers plugged into the ports, so that a plugged
    // Controller lives as long as it is plugged in.
    pybind11::object plugged[2];
    // A writable copy of the colour table for "colorLookup": a program may change it
    // freely; the picture's colours, drawn from the read-only table, do not change.
    uint8_t colour_table[NES::PALETTE_COLOURS * 3];

    // Every console alive in this interpreter (touched only with the interpreter lock
    // held), so that run threads can be ended before the interpreter shuts down.
    static std::unordered_set<PythonConsole*>& live_consoles() {
        static std::unordered_set<PythonConsole*> consoles;
        return consoles;
    }
};

} // namespace vandrel
