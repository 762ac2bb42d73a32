"""Benchmark: the vector environment playing a game folder against the same environment
without one.

Usage: bench_game_env.py [--envs N] [--steps S] [--rounds R] [--obs-type TYPE]

Both NESVectorEnvs step N consoles of the same cartridge from the game's start state with
the same random actions (grayscale 84x84 and frame skip 4 by default); one plays the
game folder (the batch stepper's reward and end of episode, every variable in info), the
other a copy of it that keeps only the end of episode, so that both play the same
episodes (a game over would otherwise lead the second to other screens, at another cost). The rounds alternate the two, and the medians of environment steps
per CPU second of this process (its native threads included) are printed with their
ratio, for every shipped game whose cartridge is here.
"""

import argparse
import contextlib
import importlib
import importlib.resources
import json
import os
import pathlib
import shutil
import statistics
import tempfile
import time

import numpy as np

from bench_frames import cpu_model
from vandrel_gym import Integration, NESVectorEnv

SHARED_GAMES = pathlib.Path(__file__).resolve().parents[2] / "shared" / "roms" / "games"
GAMES = {"VandrelDemo-Nes": "demo", "VandrelCatch-Nes": "catch",
         "Manhole-Nes": SHARED_GAMES / "manhole.nes"}
TARGET = 0.9


def steps_per_cpu_second(env, actions):
    start = time.process_time()
    for batch in actions:
        env.step(batch)
    return actions.shape[0] * actions.shape[1] / (time.process_time() - start)


def bare_copy(folder, scratch):
    """The game folder with its start states and its end of episode only: an
    environment on it plays the same episodes as the game's (so that both emulate the
    same screens) but has no reward and no other variable to evaluate or report."""
    bare = pathlib.Path(scratch) / folder.name
    shutil.copytree(folder, bare, dirs_exist_ok=True)
    done = json.loads((folder / "scenario.json").read_text()).get("done", {})
    info = json.loads((folder / "data.json").read_text())["info"]
    (bare / "scenario.json").write_text(json.dumps({"done": done}))
    (bare / "data.json").write_text(json.dumps(
        {"info": {name: info[name] for name in done.get("variables", {})}}))
    return bare


def measure(game, rom, args, scratch):
    """Median steps per CPU second with and without the game, the rounds alternating."""
    options = dict(obs_type=args.obs_type, frameskip=4, max_episode_frames=None,
                   actions=[(), ("left",), ("right",), ("up",), ("down",)])
    with_game = NESVectorEnv(rom, args.envs, game=game, accuracy=args.accuracy, **options)
    without = NESVectorEnv(rom, args.envs, game=bare_copy(Integration(game).path, scratch),
                           accuracy=args.accuracy, **options)
    with_game.reset(seed=0)
    without.reset(seed=0)
    rng = np.random.default_rng(0)
    figures = {True: [], False: []}
    for _ in range(args.rounds):
        actions = rng.integers(0, 5, (args.steps, args.envs))
        figures[True].append(steps_per_cpu_second(with_game, actions))
        figures[False].append(steps_per_cpu_second(without, actions))
    return statistics.median(figures[True]), statistics.median(figures[False])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--envs", type=int, default=8)
    parser.add_argument("--steps", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--obs-type", default="grayscale", choices=["rgb", "grayscale", "ram"])
    parser.add_argument("--accuracy", default="fast", choices=["fast", "hardware"])
    args = parser.parse_args()
    results = {}
    with tempfile.TemporaryDirectory() as home, contextlib.ExitStack() as stack:
        os.environ["HOME"] = home           # keep save folders out of the user's
        for game, rom in GAMES.items():
            if isinstance(rom, str):        # a cartridge shipped with vandrel_tools
                shipped = importlib.import_module(f"vandrel_tools.{rom}")
                rom = stack.enter_context(importlib.resources.as_file(shipped.resource()))
            if rom.is_file():
                results[game] = measure(game, str(rom), args, home)
    print(f"cpu:   {cpu_model()} ({os.cpu_count()} cores)")
    print(f"envs:  {args.envs}, {args.obs_type}, frameskip 4, {args.accuracy} mode, "
          f"{args.steps} steps x {args.rounds} rounds")
    print(f"{'game':<18}{'with game steps/CPU s':>23}{'without':>10}{'ratio':>8}")
    for game, (with_game, without) in results.items():
        ratio = with_game / without
        print(f"{game:<18}{with_game:>23.0f}{without:>10.0f}{ratio:>7.3f}  "
              f"({'within' if ratio >= TARGET else 'outside'} 10%)")


if __name__ == "__main__":
    main()
