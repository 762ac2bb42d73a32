"""Benchmark: hardware mode's speed and memory against the fast mode's, side by side.

Usage: bench_accuracy.py [CARTRIDGE...] [--frames N] [--rounds R] [--consoles C]

For each cartridge (the shared games by default) both modes step N frames in turn, round
after round, each round in a fresh console; the time is the CPU time of the stepping
call. Prints the median frames per second of each mode and their ratio, then the resident
memory per console of each mode (C consoles stepped two frames each).
"""

import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import time

from vandrel_tools.cartridge import quiet_console

GAMES = pathlib.Path(__file__).resolve().parents[2] / "shared" / "roms" / "games"
MODES = ("fast", "hardware")

MEMORY_PROBE = r"""
import pathlib, sys
from vandrel_tools.cartridge import quiet_console
def resident():
    for line in pathlib.Path("/proc/self/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) * 1024
path, mode, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
quiet_console(path, mode).runFrames(2)
before = resident()
consoles = [quiet_console(path, mode) for _ in range(count)]
for nes in consoles:
    nes.runFrames(2)
print((resident() - before) / count)
"""


def frames_per_second(path, mode, frames):
    nes = quiet_console(path, mode)
    nes.runFrames(10)
    start = time.process_time()
    nes.runFrames(frames)
    return frames / (time.process_time() - start)


def bytes_per_console(path, mode, consoles):
    out = subprocess.run([sys.executable, "-c", MEMORY_PROBE, str(path), mode, str(consoles)],
                         capture_output=True, text=True, check=True, env=dict(os.environ))
    return float(out.stdout.strip())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridges", nargs="*")
    parser.add_argument("--frames", type=int, default=600)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--consoles", type=int, default=100)
    args = parser.parse_args()
    paths = [pathlib.Path(p) for p in args.cartridges] or sorted(GAMES.glob("*.[nN][eE][sS]"))
    print(f"| cartridge | fast fps | hardware fps | hardware / fast |")
    print("|---|---|---|---|")
    ratios = []
    for path in paths:
        runs = {mode: [] for mode in MODES}
        for _ in range(args.rounds):
            for mode in MODES:
                runs[mode].append(frames_per_second(path, mode, args.frames))
        fast, hardware = (statistics.median(runs[m]) for m in MODES)
        ratios.append(hardware / fast)
        print(f"| {path.name} | {fast:.0f} | {hardware:.0f} | {hardware / fast:.2f} |", flush=True)
    print(f"| median | | | {statistics.median(ratios):.2f} |")
    print()
    print("| cartridge | fast bytes/console | hardware bytes/console | hardware / fast |")
    print("|---|---|---|---|")
    for path in paths[:3]:
        fast, hardware = (bytes_per_console(path, m, args.consoles) for m in MODES)
        print(f"| {path.name} | {fast:.0f} | {hardware:.0f} | {hardware / fast:.3f} |", flush=True)


if __name__ == "__main__":
    main()
