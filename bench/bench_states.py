"""Benchmark: what saving and restoring a console costs, for programs that search.

Usage: bench_states.py [CARTRIDGE] [--build NAME=PYTHONPATH ...] [--rounds R]

For each build (the importable vandrel when none is named; name others with --build, for
instance the folders bench/compare.py leaves in build/compare/*/py) it measures, in CPU
time per call on one mapper-0 cartridge (the built-in bench cartridge by default):
getState + setState, getSnapshot + setSnapshot (with the picture, and without it where
the build can leave it out), getSnapshot alone (and into a buffer where the build can),
copy.deepcopy, a pickle round trip, and Batch.clone per target where the build has it
(with the default RGB observations, whose 184,320-byte rows a clone copies too, and with
RAM observations);
the sizes of the state record, the snapshots and the pickle; and the resident memory per
console over 200 copies and over a batch of 200 consoles. The builds alternate round
after round and each figure is the median of its rounds, so that builds are compared
side by side in one run.
"""

import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile

from bench_frames import test_cartridge

CONSOLES = 200

# Runs in a child process per build and round; prints one JSON object.
MEASURE = r"""
import copy, json, os, pathlib, pickle, sys, time
import numpy as np
null = os.open(os.devnull, os.O_WRONLY)
saved = os.dup(1)
os.dup2(null, 1)  # the consoles' progress messages
import vandrel
path, consoles = sys.argv[1], int(sys.argv[2])


def per_call(action, seconds=0.3):
    action()
    calls, start = 0, time.thread_time()
    while True:
        for _ in range(20):
            action()
        calls += 20
        spent = time.thread_time() - start
        if spent >= seconds:
            return spent / calls * 1e6


def resident():
    for line in pathlib.Path("/proc/self/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) * 1024


nes = vandrel.NES(path)
for _ in range(60):
    nes.runFrame()
out = {}
state = nes.getState()
out["getState+setState us"] = per_call(lambda: nes.setState(nes.getState()))
out["state bytes"] = len(state)
snap = nes.getSnapshot()
out["getSnapshot+setSnapshot us"] = per_call(lambda: nes.setSnapshot(nes.getSnapshot()))
out["getSnapshot us"] = per_call(nes.getSnapshot)
buffer = bytearray(len(snap))
try:
    nes.getSnapshot(into=buffer)
except TypeError:
    pass
else:
    out["getSnapshot(into=) us"] = per_call(lambda: nes.getSnapshot(into=buffer))
out["snapshot bytes"] = len(snap)
try:
    bare = nes.getSnapshot(picture=False)
except TypeError:
    bare = None
if bare is not None:
    out["getSnapshot+setSnapshot, no picture us"] = per_call(
        lambda: nes.setSnapshot(nes.getSnapshot(picture=False)))
    out["snapshot bytes, no picture"] = len(bare)
out["deepcopy us"] = per_call(lambda: copy.deepcopy(nes))
out["pickle round trip us"] = per_call(lambda: pickle.loads(pickle.dumps(nes)))
out["pickle bytes"] = len(pickle.dumps(nes))

before = resident()
copies = [copy.deepcopy(nes) for _ in range(consoles)]
for c in copies:
    c.runFrame()
out["MiB per copy"] = (resident() - before) / consoles / 2**20
del copies

from vandrel_gym._batch import Batch
before = resident()
batch = Batch(path, consoles)
batch.step(np.zeros(consoles, dtype=np.uint8))
out["MiB per batch console"] = (resident() - before) / consoles / 2**20
if hasattr(batch, "clone"):
    targets = list(range(1, consoles))
    out["Batch.clone us per target, RGB observation"] = (
        per_call(lambda: batch.clone(0, targets)) / len(targets))
    del batch
    batch = Batch(path, consoles, observation="ram")
    batch.step(np.zeros(consoles, dtype=np.uint8))
    out["Batch.clone us per target, RAM observation"] = (
        per_call(lambda: batch.clone(0, targets)) / len(targets))
os.dup2(saved, 1)
print(json.dumps(out))
"""


def measure(pythonpath, cartridge, home):
    env = dict(os.environ, HOME=home)
    if pythonpath:
        env["PYTHONPATH"] = os.pathsep.join([pythonpath, env.get("PYTHONPATH", "")])
    result = subprocess.run([sys.executable, "-c", MEASURE, cartridge, str(CONSOLES)],
                            env=env, check=True, capture_output=True, text=True)
    return json.loads(result.stdout.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridge", nargs="?")
    parser.add_argument("--build", action="append", default=[], metavar="NAME=PYTHONPATH")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    builds = dict(b.split("=", 1) for b in args.build) or {"installed": ""}
    with tempfile.TemporaryDirectory() as home:
        cartridge = args.cartridge
        if cartridge is None:
            cartridge = os.path.join(home, "bench.nes")
            pathlib.Path(cartridge).write_bytes(test_cartridge())
        runs = {name: [] for name in builds}
        for round_ in range(args.rounds):
            order = list(builds) if round_ % 2 == 0 else list(reversed(builds))
            for name in order:
                print(f"round {round_ + 1}/{args.rounds}: {name}", file=sys.stderr)
                runs[name].append(measure(builds[name], cartridge, home))
    rows = []
    for name in builds:
        for figure in runs[name][0]:
            if figure not in rows:
                rows.append(figure)
    print(f"\ncartridge: {args.cartridge or 'built-in test cartridge (mapper 0)'}\n")
    print("| figure | " + " | ".join(builds) + " |")
    print("|---|" + "---|" * len(builds))
    for figure in rows:
        cells = []
        for name in builds:
            values = [run[figure] for run in runs[name] if figure in run]
            median = statistics.median(values) if values else None
            cells.append("n/a" if median is None else
                         f"{median:.0f}" if "bytes" in figure else f"{median:.3f}")
        print(f"| {figure} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
