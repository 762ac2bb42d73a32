"""Start states of a game folder: where an episode begins.

The catalogue's own *.state files are save states of another emulator, which vandrel
cannot read. A vandrel game folder names its start states in metadata.json instead,
beside the catalogue's keys:

    {"default_state": "Level1",
     "states": {"Level1": {"inputs": "Level1.inputs", "frames": 400},
                "Boss":   {"inputs": "Boss.inputs", "snapshot": "Boss.hardware.snapshot"}}}

- "inputs" is an input script from power-on, in the tools' script format
  ("1-60:right, 100:start", frames counting from 1; see vandrel_tools.inputs). It is
  deterministic and reviewable, and replays in either accuracy mode.
- "frames" is how many frames the script runs from power-on; by default the last frame
  the script names (a script with an open-ended entry "N-:..." must say it).
- "snapshot" is a file of NES.getSnapshot() bytes. A snapshot holds one accuracy mode
  and one cartridge: it is used when both match, otherwise the script is replayed, and
  a state with no script to fall back on is an error naming both modes.

A state replayed from its script is cached in memory for the life of the process, per
cartridge, buttons and mode, so that many environments share one replay.
"""
from __future__ import annotations

import hashlib
import threading
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np

from vandrel_tools.inputs import BUTTONS, InputScript, ScriptError

_CACHE: dict[tuple[str, str, str], bytes] = {}
_CACHE_LOCK = threading.Lock()


@dataclass(frozen=True)
class StartState:
    """One named start state of a folder: an input script from power-on and how many
    frames it runs, a snapshot file, or both."""

    name: str
    folder: Path
    inputs: InputScript | None
    frames: int
    snapshot: Path | None

    def masks(self) -> np.ndarray:
        """The button masks of controllers 1 and 2 for each scripted frame: uint8
        (frames, 2), bit 0 A ... bit 7 Right."""
        masks = np.zeros((self.frames, 2), dtype=np.uint8)
        if self.inputs is None:
            return masks
        for entry in self.inputs.entries:
            last = self.frames if entry.last is None else min(entry.last, self.frames)
            for port, names in enumerate(entry.pads):
                bits = sum(1 << BUTTONS.index(name) for name in names)
                masks[entry.first - 1:last, port] |= bits
        return masks


def parse_states(file: Path, metadata: dict[str, Any]) -> dict[str, StartState]:
    """The "states" of a parsed metadata.json (file names it in errors)."""
    from .integration import _object   # a cycle: integration imports this module

    states = _object(file, "states", metadata.get("states", {}))
    return {name: _state(file, f"states.{name}", name, _object(file, f"states.{name}", entry))
            for name, entry in states.items()}


def _state(file: Path, key: str, name: str, entry: dict[str, Any]) -> StartState:
    from .integration import IntegrationError, _is_int

    folder = file.parent
    unknown = set(entry) - {"inputs", "frames", "snapshot"}
    if unknown:
        raise IntegrationError(file, key, f"unknown keys {sorted(unknown)}; a start state has "
                               "'inputs', 'frames' and 'snapshot'")
    if "inputs" not in entry and "snapshot" not in entry:
        raise IntegrationError(file, key, "needs 'inputs' (an input script from power-on) "
                               "or 'snapshot' (a vandrel snapshot file), or both")
    inputs = None
    if "inputs" in entry:
        script_file = _file_in(file, f"{key}.inputs", entry["inputs"])
        try:
            inputs = InputScript.parse(script_file.read_bytes().decode("utf-8"))
        except OSError as error:
            raise IntegrationError(script_file, "", f"cannot be read: "
                                   f"{error.strerror or error}") from None
        except UnicodeDecodeError as error:
            raise IntegrationError(script_file, "", f"not UTF-8 text ({error.reason})") from None
        except ScriptError as error:
            raise IntegrationError(script_file, "", str(error)) from None
    frames = entry.get("frames")
    named = max((e.last or e.first for e in inputs.entries), default=0) if inputs else 0
    if frames is None:
        if inputs is not None and any(e.last is None for e in inputs.entries):
            raise IntegrationError(file, f"{key}.frames", "the script has an open-ended entry "
                                   "(N-:...), so the state must say how many frames it runs")
        frames = named
    elif not _is_int(frames) or not 0 <= frames <= MAX_SCRIPT_FRAMES:
        raise IntegrationError(file, f"{key}.frames", f"expected a frame count 0-"
                               f"{MAX_SCRIPT_FRAMES}, got {frames!r}")
    if frames > MAX_SCRIPT_FRAMES:
        raise IntegrationError(file, f"{key}.inputs", f"the script runs {frames} frames; at "
                               f"most {MAX_SCRIPT_FRAMES} reach a start state")
    snapshot = (_file_in(file, f"{key}.snapshot", entry["snapshot"])
                if "snapshot" in entry else None)
    return StartState(name, folder, inputs, frames, snapshot)


MAX_SCRIPT_FRAMES = 216_000
"""The longest script a start state may run: an hour of play."""


def _file_in(file: Path, key: str, name: Any) -> Path:
    from .integration import IntegrationError

    if not isinstance(name, str) or not name or Path(name).name != name:
        raise IntegrationError(file, key, f"expected a file name in the game folder, got "
                               f"{name!r}")
    path = file.parent / name
    if not path.is_file():
        raise IntegrationError(file, key, f"{name} is not in the game folder")
    return path


def start_snapshot(state: StartState, image: bytes, accuracy: str) -> bytes:
    """The snapshot an episode of `state` starts from, on the cartridge `image` in the
    mode `accuracy`: the state's snapshot file where it fits, else its script replayed
    from power-on (cached). ValueError when neither can give one."""
    refusal = None
    if state.snapshot is not None:
        data = state.snapshot.read_bytes()
        refusal = _refusal(data, image, accuracy)
        if refusal is None:
            return data
        if state.inputs is None:
            raise ValueError(f"start state {state.name!r}: {state.snapshot}: {refusal}")
    # Keyed by what the replay depends on, so that an edited script replays anew.
    masks = state.masks()
    key = (hashlib.sha1(image).hexdigest(), hashlib.sha1(masks.tobytes()).hexdigest(), accuracy)
    with _CACHE_LOCK:
        cached = _CACHE.get(key)
    if cached is None:
        cached = replay(masks, image, accuracy)
        with _CACHE_LOCK:
            _CACHE[key] = cached
    return cached


def replay(masks: np.ndarray, image: bytes, accuracy: str) -> bytes:
    """The snapshot of a console started on `image` in the mode `accuracy` after
    playing the (frames, 2) button masks from power-on, one row a frame."""
    from ._batch import Batch

    batch = Batch.from_image(image, 1, frame_skip=1, max_pool=False, observation="ram",
                             accuracy=accuracy)
    for row in masks:
        batch.step(row.reshape(1, 2))
    return batch.snapshot(0)


def _refusal(data: bytes, image: bytes, accuracy: str) -> str | None:
    """Why the snapshot `data` cannot start a console on `image` in `accuracy`, or None."""
    from ._batch import Batch

    probe = Batch.from_image(image, 1, frame_skip=1, max_pool=False, observation="ram",
                             accuracy=accuracy)
    try:
        probe.restore(0, data)
    except ValueError as error:
        return str(error)
    return None
