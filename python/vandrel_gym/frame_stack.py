"""The last k observations of each console, stacked: what NESEnv and NESVectorEnv return
with frame_stack=k.

Observations with a channel axis ("rgb", and "grayscale" with grayscale_channel=True)
stack along it, oldest first, as stable-baselines3's VecFrameStack does: (84, 84, k) for
grayscale. The others gain a leading axis, as Gymnasium's FrameStackObservation does:
(k, 84, 84) or (k, 2048). An episode's first observation fills the whole stack, both at
reset and at the autoreset step that starts the next episode.
"""
from __future__ import annotations

import numpy as np


class FrameStack:
    def __init__(self, count: int, frame_shape: tuple[int, ...], frames: int,
                 channel_axis: bool) -> None:
        shape = self.stacked_shape(frame_shape, frames, channel_axis)
        self.stack = np.zeros((count, *shape), dtype=np.uint8)
        # A view with the frames on axis 1: (count, k, *frame_shape). Stacked along the
        # channel axis, frame i is channels i * c to (i + 1) * c.
        self._frames = self.stack
        if channel_axis:
            split = self.stack.reshape(count, *frame_shape[:-1], frames, frame_shape[-1])
            self._frames = np.moveaxis(split, -2, 1)

    @staticmethod
    def stacked_shape(frame_shape: tuple[int, ...], frames: int,
                      channel_axis: bool) -> tuple[int, ...]:
        if channel_axis:
            return (*frame_shape[:-1], frame_shape[-1] * frames)
        return (frames, *frame_shape)

    def start(self, observations: np.ndarray, mask: np.ndarray | None = None) -> None:
        """Fills the stacks of the consoles in `mask` (all when None) with their current
        observation: the first of an episode."""
        rows = slice(None) if mask is None else np.flatnonzero(mask)
        self._frames[rows] = observations[rows][:, None]

    def push(self, observations: np.ndarray, started: np.ndarray | None = None) -> None:
        """Adds every console's new observation; consoles in `started` began an episode
        with it, and their stacks are filled with it instead."""
        self._frames[:, :-1] = self._frames[:, 1:]
        self._frames[:, -1] = observations
        if started is not None and started.any():
            self.start(observations, started)
