"""Benchmark: the batch stepper against one console stepped alone, and its Python cost.

Usage: bench_batch.py [CARTRIDGE] [--count N] [--threads T] [--steps S] [--rounds R]

One console steps alone with runFrames (no observation work); then a Batch of N consoles
on T native threads steps S agent steps of four frames with each observation mode. The
rounds alternate the cases; the medians of the summed frames per second are printed with
their ratio to the lone console. The Python overhead of a batch step is the part of the
wall time of Batch.step spent outside the native stepper (its last_call_seconds).

For scale, the machine's own ceiling is measured too: two lone consoles in two separate
processes at once, which share nothing but the host. On a shared host two busy cores
rarely give twice the work of one, and no batch can do better than that pair.
"""

import argparse
import multiprocessing
import os
import statistics
import tempfile
import time

import numpy as np
from bench_frames import cartridge_path, cpu_model
from vandrel_tools.cartridge import quiet_console

FRAME_SKIP = 4
MODES = ("rgb", "gray84", "ram")


def lone_console(path, frames):
    return lone_console_steps(quiet_console(path), frames)


def _paired_console(path, frames, barrier, results):
    nes = quiet_console(path)
    barrier.wait()
    results.put(lone_console_steps(nes, frames))


def lone_console_steps(nes, frames):
    start = time.perf_counter()
    nes.runFrames(frames)
    return frames / (time.perf_counter() - start)


def two_processes(path, frames):
    """Summed frames per second of two lone consoles in two processes at once."""
    context = multiprocessing.get_context("spawn")
    barrier = context.Barrier(2)
    results = context.Queue()
    workers = [context.Process(target=_paired_console, args=(path, frames, barrier, results))
               for _ in range(2)]
    for worker in workers:
        worker.start()
    total = results.get() + results.get()
    for worker in workers:
        worker.join()
    return total


def batch_run(path, count, threads, steps, mode):
    """Summed frames per second and the median Python share of a step."""
    from vandrel_gym._batch import Batch
    batch = Batch(path, count, threads=threads, frame_skip=FRAME_SKIP, observation=mode)
    actions = np.random.default_rng(0).integers(0, 256, size=(steps, count), dtype=np.uint8)
    shares = []
    start = time.perf_counter()
    for step in range(steps):
        began = time.perf_counter()
        batch.step(actions[step])
        wall = time.perf_counter() - began
        shares.append((wall - batch.last_call_seconds) / wall)
    elapsed = time.perf_counter() - start
    return count * steps * FRAME_SKIP / elapsed, statistics.median(shares)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridge", nargs="?")
    parser.add_argument("--count", type=int, default=8)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--steps", type=int, default=150)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as home:
        os.environ["HOME"] = home
        os.environ["VANDREL_QUIET"] = "1"  # no progress lines from the consoles
        path = cartridge_path(args.cartridge, home)
        lone = []
        pair = []
        batch = {mode: [] for mode in MODES}
        overhead = {mode: [] for mode in MODES}
        lone_frames = args.steps * FRAME_SKIP * 2
        for _ in range(args.rounds):
            lone.append(lone_console(path, lone_frames))
            pair.append(two_processes(path, lone_frames))
            for mode in MODES:
                fps, share = batch_run(path, args.count, args.threads, args.steps, mode)
                batch[mode].append(fps)
                overhead[mode].append(share)

    one = statistics.median(lone)
    print(f"cpu:        {cpu_model()} ({os.cpu_count()} cores)")
    print(f"cartridge:  {args.cartridge or 'built-in test cartridge'}")
    print(f"batch:      {args.count} consoles, {args.threads} threads, frame skip {FRAME_SKIP}, "
          f"{args.steps} steps x {args.rounds} rounds")
    print(f"{'case':<22}{'frames/s':>10}{'ratio':>8}{'python share':>14}")
    print(f"{'one console alone':<22}{one:>10.0f}{1:>8.2f}{'':>14}")
    two = statistics.median(pair)
    print(f"{'two in two processes':<22}{two:>10.0f}{two / one:>8.2f}{'':>14}")
    for mode in MODES:
        fps = statistics.median(batch[mode])
        share = statistics.median(overhead[mode])
        print(f"{'batch, ' + mode:<22}{fps:>10.0f}{fps / one:>8.2f}{share * 100:>13.1f}%")


if __name__ == "__main__":
    main()
