"""Runs the self-checking test cartridges and prints each one's verdict.

A test cartridge reports through cartridge RAM: $6001-$6003 hold DE B0 61 once it runs,
$6000 is $80 while it runs, $81 when it wants the reset button pressed, and then its
result ($00 passed, anything else the number of the failed check); $6004 on holds a
zero-terminated text.

Usage: python tools/cartridge_verdicts.py [--accuracy fast|hardware|both] [FOLDER or FILE ...]
(default: every cartridge under ../shared/roms/tests, in both modes).
"""

import argparse
import os
import pathlib
import sys

import vandrel

SIGNATURE = bytes([0xDE, 0xB0, 0x61])
RUNNING, RESET_WANTED = 0x80, 0x81
# Frames to wait after a reset request before pressing the button: the cartridges want
# the request to be seen by a person first, and time their own delays from it.
RESET_DELAY_FRAMES = 8
DEFAULT_FOLDER = pathlib.Path(__file__).resolve().parents[2] / "shared" / "roms" / "tests"


def report_text(memory):
    end = 0x6004
    while end < 0x7FFF and memory[end] != 0:
        end += 1
    return bytes(memory[0x6004:end]).decode("latin-1").strip()


def run_cartridge(path, accuracy="hardware", max_frames=4000):
    """(result, text): the cartridge's result byte, or None when it never finished in
    `max_frames` frames, and its report text."""
    nes = vandrel.NES(str(path), accuracy=accuracy)
    memory = nes.cpuMem()
    reset_at = None
    for frame in range(max_frames):
        nes.runFrame()
        if bytes(memory[0x6001:0x6004]) != SIGNATURE:
            continue
        status = int(memory[0x6000])
        if status == RESET_WANTED:
            # The delay counts from when the request is first seen: a cartridge still
            # showing the previous request just after a reset has not asked again yet.
            if reset_at is None:
                reset_at = frame + RESET_DELAY_FRAMES
            elif frame >= reset_at:
                nes.reset()
                reset_at = None
        elif status < RUNNING:
            return status, report_text(memory)
        else:
            reset_at = None
    return None, report_text(memory)


def cartridges(paths):
    for path in paths:
        path = pathlib.Path(path)
        yield from sorted(path.rglob("*.nes")) if path.is_dir() else [path]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--accuracy", choices=["fast", "hardware", "both"], default="both")
    parser.add_argument("--frames", type=int, default=4000)
    parser.add_argument("paths", nargs="*", default=[DEFAULT_FOLDER])
    args = parser.parse_args(argv)
    # The table is this tool's output: the progress lines each console prints while it is
    # built would bury it.
    os.environ.setdefault("VANDREL_QUIET", "1")
    modes = ["fast", "hardware"] if args.accuracy == "both" else [args.accuracy]
    print("| cartridge | " + " | ".join(modes) + " |")
    print("|---|" + "---|" * len(modes))
    passed = dict.fromkeys(modes, 0)
    total = 0
    for path in cartridges(args.paths):
        total += 1
        cells = []
        for mode in modes:
            result, text = run_cartridge(path, mode, args.frames)
            if result == 0:
                passed[mode] += 1
                cells.append("passed")
            elif result is None:
                cells.append("no verdict")
            else:
                first = text.splitlines()[-1] if text else ""
                cells.append(f"#{result} {first}".strip())
        name = path.relative_to(args.paths[0]) if len(args.paths) == 1 and pathlib.Path(args.paths[0]).is_dir() else path.name
        print(f"| {name} | " + " | ".join(cells) + " |", flush=True)
    print("| passed | " + " | ".join(f"{passed[m]}/{total}" for m in modes) + " |")


if __name__ == "__main__":
    sys.exit(main())
