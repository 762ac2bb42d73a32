"""Stable-Baselines3 trains PPO on a shipped game, eight consoles in one native batch.

    pip install ".[sb3]"              # in the vandrel checkout
    python examples/sb3_ppo.py [--steps 60000] [--game VandrelCatch-Nes] [--obs grayscale]

The game is a folder of vandrel_gym's integrations: its scenario gives the reward and
the end of an episode, its start state where episodes begin. In VandrelCatch-Nes (the
Catch cartridge, shipped with vandrel_tools) the reward is the apples caught and an
episode ends with the third apple missed; in VandrelDemo-Nes it is the hero's progress to
the right, to the right edge. gymnasium.make_vec builds the native vector environment
(NESVectorEnv: the consoles step together on native threads and the reward is evaluated
natively) and SB3VecEnv hands it to Stable-Baselines3 as a VecEnv. Each console observes
its last four 84x84 grayscale pictures, stacked by the environment itself, the
channels-last image CnnPolicy takes (--obs ram: its RAM, for MlpPolicy).

The mean reward of the episodes that ended in each rollout is printed as it trains. On
Catch it rises from about 0.2 apples (a random policy) to about 1 within the default
60000 steps, a few minutes on two cores; longer runs go on from there.
"""
import argparse
import importlib.resources

import gymnasium as gym
import numpy as np
from stable_baselines3 import PPO
from stable_baselines3.common.callbacks import BaseCallback
from stable_baselines3.common.vec_env import VecMonitor

import vandrel_gym  # noqa: F401  (registers vandrel/Game-v0)
from vandrel_gym.sb3 import SB3VecEnv
from vandrel_tools import catch, demo

CARTRIDGES = {"VandrelDemo-Nes": demo, "VandrelCatch-Nes": catch}


class EpisodeRewards(BaseCallback):
    """Prints the mean reward of the episodes that ended in each rollout."""

    def __init__(self) -> None:
        super().__init__()
        self.means: list[float] = []

    def _on_step(self) -> bool:
        return True

    def _on_rollout_end(self) -> None:
        rewards = [episode["r"] for episode in self.model.ep_info_buffer]
        if rewards:
            self.means.append(float(np.mean(rewards)))
            print(f"{self.num_timesteps:>7} steps: mean episode reward {self.means[-1]:7.1f} "
                  f"over the last {len(rewards)} episodes", flush=True)
        self.model.ep_info_buffer.clear()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--steps", type=int, default=60_000, help="environment steps to train")
    parser.add_argument("--game", default="VandrelCatch-Nes", choices=sorted(CARTRIDGES))
    parser.add_argument("--obs", default="grayscale", choices=["grayscale", "ram"],
                        help="pictures for CnnPolicy, or the 2048 bytes of RAM for MlpPolicy")
    args = parser.parse_args()
    with importlib.resources.as_file(CARTRIDGES[args.game].resource()) as rom:
        pictures = args.obs == "grayscale"
        observation = dict(obs_type="grayscale", grayscale_channel=True, frame_stack=4) \
            if pictures else dict(obs_type="ram")
        vector = gym.make_vec("vandrel/Game-v0", num_envs=8, game=args.game, rom=str(rom),
                              vectorization_mode="vector_entry_point",
                              max_episode_frames=1200, accuracy="fast", **observation)
        envs = VecMonitor(SB3VecEnv(vector))
        model = PPO("CnnPolicy" if pictures else "MlpPolicy", envs, n_steps=128,
                    batch_size=256, n_epochs=4, learning_rate=5e-4, seed=0, verbose=0)
        progress = EpisodeRewards()
        model.learn(total_timesteps=args.steps, callback=progress)
        envs.close()
    if len(progress.means) >= 2:
        print(f"trained {args.steps} steps; mean episode reward went from "
              f"{progress.means[0]:.1f} to {progress.means[-1]:.1f}")
    else:
        print(f"trained {args.steps} steps")


if __name__ == "__main__":
    main()
