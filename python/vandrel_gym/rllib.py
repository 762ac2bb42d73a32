"""vandrel's Gymnasium environment for RLlib.

    from vandrel_gym import Cartridge
    from vandrel_gym.rllib import register

    register()                          # the name "vandrel/NES-v0", for RLlib
    config = PPOConfig().environment(
        "vandrel/NES-v0", env_config={"rom": Cartridge.read("game.nes"), "obs_type": "ram"})

env_config holds NESEnv's options. A Cartridge (rather than a path) travels with the
config to RLlib's environment runners, so machines without the file can run them.
RLlib's default models take floating-point input, so observations arrive as float32 in
[0, 1] (the bytes divided by 255) unless registered with float_observations=False.
Needs RLlib (the "rllib" extra).
"""
from __future__ import annotations

import functools
from collections.abc import Mapping
from typing import Any

import gymnasium as gym
import numpy as np
from gymnasium.wrappers import TransformObservation

from . import ENV_ID
from .env import NESEnv


def make_env(config: Mapping[str, Any], float_observations: bool = True) -> gym.Env:
    """An NESEnv from RLlib's env_config (NESEnv's options, "rom" among them), its
    observations scaled to float32 in [0, 1] when float_observations is set."""
    env = NESEnv(**config)
    if not float_observations:
        return env
    space = gym.spaces.Box(0.0, 1.0, env.observation_space.shape, dtype=np.float32)
    return TransformObservation(env, lambda obs: obs.astype(np.float32) / 255, space)


def register(name: str = ENV_ID, *, float_observations: bool = True) -> str:
    """Registers NESEnv with RLlib (ray.tune.register_env) under `name`; returns it."""
    try:
        from ray.tune import register_env
    except ImportError as error:
        raise ImportError('registering with RLlib needs it: pip install ".[rllib]" in the '
                          'vandrel checkout') from error
    register_env(name, functools.partial(make_env, float_observations=float_observations))
    return name
