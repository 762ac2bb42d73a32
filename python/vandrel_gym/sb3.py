"""A vandrel vector environment as a Stable-Baselines3 VecEnv (the "sb3" extra).

    from stable_baselines3 import PPO
    from vandrel_gym import NESVectorEnv
    from vandrel_gym.sb3 import SB3VecEnv

    envs = SB3VecEnv(NESVectorEnv("game.nes", num_envs=8, obs_type="ram"))
    PPO("MlpPolicy", envs).learn(100_000)

SB3VecEnv drives any Gymnasium 1.x VectorEnv whose autoreset mode is NEXT_STEP (as
NESVectorEnv's is) or DISABLED: all consoles step in one call, natively for
NESVectorEnv, instead of one Python environment after another as in DummyVecEnv.
Episodes restart the Stable-Baselines3 way: a console whose episode ends is reset at
once, within the same step (the vector environment's reset with a reset_mask); the
observation returned is its new episode's first, infos[i]["terminal_observation"] holds
the episode's last, and infos[i]["TimeLimit.truncated"] says the episode was cut short
rather than ended by the game. Rewards are float32, dones bool.

The consoles share one vector environment, so get_attr, set_attr and env_method act on
it once, whatever the indices, and give its answer for each console asked about.
"""
from __future__ import annotations

import warnings
from collections.abc import Iterable, Sequence
from typing import Any

import numpy as np

try:
    from gymnasium.vector import AutoresetMode, VectorEnv, VectorWrapper
    from stable_baselines3.common.vec_env import VecEnv
except ModuleNotFoundError as error:
    raise ModuleNotFoundError('vandrel_gym.sb3 needs Stable-Baselines3: pip install ".[sb3]" in '
                              'the vandrel checkout (or pip install stable-baselines3)',
                              name=error.name) from error

_RESETTING_MODES = (AutoresetMode.NEXT_STEP, AutoresetMode.DISABLED)


class SB3VecEnv(VecEnv):
    """`env`, a Gymnasium VectorEnv (NESVectorEnv), as a Stable-Baselines3 VecEnv."""

    def __init__(self, env: VectorEnv) -> None:
        if not isinstance(env, VectorEnv):
            raise TypeError(f"SB3VecEnv wraps a gymnasium VectorEnv (such as NESVectorEnv), "
                            f"not {type(env).__name__}")
        mode = env.metadata.get("autoreset_mode", AutoresetMode.NEXT_STEP)
        if mode not in _RESETTING_MODES:
            raise ValueError(f"SB3VecEnv resets consoles itself, so the vector environment's "
                             f"autoreset mode must be NEXT_STEP or DISABLED, not {mode}")
        self.vector_env = env
        self._actions: np.ndarray | None = None
        super().__init__(env.num_envs, env.single_observation_space, env.single_action_space)
        self.metadata = {**env.metadata, "render_modes": [env.render_mode]}

    def reset(self) -> Any:
        """Starts every console's episode (with the seeds of seed() and the options of
        set_options(), used once) and returns the first observations."""
        seeds = self._seeds
        seed = None if any(s is None for s in seeds) else list(seeds)
        options = self._options[0] if self._options else {}
        if any(o != options for o in self._options):
            raise ValueError("the consoles share one vector environment, whose reset takes "
                             "one options dict: set_options() must give them all the same")
        observations, info = self.vector_env.reset(seed=seed, options=dict(options) or None)
        self.reset_infos = _split(info, self.num_envs)
        self._reset_seeds()
        self._reset_options()
        return _copy(observations)

    def step_async(self, actions: np.ndarray) -> None:
        self._actions = actions

    def step_wait(self) -> tuple[Any, np.ndarray, np.ndarray, list[dict[str, Any]]]:
        if self._actions is None:
            raise RuntimeError("step_wait() needs a step_async(actions) before it")
        actions, self._actions = self._actions, None
        observations, rewards, terminated, truncated, info = self.vector_env.step(actions)
        terminated = np.asarray(terminated, dtype=bool)
        truncated = np.asarray(truncated, dtype=bool)
        dones = terminated | truncated
        infos = _split(info, self.num_envs)
        for i, entry in enumerate(infos):
            entry["TimeLimit.truncated"] = bool(truncated[i] and not terminated[i])
            if dones[i]:
                entry["terminal_observation"] = _copy(_row(observations, i))
        observations = _copy(observations)
        if dones.any():
            first, reset_info = self.vector_env.reset(options={"reset_mask": dones.copy()})
            observations = _merge(dones, first, observations)
            for i, entry in enumerate(_split(reset_info, self.num_envs)):
                if dones[i]:
                    self.reset_infos[i] = entry
        return (observations, np.asarray(rewards, dtype=np.float32), dones, infos)

    def close(self) -> None:
        self.vector_env.close()

    def get_attr(self, attr_name: str, indices: Any = None) -> list[Any]:
        """The vector environment's attribute, once for each console of `indices`."""
        value = getattr(self.vector_env, attr_name)
        return [value for _ in self._get_indices(indices)]

    def set_attr(self, attr_name: str, value: Any, indices: Any = None) -> None:
        """Sets the vector environment's attribute: it belongs to every console, so
        `indices` must name them all (or be None)."""
        self._whole(indices, "set_attr")
        setattr(self.vector_env, attr_name, value)

    def env_method(self, method_name: str, *method_args: Any, indices: Any = None,
                   **method_kwargs: Any) -> list[Any]:
        """Calls the vector environment's method once and gives its result for each
        console of `indices`."""
        targets = list(self._get_indices(indices))
        result = getattr(self.vector_env, method_name)(*method_args, **method_kwargs)
        return [result for _ in targets]

    def env_is_wrapped(self, wrapper_class: type, indices: Any = None) -> list[bool]:
        """Whether the vector environment is, or is wrapped in, a `wrapper_class`
        (a gymnasium VectorWrapper); the same answer for each console."""
        env, found = self.vector_env, False
        while not found:
            found = isinstance(env, wrapper_class)
            if not isinstance(env, VectorWrapper):
                break
            env = env.env
        return [found for _ in self._get_indices(indices)]

    def get_images(self) -> Sequence[np.ndarray | None]:
        """Each console's picture, where the vector environment renders "rgb_array"."""
        if self.vector_env.render_mode != "rgb_array":
            warnings.warn(f"the vector environment's render mode is "
                          f"{self.vector_env.render_mode!r}: images need 'rgb_array'")
            return [None] * self.num_envs
        images = self.vector_env.render()
        if isinstance(images, np.ndarray) and images.ndim == 4:
            return list(images)
        return list(images) if images is not None else [None] * self.num_envs

    def _get_indices(self, indices: Any) -> Iterable[int]:
        chosen = list(super()._get_indices(indices))
        for i in chosen:
            if not -self.num_envs <= int(i) < self.num_envs:
                raise IndexError(f"console {i} out of range (0-{self.num_envs - 1})")
        return chosen

    def _whole(self, indices: Any, method: str) -> None:
        chosen = {int(i) % self.num_envs for i in self._get_indices(indices)}
        if len(chosen) != self.num_envs:
            raise ValueError(f"{method}: the consoles share one vector environment, so an "
                             f"attribute is set for all of them (indices=None), not for "
                             f"{sorted(chosen)}")


def _split(info: dict[str, Any], count: int) -> list[dict[str, Any]]:
    """A vector environment's info dict (arrays of one entry per console, each with a
    "_key" mask) as one dict per console."""
    infos: list[dict[str, Any]] = [{} for _ in range(count)]
    for key, value in info.items():
        if key.startswith("_") and key[1:] in info:
            continue
        mask = info.get(f"_{key}")
        parts = _split(value, count) if isinstance(value, dict) else None
        for i in range(count):
            if mask is not None and not mask[i]:
                continue
            if parts is not None:
                infos[i][key] = parts[i]
            elif isinstance(value, (np.ndarray, list, tuple)) and len(value) == count:
                infos[i][key] = value[i].item() if isinstance(value[i], np.generic) \
                    else value[i]
            else:
                infos[i][key] = value
    return infos


def _row(observations: Any, i: int) -> Any:
    if isinstance(observations, dict):
        return {key: _row(value, i) for key, value in observations.items()}
    if isinstance(observations, tuple):
        return tuple(_row(value, i) for value in observations)
    return observations[i]


def _merge(mask: np.ndarray, new: Any, old: Any) -> Any:
    """`new` where `mask` is set, `old` elsewhere, row by row."""
    if isinstance(new, dict):
        return {key: _merge(mask, new[key], old[key]) for key in new}
    if isinstance(new, tuple):
        return tuple(_merge(mask, n, o) for n, o in zip(new, old))
    new, old = np.asarray(new), np.asarray(old)
    return np.where(mask.reshape((-1,) + (1,) * (new.ndim - 1)), new, old)


def _copy(observations: Any) -> Any:
    if isinstance(observations, dict):
        return {key: _copy(value) for key, value in observations.items()}
    if isinstance(observations, tuple):
        return tuple(_copy(value) for value in observations)
    return np.array(observations, copy=True)
