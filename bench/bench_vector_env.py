"""Benchmark: NESVectorEnv (one native batch) against AsyncVectorEnv over as many NESEnv.

Usage: bench_vector_env.py [CARTRIDGE] [--envs N] [--steps S] [--rounds R]
                           [--obs-type rgb grayscale ram] [--threads T]

Without a cartridge it runs the demo cartridge shipped with vandrel_tools. Both vector
environments step N consoles with the same random actions for S steps per round; the
rounds alternate the two and the medians are printed, in environment steps per second
(N per vector step), with their ratio, for every observation type asked for (all three by
default: the larger the observation, the more the separate processes pay to send it). The environments
are built and reset before the clock starts.
"""

import argparse
import contextlib
import functools
import importlib.resources
import os
import statistics
import tempfile
import time

import gymnasium as gym
import numpy as np

from bench_frames import cpu_model
from vandrel_gym import NESEnv, NESVectorEnv

TARGET = 1.5
FRAMESKIP = 4


def steps_per_second(env, actions):
    """Environment steps per second of wall time over the given batches of actions."""
    start = time.perf_counter()
    for batch in actions:
        env.step(batch)
    return actions.size / (time.perf_counter() - start)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridge", nargs="?")
    parser.add_argument("--envs", type=int, default=8)
    parser.add_argument("--steps", type=int, default=300)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--obs-type", nargs="+", default=["rgb", "grayscale", "ram"],
                        choices=["rgb", "grayscale", "ram"])
    parser.add_argument("--threads", type=int, default=0, help="native threads (0: one per core)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as home, contextlib.ExitStack() as stack:
        os.environ["HOME"] = home           # keep save folders out of the user's
        os.environ["VANDREL_QUIET"] = "1"   # no progress lines from the consoles
        if args.cartridge is None:
            from vandrel_tools import demo
            path = str(stack.enter_context(importlib.resources.as_file(demo.resource())))
        else:
            path = args.cartridge
        results = {obs_type: measure(path, obs_type, args) for obs_type in args.obs_type}

    print(f"cpu:        {cpu_model()} ({os.cpu_count()} cores)")
    print(f"cartridge:  {args.cartridge or 'the demo cartridge'}")
    print(f"envs:       {args.envs}, {args.steps} steps x {args.rounds} rounds, "
          f"frameskip {FRAMESKIP}")
    print(f"{'obs':<11}{'NESVectorEnv steps/s':>22}{'AsyncVectorEnv steps/s':>24}{'ratio':>8}")
    for obs_type, (fast, slow) in results.items():
        ratio = fast / slow
        print(f"{obs_type:<11}{fast:>22.0f}{slow:>24.0f}{ratio:>7.2f}x "
              f"({'meets' if ratio >= TARGET else 'below'} the {TARGET}x target)")


def measure(path, obs_type, args):
    """Median steps per second of both vector environments for one observation type, the
    rounds alternating between them."""
    options = dict(obs_type=obs_type, max_episode_frames=None, frameskip=FRAMESKIP)
    batched = NESVectorEnv(path, args.envs, threads=args.threads, **options)
    separate = gym.vector.AsyncVectorEnv(
        [functools.partial(NESEnv, path, **options)] * args.envs)
    batched.reset(seed=0)
    separate.reset(seed=0)
    n_actions = batched.single_action_space.n
    rng = np.random.default_rng(0)
    fast, slow = [], []
    for _ in range(args.rounds):
        actions = rng.integers(0, n_actions, (args.steps, args.envs))
        fast.append(steps_per_second(batched, actions))
        slow.append(steps_per_second(separate, actions))
    batched.close()
    separate.close()
    return statistics.median(fast), statistics.median(slow)


if __name__ == "__main__":
    main()
