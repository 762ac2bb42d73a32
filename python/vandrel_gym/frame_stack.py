"""The last k observations of each console, stacked: what NESEnv and NESVectorEnv return
with frame_stack=k.

Observations with a channel axis ("rgb", and "grayscale" with grayscale_channel=True)
stack along it, oldest first, as stable-baselines3's VecFrameStack does: (84, 84, k) for
grayscale. The others gain a leading axis, as Gymnasium's FrameStackObservation does:
(k, 84, 84) or (k, 2048). An episode's first observation fills the whole stack, both at
reset and at the autoreset step that starts the next episode.
"""
from __future__ import annotations

from typing import Any

import numpy as np


class FrameStack:
    def __init__(self, count: int, frame_shape: tuple[int, ...], frames: int,
                 channel_axis: bool) -> None:
        self.frames = frames
        self.channel_axis = channel_axis
        self.frame_shape = frame_shape
        shape = self.stacked_shape(frame_shape, frames, channel_axis)
        self.stack = np.zeros((count, *shape), dtype=np.uint8)

    @staticmethod
    def stacked_shape(frame_shape: tuple[int, ...], frames: int,
                      channel_axis: bool) -> tuple[int, ...]:
        if channel_axis:
            return (*frame_shape[:-1], frame_shape[-1] * frames)
        return (frames, *frame_shape)

    def _slots(self, rows: np.ndarray | slice) -> list[tuple[Any, ...]]:
        """Indices of each stacked frame of the given consoles, oldest first."""
        if self.channel_axis:
            c = self.frame_shape[-1]
            return [(rows, Ellipsis, slice(i * c, (i + 1) * c)) for i in range(self.frames)]
        return [(rows, i) for i in range(self.frames)]

    def start(self, observations: np.ndarray, mask: np.ndarray | None = None) -> None:
        """Fills the stacks of the consoles in `mask` (all when None) with their current
        observation: the first of an episode."""
        rows = slice(None) if mask is None else np.flatnonzero(mask)
        first = observations[rows]
        for slot in self._slots(rows):
            self.stack[slot] = first

    def push(self, observations: np.ndarray, started: np.ndarray | None = None) -> None:
        """Adds every console's new observation; consoles in `started` began an episode
        with it, and their stacks are filled with it instead."""
        if self.channel_axis:
            c = self.frame_shape[-1]
            self.stack[..., :-c] = self.stack[..., c:]
            self.stack[..., -c:] = observations
        else:
            self.stack[:, :-1] = self.stack[:, 1:]
            self.stack[:, -1] = observations
        if started is not None and started.any():
            self.start(observations, started)
