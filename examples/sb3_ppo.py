"""Stable-Baselines3 trains PPO with a CNN policy on eight NESEnv consoles.

    pip install ".[sb3]"              # in the vandrel checkout
    python examples/sb3_ppo.py [--steps 20000]

Each console observes its last four 84x84 grayscale pictures, stacked by the
environment itself into one (84, 84, 4) observation, the channels-last image
CnnPolicy takes; make_vec_env runs the consoles side by side. The reward is the
hero's move to the right on the demo cartridge. Frame skipping, max-pooling and no-op
starts are built into NESEnv, so no Atari wrappers are needed.
"""
import argparse
import importlib.resources

import gymnasium as gym
import numpy as np
from stable_baselines3 import PPO
from stable_baselines3.common.env_util import make_vec_env

import vandrel_gym  # noqa: F401  (registers vandrel/NES-v0)
from vandrel_tools import demo

HERO_X = 0x07


def hero_moved_right(ram: np.ndarray, previous: np.ndarray) -> float:
    return float(ram[HERO_X]) - float(previous[HERO_X])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--steps", type=int, default=20_000, help="environment steps to train")
    args = parser.parse_args()
    with importlib.resources.as_file(demo.resource()) as rom:
        envs = make_vec_env(
            lambda: gym.make("vandrel/NES-v0", rom=str(rom), obs_type="grayscale",
                             grayscale_channel=True, frame_stack=4, start_frames=30,
                             actions=[(), ("right",), ("left",), ("right", "a")],
                             reward_fn=hero_moved_right, max_episode_frames=600),
            n_envs=8)
        model = PPO("CnnPolicy", envs, n_steps=128, batch_size=256, n_epochs=2, seed=0,
                    verbose=0)
        model.learn(total_timesteps=args.steps)
        observations = envs.reset()
        total = np.zeros(envs.num_envs)
        for _ in range(64):
            actions, _ = model.predict(observations, deterministic=True)
            observations, rewards, _, _ = envs.step(actions)
            total += rewards
        print(f"trained {args.steps} steps; hero moved {total.mean():.0f} pixels right per "
              "console in 64 greedy steps")
        envs.close()


if __name__ == "__main__":
    main()
