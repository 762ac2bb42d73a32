// The console as Python holds it: NESUnit plus what only the Python side needs.
#pragma once

#include <pybind11/pybind11.h>

#include <cstring>
#include <memory>
#include <unordered_set>

#include "bindings/initialised.hpp"
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
    // Declared so that the forwarding constructor above is never taken for a copy.
    PythonConsole(PythonConsole const&) = delete;
    PythonConsole(PythonConsole&&) = delete;

    // Deallocation runs with the interpreter lock held, and the run thread may need
    // that lock for a per-frame callable: release it while the thread ends. A console
    // handed to its run thread is destroyed there, without the lock: take it first.
    // The plugged controllers go last, once no thread steps.
    ~PythonConsole() override {
        pybind11::gil_scoped_acquire acquire;
        live_consoles().erase(this);
        {
            pybind11::gil_scoped_release release;
            halt();
        }
        for (pybind11::object& controller : plugged)
            controller = pybind11::object();
    }

    // The owner's deleter: the last reference may be dropped on the console's own run
    // thread (by its per-frame callable, or a view the callable took), which cannot wait
    // for itself to end; the thread then finishes its step and destroys the console.
    struct Deleter {
        void operator()(PythonConsole* console) const {
            if (console->on_run_thread()) {
                live_consoles().erase(console);
                console->hand_over_to_run_thread();
            } else {
                delete console;
            }
        }
    };
    using Holder = std::unique_ptr<PythonConsole, Deleter>;

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

// An NES made by NES.__new__ alone is refused before any method sees it.
VANDREL_INITIALISED_CASTER(vandrel::PythonConsole)
