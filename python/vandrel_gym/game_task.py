"""GameTask: a game folder made ready for the environments.

It checks the ROM against the folder's rom.sha, finds the start state (replaying its
input script once, see start_states), and compiles the scenario to the table the batch
stepper evaluates after every step: each variable's value, the step's reward and the end
of the episode, for all consoles at once without Python. Variables too wide for 64 bits
are read in Python for `info` only; a scenario's Lua functions, where it has them, run
in Python once per console and step (the "lua" extra).
"""
from __future__ import annotations

import hashlib
import os
import threading
import warnings
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from .cartridge import Cartridge
from .integration import INES_HEADER_SIZE, Integration, Scenario, Variable

_warned_folders: set[str] = set()
_warned_lock = threading.Lock()


class PowerOnStartWarning(UserWarning):
    """A game folder without vandrel start states: its episodes start at power-on."""


@dataclass(frozen=True)
class GameTask:
    """What an environment needs of a game folder. Build it with GameTask.prepare."""

    integration: Integration
    state: str | None
    start_state: bytes | None
    natives: tuple[Variable, ...]
    wides: tuple[Variable, ...]
    table: tuple[Any, ...] = field(repr=False)

    @property
    def scenario(self) -> Scenario | None:
        return self.integration.scenario

    @classmethod
    def prepare(cls, game: str | os.PathLike[str] | Integration, rom: str | os.PathLike[str]
                | Cartridge, *, state: str | None, scenario: str | None, check_rom: bool,
                accuracy: str) -> tuple[GameTask, Cartridge]:
        """The task of `game` (a folder, a name on the integration path, or an
        Integration) on the cartridge `rom`, and the cartridge read once, so that the
        ROM checked is the ROM run. ValueError for a ROM the folder was not made for
        (unless check_rom is False) or a start state that cannot start it."""
        if isinstance(game, Integration):
            if scenario is not None:
                raise ValueError("scenario= chooses a scenario of a game named by its folder; "
                                 "this Integration was read with its own")
            integration = game
        elif isinstance(game, (str, os.PathLike)):
            integration = Integration(game, scenario)
        else:
            raise TypeError("game must be a game name, a folder or an Integration, not "
                            f"{type(game).__name__}")
        if state is not None and not isinstance(state, str):
            raise TypeError(f"state must be a start state's name, not {type(state).__name__}")
        if not isinstance(check_rom, (bool, np.bool_)):
            raise TypeError(f"check_rom must be a bool, not {type(check_rom).__name__}")
        cartridge = rom if isinstance(rom, Cartridge) else Cartridge.read(rom)
        if check_rom:
            _check_rom(integration, cartridge)
        if not integration.states:
            _warn_power_on(integration)
        start_state = integration.start_snapshot(cartridge.image, state, accuracy)
        natives = tuple(v for v in integration.variables.values() if v.native)
        wides = tuple(v for v in integration.variables.values() if not v.native)
        chosen = integration.scenario
        table = chosen.compiled(list(natives)) if chosen is not None \
            else ([(v.address, v.size, v.big_endian, v.format) for v in natives], [], [],
                  0.0, 0.0, False)
        return cls(integration, state or integration.default_state, start_state, natives,
                   wides, table), cartridge

    def values(self, values: np.ndarray, ram: np.ndarray) -> dict[str, int]:
        """Every variable of one console, from its row of Batch.values and its RAM."""
        result = {v.name: int(x) for v, x in zip(self.natives, values)}
        for variable in self.wides:
            result[variable.name] = variable.decode(ram.tobytes())
        return result

    def batch_values(self, values: np.ndarray, ram: np.ndarray) -> dict[str, np.ndarray]:
        """Every variable of every console: a column of Batch.values, or (too wide for
        64 bits) an object array of Python ints read from each console's RAM."""
        result = {v.name: values[:, i].copy() for i, v in enumerate(self.natives)}
        for variable in self.wides:
            result[variable.name] = np.array([variable.decode(row.tobytes()) for row in ram],
                                             dtype=object)
        return result

    def lua(self, count: int) -> Any:
        """The scenario's Lua functions, one runtime per console, or None."""
        scenario = self.scenario
        if scenario is None or not (scenario.reward_script or scenario.done_script):
            return None
        from .lua_scripts import LuaScripts
        return LuaScripts(list(scenario.script_files), count)


def _check_rom(integration: Integration, cartridge: Cartridge) -> None:
    if not integration.rom_hashes or integration.check_rom(cartridge.image):
        return
    whole = hashlib.sha1(cartridge.image).hexdigest()
    headerless = hashlib.sha1(cartridge.image[INES_HEADER_SIZE:]).hexdigest()
    raise ValueError(f"{cartridge.name} is not the ROM {integration.name} was made for: its "
                     f"SHA-1 is {whole} ({headerless} without its header), and rom.sha "
                     f"has {', '.join(sorted(integration.rom_hashes))}; pass check_rom=False "
                     "to use it anyway")


def _warn_power_on(integration: Integration) -> None:
    folder = os.fspath(integration.path)
    with _warned_lock:
        if folder in _warned_folders:
            return
        _warned_folders.add(folder)
    warnings.warn(f"{integration.name} has no vandrel start states (metadata.json "
                  "'states'; a catalogue's .state files are another emulator's), so its "
                  "episodes start at power-on", PowerOnStartWarning, stacklevel=4)


def lua_results(lua: Any, function: str | None, values: list[Mapping[str, int]],
                skip: np.ndarray | None = None) -> np.ndarray:
    """The Lua `function`'s result for each console, 0 where skipped or when None."""
    results = np.zeros(len(values))
    if function is None:
        return results
    for i, row in enumerate(values):
        if skip is None or not skip[i]:
            results[i] = lua.call(i, function, row)
    return results
