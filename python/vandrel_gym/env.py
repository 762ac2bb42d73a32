"""NESEnv: one console as a Gymnasium environment.

The console runs in the native batch stepper (a batch of one), which holds each action
for `frameskip` frames, max-pools the last two pictures, applies sticky actions and
plays random no-op frames at reset, all from the console's own seeded random numbers.
Rewards and episode ends come from Python callables that read the console's RAM.
"""
from __future__ import annotations

import operator
import os
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import Any, SupportsFloat

try:
    import gymnasium as gym
except ModuleNotFoundError as error:
    raise ModuleNotFoundError('NESEnv needs Gymnasium: pip install ".[gym]" in the vandrel '
                              'checkout (or pip install gymnasium)',
                              name=error.name) from error
import numpy as np
from gymnasium import spaces
from gymnasium.error import ClosedEnvironmentError, DependencyNotInstalled, ResetNeeded

from . import actions as _actions
from .cartridge import Cartridge
from .frame_stack import FrameStack
from .game_task import GameTask, lua_results
from .integration import Integration
from .snapshots import EnvSnapshot, checked

RAM_SIZE = 2048
FRAME_RATE = 60
"""Console frames per second (NTSC, rounded)."""

OBSERVATION_SHAPES: dict[str, tuple[int, ...]] = {
    "rgb": (240, 256, 3),
    "grayscale": (84, 84),
    "ram": (RAM_SIZE,),
}
# What the batch stepper calls each observation type.
_BATCH_OBSERVATIONS = {"rgb": "rgb", "grayscale": "gray84", "ram": "ram"}
_BIT_WEIGHTS = np.array([1 << bit for bit in range(8)], dtype=np.uint16)
_FILTERED = ("a", "b", "up", "down", "left", "right")
_MAX_SEED = 2**63
_MAX_NOOPS = 100_000    # the batch stepper's bound (NES::MAX_NOOPS)
_MAX_FRAME_STACK = 64
ACCURACIES = ("fast", "hardware")
"""The consoles' modes: "hardware" follows the console cycle by cycle, "fast" steps whole
instructions and lets the picture and sound catch up (quicker)."""

RewardFn = Callable[[np.ndarray, np.ndarray], SupportsFloat]
TerminatedFn = Callable[[np.ndarray], bool]


def _whole(name: str, value: object, minimum: int) -> int:
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an integer, not a bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if number < minimum:
        raise ValueError(f"{name} must be at least {minimum}, got {number}")
    return number


def _seed(seed: object, count: int = 1) -> int:
    """A seed for the batch stepper (console i gets seed + i)."""
    number = _whole("seed", seed, 0)
    if number + count > _MAX_SEED:
        raise ValueError(f"seed must be below 2**63 - {count}, got {number}")
    return number


def _accuracy(value: object) -> str:
    if not isinstance(value, str) or value not in ACCURACIES:
        raise ValueError(f"accuracy must be 'fast' or 'hardware', got {value!r}")
    return str(value)


@dataclass(frozen=True)
class Settings:
    """The options NESEnv and NESVectorEnv share, checked."""

    rom: str | Cartridge
    obs_type: str
    frameskip: int
    repeat_action_probability: float
    max_episode_frames: int | None
    action_masks: np.ndarray | None   # None: MultiBinary(8)
    reward_fn: Callable[..., Any] | None
    terminated_fn: Callable[..., Any] | None
    noop_max: int
    start_frames: int
    render_mode: str | None
    grayscale_channel: bool = False
    frame_stack: int = 1
    accuracy: str = "hardware"
    game: GameTask | None = None
    action_dims: tuple[np.ndarray, ...] | None = None  # MultiDiscrete: masks per dimension
    button_filter: int = 0xFF       # MultiBinary: the buttons that reach the console
    crop: tuple[int, int, int, int] | None = None

    @classmethod
    def check(cls, rom, *, obs_type, frameskip, repeat_action_probability,
              max_episode_frames, actions, reward_fn, terminated_fn, noop_max,
              start_frames, render_mode, render_modes, grayscale_channel=False,
              frame_stack=1, accuracy="hardware", game=None, state=None, scenario=None,
              check_rom=True) -> Settings:
        if not isinstance(rom, Cartridge):
            if not isinstance(rom, (str, os.PathLike)):
                raise TypeError("rom must be a path (str or os.PathLike) or a Cartridge, not "
                                f"{type(rom).__name__}")
            rom = os.fspath(rom)
            if not isinstance(rom, str):
                raise TypeError("rom must be a str path, not bytes")
        if obs_type not in OBSERVATION_SHAPES:
            raise ValueError(f"obs_type must be one of {', '.join(map(repr, OBSERVATION_SHAPES))}, "
                             f"got {obs_type!r}")
        frameskip = _whole("frameskip", frameskip, 1)
        if isinstance(repeat_action_probability, (bool, np.bool_)) or not isinstance(
                repeat_action_probability, (int, float, np.integer, np.floating)):
            raise TypeError("repeat_action_probability must be a number, not "
                            f"{type(repeat_action_probability).__name__}")
        probability = float(repeat_action_probability)
        if not 0.0 <= probability <= 1.0:      # also refuses NaN
            raise ValueError(f"repeat_action_probability must be in [0, 1], got {probability}")
        if max_episode_frames is not None:
            max_episode_frames = _whole("max_episode_frames", max_episode_frames, 1)
        if isinstance(actions, str):
            if actions != "multibinary":
                raise ValueError('actions must be None, "multibinary" or a list of button '
                                 f'masks or button-name tuples, got {actions!r}')
            masks = None
        else:
            masks = _actions.action_masks(actions)
        for name, fn in (("reward_fn", reward_fn), ("terminated_fn", terminated_fn)):
            if fn is not None and not callable(fn):
                raise TypeError(f"{name} must be callable or None, not {type(fn).__name__}")
        noop_max = _whole("noop_max", noop_max, 0)
        if noop_max > _MAX_NOOPS:
            raise ValueError(f"noop_max must be 0-{_MAX_NOOPS}, got {noop_max}")
        start_frames = _whole("start_frames", start_frames, 0)
        if render_mode is not None and render_mode not in render_modes:
            raise ValueError(f"render_mode must be None or one of "
                             f"{', '.join(map(repr, render_modes))}, got {render_mode!r}")
        if not isinstance(grayscale_channel, (bool, np.bool_)):
            raise TypeError(f"grayscale_channel must be a bool, not "
                            f"{type(grayscale_channel).__name__}")
        if grayscale_channel and obs_type != "grayscale":
            raise ValueError('grayscale_channel=True needs obs_type="grayscale"')
        frame_stack = _whole("frame_stack", frame_stack, 1)
        if frame_stack > _MAX_FRAME_STACK:
            raise ValueError(f"frame_stack must be 1-{_MAX_FRAME_STACK}, got {frame_stack}")
        accuracy = _accuracy(accuracy)
        task = dims = crop = None
        button_filter = 0xFF
        if game is not None:
            task, rom = GameTask.prepare(game, rom, state=state, scenario=scenario,
                                         check_rom=check_rom, accuracy=accuracy)
            if task.scenario is not None:
                crop = task.scenario.crop
            if actions is None:     # the scenario's own action set
                masks = None
                if task.scenario is not None and task.scenario.actions is not None:
                    dims = tuple(np.array(d, dtype=np.uint8) for d in task.scenario.actions)
                else:
                    button_filter = (task.scenario.buttons if task.scenario is not None
                                     else _actions.button_mask(*_FILTERED))
        elif (state, scenario, check_rom) != (None, None, True):
            raise ValueError("state, scenario and check_rom belong to a game: pass game= too")
        return cls(rom, obs_type, frameskip, probability, max_episode_frames, masks,
                   reward_fn, terminated_fn, noop_max, start_frames, render_mode,
                   bool(grayscale_channel), frame_stack, accuracy, task, dims, button_filter,
                   crop)

    def batch(self, count: int, threads: int):
        from ._batch import Batch
        options = dict(threads=threads, frame_skip=self.frameskip, max_pool=True,
                       observation=_BATCH_OBSERVATIONS[self.obs_type],
                       start_frames=self.start_frames, noop_max=self.noop_max,
                       repeat_action_probability=self.repeat_action_probability,
                       accuracy=self.accuracy)
        if self.game is not None:
            options.update(start_state=self.game.start_state, scenario=self.game.table)
        if isinstance(self.rom, Cartridge):
            return Batch.from_image(self.rom.image, count, name=self.rom.name, **options)
        return Batch(self.rom, count, **options)

    def metadata(self, base: dict[str, Any]) -> dict[str, Any]:
        """An environment's metadata: `base` (its class's) with this frame rate and mode."""
        return {**base, "render_fps": FRAME_RATE / self.frameskip, "accuracy": self.accuracy}

    def frame_shape(self) -> tuple[int, ...]:
        """The shape of one step's observation, before stacking."""
        shape = OBSERVATION_SHAPES[self.obs_type]
        window = self._crop_window()
        if window is not None:
            shape = (window[0].stop - window[0].start, window[1].stop - window[1].start,
                     *shape[2:])
        return (*shape, 1) if self.grayscale_channel else shape

    def _crop_window(self) -> tuple[slice, slice] | None:
        """The rows and columns of a picture the crop keeps. An 84x84 picture is cut by
        the crop's margins scaled to it."""
        if self.crop is None or self.obs_type == "ram":
            return None
        left, top, right, bottom = self.crop
        height, width = OBSERVATION_SHAPES[self.obs_type][:2]
        if self.obs_type == "grayscale":
            left, right = round(left * width / 256), round(right * width / 256)
            top, bottom = round(top * height / 240), round(bottom * height / 240)
            right, bottom = min(right, width - 1 - left), min(bottom, height - 1 - top)
        return slice(top, height - bottom), slice(left, width - right)

    def has_channel_axis(self) -> bool:
        return self.obs_type == "rgb" or self.grayscale_channel

    def observation_space(self) -> spaces.Box:
        shape = self.frame_shape()
        if self.frame_stack > 1:
            shape = FrameStack.stacked_shape(shape, self.frame_stack, self.has_channel_axis())
        return spaces.Box(0, 255, shape, dtype=np.uint8)

    def frame_stack_for(self, count: int) -> FrameStack | None:
        """The stacks of `count` consoles, or None when each observation stands alone."""
        if self.frame_stack == 1:
            return None
        return FrameStack(count, self.frame_shape(), self.frame_stack, self.has_channel_axis())

    def frames_of(self, observations: np.ndarray) -> np.ndarray:
        """The batch stepper's observations (count, ...) in this frame shape: the array
        itself, or a view of it cropped or with a channel axis."""
        window = self._crop_window()
        if window is not None:
            observations = observations[:, window[0], window[1]]
        if not self.grayscale_channel:
            return observations
        return observations[..., None]

    def action_space(self) -> spaces.Space:
        if self.action_dims is not None:
            return spaces.MultiDiscrete([len(d) for d in self.action_dims])
        if self.action_masks is None:
            return spaces.MultiBinary(8)
        return spaces.Discrete(len(self.action_masks))

    def masks_of(self, actions: object, count: int) -> np.ndarray:
        """The button masks (uint8, shape (count,)) of `count` actions: indices into
        the action set, or rows of eight 0/1 buttons for MultiBinary."""
        array = np.asarray(actions)
        if self.action_dims is not None:
            return self._multi_discrete_masks(array, count)
        if self.action_masks is None:
            if array.shape != (count, 8):
                raise ValueError(f"expected {count} MultiBinary action(s) of 8 buttons, got "
                                 f"an array of shape {array.shape}")
            if array.dtype.kind not in "biu" or not np.isin(array, (0, 1)).all():
                raise ValueError("MultiBinary actions hold eight 0/1 values (A, B, Select, "
                                 "Start, Up, Down, Left, Right)")
            return ((array.astype(np.uint16) @ _BIT_WEIGHTS) & self.button_filter).astype(np.uint8)
        if array.shape != (count,):
            raise ValueError(f"expected {count} action(s), got an array of shape {array.shape}")
        if array.dtype.kind not in "iu":
            raise TypeError(f"actions are integer indices into the action set, not {array.dtype}")
        n = len(self.action_masks)
        if count and (array.min() < 0 or array.max() >= n):
            raise ValueError(f"actions are indices 0-{n - 1} into the action set, got "
                             f"{array[(array < 0) | (array >= n)][0]}")
        return self.action_masks[array]

    def _multi_discrete_masks(self, array: np.ndarray, count: int) -> np.ndarray:
        dims = self.action_dims
        if array.shape != (count, len(dims)):
            raise ValueError(f"expected {count} MultiDiscrete action(s) of {len(dims)} "
                             f"choices, got an array of shape {array.shape}")
        if array.dtype.kind not in "iu":
            raise TypeError(f"MultiDiscrete actions are integer indices, not {array.dtype}")
        masks = np.zeros(count, dtype=np.uint8)
        for d, choices in enumerate(dims):
            column = array[:, d]
            if count and (column.min() < 0 or column.max() >= len(choices)):
                raise ValueError(f"action dimension {d} takes 0-{len(choices) - 1}, got "
                                 f"{column[(column < 0) | (column >= len(choices))][0]}")
            masks |= choices[column]
        return masks

    def action_meanings(self) -> list[str]:
        if self.action_dims is not None:
            return [" | ".join(_actions.action_name(int(m)) for m in d) for d in self.action_dims]
        if self.action_masks is None:
            return list(_actions.BUTTONS)
        return [_actions.action_name(int(mask)) for mask in self.action_masks]


def _scalar(name: str, value: object, kinds: str) -> np.ndarray:
    array = np.asarray(value)
    if array.shape != ():
        raise ValueError(f"{name} must return one value, got shape {array.shape}")
    if array.dtype.kind not in kinds:
        raise TypeError(f"{name} must return a number, got {type(value).__name__}")
    return array


class NESEnv(gym.Env[np.ndarray, Any]):
    """One NES console running a cartridge, as a Gymnasium environment.

    Args:
        rom: path of the iNES cartridge, or a Cartridge (its contents in memory).
        obs_type: "rgb" (240, 256, 3) pictures, "grayscale" (84, 84) pictures
            (luma, area-averaged), or "ram": the 2048 bytes of CPU RAM.
        frameskip: frames each action is held for; the observation is the pixelwise
            maximum of the last two of them.
        repeat_action_probability: chance, every frame, that the console keeps the
            previous action instead of the new one (sticky actions).
        max_episode_frames: truncate the episode after this many emulated frames
            (None: never). 108000 frames is 30 minutes.
        actions: None for DEFAULT_ACTIONS, a list of button masks, button-name tuples
            or "right+a" strings for a Discrete over them, or "multibinary" for
            MultiBinary(8) (one 0/1 per button, bit order A B Select Start Up Down
            Left Right).
        reward_fn: reward_fn(ram, previous_ram) -> float, the two RAM snapshots
            (read-only uint8 arrays of 2048 bytes) after and before the step.
            None: every reward is 0.
        terminated_fn: terminated_fn(ram) -> bool, True when the episode is over.
            None: never.
        noop_max: each reset plays 0..noop_max no-op frames, drawn from the seed.
        start_frames: no-op frames played once after power-on to make the start state.
        render_mode: None, "rgb_array" or "human" (a pygame window; the tools extra).
        grayscale_channel: give "grayscale" observations a channel axis, (84, 84, 1),
            the shape CNN policies such as stable-baselines3's CnnPolicy expect.
        frame_stack: return the last frame_stack observations stacked: along the
            channel axis for "rgb" and channelled grayscale ((84, 84, k)), along a new
            leading axis otherwise ((k, 84, 84), (k, 2048)), oldest first. A reset
            fills the stack with the episode's first observation.
        accuracy: "hardware" (the default: the console cycle by cycle, the game as
            the console shows it) or "fast" (whole instructions, quicker). Read it
            back as metadata["accuracy"] or `accuracy` (through gymnasium.make's
            wrappers: env.unwrapped.accuracy).
        game: a game folder to play as a task (a name on the integration path, a
            folder or an Integration; "vandrel/Game-v0" requires it): its scenario
            gives the reward and the end of the episode (evaluated natively, added to
            reward_fn's and or-ed with terminated_fn's), the action set (its
            MultiDiscrete actions, else MultiBinary(8) with Start and Select filtered;
            `actions` overrides both) and the crop; its start state replaces power-on,
            and info carries every variable. The ROM must be one in its rom.sha
            (ValueError naming both hashes) unless check_rom=False.
        state, scenario: the folder's start state and scenario file by name (None:
            its defaults).
    """

    # A step shows one picture every `frameskip` frames: render_fps is set per
    # instance to FRAME_RATE / frameskip (here for the default frameskip of 4).
    metadata = {"render_modes": ["rgb_array", "human"], "render_fps": FRAME_RATE / 4}

    def __init__(self, rom: str | os.PathLike[str] | Cartridge, *, obs_type: str = "rgb",
                 frameskip: int = 4, repeat_action_probability: float = 0.25,
                 max_episode_frames: int | None = 108_000,
                 actions: Sequence[int | str | Sequence[str]] | str | None = None,
                 reward_fn: RewardFn | None = None, terminated_fn: TerminatedFn | None = None,
                 noop_max: int = 30, start_frames: int = 0,
                 render_mode: str | None = None, grayscale_channel: bool = False,
                 frame_stack: int = 1, accuracy: str = "hardware",
                 game: str | os.PathLike[str] | Integration | None = None,
                 state: str | None = None, scenario: str | None = None,
                 check_rom: bool = True) -> None:
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
        self.observation_space = self._settings.observation_space()
        self.action_space = self._settings.action_space()
        self._batch = self._settings.batch(1, threads=1)
        self._stack = self._settings.frame_stack_for(1)
        game = self._settings.game
        self._lua = None if game is None else game.lua(1)
        self._actions = np.zeros(1, dtype=np.uint8)
        self._previous_ram: np.ndarray | None = None
        self._window = None
        self._clock = None

    @property
    def accuracy(self) -> str:
        """The consoles' mode, "hardware" or "fast"."""
        return self._settings.accuracy

    @property
    def action_masks(self) -> np.ndarray | None:
        """The button mask of each Discrete action (None for MultiBinary)."""
        masks = self._settings.action_masks
        return None if masks is None else masks.copy()

    def get_action_meanings(self) -> list[str]:
        """Names of the actions ("noop", "right+a", ...), or of the buttons for MultiBinary."""
        return self._settings.action_meanings()

    def reset(self, *, seed: int | None = None,
              options: dict[str, Any] | None = None) -> tuple[np.ndarray, dict[str, Any]]:
        if options is not None and not isinstance(options, dict):
            raise TypeError(f"options must be a dict or None, not {type(options).__name__}")
        self._check_open()
        if seed is not None:
            seed = _seed(seed)
        super().reset(seed=seed)
        if seed is not None:
            self._batch.seed(seed)
        self._batch.reset()
        if self._lua is not None:
            self._lua.restart(0)
        self._previous_ram = self._ram()
        if self._stack is not None:
            self._stack.start(self._settings.frames_of(self._batch.observations))
        if self.render_mode == "human":
            self._show()
        return self._observation(), self._info()

    def step(self, action: Any) -> tuple[np.ndarray, float, bool, bool, dict[str, Any]]:
        self._check_open()
        if self._previous_ram is None:
            raise ResetNeeded("call reset() before step()")
        settings = self._settings
        if settings.action_dims is not None:
            self._actions[:] = settings.masks_of(np.asarray(action)[None], 1)
        elif settings.action_masks is None:
            action = np.asarray(action)
            if action.shape != (8,):
                raise ValueError("a MultiBinary action is eight 0/1 values (A, B, Select, "
                                 f"Start, Up, Down, Left, Right), got shape {action.shape}")
            self._actions[:] = settings.masks_of(action[None], 1)
        else:
            self._actions[0] = self._discrete_mask(action)
        self._batch.step(self._actions)
        ram = self._ram()
        info = self._info()
        reward = 0.0
        terminated = False
        if settings.game is not None:
            reward, terminated = self._game_outcome()
        if settings.reward_fn is not None:
            reward += float(_scalar("reward_fn", settings.reward_fn(ram, self._previous_ram),
                                    "biuf"))
        if settings.terminated_fn is not None:
            terminated = bool(_scalar("terminated_fn", settings.terminated_fn(ram), "biuf")) \
                or terminated
        self._previous_ram = ram
        truncated = (settings.max_episode_frames is not None
                     and int(self._batch.frames[0]) >= settings.max_episode_frames)
        if self._stack is not None:
            self._stack.push(self._settings.frames_of(self._batch.observations))
        if self.render_mode == "human":
            self._show()
        return self._observation(), reward, terminated, truncated, info

    def get_snapshot(self) -> EnvSnapshot:
        """The environment's state for search: set_snapshot returns to it, and the steps
        after that go exactly as they went from here."""
        self._check_open()
        stack = None if self._stack is None else self._stack.stack[0].copy()
        return EnvSnapshot(console=self._batch.snapshot(0), frame=int(self._batch.frames[0]),
                           stack=stack)

    def set_snapshot(self, snapshot: EnvSnapshot) -> None:
        """Returns to a state get_snapshot took (of this cartridge and mode); ValueError
        and no change for anything else."""
        self._check_open()
        stack_shape = None if self._stack is None else self._stack.stack.shape[1:]
        snapshot = checked(snapshot, stack_shape)
        self._batch.restore(0, snapshot.console, frame=snapshot.frame)
        if self._stack is not None:
            self._stack.stack[0] = snapshot.stack
        self._previous_ram = self._ram()

    def _observation(self) -> np.ndarray:
        if self._stack is not None:
            return self._stack.stack[0].copy()
        return self._settings.frames_of(self._batch.observations)[0].copy()

    def _discrete_mask(self, action: Any) -> int:
        if isinstance(action, (bool, np.bool_)):
            raise TypeError("a Discrete action is an integer index, not a bool")
        try:
            index = operator.index(action)
        except TypeError:
            raise TypeError("a Discrete action is an integer index into the action set, "
                            f"not {type(action).__name__}") from None
        masks = self._settings.action_masks
        if not 0 <= index < len(masks):
            raise ValueError(f"action {index} is outside the action set (0-{len(masks) - 1})")
        return int(masks[index])

    def _ram(self) -> np.ndarray:
        ram = self._batch.ram[0].copy()
        ram.flags.writeable = False
        return ram

    def _info(self) -> dict[str, Any]:
        game = self._settings.game
        values = {} if game is None else game.values(self._batch.values[0], self._batch.ram[0])
        return {**values, "frame": int(self._batch.frames[0])}

    def _game_outcome(self) -> tuple[float, bool]:
        """The scenario's reward and end of episode for the step just run: the batch
        stepper's, plus the scenario's Lua functions where it has them."""
        reward = float(self._batch.rewards[0])
        terminated = bool(self._batch.done[0])
        if self._lua is not None:
            game = self._settings.game
            scenario = game.scenario
            values = game.values(self._batch.values[0], self._batch.ram[0])
            reward += lua_results(self._lua, scenario.reward_script, [values])[0]
            terminated = terminated or bool(lua_results(self._lua, scenario.done_script,
                                                        [values])[0])
        return reward, terminated

    @property
    def game(self) -> GameTask | None:
        """The game folder this environment plays as a task (game=), or None."""
        return self._settings.game

    def render(self) -> np.ndarray | None:
        """"rgb_array": the console's last picture, (240, 256, 3) uint8. "human": the
        picture is shown in the window at every step, so this only refreshes it."""
        self._check_open()
        if self.render_mode == "rgb_array":
            return self._batch.picture(0)
        if self.render_mode == "human":
            self._show()
        return None

    _SCALE = 3

    def _show(self) -> None:
        try:
            import pygame
        except ImportError as error:
            raise DependencyNotInstalled(
                'render_mode="human" needs pygame: pip install ".[tools]" in the '
                'vandrel checkout (or pip install pygame)') from error
        picture = self._batch.picture(0)
        if self._window is None:
            pygame.display.init()
            pygame.display.set_caption("vandrel")
            self._window = pygame.display.set_mode(
                (picture.shape[1] * self._SCALE, picture.shape[0] * self._SCALE))
            self._clock = pygame.time.Clock()
        for event in pygame.event.get():
            if event.type == pygame.QUIT:
                self._close_window()
                return
        surface = pygame.surfarray.make_surface(picture.swapaxes(0, 1))
        pygame.transform.scale(surface, self._window.get_size(), self._window)
        pygame.display.flip()
        self._clock.tick(self.metadata["render_fps"])

    def _close_window(self) -> None:
        if self._window is not None:
            import pygame
            pygame.display.quit()
            self._window = None
            self._clock = None

    def close(self) -> None:
        """Closes the window and releases the console; a closed environment refuses
        reset, step and render."""
        self._close_window()
        self._batch = None
        self._previous_ram = None
        super().close()

    def _check_open(self) -> None:
        if self._batch is None:
            raise ClosedEnvironmentError("this NESEnv is closed: its console is released; "
                                         "make a new one")


def make_game_env(*, game: Any = None, rom: Any = None, **options: Any) -> NESEnv:
    """The entry point of "vandrel/Game-v0": an NESEnv playing `game`."""
    from .vector_env import _require_game
    _require_game(game, rom)
    return NESEnv(rom, game=game, **options)
