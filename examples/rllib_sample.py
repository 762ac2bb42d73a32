"""RLlib samples vandrel consoles with its environment runners and trains PPO on them.

    pip install ".[rllib]"            # in the vandrel checkout
    python examples/rllib_sample.py [--address HEAD:6379] [--iterations 1]

Two environment runners (Ray actors), each with four NESEnv consoles on the demo
cartridge, observe RAM and are rewarded for moving the hero right. The cartridge goes
to the runners inside env_config, so they need no file. Without --address the example
starts a local Ray instance of two CPUs.
"""
import argparse
import importlib.resources
import os
import time

import numpy as np

from vandrel_gym import Cartridge
from vandrel_tools import demo

HERO_X = 0x07


def hero_moved_right(ram: np.ndarray, previous: np.ndarray) -> float:
    return float(ram[HERO_X]) - float(previous[HERO_X])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", help="a running Ray cluster (default: a local one)")
    parser.add_argument("--iterations", type=int, default=1, help="training iterations")
    args = parser.parse_args()
    if not args.address:
        # A local instance on the loopback address only (read when Ray is imported);
        # a driver joining a cluster must advertise its real address instead.
        os.environ.setdefault("RAY_ENABLE_WINDOWS_OR_OSX_CLUSTER", "0")
    import ray
    from ray.rllib.algorithms.ppo import PPOConfig

    from vandrel_gym.rllib import register

    if args.address:
        ray.init(address=args.address)
    else:
        ray.init(num_cpus=2, include_dashboard=False)

    with importlib.resources.as_file(demo.resource()) as path:
        cartridge = Cartridge.read(path)
    env_config = {"rom": cartridge, "obs_type": "ram", "start_frames": 30,
                  "max_episode_frames": 160, "reward_fn": hero_moved_right}
    config = (
        PPOConfig()
        .environment(register(), env_config=env_config)
        .env_runners(num_env_runners=2, num_envs_per_env_runner=4,
                     rollout_fragment_length=64, num_cpus_per_env_runner=1)
        .learners(num_learners=0)
        .training(train_batch_size_per_learner=512, minibatch_size=128, num_epochs=2,
                  lr=3e-4)
        .rl_module(model_config={"fcnet_hiddens": [64, 64]})
    )
    algo = config.build_algo()
    try:
        for iteration in range(1, args.iterations + 1):
            start = time.perf_counter()
            result = algo.train()
            seconds = time.perf_counter() - start
            steps = result["env_runners"]["num_env_steps_sampled"]
            returns = result["env_runners"].get("episode_return_mean", float("nan"))
            print(f"iteration {iteration}: {steps} environment steps sampled by "
                  f"{config.num_env_runners} runners in {seconds:.1f} s "
                  f"(mean episode return {returns:.1f})")
    finally:
        algo.stop()
        ray.shutdown()


if __name__ == "__main__":
    main()
