"""NESVectorEnv: num_envs consoles stepped together by the native batch stepper.

One step of the vector environment is one call into the batch stepper, which runs every
console on native threads without the interpreter lock. Episodes restart the Gymnasium
1.x way (AutoresetMode.NEXT_STEP): the step after an episode ends resets that console
instead of stepping it, ignores its action, and returns its first observation with
reward 0 and terminated and truncated False.
"""
from __future__ import annotations

import os
from collections.abc import Sequence
from typing import Any, Callable

import numpy as np
try:
    from gymnasium.error import ClosedEnvironmentError, ResetNeeded
except ModuleNotFoundError as error:
    raise ModuleNotFoundError('NESVectorEnv needs Gymnasium: pip install ".[gym]" in the vandrel '
                              'checkout (or pip install gymnasium)',
                              name=error.name) from error
from gymnasium.vector import AutoresetMode, VectorEnv
from gymnasium.vector.utils import batch_space

from .cartridge import Cartridge
from .env import FRAME_RATE, Settings, _scalar, _seed, _whole
from .game_task import GameTask, lua_results
from .integration import Integration
from .snapshots import EnvSnapshot, checked

BatchRewardFn = Callable[[np.ndarray, np.ndarray], Any]
BatchTerminatedFn = Callable[[np.ndarray], Any]


def reset_mask(options: object, seed: object, num_envs: int, started: bool) -> np.ndarray | None:
    """The consoles a vector reset names: options["reset_mask"], a bool array of one
    flag per console, or None for all of them. A partial reset comes after a whole one
    (`started`) and takes no seed, since seeding reseeds every console."""
    if options is not None and not isinstance(options, dict):
        raise TypeError(f"options must be a dict or None, not {type(options).__name__}")
    mask = None if options is None else options.get("reset_mask")
    if mask is None:
        return None
    mask = np.asarray(mask)
    if mask.shape != (num_envs,) or mask.dtype != np.bool_:
        raise ValueError(f"options['reset_mask'] must be a bool array of shape "
                         f"({num_envs},), got {mask.dtype} {mask.shape}")
    if seed is not None:
        raise ValueError("seed cannot be combined with options['reset_mask']: "
                         "seeding reseeds every console")
    if not started:
        raise ResetNeeded("reset every console once before resetting some of them")
    return mask


class NESVectorEnv(VectorEnv):
    """num_envs NES consoles running one cartridge, as a Gymnasium vector environment.

    The options are NESEnv's, plus:
        num_envs: the number of consoles.
        threads: native threads that step them (0: one per core, at most num_envs).
        copy: return copies of the observations (True), or the batch stepper's own
            array (or frame stack), which the next step or reset overwrites (False).

    With game=, info holds every variable of the game as an array of one value per
    console (with its mask "_name"), and the scenario is evaluated for all consoles in
    the batch stepper; its Lua functions, where it has them, run per console.

    reward_fn and terminated_fn see the whole batch at once:
        reward_fn(ram, previous_ram) -> (num_envs,) rewards, from two (num_envs, 2048)
            read-only uint8 arrays: RAM after and before the step;
        terminated_fn(ram) -> (num_envs,) bools.
    Rows of consoles that were reset in this step are passed too (their previous row is
    the RAM the episode ended with); their results are ignored.
    """

    metadata = {"render_modes": ["rgb_array"], "render_fps": FRAME_RATE / 4,
                "autoreset_mode": AutoresetMode.NEXT_STEP}

    def __init__(self, rom: str | os.PathLike[str] | Cartridge, num_envs: int = 8, *, threads: int = 0,
                 obs_type: str = "rgb", frameskip: int = 4,
                 repeat_action_probability: float = 0.25,
                 max_episode_frames: int | None = 108_000,
                 actions: Sequence[int | str | Sequence[str]] | str | None = None,
                 reward_fn: BatchRewardFn | None = None,
                 terminated_fn: BatchTerminatedFn | None = None,
                 noop_max: int = 30, start_frames: int = 0,
                 render_mode: str | None = None, copy: bool = True,
                 grayscale_channel: bool = False, frame_stack: int = 1,
                 accuracy: str = "hardware",
                 game: str | os.PathLike[str] | Integration | None = None,
                 state: str | None = None, scenario: str | None = None,
                 check_rom: bool = True) -> None:
        self.num_envs = _whole("num_envs", num_envs, 1)
        threads = _whole("threads", threads, 0)
        if not isinstance(copy, (bool, np.bool_)):
            raise TypeError(f"copy must be a bool, not {type(copy).__name__}")
        self._settings = Settings.check(
            rom, obs_type=obs_type, frameskip=frameskip,
            repeat_action_probability=repeat_action_probability,
            max_episode_frames=max_episode_frames, actions=actions, reward_fn=reward_fn,
            terminated_fn=terminated_fn, noop_max=noop_max, start_frames=start_frames,
            render_mode=render_mode, render_modes=self.metadata["render_modes"],
            grayscale_channel=grayscale_channel, frame_stack=frame_stack, accuracy=accuracy,
            game=game, state=state, scenario=scenario, check_rom=check_rom)
        self.metadata = self._settings.metadata(type(self).metadata)
        self.render_mode = render_mode
        self.copy = bool(copy)
        self.single_observation_space = self._settings.observation_space()
        self.single_action_space = self._settings.action_space()
        self.observation_space = batch_space(self.single_observation_space, self.num_envs)
        self.action_space = batch_space(self.single_action_space, self.num_envs)
        self._batch = self._settings.batch(self.num_envs, threads=threads)
        game = self._settings.game
        self._lua = None if game is None else game.lua(self.num_envs)
        self._stack = self._settings.frame_stack_for(self.num_envs)
        self._frames = self._settings.frames_of(self._batch.observations)
        self._autoreset = np.zeros(self.num_envs, dtype=bool)
        self._previous_ram: np.ndarray | None = None
        self._all_true = np.ones(self.num_envs, dtype=bool)

    @property
    def accuracy(self) -> str:
        """The consoles' mode, "hardware" or "fast"."""
        return self._settings.accuracy

    def get_action_meanings(self) -> list[str]:
        """Names of the actions ("noop", "right+a", ...), or of the buttons for MultiBinary."""
        return self._settings.action_meanings()

    def reset(self, *, seed: int | Sequence[int] | None = None,
              options: dict[str, Any] | None = None) -> tuple[np.ndarray, dict[str, Any]]:
        """Resets every console, or with options={"reset_mask": bool array} only the
        marked ones. seed: an int (console i gets seed + i) or one int per console."""
        self._check_open()
        mask = reset_mask(options, seed, self.num_envs, self._previous_ram is not None)
        seeds = self._seeds(seed)
        if seed is not None:
            first = seeds if isinstance(seeds, int) else seeds[0]
            super().reset(seed=first)
            self._batch.seed(seeds)
        if self._lua is not None:
            for i in range(self.num_envs) if mask is None else np.flatnonzero(mask):
                self._lua.restart(int(i))
        if mask is None:
            self._batch.reset()
            self._autoreset[:] = False
            self._previous_ram = self._ram()
        else:
            self._batch.reset(np.flatnonzero(mask))
            self._autoreset[mask] = False
            ram = self._ram()
            if self._previous_ram is not None:
                ram = np.where(mask[:, None], ram, self._previous_ram)
                ram.flags.writeable = False
            self._previous_ram = ram
        if self._stack is not None:
            self._stack.start(self._frames, mask)
        return self._observations(), self._info()

    def _seeds(self, seed: object) -> int | list[int] | None:
        if seed is None:
            return None
        if isinstance(seed, (list, tuple, np.ndarray)):
            if len(seed) != self.num_envs:
                raise ValueError(f"a list of seeds needs one per console ({self.num_envs}), "
                                 f"got {len(seed)}")
            return [_seed(s) for s in seed]
        return _seed(seed, self.num_envs)

    def step(self, actions: Any) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray,
                                          dict[str, Any]]:
        self._check_open()
        if self._previous_ram is None:
            raise ResetNeeded("call reset() before step()")
        masks = self._settings.masks_of(actions, self.num_envs)
        resetting = self._autoreset.copy() if self._autoreset.any() else None
        if resetting is not None and self._lua is not None:
            for i in np.flatnonzero(resetting):
                self._lua.restart(int(i))
        self._batch.step(masks, reset=resetting)
        ram = self._ram()
        settings = self._settings
        n = self.num_envs
        if settings.game is not None:
            rewards, terminated = self._game_outcome(resetting)
        else:
            rewards, terminated = np.zeros(n), np.zeros(n, dtype=bool)
        if settings.reward_fn is not None:
            rewards += self._column("reward_fn", settings.reward_fn(ram, self._previous_ram),
                                    "biuf").astype(np.float64)
        if settings.terminated_fn is not None:
            terminated |= self._column("terminated_fn", settings.terminated_fn(ram),
                                       "biuf").astype(bool)
        frames = self._batch.frames
        if settings.max_episode_frames is not None:
            truncated = frames >= settings.max_episode_frames
        else:
            truncated = np.zeros(n, dtype=bool)
        if resetting is not None:
            rewards[resetting] = 0.0
            terminated[resetting] = False
            truncated[resetting] = False
        self._previous_ram = ram
        self._autoreset = terminated | truncated
        if self._stack is not None:
            self._stack.push(self._frames, resetting)
        return self._observations(), rewards, terminated, truncated, self._info()

    def get_snapshot(self, index: int) -> EnvSnapshot:
        """Console `index`'s state for search (see NESEnv.get_snapshot)."""
        self._check_open()
        console = self._batch.snapshot(index)
        stack = None if self._stack is None else self._stack.stack[index].copy()
        return EnvSnapshot(console=console, frame=int(self._batch.frames[index]), stack=stack,
                           ended=bool(self._autoreset[index]))

    def set_snapshot(self, index: int, snapshot: EnvSnapshot) -> None:
        """Returns console `index` to a state get_snapshot took, of this console or
        another; the others are untouched. ValueError and no change for anything else."""
        self._check_open()
        stack_shape = None if self._stack is None else self._stack.stack.shape[1:]
        snapshot = checked(snapshot, stack_shape)
        self._batch.restore(index, snapshot.console, frame=snapshot.frame)
        if self._stack is not None:
            self._stack.stack[index] = snapshot.stack
        self._autoreset[index] = snapshot.ended
        self._previous_ram = self._ram()

    def clone(self, source: int, targets: Sequence[int]) -> None:
        """Copies console `source`'s whole state onto each console in `targets`, natively
        (Batch.clone): a search branches many consoles from one state in one call."""
        self._check_open()
        self._batch.clone(source, targets)
        rows = np.asarray(targets, dtype=np.intp)
        if self._stack is not None:
            self._stack.stack[rows] = self._stack.stack[source]
        self._autoreset[rows] = self._autoreset[source]
        self._previous_ram = self._ram()

    def _column(self, name: str, value: Any, kinds: str) -> np.ndarray:
        array = np.asarray(value)
        if array.shape != (self.num_envs,):
            if array.shape == ():
                _scalar(name, value, kinds)     # a plain number: kind errors first
            raise ValueError(f"{name} must return one value per console, shape "
                             f"({self.num_envs},), got shape {array.shape}")
        if array.dtype.kind not in kinds:
            raise TypeError(f"{name} must return numbers, got {array.dtype}")
        return array

    def _ram(self) -> np.ndarray:
        ram = self._batch.ram.copy()
        ram.flags.writeable = False
        return ram

    def _observations(self) -> np.ndarray:
        if self._stack is not None:
            observations = self._stack.stack
        else:
            observations = self._frames
        return observations.copy() if self.copy else observations

    def _info(self) -> dict[str, Any]:
        info: dict[str, Any] = {}
        game = self._settings.game
        if game is not None:
            for name, column in game.batch_values(self._batch.values, self._batch.ram).items():
                info[name] = column
                info[f"_{name}"] = self._all_true.copy()
        info["frame"] = self._batch.frames.copy()
        info["_frame"] = self._all_true.copy()
        return info

    def _game_outcome(self, resetting: np.ndarray | None) -> tuple[np.ndarray, np.ndarray]:
        """The scenario's rewards and ends of episode for the step just run: the batch
        stepper's, plus the scenario's Lua functions where it has them (not called for
        consoles that were reset instead of stepped)."""
        rewards = self._batch.rewards.copy()
        terminated = self._batch.done.copy()
        if self._lua is not None:
            game = self._settings.game
            scenario = game.scenario
            values = [game.values(row, ram)
                      for row, ram in zip(self._batch.values, self._batch.ram)]
            rewards += lua_results(self._lua, scenario.reward_script, values, resetting)
            terminated |= lua_results(self._lua, scenario.done_script, values,
                                      resetting).astype(bool)
        return rewards, terminated

    @property
    def game(self) -> GameTask | None:
        """The game folder these consoles play as a task (game=), or None."""
        return self._settings.game

    def render(self) -> tuple[np.ndarray, ...] | None:
        """"rgb_array": each console's last picture, (240, 256, 3) uint8."""
        self._check_open()
        if self.render_mode == "rgb_array":
            return tuple(self._batch.picture(i) for i in range(self.num_envs))
        return None

    def close_extras(self, **kwargs: Any) -> None:
        """Releases the consoles: the batch stepper goes with its threads (an array
        returned with copy=False keeps the stepper's memory until it goes itself)."""
        self._batch = None
        self._frames = None
        self._previous_ram = None

    def _check_open(self) -> None:
        if self._batch is None:
            raise ClosedEnvironmentError("this NESVectorEnv is closed: its consoles are "
                                         "released; make a new one")


def make_game_vector_env(num_envs: int = 8, *, game: Any = None, rom: Any = None,
                         **options: Any) -> NESVectorEnv:
    """The vector entry point of "vandrel/Game-v0": an NESVectorEnv playing `game`."""
    _require_game(game, rom)
    return NESVectorEnv(rom, num_envs, game=game, **options)


def _require_game(game: Any, rom: Any) -> None:
    if game is None:
        raise TypeError('vandrel/Game-v0 needs game="Name-Nes" (a game on the integration '
                        'path, a game folder or an Integration)')
    if rom is None:
        raise TypeError("vandrel/Game-v0 needs rom= (the game's cartridge: a path or a "
                        "Cartridge); ROMs are not shipped with game folders")
