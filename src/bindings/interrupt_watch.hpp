// Ctrl-C during a long call that steps without the interpreter lock.
//
// Python runs its SIGINT handler (KeyboardInterrupt) only between bytecodes of the main
// thread, so a call that steps for seconds with the lock released would otherwise end
// before the user's Ctrl-C is seen. While such a call runs on the main thread, an
// InterruptWatch puts a C handler in front of the process's SIGINT handler: it notes the
// signal in an atomic flag and passes the signal on unchanged, so Python still records
// it. The stepping loops read the flag between frames (one relaxed load) and stop after
// the frame in progress; the call then, with the lock held again, runs Python's handlers
// and raises what they raise, KeyboardInterrupt at the least.
//
// The watch stands aside (and the call runs to its end, as before) where Python would not
// raise KeyboardInterrupt at once either: on other threads, when SIGINT is ignored or
// left to its default action, and when the program installed a SIGINT handler of its
// own. It is built and destroyed with the interpreter lock held.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <csignal>

namespace vandrel {

class InterruptWatch {
public:
    explicit InterruptWatch(bool wanted = true) {
        if (!wanted || !python_raises_on_interrupt()) return;
        if (state().depth == 0 && !install()) return;
        ++state().depth;
        active = true;
    }
    ~InterruptWatch() {
        if (active && --state().depth == 0) uninstall();
    }
    InterruptWatch(InterruptWatch const&) = delete;
    InterruptWatch& operator=(InterruptWatch const&) = delete;

    // The flag the stepping loops read; it never rises when the watch stands aside.
    std::atomic<bool> const& flag() const { return active ? state().seen : never; }
    bool interrupted() const { return flag().load(std::memory_order_relaxed); }

    // After a call that stopped early: Python's handlers run now, and their exception is
    // raised, or KeyboardInterrupt when they had run already (in a per-frame callable).
    void raise_if_interrupted() const {
        if (!interrupted()) return;
        if (PyErr_CheckSignals() == 0) PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw pybind11::error_already_set();
    }

private:
    struct State {
        std::atomic<bool> seen{false};
        struct sigaction replaced {};
        int depth = 0; // watches alive on the main thread
    };
    static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set in a signal handler");

    static State& state() {
        static State shared;
        return shared;
    }

    // The main thread, with Python's own SIGINT handler, the one that raises
    // KeyboardInterrupt.
    static bool python_raises_on_interrupt() {
        namespace py = pybind11;
        py::module_ const threading = py::module_::import("threading");
        if (!threading.attr("current_thread")().is(threading.attr("main_thread")())) return false;
        py::module_ const signal = py::module_::import("signal");
        return signal.attr("getsignal")(SIGINT).is(signal.attr("default_int_handler"));
    }

    // Passes the signal on to the handler that was in place, as the kernel would have.
    static void note(int signal_number, siginfo_t* info, void* context) {
        State& s = state();
        s.seen.store(true, std::memory_order_relaxed);
        if (s.replaced.sa_flags & SA_SIGINFO)
            s.replaced.sa_sigaction(signal_number, info, context);
        else
            s.replaced.sa_handler(signal_number);
    }

    static bool install() {
        State& s = state();
        if (sigaction(SIGINT, nullptr, &s.replaced) != 0) return false;
        if (!(s.replaced.sa_flags & SA_SIGINFO) &&
            (s.replaced.sa_handler == SIG_DFL || s.replaced.sa_handler == SIG_IGN))
            return false;
        struct sigaction watching = s.replaced;
        watching.sa_flags |= SA_SIGINFO;
        watching.sa_sigaction = &note;
        s.seen.store(false, std::memory_order_relaxed);
        return sigaction(SIGINT, &watching, nullptr) == 0;
    }

    // Puts the replaced handler back, unless a per-frame callable installed another since.
    static void uninstall() {
        struct sigaction current {};
        if (sigaction(SIGINT, nullptr, &current) != 0) return;
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == &note)
            sigaction(SIGINT, &state().replaced, nullptr);
    }

    static inline std::atomic<bool> const never{false};
    bool active = false;
};

} // namespace vandrel
