"""Rollouts on a Ray cluster: K actors, each stepping N consoles in one batch stepper.

RayVectorEnv starts K Ray actors. Each builds an NESVectorEnv of N consoles from the
cartridge's bytes (sent once through Ray's object store, so the machines need no shared
file system) and steps it in its own process, on whichever machine Ray placed it. The
driver is itself a Gymnasium vector environment of K * N consoles:

    ray.init()                          # or ray.init(address="head-node:6379")
    env = RayVectorEnv("game.nes", num_actors=4, envs_per_actor=8, obs_type="ram")
    obs, info = env.reset(seed=1)
    obs, rewards, terminated, truncated, info = env.step(actions)    # one call, K actors
    rollout = env.rollout(64, policy)   # 64 steps per actor, the policy running there

Console i of the whole (actor i // N, row i % N there) behaves exactly as console i of
one NESVectorEnv(rom, K * N) given the same seed and actions: seeds are handed out the
same way (console i gets seed + i), and the emulation is deterministic.
"""
from __future__ import annotations

import inspect
import os
import time
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np
try:
    from gymnasium.error import ResetNeeded
except ModuleNotFoundError as error:
    raise ModuleNotFoundError('vandrel_gym.cluster needs Gymnasium: pip install ".[cluster]" '
                              'in the vandrel checkout',
                              name=error.name) from error
from gymnasium.vector import AutoresetMode, VectorEnv
from gymnasium.vector.utils import batch_space

from .cartridge import Cartridge
from .env import FRAME_RATE, Settings, _seed, _whole
from .vector_env import NESVectorEnv, reset_mask

try:
    import ray
    from ray.exceptions import RayActorError, RayTaskError
except ImportError as error:
    raise ImportError('vandrel_gym.cluster needs Ray: pip install ".[cluster]" in the vandrel '
                      'checkout (or pip install ray)') from error

Policy = Callable[[np.ndarray], Any]
"""policy(observations) -> actions, for the N consoles of one actor at a time."""


class RolloutActorError(RuntimeError):
    """A rollout actor died (its process was killed, or its machine was lost).

    actor: the actor's number (0 to num_actors - 1); consoles: the consoles it held.
    """

    def __init__(self, message: str, actor: int, consoles: range) -> None:
        super().__init__(message)
        self.actor = actor
        self.consoles = consoles


@dataclass
class Rollout:
    """T steps of B consoles (B = num_actors * envs_per_actor), console-major order as
    in RayVectorEnv.step.

    observations: (T, B, *obs) what each step's action was chosen from.
    actions: (T, B) (or (T, B, 8) for MultiBinary) what the policy chose.
    rewards: (T, B) float64; terminated, truncated: (T, B) bool, as step() returns them.
    autoreset: (T, B) bool: the step reset the console instead of stepping it (its
        episode had ended at the step before): its action was ignored, its reward is 0
        and its observation after the step is its episode's first.
    frames: (T, B) int64, the console's frame counter after the step.
    last_observations: (B, *obs) the observations after the last step, from which the
        next rollout or step() goes on.
    """

    observations: np.ndarray
    actions: np.ndarray
    rewards: np.ndarray
    terminated: np.ndarray
    truncated: np.ndarray
    autoreset: np.ndarray
    frames: np.ndarray
    last_observations: np.ndarray

    @property
    def steps(self) -> int:
        return self.rewards.shape[0]


class RolloutWorker:
    """What runs inside one rollout actor: an NESVectorEnv of the actor's consoles.

    Building the environment is a method rather than the constructor, so that a bad
    cartridge or option comes back to the driver as the error it is, with the actor
    still alive to be closed, instead of as an actor that died while being made.
    """

    def __init__(self) -> None:
        self.env: NESVectorEnv | None = None
        self.observations: np.ndarray | None = None
        self.autoreset: np.ndarray | None = None
        self.policy: Policy | None = None

    def start(self, cartridge: Cartridge, num_envs: int, threads: int,
              options: dict[str, Any]) -> tuple[int, str]:
        """Builds the consoles; returns the actor's process id and Ray node id."""
        # copy=False: a method's return value is serialised as it returns, before the
        # next call can overwrite the stepper's observation array.
        self.env = NESVectorEnv(cartridge, num_envs, threads=threads, copy=False, **options)
        self.autoreset = np.zeros(num_envs, dtype=bool)
        return os.getpid(), ray.get_runtime_context().get_node_id()

    def reset(self, seed: int | list[int] | None,
              reset_mask: np.ndarray | None) -> tuple[np.ndarray, np.ndarray]:
        options = None if reset_mask is None else {"reset_mask": reset_mask}
        self.observations, info = self.env.reset(seed=seed, options=options)
        if reset_mask is None:
            self.autoreset[:] = False
        else:
            self.autoreset[reset_mask] = False
        return self.observations, info["frame"]

    def step(self, actions: np.ndarray) -> tuple[tuple, float]:
        start = time.perf_counter()
        results = self._step(actions)
        return results, time.perf_counter() - start

    def _step(self, actions: Any) -> tuple:
        observations, rewards, terminated, truncated, info = self.env.step(actions)
        self.observations = observations
        self.autoreset = terminated | truncated
        return observations, rewards, terminated, truncated, info["frame"]

    def rollout(self, steps: int, policy: Policy | None) -> tuple[dict[str, np.ndarray], float]:
        start = time.perf_counter()
        if policy is not None:
            self.policy = policy
        if self.policy is None:
            raise ValueError("rollout needs a policy: none was given to this one or an "
                             "earlier one")
        if self.observations is None:
            raise ResetNeeded("call reset() before rollout()")
        n = self.env.num_envs
        record = {
            "observations": np.empty((steps, *self.observations.shape), dtype=np.uint8),
            "rewards": np.empty((steps, n)),
            "terminated": np.empty((steps, n), dtype=bool),
            "truncated": np.empty((steps, n), dtype=bool),
            "autoreset": np.empty((steps, n), dtype=bool),
            "frames": np.empty((steps, n), dtype=np.int64),
        }
        actions = []
        for t in range(steps):
            seen = record["observations"][t]
            seen[...] = self.observations
            seen.flags.writeable = False        # the policy reads what is recorded
            record["autoreset"][t] = self.autoreset
            chosen = np.asarray(self.policy(seen))
            actions.append(chosen)
            (_, record["rewards"][t], record["terminated"][t], record["truncated"][t],
             record["frames"][t]) = self._step(chosen)
        record["actions"] = np.stack(actions) if actions else np.empty((0, n), dtype=np.int64)
        record["last_observations"] = self.observations
        return record, time.perf_counter() - start

    def render(self) -> tuple[np.ndarray, ...] | None:
        return self.env.render()


_WORKER_OPTIONS = ("num_envs", "threads", "copy")


def _env_options(rom: str | os.PathLike[str] | Cartridge,
                 options: dict[str, Any]) -> tuple[Settings, dict[str, Any]]:
    """NESVectorEnv's options, checked here on the driver so that mistakes are reported
    once and at once, with NESVectorEnv's defaults for the ones not given."""
    for name in _WORKER_OPTIONS:
        if name in options:
            raise TypeError(f"RayVectorEnv sets {name} itself: use num_actors, envs_per_actor "
                            "and threads_per_actor")
    parameters = inspect.signature(NESVectorEnv).parameters
    unknown = sorted(set(options) - set(parameters))
    if unknown:
        raise TypeError(f"RayVectorEnv got unexpected option(s): {', '.join(unknown)}")
    full = {name: parameter.default for name, parameter in parameters.items()
            if name not in ("rom", *_WORKER_OPTIONS)}
    full.update(options)
    settings = Settings.check(rom, render_modes=RayVectorEnv.metadata["render_modes"], **full)
    return settings, full


class RayVectorEnv(VectorEnv):
    """K * N consoles in K Ray actors of N consoles each, as one Gymnasium vector
    environment (next-step autoreset, as NESVectorEnv).

    Args:
        rom: path of the cartridge (read here, on the driver) or a Cartridge.
        num_actors: K, the rollout actors.
        envs_per_actor: N, the consoles of each actor's batch stepper.
        threads_per_actor: native threads stepping each actor's consoles; it is also
            the CPUs the actor asks Ray for.
        actor_options: more Ray actor options (resources, scheduling_strategy, ...);
            the default spreads the actors over the cluster's machines.
        timeout: seconds to wait for the actors' answer to one call before raising
            TimeoutError, after which the environment must be reset (None: wait as long
            as they live; a dead actor is reported either way).
        start_timeout: seconds to wait for Ray to place and start the actors (None: as
            long as it takes, say while a cluster scales up); an actor that asks for
            more than any machine has free is otherwise never placed.
        **options: NESVectorEnv's options (obs_type, frameskip, reward_fn, ...); the
            callables are pickled to every actor.

    Errors raised in an actor (a bad action, a failing reward_fn or policy) are raised
    here as they were there; a dead actor raises RolloutActorError naming it. After a
    rollout that failed or a call that timed out, reset before stepping again.
    """

    metadata = {"render_modes": ["rgb_array"], "render_fps": FRAME_RATE / 4,
                "autoreset_mode": AutoresetMode.NEXT_STEP}

    def __init__(self, rom: str | os.PathLike[str] | Cartridge, num_actors: int = 2,
                 envs_per_actor: int = 8, *, threads_per_actor: int = 1,
                 actor_options: dict[str, Any] | None = None, timeout: float | None = None,
                 start_timeout: float | None = 60.0, **options: Any) -> None:
        self._actors: list[Any] = []
        self.num_actors = _whole("num_actors", num_actors, 1)
        self.envs_per_actor = _whole("envs_per_actor", envs_per_actor, 1)
        threads = _whole("threads_per_actor", threads_per_actor, 1)
        self.timeout = _checked_timeout("timeout", timeout)
        start_timeout = _checked_timeout("start_timeout", start_timeout)
        self.num_envs = self.num_actors * self.envs_per_actor
        self._settings, worker_options = _env_options(rom, options)
        cartridge = self._settings.rom
        if not isinstance(cartridge, Cartridge):
            cartridge = Cartridge.read(cartridge)    # read here: the actors get the bytes
        self.metadata = self._settings.metadata(type(self).metadata)
        self.render_mode = self._settings.render_mode
        self.single_observation_space = self._settings.observation_space()
        self.single_action_space = self._settings.action_space()
        self.observation_space = batch_space(self.single_observation_space, self.num_envs)
        self.action_space = batch_space(self.single_action_space, self.num_envs)
        self.last_call_seconds = 0.0
        self.last_actor_seconds = 0.0
        self._reset_done = False
        self._dead: RolloutActorError | None = None

        actor_options = {"num_cpus": threads, "scheduling_strategy": "SPREAD",
                         **(actor_options or {})}
        actor_class = ray.remote(RolloutWorker).options(**actor_options)
        self._actors = [actor_class.remote() for _ in range(self.num_actors)]
        image = ray.put(cartridge)
        try:
            started = self._gather(
                [actor.start.remote(image, self.envs_per_actor, threads, worker_options)
                 for actor in self._actors], "start", start_timeout,
                lambda: _room_for(actor_options))
        except BaseException:
            self._kill_actors()
            raise
        # Where each actor runs: its process id and the Ray node (machine) holding it.
        self.actor_pids: list[int] = [pid for pid, _ in started]
        self.actor_nodes: list[str] = [node for _, node in started]

    @property
    def accuracy(self) -> str:
        """The consoles' mode, "hardware" or "fast"."""
        return self._settings.accuracy

    def get_action_meanings(self) -> list[str]:
        """Names of the actions ("noop", "right+a", ...), or of the buttons for MultiBinary."""
        return self._settings.action_meanings()

    def consoles_of(self, actor: int) -> range:
        """The consoles (indices into the batch) that actor number `actor` holds."""
        first = actor * self.envs_per_actor
        return range(first, first + self.envs_per_actor)

    def reset(self, *, seed: int | Sequence[int] | None = None,
              options: dict[str, Any] | None = None) -> tuple[np.ndarray, dict[str, Any]]:
        """Resets every console, or with options={"reset_mask": bool array} only the
        marked ones. seed: an int (console i gets seed + i) or one int per console."""
        mask = reset_mask(options, seed, self.num_envs, self._reset_done)
        seeds = self._actor_seeds(seed)
        if seed is not None:
            first = seeds[0]
            super().reset(seed=first if isinstance(first, int) else first[0])
        masks = [None] * self.num_actors if mask is None else np.split(mask, self.num_actors)
        results = self._call("reset", [(s, m) for s, m in zip(seeds, masks)])
        self._reset_done = True
        observations = np.concatenate([r[0] for r in results])
        return observations, self._info(np.concatenate([r[1] for r in results]))

    def _actor_seeds(self, seed: object) -> list[int | list[int] | None]:
        """Each actor's seed argument: console i of the whole gets seed + i."""
        n = self.envs_per_actor
        if seed is None:
            return [None] * self.num_actors
        if isinstance(seed, (list, tuple, np.ndarray)):
            if len(seed) != self.num_envs:
                raise ValueError(f"a list of seeds needs one per console ({self.num_envs}), "
                                 f"got {len(seed)}")
            seeds = [_seed(s) for s in seed]
            return [seeds[k * n:(k + 1) * n] for k in range(self.num_actors)]
        first = _seed(seed, self.num_envs)
        return [first + k * n for k in range(self.num_actors)]

    def step(self, actions: Any) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray,
                                          dict[str, Any]]:
        """One step of every console: one call to each actor, all running at once."""
        self._check_reset("step")
        actions = np.asarray(actions)
        self._settings.masks_of(actions, self.num_envs)     # refuse bad actions here
        parts = np.split(actions, self.num_actors)
        results = self._call("step", [(part,) for part in parts])
        columns = list(zip(*results))
        observations, rewards, terminated, truncated, frames = (
            np.concatenate(column) for column in columns)
        return observations, rewards, terminated, truncated, self._info(frames)

    def rollout(self, steps: int, policy: Policy | None = None) -> Rollout:
        """`steps` steps of every console, the policy choosing each actor's actions in
        that actor: policy(observations) -> actions, for N consoles at a time, as step()
        takes them. The policy is pickled to every actor and kept there: later rollouts
        may leave it out (pass a new one, with new weights say, to replace it)."""
        steps = _whole("steps", steps, 0)
        if policy is not None and not callable(policy):
            raise TypeError(f"policy must be callable or None, not {type(policy).__name__}")
        self._check_reset("rollout")
        try:
            records = self._call("rollout", [(steps, policy)] * self.num_actors)
        except Exception:
            # The actors that got on stepped their consoles and the steps are lost.
            self._reset_done = False
            raise
        joined = {name: np.concatenate([r[name] for r in records], axis=1)
                  for name in records[0] if name != "last_observations"}
        last = np.concatenate([r["last_observations"] for r in records])
        return Rollout(last_observations=last, **joined)

    def render(self) -> tuple[np.ndarray, ...] | None:
        """"rgb_array": each console's last picture, (240, 256, 3) uint8."""
        if self.render_mode != "rgb_array":
            return None
        return tuple(p for pictures in self._call("render", [()] * self.num_actors)
                     for p in pictures)

    def close_extras(self, **kwargs: Any) -> None:
        self._kill_actors()

    def _kill_actors(self) -> None:
        for actor in self._actors:
            try:
                ray.kill(actor)
            except Exception:   # already gone, or Ray itself shut down: nothing to free
                pass
        self._actors = []

    def _check_alive(self, what: str) -> None:
        if self.closed:
            raise RuntimeError(f"{what}() on a closed RayVectorEnv")
        if self._dead is not None:
            raise RolloutActorError(str(self._dead), self._dead.actor, self._dead.consoles)

    def _check_reset(self, what: str) -> None:
        self._check_alive(what)
        if not self._reset_done:
            raise ResetNeeded(f"call reset() before {what}()")

    def _info(self, frames: np.ndarray) -> dict[str, Any]:
        return {"frame": frames, "_frame": np.ones(self.num_envs, dtype=bool)}

    def _call(self, method: str, arguments: list[tuple]) -> list[Any]:
        """Calls `method` on every actor at once (actor k with arguments[k]) and returns
        their results in actor order."""
        self._check_alive(method)
        start = time.perf_counter()
        refs = [getattr(actor, method).remote(*args)
                for actor, args in zip(self._actors, arguments)]
        results = self._gather(refs, method, self.timeout)
        self.last_call_seconds = time.perf_counter() - start
        if method in ("step", "rollout"):
            self.last_actor_seconds = max(seconds for _, seconds in results)
            return [value for value, _ in results]
        return results

    def _gather(self, refs: list[Any], method: str, timeout: float | None,
                explain: Callable[[], str] = lambda: "reset before stepping again") -> list[Any]:
        _, pending = ray.wait(refs, num_returns=len(refs), timeout=timeout)
        if pending:
            # The late calls still run and change their consoles; whatever they return
            # is lost, so the consoles are out of step with what the caller knows.
            self._reset_done = False
            late = [self._actor_name(refs.index(ref)) for ref in pending]
            raise TimeoutError(f"RayVectorEnv.{method}: no answer within {timeout:g} s "
                               f"from {', '.join(late)} ({explain()})")
        results = []
        for index, ref in enumerate(refs):
            try:
                results.append(ray.get(ref))
            except RayActorError as error:
                self._dead = RolloutActorError(
                    f"RayVectorEnv.{method}: {self._actor_name(index)} died: "
                    f"{_first_line(error)}", index, self.consoles_of(index))
                raise self._dead from error
            except RayTaskError as error:
                cause = getattr(error, "cause", None)
                if isinstance(cause, Exception):
                    raise cause from error
                raise
        return results

    def _actor_name(self, index: int) -> str:
        consoles = self.consoles_of(index)
        return (f"rollout actor {index} of {self.num_actors} (consoles {consoles.start}-"
                f"{consoles.stop - 1})")


def _checked_timeout(name: str, timeout: object) -> float | None:
    if timeout is None:
        return None
    if isinstance(timeout, (bool, np.bool_)) or not isinstance(
            timeout, (int, float, np.integer, np.floating)):
        raise TypeError(f"{name} must be a number of seconds or None, not "
                        f"{type(timeout).__name__}")
    if not timeout > 0:     # also refuses NaN
        raise ValueError(f"{name} must be positive, got {timeout}")
    return float(timeout)


def _room_for(actor_options: dict[str, Any]) -> str:
    """Why actors may not have started: what each asks for against what the cluster
    has, since an actor that no machine can hold waits for one forever."""
    cpus = actor_options.get("num_cpus", 1)
    total = ray.cluster_resources().get("CPU", 0)
    free = ray.available_resources().get("CPU", 0)
    return f"each actor asks for {cpus:g} CPU(s); the cluster has {total:g} in all, {free:g} free"


def _first_line(error: BaseException) -> str:
    lines = [line.strip() for line in str(error).splitlines() if line.strip()]
    return lines[0] if lines else type(error).__name__
