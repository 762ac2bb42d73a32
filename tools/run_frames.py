"""Runs a cartridge for a number of frames and reports frames, cycles and speed.

Usage: run_frames.py [CARTRIDGE] [--frames N]

Without a cartridge it runs the public nestest cartridge when it lies beside the
project, and otherwise the built-in blank cartridge.
"""

import argparse
import pathlib
import time

import vandrel

SHARED_NESTEST = pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "roms" / "nestest.nes"


def build_console(path):
    if path:
        return vandrel.NES(path), path
    if SHARED_NESTEST.exists():
        return vandrel.NES(str(SHARED_NESTEST)), str(SHARED_NESTEST)
    return vandrel.NES(), "the blank cartridge"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridge", nargs="?", help="path of an iNES cartridge file")
    parser.add_argument("--frames", type=int, default=600, help="frames to run (default 600)")
    args = parser.parse_args()

    nes, name = build_console(args.cartridge)
    start = time.perf_counter()
    for _ in range(args.frames):
        nes.runFrame()
    elapsed = time.perf_counter() - start
    print(f"cartridge: {name}")
    print(f"frames:    {nes.frameCount()}")
    print(f"cycles:    {nes.cycleCount()}")
    print(f"speed:     {args.frames / elapsed:.0f} frames per second "
          f"({args.frames / elapsed / 60:.1f}x real time)")


if __name__ == "__main__":
    main()
