"""Benchmark: RayVectorEnv with one rollout actor against two, on a local Ray instance.

Usage: bench_cluster.py [CARTRIDGE] [--envs-per-actor N] [--steps S] [--rounds R]
                        [--obs-type rgb grayscale ram] [--address HEAD:6379]

Without a cartridge it runs the demo cartridge shipped with vandrel_tools. Each actor
holds N consoles on one native thread. Per round and per
observation type, K = 1 and K = 2 actors take turns (so both see the same machine) at:

  rollout: S steps per actor with the policy running in the actors (one call);
  step:    S calls of step() from the driver, with actions made there.

Printed: aggregate emulated frames per second (medians over the rounds), the ratio of
K = 2 to K = 1, and the actor round trip of step(): the driver's time per call less
the slowest actor's time inside it, beside the time one NESVectorEnv of N consoles
takes per step in this process; and each actor's own frames per second inside a
rollout (when two actors run slower than one, the host's cores, not Ray, set the
ratio). Without --address a local Ray instance of two CPUs is
started on the loopback address.
"""

import argparse
import contextlib
import importlib.resources
import os
import statistics
import tempfile
import time

import numpy as np

from bench_frames import cpu_model
from vandrel_gym import DEFAULT_ACTIONS, Cartridge, NESVectorEnv

TARGET = 1.7
FRAMESKIP = 4
ACTORS = (1, 2)


def walk_right(observations):
    """A policy for the rollouts: the action "right" for every console."""
    return np.full(len(observations), DEFAULT_ACTIONS.index(("right",)))


def rollout_figures(env, steps):
    """Aggregate frames per second of one rollout, and the frames per second of the
    slowest actor inside it (its own work, without the calls around it)."""
    start = time.perf_counter()
    env.rollout(steps)
    seconds = time.perf_counter() - start
    return (env.num_envs * steps * FRAMESKIP / seconds,
            env.envs_per_actor * steps * FRAMESKIP / env.last_actor_seconds)


def step_figures(env, actions):
    """Frames per second over driver-made steps, and the median round trip per step
    (the driver's time per call less the slowest actor's time inside it)."""
    trips = []
    start = time.perf_counter()
    for batch in actions:
        env.step(batch)
        trips.append(env.last_call_seconds - env.last_actor_seconds)
    seconds = time.perf_counter() - start
    return env.num_envs * len(actions) * FRAMESKIP / seconds, statistics.median(trips)


def in_process_step_seconds(cartridge, obs_type, envs, steps):
    """The median time of one step of an NESVectorEnv of `envs` consoles, here."""
    env = NESVectorEnv(cartridge, envs, threads=1, obs_type=obs_type, start_frames=30,
                       frameskip=FRAMESKIP, copy=False)
    env.reset(seed=0)
    times = []
    for batch in np.random.default_rng(1).integers(0, 7, (steps, envs)):
        start = time.perf_counter()
        env.step(batch)
        times.append(time.perf_counter() - start)
    env.close()
    return statistics.median(times)


def measure(cartridge, obs_type, args):
    from vandrel_gym.cluster import RayVectorEnv
    # Both sets of actors live side by side (three actors, two CPUs), taking turns, so
    # each asks Ray for half a CPU: Ray counts CPUs but does not pin them.
    envs = {k: RayVectorEnv(cartridge, k, args.envs_per_actor, obs_type=obs_type,
                            start_frames=30, frameskip=FRAMESKIP, max_episode_frames=None,
                            actor_options={"num_cpus": 0.5})
            for k in ACTORS}
    figures = {k: {"rollout": [], "inside": [], "step": [], "trip": []} for k in ACTORS}
    try:
        for k, env in envs.items():
            env.reset(seed=0)
            env.rollout(10, walk_right)         # warm up, and leave the policy there
        rng = np.random.default_rng(0)
        for _ in range(args.rounds):
            for k, env in envs.items():
                frames, inside = rollout_figures(env, args.steps)
                figures[k]["rollout"].append(frames)
                figures[k]["inside"].append(inside)
                actions = rng.integers(0, 7, (args.steps, env.num_envs))
                frames, trip = step_figures(env, actions)
                figures[k]["step"].append(frames)
                figures[k]["trip"].append(trip)
    finally:
        for env in envs.values():
            env.close()
    local = in_process_step_seconds(cartridge, obs_type, args.envs_per_actor, args.steps)
    return {k: {name: statistics.median(values) for name, values in f.items()}
            for k, f in figures.items()}, local


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cartridge", nargs="?")
    parser.add_argument("--envs-per-actor", type=int, default=8)
    parser.add_argument("--steps", type=int, default=150)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--obs-type", nargs="+", default=["ram", "grayscale"],
                        choices=["rgb", "grayscale", "ram"])
    parser.add_argument("--address", help="a running Ray cluster (default: a local one)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as home, contextlib.ExitStack() as stack:
        os.environ["HOME"] = home           # keep save folders and Ray's token out of the user's
        os.environ["VANDREL_QUIET"] = "1"   # no progress lines from the consoles
        if args.cartridge is None:
            from vandrel_tools import demo
            path = stack.enter_context(importlib.resources.as_file(demo.resource()))
        else:
            path = args.cartridge
        cartridge = Cartridge.read(path)
        if not args.address:
            # A local instance on the loopback address only (read when Ray is imported);
            # a driver joining a cluster must advertise its real address instead.
            os.environ.setdefault("RAY_ENABLE_WINDOWS_OR_OSX_CLUSTER", "0")
        import ray
        if args.address:
            ray.init(address=args.address, configure_logging=False, log_to_driver=False)
        else:
            ray.init(num_cpus=2, include_dashboard=False, configure_logging=False,
                     log_to_driver=False)
        try:
            results = {obs_type: measure(cartridge, obs_type, args) for obs_type in args.obs_type}
        finally:
            ray.shutdown()

    print(f"{cpu_model()}, {os.cpu_count()} CPUs; {args.envs_per_actor} consoles per actor, "
          f"frameskip {FRAMESKIP}, {args.steps} steps per round, medians of {args.rounds} rounds")
    print()
    print("| obs | mode | K=1 frames/s | K=2 frames/s | K=2 / K=1 |")
    print("|---|---|---|---|---|")
    for obs_type, (figures, _) in results.items():
        for mode in ("rollout", "step"):
            one, two = figures[1][mode], figures[2][mode]
            print(f"| {obs_type} | {mode} | {one:,.0f} | {two:,.0f} | {two / one:.2f}x |")
    print()
    print("| obs | round trip per step, K=1 | K=2 | one step in this process "
          "| one actor's own frames/s in a rollout, K=1 | K=2 |")
    print("|---|---|---|---|---|---|")
    for obs_type, (figures, local) in results.items():
        print(f"| {obs_type} | {figures[1]['trip'] * 1e3:.2f} ms | "
              f"{figures[2]['trip'] * 1e3:.2f} ms | {local * 1e3:.2f} ms | "
              f"{figures[1]['inside']:,.0f} | {figures[2]['inside']:,.0f} |")
    print()
    best = min(figures[2]["rollout"] / figures[1]["rollout"] for figures, _ in results.values())
    print(f"K=2 / K=1 with the policy in the actors: {best:.2f}x at worst "
          f"(target {TARGET}x)")


if __name__ == "__main__":
    main()
