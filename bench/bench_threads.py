"""Benchmark: runFrames on one and on two threads, and the in-memory state round trip.

Usage: bench_threads.py [CARTRIDGE] [--frames N] [--rounds R]

One thread steps one console with runFrames(N); then two threads each step a console of
their own at the same time. runFrames releases the interpreter lock, so the two threads
should come close to twice the frames of one on a machine with two free cores. The rounds
alternate the two cases and the medians are printed.
Then the median time of getState() + setState() over many round trips.
"""

import argparse
import os
import statistics
import tempfile
import threading
import time

from bench_frames import cartridge_path, cpu_model
from vandrel_tools.cartridge import quiet_console


def frames_per_second(consoles, frames):
    """Steps every console `frames` frames, each on its own thread; summed frames per
    second of wall time."""
    threads = [threading.Thread(target=nes.runFrames, args=(frames,)) for nes in consoles]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return len(consoles) * frames / (time.perf_counter() - start)


def round_trip_us(nes, trips):
    times = []
    for _ in range(trips):
        start = time.perf_counter_ns()
        nes.setState(nes.getState())
        times.append(time.perf_counter_ns() - start)
    return statistics.median(times) / 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridge", nargs="?")
    parser.add_argument("--frames", type=int, default=5000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as home:
        os.environ["HOME"] = home
        path = cartridge_path(args.cartridge, home)
        one, two = [], []
        for _ in range(args.rounds):
            one.append(frames_per_second([quiet_console(path)], args.frames))
            two.append(frames_per_second([quiet_console(path) for _ in range(2)], args.frames))
        nes = quiet_console(path)
        nes.runFrames(60)
        trip = round_trip_us(nes, 2000)

    print(f"cpu:        {cpu_model()} ({os.cpu_count()} cores)")
    print(f"cartridge:  {args.cartridge or 'built-in test cartridge'}")
    print(f"frames:     {args.frames} per thread x {args.rounds} rounds")
    print(f"1 thread:   {statistics.median(one):.0f} frames per second")
    print(f"2 threads:  {statistics.median(two):.0f} frames per second (summed)")
    print(f"ratio:      {statistics.median(two) / statistics.median(one):.2f}x")
    print(f"state round trip (getState + setState): {trip:.1f} us median")


if __name__ == "__main__":
    main()
