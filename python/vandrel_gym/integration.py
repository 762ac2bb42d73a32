"""Game integrations: a game described as a task in a folder of small files.

The folder format is the one reinforcement-learning users already keep their games in
(one folder per game, named like "SuperGame-Nes"):

    data.json       the game's variables: {"info": {"score": {"address": 1000,
                    "type": ">n6"}, ...}}, each a byte offset into the 2 KiB work RAM
                    ($0000-$07FF) and a type: endianness (< little, > big, | one byte,
                    = native, little here), format (u unsigned, i two's complement,
                    d BCD two digits a byte, n one BCD digit in each byte's low nibble)
                    and byte count.
    scenario.json   reward, end of episode, action set and crop; a folder may hold other
                    scenarios, chosen by name ("hard" reads hard.json).
    metadata.json   optional: default_state, default_player_state, ... (kept as parsed),
                    and vandrel's start states, "states" (see start_states).
    rom.sha         optional: the SHA-1 of each ROM dump the integration was made for.

    >>> game = Integration("SuperGame-Nes")           # a folder, or a name on the path
    >>> values = game.read(nes)                       # {"score": 1250, "lives": 3}
    >>> game.scenario.reward(previous, values), game.scenario.done(previous, values)

Every problem in a folder is an IntegrationError naming the file and the key. Games are
found on the integration path: the package's own integrations folder first, then the
folders in VANDREL_INTEGRATIONS (separated by os.pathsep), then those given to
add_integration_path().

A scenario compiles to flat tables of Term rows (address, size, decoding, measurement,
op, coefficients), so that a batch of consoles can evaluate it without Python.
"""
from __future__ import annotations

import hashlib
import json
import os
import re
import sys
from collections.abc import Callable, Mapping
from pathlib import Path
from typing import Any, NamedTuple

import numpy as np

from .actions import BUTTON_BITS
from .start_states import StartState, parse_states, start_snapshot

RAM_SIZE = 0x800
"""The work RAM the variables live in: $0000-$07FF."""

INTEGRATIONS_DIR = Path(__file__).parent / "integrations"
"""The integrations shipped with the package; first on the integration path."""

PATH_VARIABLE = "VANDREL_INTEGRATIONS"

INES_HEADER_SIZE = 16

_TYPE = re.compile(r"([<>|=]{1,2})([uidn])([0-9]+)")
_MIDDLE_ENDIAN = {"><", "<>", ">=", "<="}

OPS: dict[str, Callable[[float, float], float]] = {
    "nonzero": lambda v, ref: float(v != 0),
    "zero": lambda v, ref: float(v == 0),
    "positive": lambda v, ref: float(v > 0),
    "negative": lambda v, ref: float(v < 0),
    "sign": lambda v, ref: float((v > 0) - (v < 0)),
    "equal": lambda v, ref: float(v == ref),
    "not-equal": lambda v, ref: float(v != ref),
    "less-than": lambda v, ref: float(v < ref),
    "greater-than": lambda v, ref: float(v > ref),
    "less-or-equal": lambda v, ref: float(v <= ref),
    "greater-or-equal": lambda v, ref: float(v >= ref),
}
"""What each op makes of a measured value v and the variable's reference."""

MEASUREMENTS = ("delta", "absolute")

FILTERED_BUTTONS = ("A", "B", "UP", "DOWN", "LEFT", "RIGHT")
"""The buttons of the default action set: Start and Select are left out unless a
scenario's "buttons" names them."""

DEFAULT_SCRIPT = "script.lua"

_added_paths: list[Path] = []


class IntegrationError(ValueError):
    """A game folder that cannot be used as it is. `file` and `key` say where."""

    def __init__(self, file: str | os.PathLike[str], key: str, problem: str) -> None:
        self.file, self.key = os.fspath(file), key
        super().__init__(f"{self.file}: {key}: {problem}" if key else f"{self.file}: {problem}")


# The widest variable of each format whose every value fits a signed 64-bit integer, as
# the batch stepper evaluates them (18 BCD digits; 7 bytes unsigned).
_NATIVE_SIZES = {"u": 7, "i": 8, "d": 9, "n": 18}


class Variable(NamedTuple):
    """One variable of data.json: `size` bytes at `address`, decoded per `format`."""

    name: str
    address: int
    size: int
    big_endian: bool
    format: str

    @property
    def native(self) -> bool:
        """Whether the batch stepper can decode it (every value fits 64 bits)."""
        return self.size <= _NATIVE_SIZES[self.format]

    def decode(self, ram: bytes) -> int:
        raw = ram[self.address:self.address + self.size]
        if not self.big_endian:
            raw = raw[::-1]
        if self.format == "d":
            return _digits(((b >> 4) * 10 + (b & 0xF) for b in raw), 100)
        if self.format == "n":
            return _digits((b & 0xF for b in raw), 10)
        value = int.from_bytes(raw, "big")
        if self.format == "i" and raw[0] & 0x80:
            value -= 1 << (8 * self.size)
        return value


def _digits(digits: Any, base: int) -> int:
    # A byte holding something other than BCD still counts by its nibbles' values, as a
    # game's own display of it would: the value stays defined for any RAM contents.
    value = 0
    for digit in digits:
        value = value * base + digit
    return value


class Term(NamedTuple):
    """One row of a compiled scenario: where a variable is, how it is decoded, and what
    the scenario makes of it."""

    variable: Variable
    measurement: str
    op: str | None
    reference: float
    reward: float
    penalty: float

    def value(self, previous: Mapping[str, int], values: Mapping[str, int]) -> float:
        v = values[self.variable.name]
        if self.measurement == "delta":
            v -= previous[self.variable.name]
        return OPS[self.op](v, self.reference) if self.op else v


class Scenario:
    """The reward, the end of an episode, the action set and the crop of one scenario
    file.

    reward(previous, values): over the reward terms, `reward * v` for v > 0 and
    `penalty * v` for v < 0 (a coefficient not given is 0, so "penalty": 10 on lives
    that drop by one gives -10), plus time.reward and minus time.penalty every step.
    done(previous, values): whether `any` (the default) or `all` of the done terms are
    non-zero; a scenario without done variables never ends an episode.
    actions: one tuple of button masks per MultiDiscrete dimension, or None.
    buttons: the mask of the buttons the default (filtered) action set keeps when there
        are no actions: the scenario's "buttons", or every button but Start and Select.
    crop: pixels cut at the left, top, right and bottom, or None.
    reward_script, done_script: the Lua functions ("reward": {"script": "lua:name"})
        whose results add to the reward and end the episode, and script_files the
        scripts that define them ("scripts", default ["script.lua"]).
    """

    def __init__(self, file: Path, data: Any, variables: Mapping[str, Variable]) -> None:
        self.file = file
        self.data = _object(file, "", data)
        reward = _object(file, "reward", data.get("reward", {}))
        done = _object(file, "done", data.get("done", {}))
        self.reward_terms = self._terms("reward", reward, variables, "delta")
        self.done_terms = self._terms("done", done, variables, "absolute")
        time = _object(file, "reward.time", reward.get("time", {}))
        self.time_reward = _number(file, "reward.time.reward", time.get("reward", 0))
        self.time_penalty = _number(file, "reward.time.penalty", time.get("penalty", 0))
        self.done_all = _choice(file, "done.condition", done.get("condition", "any"),
                                ("any", "all")) == "all"
        self.actions = self._actions(data.get("actions"))
        self.buttons = self._combination("buttons", data.get("buttons", list(FILTERED_BUTTONS)))
        self.crop = self._crop(data.get("crop"))
        self.reward_script = self._script("reward.script", reward.get("script"))
        self.done_script = self._script("done.script", done.get("script"))
        self.script_files = self._script_files(data.get("scripts", [DEFAULT_SCRIPT])) \
            if self.reward_script or self.done_script else ()

    def compiled(self, variables: list[Variable]) -> tuple[Any, ...]:
        """The scenario as the batch stepper's table, over `variables` (the native ones,
        in the order of Batch.values' columns; every term's variable is one of them)."""
        index = {variable.name: i for i, variable in enumerate(variables)}

        def rows(terms: tuple[Term, ...]) -> list[tuple[Any, ...]]:
            return [(index[t.variable.name], t.measurement == "delta", t.op, t.reference,
                     t.reward, t.penalty) for t in terms]

        return ([(v.address, v.size, v.big_endian, v.format) for v in variables],
                rows(self.reward_terms), rows(self.done_terms),
                self.time_reward, self.time_penalty, self.done_all)

    def reward(self, previous: Mapping[str, int], values: Mapping[str, int]) -> float:
        total = self.time_reward - self.time_penalty
        for term in self.reward_terms:
            v = term.value(previous, values)
            total += term.reward * v if v > 0 else term.penalty * v
        return total

    def done(self, previous: Mapping[str, int], values: Mapping[str, int]) -> bool:
        hits = [term.value(previous, values) != 0 for term in self.done_terms]
        return bool(hits) and (all(hits) if self.done_all else any(hits))

    def _terms(self, section: str, given: dict[str, Any], variables: Mapping[str, Variable],
               measurement: str) -> tuple[Term, ...]:
        terms = []
        for name, entry in _object(self.file, f"{section}.variables",
                                   given.get("variables", {})).items():
            key = f"{section}.variables.{name}"
            entry = _object(self.file, key, entry)
            if name not in variables:
                raise IntegrationError(self.file, key, "no such variable in data.json")
            if not variables[name].native:
                raise IntegrationError(self.file, key, f"{variables[name].size} bytes of "
                                       f"format {variables[name].format!r} are too wide for a "
                                       "reward or end of episode (values must fit 64 bits)")
            op = entry.get("op")
            terms.append(Term(
                variables[name],
                _choice(self.file, f"{key}.measurement", entry.get("measurement", measurement),
                        MEASUREMENTS),
                None if op is None else _choice(self.file, f"{key}.op", op, tuple(OPS)),
                # Comparisons without a reference compare with 0, as the sign ops do.
                _number(self.file, f"{key}.reference", entry.get("reference", 0)),
                _number(self.file, f"{key}.reward", entry.get("reward", 0)),
                _number(self.file, f"{key}.penalty", entry.get("penalty", 0))))
        return tuple(terms)

    def _actions(self, given: Any) -> tuple[tuple[int, ...], ...] | None:
        if given is None:
            return None
        dimensions = _list(self.file, "actions", given, nonempty=True)
        return tuple(tuple(self._combination(f"actions[{d}][{c}]", combination)
                           for c, combination in enumerate(
                               _list(self.file, f"actions[{d}]", choices, nonempty=True)))
                     for d, choices in enumerate(dimensions))

    def _combination(self, key: str, buttons: Any) -> int:
        mask = 0
        for name in _list(self.file, key, buttons):
            if not isinstance(name, str) or name.lower() not in BUTTON_BITS:
                raise IntegrationError(self.file, key, f"unknown button {name!r}; the "
                                       "buttons are A, B, SELECT, START, UP, DOWN, LEFT, RIGHT")
            mask |= BUTTON_BITS[name.lower()]
        return mask

    def _script(self, key: str, given: Any) -> str | None:
        if given is None:
            return None
        if not isinstance(given, str) or not given.startswith("lua:") or \
                not given[4:].isidentifier():
            raise IntegrationError(self.file, key, f"expected 'lua:FUNCTION', a function of "
                                   f"the folder's Lua scripts, got {given!r}")
        return given[4:]

    def _script_files(self, given: Any) -> tuple[Path, ...]:
        files = []
        for i, name in enumerate(_list(self.file, "scripts", given, nonempty=True)):
            if not isinstance(name, str) or not name or Path(name).name != name:
                raise IntegrationError(self.file, f"scripts[{i}]", f"expected a file name in "
                                       f"the game folder, got {name!r}")
            if not (self.file.parent / name).is_file():
                raise IntegrationError(self.file, f"scripts[{i}]", f"{name} is not in the "
                                       "game folder")
            files.append(self.file.parent / name)
        return tuple(files)

    def _crop(self, given: Any) -> tuple[int, int, int, int] | None:
        if given is None:
            return None
        crop = _list(self.file, "crop", given)
        if len(crop) != 4 or not all(_is_int(x) and x >= 0 for x in crop):
            raise IntegrationError(self.file, "crop", "expected four pixel counts >= 0 "
                                   f"(left, top, right, bottom), got {given!r}")
        if crop[0] + crop[2] >= 256 or crop[1] + crop[3] >= 240:
            raise IntegrationError(self.file, "crop", f"{given!r} leaves nothing of the "
                                   "256x240 picture")
        return tuple(crop)  # type: ignore[return-value]


class Integration:
    """One game folder: its variables, a scenario, its metadata and its ROM hashes.

    path: the folder, or a bare game name ("SuperGame-Nes") looked up on the
        integration path.
    scenario: the scenario file's name without ".json"; None reads scenario.json when
        the folder has one (otherwise `scenario` is None and only read() is of use).
    """

    def __init__(self, path: str | os.PathLike[str], scenario: str | None = None) -> None:
        folder = Path(path)
        self.path = folder if folder.is_dir() else Integration.find(os.fspath(path))
        self.name = self.path.name
        self.variables = self._variables(self._json("data.json"))
        self.scenario = self._scenario(scenario)
        metadata_file = self.path / "metadata.json"
        self.metadata: dict[str, Any] = (
            _object(metadata_file, "", self._json("metadata.json"))
            if metadata_file.is_file() else {})
        self.states = parse_states(metadata_file, self.metadata)
        self.rom_hashes = self._rom_hashes()

    @staticmethod
    def find(name: str) -> Path:
        """The folder of the game `name` on the integration path (the first one wins)."""
        if name and os.sep not in name and "/" not in name:
            for root in integration_paths():
                if (root / name / "data.json").is_file():
                    return root / name
        looked = ", ".join(str(p) for p in integration_paths()) or "(empty path)"
        raise FileNotFoundError(f"no game folder {name!r}: not a folder, and not a game on "
                                f"the integration path ({looked})")

    def read(self, source: Any) -> dict[str, int]:
        """Every variable's current value, from a vandrel.NES or its work RAM (any
        bytes-like or array of at least 0x800 bytes; only the first 0x800 are read)."""
        ram = _work_ram(source)
        return {name: variable.decode(ram) for name, variable in self.variables.items()}

    def check_rom(self, rom: str | os.PathLike[str] | bytes | bytearray | memoryview) -> bool:
        """Whether the ROM (a path or the file's contents) is one the integration was made
        for: the SHA-1 of the whole file, or of the file after its 16-byte header, is in
        rom.sha. A folder without rom.sha cannot say, and raises IntegrationError."""
        if not self.rom_hashes:
            raise IntegrationError(self.path / "rom.sha", "", "missing or empty: there is "
                                   "no hash to check the ROM against")
        image = bytes(rom) if isinstance(rom, (bytes, bytearray, memoryview)) \
            else Path(rom).read_bytes()
        return not self.rom_hashes.isdisjoint(
            {hashlib.sha1(image).hexdigest(),
             hashlib.sha1(image[INES_HEADER_SIZE:]).hexdigest()})

    @property
    def default_state(self) -> str | None:
        """The start state an environment uses when none is named: metadata.json's
        default_state where the folder has it among its vandrel states, else the only
        state it has, else None (power-on)."""
        named = self.metadata.get("default_state")
        if isinstance(named, str) and named in self.states:
            return named
        return next(iter(self.states)) if len(self.states) == 1 else None

    def state(self, name: str | None = None) -> StartState | None:
        """The start state `name` (None: default_state), or None where the folder has no
        vandrel start states (an episode then starts at power-on). IntegrationError for
        a name the folder does not have."""
        if name is None:
            name = self.default_state
            if name is None:
                if self.states:
                    raise IntegrationError(self.path / "metadata.json", "default_state",
                                           f"names no state of {sorted(self.states)}; "
                                           "choose one with state=")
                return None
        if not isinstance(name, str) or name not in self.states:
            have = ", ".join(sorted(self.states)) or "none"
            raise IntegrationError(self.path / "metadata.json", "states",
                                   f"no start state {name!r} (the folder has: {have})")
        return self.states[name]

    def start_snapshot(self, rom: str | os.PathLike[str] | bytes, state: str | None = None,
                       accuracy: str = "hardware") -> bytes | None:
        """The snapshot an episode of the start state `state` starts from on the
        cartridge `rom` (a path or its contents) in the mode `accuracy`, or None for
        power-on (a folder without vandrel start states)."""
        chosen = self.state(state)
        if chosen is None:
            return None
        image = bytes(rom) if isinstance(rom, (bytes, bytearray, memoryview)) \
            else Path(rom).read_bytes()
        return start_snapshot(chosen, image, accuracy)

    def __repr__(self) -> str:
        return f"Integration({os.fspath(self.path)!r})"

    def _json(self, name: str) -> Any:
        file = self.path / name
        try:
            text = file.read_bytes().decode("utf-8")
        except FileNotFoundError:
            raise IntegrationError(file, "", "missing") from None
        except UnicodeDecodeError as e:
            raise IntegrationError(file, "", f"not UTF-8 text ({e.reason} at byte "
                                   f"{e.start})") from None
        try:
            return json.loads(text, parse_constant=lambda c: _reject_constant(file, c))
        except json.JSONDecodeError as e:
            raise IntegrationError(file, "", f"malformed JSON: {e}") from None
        except RecursionError:
            raise IntegrationError(file, "", "malformed JSON: nested too deeply") from None

    def _variables(self, data: Any) -> dict[str, Variable]:
        file = self.path / "data.json"
        info = _object(file, "info", _object(file, "", data).get("info"))
        return {name: _variable(file, f"info.{name}", name, entry)
                for name, entry in info.items()}

    def _scenario(self, name: str | None) -> Scenario | None:
        if name is None and not (self.path / "scenario.json").is_file():
            return None
        name = "scenario" if name is None else name.removesuffix(".json")
        if not name or Path(name).name != name:
            raise ValueError(f"a scenario is named by its file in {self.path} without "
                             f"'.json', not {name!r}")
        return Scenario(self.path / f"{name}.json", self._json(f"{name}.json"),
                        self.variables)

    def _rom_hashes(self) -> frozenset[str]:
        file = self.path / "rom.sha"
        if not file.is_file():
            return frozenset()
        hashes = set()
        for number, line in enumerate(file.read_bytes().decode("latin-1").splitlines(), 1):
            digest = line.strip().lower()
            if digest and not re.fullmatch(r"[0-9a-f]{40}", digest):
                raise IntegrationError(file, f"line {number}", f"not a SHA-1 in hex: {line!r}")
            if digest:
                hashes.add(digest)
        return frozenset(hashes)


def integration_paths() -> list[Path]:
    """The folders of game folders searched in turn: the package's own, those in
    VANDREL_INTEGRATIONS, then those added with add_integration_path()."""
    from_environment = [Path(p) for p in os.environ.get(PATH_VARIABLE, "").split(os.pathsep)
                        if p]
    return [INTEGRATIONS_DIR, *from_environment, *_added_paths]


def add_integration_path(path: str | os.PathLike[str]) -> None:
    """Search the game folders in `path` too, after those already on the path."""
    folder = Path(path)
    if not folder.is_dir():
        raise FileNotFoundError(f"{os.fspath(path)!r} is not a folder")
    if folder not in _added_paths:
        _added_paths.append(folder)


def list_games() -> list[str]:
    """The names of the game folders (those holding a data.json) on the integration
    path, sorted."""
    return sorted({game.name for root in integration_paths() if root.is_dir()
                   for game in root.iterdir() if (game / "data.json").is_file()})


def _variable(file: Path, key: str, name: str, entry: Any) -> Variable:
    entry = _object(file, key, entry)
    given = entry.get("type")
    match = _TYPE.fullmatch(given) if isinstance(given, str) else None
    if match is None:
        raise IntegrationError(file, f"{key}.type", f"unknown type {given!r}; a type is an "
                               "endianness (< > | =), a format (u i d n) and a byte count")
    endian, form, size = match[1], match[2], int(match[3])
    if len(endian) > 1:
        raise IntegrationError(file, f"{key}.type", f"{given!r}: " + (
            "middle-endian types belong to other consoles" if endian in _MIDDLE_ENDIAN
            else "unknown endianness"))
    if size < 1 or (endian == "|" and size > 1):
        raise IntegrationError(file, f"{key}.type", f"{given!r}: "
                               + ("'|' is for one byte" if size else "no bytes"))
    address = entry.get("address")
    if not _is_int(address) or not 0 <= address <= RAM_SIZE - size:
        raise IntegrationError(file, f"{key}.address", f"{address!r} with {size} byte(s) "
                               f"is outside the work RAM $0000-${RAM_SIZE - 1:04X}")
    return Variable(name, address, size, endian == ">", form)


def _work_ram(source: Any) -> bytes:
    if hasattr(source, "cpuMem"):
        source = source.cpuMem()
    if isinstance(source, (bytes, bytearray, memoryview)):
        ram = bytes(source[:RAM_SIZE])
    else:
        ram = np.asarray(source, dtype=np.uint8).reshape(-1)[:RAM_SIZE].tobytes()
    if len(ram) < RAM_SIZE:
        raise ValueError(f"work RAM is {RAM_SIZE} bytes; got {len(ram)}")
    return ram


def _reject_constant(file: Path, constant: str) -> Any:
    raise IntegrationError(file, "", f"malformed JSON: {constant} is not a number")


def _is_int(value: Any) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)


def _object(file: Path, key: str, value: Any) -> dict[str, Any]:
    if not isinstance(value, dict):
        raise IntegrationError(file, key, f"expected a JSON object, got {value!r}")
    return value


def _list(file: Path, key: str, value: Any, nonempty: bool = False) -> list[Any]:
    if not isinstance(value, list) or (nonempty and not value):
        raise IntegrationError(file, key, f"expected a {'non-empty ' if nonempty else ''}"
                               f"list, got {value!r}")
    return value


def _number(file: Path, key: str, value: Any) -> float:
    if not isinstance(value, bool) and isinstance(value, (int, float)) \
            and abs(value) <= sys.float_info.max:
        return float(value)
    raise IntegrationError(file, key, f"expected a finite number, got {value!r}")


def _choice(file: Path, key: str, value: Any, choices: tuple[str, ...]) -> str:
    if value not in choices:
        raise IntegrationError(file, key, f"unknown {key.rsplit('.', 1)[-1]} {value!r}; "
                               f"expected one of {', '.join(choices)}")
    return value
