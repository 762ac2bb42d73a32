"""Side-by-side speed of the baseline and the working tree, as ratios from one run.

Usage: compare.py [--baseline REV] [--frames N] [--rounds R] [--no-callgrind] [CARTRIDGE...]

Builds the baseline (by default the last commit before the speed work) from git into a
scratch worktree, and the working tree as it is, each with its Python module and the C++
frame benchmark (bench/bench_frames.cpp) linked against its core. Then runs both on the
same cartridges, alternating the builds round after round: the C++ driver (runFrame with
no Python in the way) and a Python driver (NES.runFrame in a loop), timed in CPU time of
the stepping thread. Prints the median frames per second of each, their ratio and the
share of a Python call, and, when valgrind is present, host instructions per frame
counted by callgrind.

Without cartridges it measures the shared games (../shared/roms/games) and the built-in
bench cartridge of bench_frames.py. Needs the project's .venv (scripts/setup.sh, which
installs pybind11 in it as a build tool).
"""

import argparse
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
BASELINE = "3b68659"  # the last commit before the speed work
WORK = ROOT / "build" / "compare"
GAMES = ROOT.parent / "shared" / "roms" / "games"

PYTHON_DRIVER = r"""
import os, sys, time
frames = int(sys.argv[1])
null = os.open(os.devnull, os.O_WRONLY)
saved = os.dup(1)
import vandrel
for path in sys.argv[2:]:
    os.dup2(null, 1)  # the console's progress messages
    nes = vandrel.NES(path)
    os.dup2(saved, 1)
    for _ in range(frames // 10):
        nes.runFrame()
    start = time.thread_time()
    for _ in range(frames):
        nes.runFrame()
    print(f"{frames / (time.thread_time() - start):.1f} {path}", file=sys.stderr)
"""


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


def tool(name):
    found = ROOT / ".venv" / "bin" / name
    return str(found) if found.exists() else shutil.which(name) or name


def baseline_tree(rev):
    tree = WORK / f"src-{rev}"
    if not tree.exists():
        run(["git", "-C", str(ROOT), "worktree", "add", "--detach", str(tree), rev],
            stdout=subprocess.DEVNULL)
    return tree


def build(name, source):
    """Builds `source` into build/compare/NAME; returns (C++ driver, PYTHONPATH folder)."""
    out = WORK / name
    python = ROOT / ".venv" / "bin" / "python"
    cmake_dir = subprocess.run([str(python), "-m", "pybind11", "--cmakedir"], check=True,
                               capture_output=True, text=True).stdout.strip()
    run([tool("cmake"), "-S", str(ROOT / "bench" / "driver"), "-B", str(out), "-G", "Ninja",
         f"-DCMAKE_MAKE_PROGRAM={tool('ninja')}", "-DCMAKE_BUILD_TYPE=Release",
         f"-DVANDREL_SOURCE_DIR={source}", f"-Dpybind11_DIR={cmake_dir}",
         f"-DPython_EXECUTABLE={python}"], stdout=subprocess.DEVNULL)
    run([tool("cmake"), "--build", str(out)], stdout=subprocess.DEVNULL)
    package = out / "py" / "vandrel"
    package.mkdir(parents=True, exist_ok=True)
    for module in (out / "vandrel").glob("__init__*.so"):
        target = package / module.name
        target.unlink(missing_ok=True)
        target.symlink_to(module)
    return out / "vandrel_bench", out / "py"


def parse_rates(stderr):
    rates = {}
    for line in stderr.splitlines():
        match = re.fullmatch(r"([\d.]+) (.+)", line.strip())
        if match:
            rates[match.group(2)] = float(match.group(1))
    return rates


def measure(driver, pythonpath, frames, cartridges, home):
    env = dict(os.environ, HOME=home, PYTHONPATH=str(pythonpath))
    native = subprocess.run([str(driver), str(frames), *cartridges], env=env, check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    python = subprocess.run([str(ROOT / ".venv" / "bin" / "python"), "-c", PYTHON_DRIVER,
                             str(frames), *cartridges], env=env, check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return parse_rates(native.stderr), parse_rates(python.stderr)


def instructions_per_frame(driver, cartridge, home):
    """Host instructions per frame: two callgrind runs, the difference of their totals."""
    totals = []
    for frames in (10, 30):
        result = subprocess.run(
            ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
             str(driver), str(frames), cartridge],
            env=dict(os.environ, HOME=home), stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, text=True, check=True)
        match = re.search(r"Collected : (\d+)", result.stderr)
        totals.append(int(match.group(1)))
    # The driver steps FRAMES plus a tenth of them as a warm-up.
    return (totals[1] - totals[0]) / (33 - 11)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridges", nargs="*")
    parser.add_argument("--baseline", default=BASELINE)
    parser.add_argument("--frames", type=int, default=600)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--no-callgrind", action="store_true")
    args = parser.parse_args()

    sys.path.insert(0, str(ROOT / "bench"))
    from bench_frames import test_cartridge

    with tempfile.TemporaryDirectory() as home:
        cartridges = [str(c) for c in args.cartridges]
        if not cartridges:
            cartridges = sorted(str(p) for p in GAMES.glob("*") if p.suffix.lower() == ".nes")
            bench_cart = pathlib.Path(home) / "bench.nes"
            bench_cart.write_bytes(test_cartridge())
            cartridges.append(str(bench_cart))
        print(f"building baseline {args.baseline} and the working tree ...", flush=True)
        builds = {"baseline": build("baseline", baseline_tree(args.baseline)),
                  "current": build("current", ROOT)}
        native = {name: {c: [] for c in cartridges} for name in builds}
        python = {name: {c: [] for c in cartridges} for name in builds}
        for round_ in range(args.rounds):
            order = list(builds) if round_ % 2 == 0 else list(reversed(builds))
            for name in order:
                print(f"round {round_ + 1}/{args.rounds}: {name}", flush=True)
                n, p = measure(*builds[name], args.frames, cartridges, home)
                for c in cartridges:
                    native[name][c].append(n[c])
                    python[name][c].append(p[c])

        callgrind = None
        if shutil.which("valgrind") and not args.no_callgrind:
            print("counting instructions with callgrind ...", flush=True)
            callgrind = {name: {c: instructions_per_frame(builds[name][0], c, home)
                                for c in cartridges} for name in builds}
        report(cartridges, native, python, callgrind)


def report(cartridges, native, python, callgrind):
    med = statistics.median
    header = (f"{'cartridge':<44} {'C++ base':>9} {'C++ now':>9} {'ratio':>6} "
              f"{'Py base':>8} {'Py now':>8} {'ratio':>6} {'Py cost':>7}")
    if callgrind:
        header += f" {'Minstr base':>11} {'Minstr now':>10}"
    print()
    print(header)
    ratios = []
    for c in cartridges:
        nb, nc = med(native["baseline"][c]), med(native["current"][c])
        pb, pc = med(python["baseline"][c]), med(python["current"][c])
        if pathlib.Path(c).parent == GAMES:
            ratios.append(pc / pb)
        line = (f"{pathlib.Path(c).name[:44]:<44} {nb:9.0f} {nc:9.0f} {nc / nb:6.2f} "
                f"{pb:8.0f} {pc:8.0f} {pc / pb:6.2f} {1 - pc / nc:7.1%}")
        if callgrind:
            line += (f" {callgrind['baseline'][c] / 1e6:11.2f}"
                     f" {callgrind['current'][c] / 1e6:10.2f}")
        print(line)
    if ratios:
        print(f"\nmedian ratio over the shared games (Python runFrame): {med(ratios):.2f}x")


if __name__ == "__main__":
    main()
