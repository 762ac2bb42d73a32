// The stepping claim: at most one thread steps a console, saves or loads its state, or
// writes its battery RAM at a time. Callers take it with one compare-and-swap and are
// refused when it is held or awaited; the run thread and stop/start wait for it
// instead. Giving it back goes through the run mutex so that a waiter cannot miss it.
#include <stdexcept>
#include <string>

#include "console/nes_unit.hpp"

namespace {

std::runtime_error refusal(char const* what, char const* why) {
    return std::runtime_error(std::string(what) + ": " + why);
}

} // namespace

bool NESUnit::try_claim(Stepper who) {
    Stepper expected = Stepper::nobody;
    if (!stepper.compare_exchange_strong(expected, who, std::memory_order_acquire)) return false;
    claim_thread.store(std::this_thread::get_id());
    return true;
}

void NESUnit::give_back_claim() {
    claim_thread.store(std::thread::id());
    {
        std::lock_guard<std::mutex> lock(run_mutex);
        stepper.store(Stepper::nobody, std::memory_order_release);
    }
    run_signal.notify_all();
}

// A waiter is counted while it waits, and callers are refused meanwhile, so that a
// caller stepping in a loop cannot keep it waiting for ever.
void NESUnit::wait_for_claim() {
    std::unique_lock<std::mutex> lock(run_mutex);
    ++claim_waiters;
    run_signal.wait(lock, [&] { return try_claim(Stepper::caller); });
    --claim_waiters;
}

// A run thread that is meant to step refuses other steppers even before it holds the
// claim (just after a resume), so that a caller sees the same answer whatever the
// timing; the claim itself settles the races that remain.
NESUnit::CallerClaim::CallerClaim(NESUnit& unit, char const* what, Reentry reentry) : unit(unit) {
    if (unit.claim_held_here()) {
        if (reentry == Reentry::share) return;
        throw refusal(what, "called from this console's per-frame callable, while the console "
                            "is stepping; call it after the callable returns");
    }
    if (unit.stepping())
        throw refusal(what, "the console is running on its own thread; pause or stop it first");
    if (unit.claim_waiters.load() != 0 || !unit.try_claim(Stepper::caller)) {
        throw refusal(what, unit.stepper.load() == Stepper::run_thread
                                ? "the console is running on its own thread; pause or stop "
                                  "it first"
                                : "another thread is using the console (stepping it, saving "
                                  "or loading a state, starting or stopping it); try again "
                                  "when it has finished");
    }
    taken = true;
}

NESUnit::CallerClaim::~CallerClaim() {
    if (taken) unit.give_back_claim();
}
