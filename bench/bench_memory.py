"""Benchmark: resident memory per console, measured over many consoles.

Usage: bench_memory.py [CARTRIDGE] [--consoles N] [--frames F]

Builds N consoles of one cartridge (the built-in bench cartridge of bench_frames.py by
default), steps each F frames so that every buffer has been touched, and prints the
growth of the process's resident set divided by N.
"""

import argparse
import os
import pathlib
import tempfile

from bench_frames import test_cartridge
from vandrel_tools.cartridge import quiet_console


def resident_bytes():
    for line in pathlib.Path("/proc/self/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) * 1024
    raise RuntimeError("no VmRSS in /proc/self/status")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridge", nargs="?")
    parser.add_argument("--consoles", type=int, default=200)
    parser.add_argument("--frames", type=int, default=2)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as home:
        os.environ["HOME"] = home  # keep the save folders out of the user's
        path = args.cartridge
        if path is None:
            path = os.path.join(home, "bench.nes")
            pathlib.Path(path).write_bytes(test_cartridge())
        quiet_console(path).runFrame()  # load the module and warm the allocator first
        before = resident_bytes()
        consoles = []
        for _ in range(args.consoles):
            nes = quiet_console(path)
            for _ in range(args.frames):
                nes.runFrame()
            consoles.append(nes)
        per_console = (resident_bytes() - before) / args.consoles
    print(f"cartridge: {args.cartridge or 'built-in test cartridge'}")
    print(f"consoles:  {args.consoles}")
    print(f"resident:  {per_console / 2**20:.3f} MiB per console")


if __name__ == "__main__":
    main()
