"""Benchmark: frames per second of runFrame on a console built from a cartridge file.

Usage: bench_frames.py [CARTRIDGE] [--frames N] [--repeat R]

Without a cartridge it writes a small NROM test cartridge of its own: a game-like main
loop (RAM copies, arithmetic, controller reads) with NMI enabled and a handler that
polls PPUSTATUS and runs OAM DMA, so that the CPU, the bus, the PPU and the NMI path
all get exercised. Prints the best of R runs with the machine's CPU model.
"""

import argparse
import os
import pathlib
import platform
import statistics
import tempfile
import time

from vandrel_tools.cartridge import quiet_console

# $8000: enable NMI, then an endless main loop.
MAIN = bytes.fromhex(
    "78"          # SEI
    "A9 80 8D 00 20"  # LDA #$80; STA $2000  (NMI on)
    "A9 1E 8D 01 20"  # LDA #$1E; STA $2001
    "A2 00"       # loop: LDX #$00
    "BD 00 03"    # copy: LDA $0300,X
    "69 03"       # ADC #$03
    "9D 00 04"    # STA $0400,X
    "E8"          # INX
    "D0 F5"       # BNE copy
    "A9 01 8D 16 40 A9 00 8D 16 40"  # strobe the controllers
    "AD 16 40"    # LDA $4016
    "4C 0B 80"    # JMP loop
    .replace(" ", "")
)
# $9000: NMI handler.
NMI = bytes.fromhex(
    "48"          # PHA
    "AD 02 20"    # LDA $2002
    "A9 02 8D 14 40"  # OAM DMA from page 2
    "E6 10"       # INC $10
    "68"          # PLA
    "40"          # RTI
    .replace(" ", "")
)


def test_cartridge():
    prg = bytearray(16384)
    prg[0:len(MAIN)] = MAIN
    prg[0x1000:0x1000 + len(NMI)] = NMI
    prg[0x3FFA:0x4000] = bytes([0x00, 0x90, 0x00, 0x80, 0x00, 0x80])
    header = b"NES\x1a" + bytes([1, 1, 0, 0]) + bytes(8)
    return header + bytes(prg) + bytes(8192)


def cartridge_path(cartridge, folder):
    """`cartridge`, or the built-in test cartridge written into `folder`."""
    if cartridge is not None:
        return cartridge
    path = os.path.join(folder, "bench.nes")
    pathlib.Path(path).write_bytes(test_cartridge())
    return path


def cpu_model():
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridge", nargs="?")
    parser.add_argument("--frames", type=int, default=600)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as home:
        os.environ["HOME"] = home  # keep the benchmark's save folders out of the user's
        path = cartridge_path(args.cartridge, home)
        rates = []
        for _ in range(args.repeat):
            nes = quiet_console(path)
            start = time.perf_counter()
            for _ in range(args.frames):
                nes.runFrame()
            rates.append(args.frames / (time.perf_counter() - start))

    print(f"cpu:       {cpu_model()}")
    print(f"cartridge: {args.cartridge or 'built-in test cartridge'}")
    print(f"frames:    {args.frames} x {args.repeat} runs")
    print(f"best:      {max(rates):.0f} frames per second")
    print(f"median:    {statistics.median(rates):.0f} frames per second")


if __name__ == "__main__":
    main()
