"""Fuzzes the game-folder loader (vandrel_gym.Integration) with atheris, Python's libFuzzer.

An input is a folder of up to six files:

    byte 0      which files exist: bit 0 data.json, 1 scenario.json, 2 metadata.json,
                3 rom.sha, 4 start.inputs, 5 start.snapshot; bit 6 resolves start states
                in hardware mode (else fast), bit 7 reads RAM from a NumPy array
    the rest    the six files' contents in that order, separated by SEPARATOR; the
                snapshot comes last, so it may hold anything

The folder is loaded, every variable read from two RAM images made of the input, the
scenario's reward and end of episode evaluated, the demo cartridge checked against
rom.sha, and a start state of at most MAX_FRAMES frames resolved on the demo. A folder
may be refused with a ValueError (IntegrationError among them) that says why; any other
exception, a crash or a hang is a fault.

    python fuzz/integration_folder.py [libFuzzer options] [CORPUS...]    fuzz (atheris)
    python fuzz/integration_folder.py --write-seeds DIR                  write the seeds
    python fuzz/integration_folder.py --replay INPUT...                  run inputs once

scripts/fuzz.sh runs it like the C++ harnesses; tests/python/test_fuzz_replay.py replays
the seeds and fuzz/regressions/integration_folder through check().
"""
from __future__ import annotations

import hashlib
import json
import math
import pathlib
import shutil
import sys
import tempfile

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]

SEPARATOR = b"\n%%\n"
FILES = ("data.json", "scenario.json", "metadata.json", "rom.sha", "start.inputs",
         "start.snapshot")
HARDWARE, NUMPY_RAM = 0x40, 0x80
MAX_FRAMES = 120
"""Longer start states are parsed but not replayed: each input must stay quick."""

DEMO = ROOT / "python" / "vandrel_tools" / "demo.nes"


def _modules():
    import vandrel_gym
    from vandrel_gym import start_states
    return vandrel_gym, start_states


def folder_files(data: bytes) -> dict[str, bytes]:
    """The files an input makes (name -> contents)."""
    if not data:
        return {}
    parts = data[1:].split(SEPARATOR, len(FILES) - 1)
    parts += [b""] * (len(FILES) - len(parts))
    return {name: part for bit, (name, part) in enumerate(zip(FILES, parts))
            if data[0] >> bit & 1}


def encode(files: dict[str, bytes], flags: int = 0) -> bytes:
    """The input that makes `files` (the inverse of folder_files)."""
    present = sum(1 << FILES.index(name) for name in files)
    return bytes([present | flags]) + SEPARATOR.join(files.get(name, b"") for name in FILES)


def check(data: bytes, workspace: pathlib.Path) -> None:
    """Runs one input; raises only for a fault."""
    vandrel_gym, start_states = _modules()
    folder = pathlib.Path(tempfile.mkdtemp(dir=workspace)) / "Fuzz-Nes"
    folder.mkdir()
    try:
        for name, contents in folder_files(data).items():
            (folder / name).write_bytes(contents)
        try:
            _exercise(vandrel_gym, folder, data)
        except ValueError as error:     # IntegrationError, ScriptError, a refused snapshot
            if not str(error).strip():
                raise AssertionError(f"{type(error).__name__} without a message") from error
    finally:
        start_states._CACHE.clear()     # each input's folder is new: nothing to share
        shutil.rmtree(folder.parent)


def _exercise(vandrel_gym, folder: pathlib.Path, data: bytes) -> None:
    game = vandrel_gym.Integration(folder)
    ram = (data * (0x800 // max(len(data), 1) + 1))[:0x800].ljust(0x800, b"\0")
    images = (ram, ram[::-1])
    if data[0] & NUMPY_RAM:
        images = tuple(np.frombuffer(image, dtype=np.uint8).reshape(32, 64) for image in images)
    previous, values = (game.read(image) for image in images)
    assert previous.keys() == values.keys() == game.variables.keys()
    assert all(type(v) is int for v in (*previous.values(), *values.values()))
    if game.scenario is not None:
        reward = game.scenario.reward(previous, values)
        assert type(reward) is float and (math.isfinite(reward) or _huge(game.scenario)), reward
        assert type(game.scenario.done(previous, values)) is bool
        for choices in game.scenario.actions or ():
            assert all(0 <= mask <= 0xFF for mask in choices)
    image = DEMO.read_bytes()
    if game.rom_hashes:
        assert game.check_rom(image) == (hashlib.sha1(image).hexdigest() in game.rom_hashes
                                         or hashlib.sha1(image[16:]).hexdigest() in game.rom_hashes)
    default = game.default_state
    assert default is None or default in game.states
    name = default if default is not None else min(game.states, default=None)
    if name is not None and game.states[name].frames <= MAX_FRAMES:
        accuracy = "hardware" if data[0] & HARDWARE else "fast"
        snapshot = game.start_snapshot(image, name, accuracy)
        assert isinstance(snapshot, bytes) and snapshot


def _huge(scenario) -> bool:
    """Whether the scenario's coefficients and variables can make a reward beyond the
    largest float (a folder's own doing, not a fault)."""
    bound = abs(scenario.time_reward) + abs(scenario.time_penalty)
    for term in scenario.reward_terms:
        variable = term.variable
        largest = {"u": 256 ** variable.size, "i": 256 ** variable.size,
                   "d": 100 ** variable.size, "n": 10 ** variable.size}[variable.format]
        if term.op is not None:
            largest = 1         # an op gives -1, 0 or 1
        elif term.measurement == "delta":
            largest *= 2
        try:
            bound += max(abs(term.reward), abs(term.penalty)) * float(largest)
        except OverflowError:
            return True
    return not math.isfinite(bound)


def seeds() -> dict[str, bytes]:
    """Valid folders for the fuzzer to start from."""
    from vandrel_gym.start_states import replay
    data = {"info": {"score": {"address": 0x10, "type": ">n6"},
                     "lives": {"address": 0x20, "type": "|u1"},
                     "gameover": {"address": 0x21, "type": "|u1"},
                     "x": {"address": 0x30, "type": "<u2"},
                     "speed": {"address": 0x40, "type": "|i1"},
                     "coins": {"address": 0x50, "type": ">d2"},
                     "timer": {"address": 0x7fc, "type": "=i4"}}}
    scenario = {"reward": {"variables": {"score": {"reward": 1.0}, "lives": {"penalty": 10.0},
                                         "x": {"reward": 0.5, "measurement": "absolute",
                                               "op": "greater-than", "reference": 100}},
                           "time": {"reward": 0.1, "penalty": 0.01}},
                "done": {"condition": "any",
                         "variables": {"lives": {"op": "equal", "reference": 0},
                                       "gameover": {"op": "nonzero"}}},
                "actions": [[[], ["UP"], ["DOWN"]], [[], ["A"], ["B", "RIGHT"]]],
                "crop": [0, 8, 0, 0]}
    ops = {"condition": "all", "variables": {
        name: {"op": op, "reference": 3, "measurement": measurement}
        for name, op, measurement in [("speed", "sign", "delta"),
                                      ("coins", "less-than", "absolute"),
                                      ("timer", "greater-or-equal", "absolute"),
                                      ("x", "not-equal", "delta")]}}
    image = DEMO.read_bytes()
    sha = (hashlib.sha1(image).hexdigest() + "\n" + "0" * 40 + "\n").encode()
    inputs = b"1-20:right, 21:start # to the title\n30-:a/left\n"
    snapshot = replay(np.zeros((10, 2), dtype=np.uint8), image, "fast")

    def js(value) -> bytes:
        return json.dumps(value).encode()

    both = {"Level1": {"inputs": "start.inputs", "frames": 40},
            "Boss": {"inputs": "start.inputs", "snapshot": "start.snapshot", "frames": 10}}
    return {
        "data-only": encode({"data.json": js(data)}),
        "whole-folder": encode({"data.json": js(data), "scenario.json": js(scenario),
                                "metadata.json": js({"default_state": "Level1",
                                                     "default_player_state": ["Level1"],
                                                     "states": {"Level1": both["Level1"]}}),
                                "rom.sha": sha, "start.inputs": inputs}),
        "ops-all": encode({"data.json": js(data),
                           "scenario.json": js({"done": ops, "reward": {"variables": ops[
                               "variables"]}})}, NUMPY_RAM),
        "snapshot-state": encode({"data.json": js(data), "scenario.json": js({}),
                                  "metadata.json": js({"default_state": "Boss", "states": both}),
                                  "start.inputs": inputs, "start.snapshot": snapshot}),
        "snapshot-only-hardware": encode({
            "data.json": js(data), "metadata.json": js({"states": {"S": {
                "snapshot": "start.snapshot"}}}), "start.snapshot": snapshot}, HARDWARE),
    }


def main(argv: list[str]) -> int:
    workspace = pathlib.Path(tempfile.mkdtemp(prefix="vandrel-fuzz-"))
    try:
        if argv[1:2] == ["--write-seeds"] and len(argv) == 3:
            out = pathlib.Path(argv[2])
            out.mkdir(parents=True, exist_ok=True)
            for name, data in seeds().items():
                (out / name).write_bytes(data)
            return 0
        if argv[1:2] == ["--replay"]:
            for path in argv[2:]:
                print(f"replaying {path}", file=sys.stderr)
                check(pathlib.Path(path).read_bytes(), workspace)
            return 0
        import atheris
        with atheris.instrument_imports(include=["vandrel_gym", "vandrel_tools"]):
            _modules()
            import vandrel_tools.inputs  # noqa: F401
        atheris.Setup(argv, lambda data: check(data, workspace))
        atheris.Fuzz()
        return 0
    finally:
        shutil.rmtree(workspace, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
