"""What an environment keeps of one console for search: NESEnv.get_snapshot and
NESVectorEnv.get_snapshot return it, set_snapshot takes it back."""
from __future__ import annotations

from dataclasses import dataclass

import numpy as np


@dataclass(frozen=True)
class EnvSnapshot:
    """One environment's state: its console's snapshot (the bytes of NES.getSnapshot), its
    frame counter, its stacked observations (None without frame_stack) and whether its
    episode had ended (the vector env then resets it at the next step). The environment's
    random stream (sticky actions, no-ops) is its seed's, not the snapshot's."""

    console: bytes
    frame: int
    stack: np.ndarray | None
    ended: bool = False


def checked(snapshot: object, stack_shape: tuple[int, ...] | None) -> EnvSnapshot:
    """The snapshot, if it fits an environment whose stack has this shape (None: no stack)."""
    if not isinstance(snapshot, EnvSnapshot):
        raise TypeError("set_snapshot takes what get_snapshot returned, an EnvSnapshot, "
                        f"not {type(snapshot).__name__}")
    shape = None if snapshot.stack is None else snapshot.stack.shape
    if shape != stack_shape:
        raise ValueError(f"the snapshot's stacked observations have shape {shape}; this "
                         f"environment stacks {stack_shape}")
    return snapshot
