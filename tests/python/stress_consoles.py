"""A bounded thread stress on a few consoles: worker threads start, pause, resume, stop,
save, load, step, read and drop consoles at random, install per-frame callables that act
on their own console (pause it, stop it, save and load, try to step it, replace
themselves and let it go), and now and then several threads stop one console at once.

Every call may be refused with RuntimeError (that is the rule for calls in the wrong
state); anything else is a failure (status 2). A watchdog dumps every thread's stack
and exits with status 1 when the run does not finish in time, so a deadlock fails loudly.

    python stress_consoles.py CARTRIDGE [CARTRIDGE...] [--seconds S] [--seed N]

Run by the test suite in a child process, and under the sanitizer builds by hand.
"""
import argparse
import faulthandler
import random
import sys
import tempfile
import threading
import time

import vandrel

WORKERS = 5
CONSOLES = 3
# What went wrong anywhere, callables on run threads included.
FAILURES = []


class Pool:
    """The consoles under stress; a dropped one is replaced by a fresh console."""

    def __init__(self, cartridges, rng):
        self.cartridges = cartridges
        self.rng = rng
        self.lock = threading.Lock()
        self.consoles = [self.build() for _ in range(CONSOLES)]
        self.built = CONSOLES
        self.dropped = 0

    def build(self):
        speed = self.rng.choice([0, 0, 1789773])
        return vandrel.NES(self.rng.choice(self.cartridges), speed)

    def pick(self):
        with self.lock:
            return self.rng.choice(self.consoles)

    def drop(self, console):
        """Lets go of `console` (its run thread may still be going); True if it was in
        the pool."""
        fresh = self.build()
        with self.lock:
            if console not in self.consoles:
                return False
            self.consoles[self.consoles.index(console)] = fresh
            self.built += 1
            self.dropped += 1
            return True


def refused(call, *args):
    try:
        call(*args)
        return False
    except RuntimeError:
        return True


def own_console_callable(nes, rng, pool):
    """A per-frame callable that does one thing to its own console, once."""
    action = rng.choice(["pause", "stop", "save-load", "step", "start", "replace", "drop"])
    done = []

    def act():
        if done:
            return
        done.append(1)
        try:
            perform()
        except Exception as e:  # noqa: BLE001 - a run thread would only print it
            FAILURES.append(f"callable {action}: {type(e).__name__}: {e}")

    def perform():
        if action == "pause":
            nes.setPaused(True)
        elif action == "stop":
            refused(nes.stop)
        elif action == "save-load":
            # Another thread may move the save folder between the two calls (op 4).
            folder = nes.getSaveDir()
            nes.saveState(7)
            assert nes.loadState(7) or nes.getSaveDir() != folder
        elif action == "step":
            assert refused(nes.runFrame), "runFrame from the callable was not refused"
        elif action == "start":
            assert refused(nes.start), "start from the callable was not refused"
        elif action == "replace":
            nes.perFrame(lambda: None)
        elif action == "drop":
            # The pool lets go and the callable replaces itself: the last reference to
            # the console may go on whichever thread is stepping it.
            pool.drop(nes)
            nes.perFrame(None if rng.random() < 0.1 else (lambda: None))

    return act


def stop_storm(nes):
    threads = [threading.Thread(target=refused, args=(nes.stop,)) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def read_everything(nes):
    nes.frameCount()
    nes.cycleCount()
    int(nes.getImg()[120, 128, 0])
    int(nes.cpuMem()[0])
    nes.getAudio(True)


def one_operation(pool, rng, slot_dir):
    nes = pool.pick()
    op = rng.randrange(14)
    if op == 0:
        refused(nes.start)
    elif op == 1:
        nes.setPaused(True)
    elif op == 2:
        nes.setPaused(False)
    elif op == 3:
        refused(nes.stop)
    elif op == 4:
        if nes.getSaveDir() != slot_dir:
            nes.setSaveDir(slot_dir)
        refused(nes.saveState, rng.randrange(4))
    elif op == 5:
        refused(nes.loadState, rng.randrange(4))
    elif op in (6, 7):
        refused(nes.runFrame)
    elif op == 8:
        nes.perFrame(own_console_callable(nes, rng, pool))
    elif op == 9:
        pool.drop(nes)
    elif op == 10:
        stop_storm(nes)
    elif op == 11:
        read_everything(nes)
    elif op == 12:
        nes.perFrame(lambda: None)
    else:
        time.sleep(rng.random() * 0.002)


def worker(pool, seed, until, slot_dir, counts):
    rng = random.Random(seed)
    done = 0
    try:
        while time.monotonic() < until:
            one_operation(pool, rng, slot_dir)
            done += 1
    except BaseException as e:  # noqa: BLE001 - reported and failed below
        FAILURES.append(f"{type(e).__name__}: {e}")
    counts.append(done)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cartridges", nargs="+")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--watchdog", type=float, default=None,
                        help="seconds before the stack dump (default: 4x the run + 60)")
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    # A deadlock prints every thread's stack and ends the run with status 1.
    faulthandler.dump_traceback_later(args.watchdog or args.seconds * 4 + 60, exit=True)

    rng = random.Random(seed)
    pool = Pool(args.cartridges, rng)
    until = time.monotonic() + args.seconds
    counts = []
    with tempfile.TemporaryDirectory() as slot_dir:
        threads = [threading.Thread(target=worker,
                                    args=(pool, seed + i, until, slot_dir, counts))
                   for i in range(WORKERS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for nes in list(pool.consoles):
            refused(nes.stop)
        pool.consoles.clear()
    faulthandler.cancel_dump_traceback_later()
    print(f"stress: seed {seed}, {sum(counts)} operations on {WORKERS} threads, "
          f"{pool.built} consoles built, {pool.dropped} dropped")
    if FAILURES:
        print("failures:", *FAILURES, sep="\n  ")
        sys.exit(2)


if __name__ == "__main__":
    main()
