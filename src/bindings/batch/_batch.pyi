"""The native batch stepper: N consoles of one cartridge stepped by native threads."""

import os
from typing import Literal

import numpy as np
import numpy.typing as npt

_Accuracy = Literal["fast", "hardware"]

MAX_IMAGE_SIZE: int
"""The largest cartridge image, in bytes: larger files and images are refused."""

def read_image(path: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> bytes:
    """The contents of a cartridge file, read as Batch reads its cartridge: OSError when
    it cannot be read, ValueError when it is not a regular file or holds more than
    MAX_IMAGE_SIZE bytes."""

class Batch:
    """N consoles of one cartridge, stepped together without the interpreter lock.

    Every console starts from one start state (power-on, or the snapshot ``start_state``,
    plus ``start_frames`` frames without input); a reset restores it and runs 0 to ``noop_max`` (at most 100000)
    more such frames, drawn from the console's own random generator. That generator
    also decides sticky actions: at every frame, with probability
    ``repeat_action_probability``, the console keeps the previous frame's buttons. A step
    runs ``frame_skip`` frames per console; with ``max_pool`` the observed picture is the
    pixelwise maximum of the last two.
    Observations: "rgb" (N, 240, 256, 3), "gray84" (N, 84, 84): luma
    (299 R + 587 G + 114 B) / 1000 shrunk by area averaging, or "ram" (N, 2048).
    Every console is built with ``accuracy`` ("fast", the default, or "hardware", as
    vandrel.NES takes it; ValueError for anything else). A cartridge whose board is not
    emulated gets one vandrel.UnsupportedBoardWarning for the whole batch.
    A ``scenario`` (a game folder's task as vandrel_gym compiles it:
    ``Scenario.compiled``) is evaluated for every console after every step and reset,
    natively: ``values``, ``rewards`` and ``done``.

    Called from the main thread with Python's own SIGINT handler, building, step and
    reset end after the frame in progress on Ctrl-C with KeyboardInterrupt; every
    console's entry in ``frames`` then counts the frames it ran, and its observation
    shows the last of them.
    """

    def __init__(self, rom: str | bytes | os.PathLike[str] | os.PathLike[bytes], count: int, *,
                 threads: int = 0, frame_skip: int = 4, max_pool: bool = True,
                 observation: str = "rgb", start_frames: int = 0, noop_max: int = 0,
                 repeat_action_probability: float = 0.0, seed: int | None = None,
                 accuracy: _Accuracy = "fast",
                 start_state: bytes | bytearray | memoryview | None = None,
                 scenario: tuple[object, ...] | None = None) -> None: ...
    @staticmethod
    def from_image(image: bytes | bytearray | memoryview, count: int, *,
                   name: str = "cartridge.nes", threads: int = 0, frame_skip: int = 4,
                   max_pool: bool = True, observation: str = "rgb", start_frames: int = 0,
                   noop_max: int = 0, repeat_action_probability: float = 0.0,
                   seed: int | None = None, accuracy: _Accuracy = "fast",
                   start_state: bytes | bytearray | memoryview | None = None,
                   scenario: tuple[object, ...] | None = None) -> Batch:
        """A batch of the cartridge whose contents (an iNES image) are ``image``, read
        from memory rather than from a file: ``name`` stands for the file's path, naming
        the consoles' save folder. The other arguments are the constructor's."""
    @property
    def count(self) -> int: ...
    @property
    def threads(self) -> int:
        """Native threads stepping the consoles, the caller's included."""
    @property
    def frame_skip(self) -> int: ...
    @property
    def max_pool(self) -> bool: ...
    @property
    def observation(self) -> str: ...
    @property
    def accuracy(self) -> _Accuracy:
        """The mode the consoles run in, as the consoles themselves report it."""
    @property
    def observations(self) -> npt.NDArray[np.uint8]:
        """The observations, rewritten in place by every step and reset (same array)."""
    @property
    def ram(self) -> npt.NDArray[np.uint8]:
        """(N, 2048): every console's RAM after the last step or reset (same array)."""
    @property
    def frames(self) -> npt.NDArray[np.int64]:
        """(N,): frames since each console's reset, its no-op frames not counted."""
    @property
    def values(self) -> npt.NDArray[np.int64]:
        """(N, variables): the scenario's variables after the last step or reset."""
    @property
    def rewards(self) -> npt.NDArray[np.float64]:
        """(N,): the scenario's reward for the last step (0 after a reset, restore or
        clone)."""
    @property
    def done(self) -> npt.NDArray[np.bool_]:
        """(N,): whether the scenario's episode ended with the last step."""
    @property
    def last_call_seconds(self) -> float:
        """Host seconds the last step or reset took in native code."""
    def step(self, actions: npt.ArrayLike, reset: npt.ArrayLike | None = None) -> None:
        """Steps every console by one action: button masks (bit 0 A ... bit 7 Right) of
        shape (N,) for controller 1 or (N, 2) for both. Consoles flagged in ``reset``
        are reset instead (their action ignored)."""
    def reset(self, indices: npt.ArrayLike | None = None) -> None:
        """Resets the given consoles (all when None)."""
    def seed(self, seeds: int | npt.ArrayLike, indices: npt.ArrayLike | None = None) -> None:
        """Reseeds the generators of the given consoles (all when None): one seed each,
        or an int s giving the k-th of them s + k. vandrel.ConversionError for a seed
        that is no integer."""
    def picture(self, index: int) -> npt.NDArray[np.uint8]:
        """A (240, 256, 3) copy of one console's last finished picture."""
    def snapshot(self, index: int, *, picture: bool = True) -> bytes:
        """One console's snapshot, in the format of ``NES.getSnapshot`` (an ``NES`` of the
        same cartridge and mode can load it too); picture=False leaves out the last
        finished picture."""
    def restore(self, index: int, data: bytes | bytearray | memoryview | npt.NDArray[np.uint8],
                *, frame: int | None = None) -> None:
        """Restores one console from a snapshot; its observation and RAM rows show the
        restored state. Its frame counter becomes ``frame`` (left as it was when None);
        its sticky-action memory is left as it was.
        ValueError, and no change, for a snapshot of another cartridge, mode or version,
        or a damaged one."""
    def write_ram(self, index: int, address: int,
                  data: bytes | bytearray | memoryview | npt.NDArray[np.uint8]) -> None:
        """Writes one console's work RAM from ``address`` on, and its RAM row. The
        scenario's values stay as the last step saw them, so the next step's reward
        counts the write. IndexError beyond $0000-$07FF."""
    def clone(self, source: int, targets: npt.ArrayLike) -> None:
        """Copies console ``source`` whole (its state, frame counter, sticky-action memory,
        observation and RAM rows) onto every console in ``targets``, natively: a search
        branches N consoles from one state in one call. Each target keeps its own seed's
        random stream."""
