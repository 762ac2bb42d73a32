"""RayVectorEnv on a local Ray instance of 2 CPUs: K actors give the results of one
process, rollouts run the policy in the actors, errors come back as they were raised,
and a dead or silent actor is named instead of hanging the driver."""

import functools
import os
import pathlib
import signal
import sys
import time

import numpy as np
import pytest

# A single-machine instance on the loopback address: Ray otherwise advertises the host's
# network address. Read when Ray is imported, and inherited by its processes.
os.environ.setdefault("RAY_ENABLE_WINDOWS_OR_OSX_CLUSTER", "0")

pytest.importorskip("gymnasium")
ray = pytest.importorskip("ray")
import ray.cloudpickle  # noqa: E402

from gymnasium.error import ResetNeeded  # noqa: E402
from vandrel_gym import Cartridge, NESVectorEnv  # noqa: E402
from vandrel_gym.cluster import RayVectorEnv, RolloutActorError  # noqa: E402

TICKS, HERO_X = 0x01, 0x07
# Episodes that end often, with sticky actions and random no-op starts: every source of
# per-console randomness and every autoreset path is exercised.
OPTIONS = {"obs_type": "ram", "start_frames": 30, "noop_max": 8,
           "repeat_action_probability": 0.25, "max_episode_frames": 40}


def hero_moved(ram, previous):
    return ram[:, HERO_X].astype(np.int64) - previous[:, HERO_X]


def hero_far_right(ram):
    return ram[:, HERO_X] > 0x90


def by_hero_position(observations):
    """A policy that reads each console's RAM: deterministic, row by row."""
    return (observations[:, HERO_X] // 8 + observations[:, TICKS]) % 9


@pytest.fixture(scope="module", autouse=True)
def local_ray(ray_home):
    # The actors cannot import this test module, so its callables travel by value.
    ray.cloudpickle.register_pickle_by_value(sys.modules[__name__])
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("HOME", str(ray_home))
        ray.init(num_cpus=2, include_dashboard=False, configure_logging=False,
                 log_to_driver=False)
        yield
        ray.shutdown()


@pytest.fixture
def cluster(demo):
    """Makes RayVectorEnvs on the demo cartridge and closes them after the test."""
    made = []

    def make(num_actors=2, envs_per_actor=3, **options):
        env = RayVectorEnv(demo, num_actors, envs_per_actor, **{**OPTIONS, **options})
        made.append(env)
        return env

    yield make
    for env in made:
        env.close()


def assert_same(ours, theirs):
    for mine, other in zip(ours, theirs):
        if isinstance(mine, dict):
            np.testing.assert_array_equal(mine["frame"], other["frame"])
        else:
            np.testing.assert_array_equal(mine, other)


@pytest.mark.parametrize("obs_type", ["ram", "grayscale", "rgb"])
def test_actors_step_as_one_process(cluster, demo, obs_type):
    options = {**OPTIONS, "obs_type": obs_type, "reward_fn": hero_moved,
               "terminated_fn": hero_far_right}
    env = cluster(obs_type=obs_type, reward_fn=hero_moved, terminated_fn=hero_far_right)
    one = NESVectorEnv(demo, 6, **options)
    assert env.observation_space == one.observation_space
    assert env.action_space == one.action_space
    assert_same(env.reset(seed=11), one.reset(seed=11))
    rng = np.random.default_rng(3)
    ended = 0
    for _ in range(30):
        actions = rng.integers(0, env.single_action_space.n, 6)
        ours, theirs = env.step(actions), one.step(actions)
        assert_same(ours, theirs)
        ended += int((ours[2] | ours[3]).sum())
    assert ended > 0, "no episode ended, so autoreset went untested"


def test_seed_lists_and_partial_resets_match_one_process(cluster, demo):
    # Three actors on two CPUs: each asks for half of one.
    env = cluster(num_actors=3, envs_per_actor=2, actor_options={"num_cpus": 0.5})
    one = NESVectorEnv(demo, 6, **OPTIONS)
    seeds = [90, 4, 17, 3, 55, 8]
    assert_same(env.reset(seed=seeds), one.reset(seed=seeds))
    actions = np.arange(6) % 5
    for _ in range(3):
        assert_same(env.step(actions), one.step(actions))
    mask = np.array([False, True, True, False, False, True])
    assert_same(env.reset(options={"reset_mask": mask}),
                one.reset(options={"reset_mask": mask}))
    assert_same(env.step(actions), one.step(actions))


def test_rollout_runs_the_policy_in_the_actors(cluster, demo):
    env = cluster(reward_fn=hero_moved)
    one = NESVectorEnv(demo, 6, **OPTIONS, reward_fn=hero_moved)
    env.reset(seed=2)
    observations, _ = one.reset(seed=2)
    first = env.rollout(25, by_hero_position)
    second = env.rollout(15)                   # the policy stays in the actors
    for rollout in (first, second):
        assert rollout.observations.shape == (rollout.steps, 6, 2048)
        autoreset = np.zeros(6, dtype=bool) if rollout is first else autoreset
        for t in range(rollout.steps):
            np.testing.assert_array_equal(rollout.observations[t], observations)
            np.testing.assert_array_equal(rollout.autoreset[t], autoreset)
            actions = by_hero_position(observations)
            np.testing.assert_array_equal(rollout.actions[t], actions)
            observations, rewards, terminated, truncated, info = one.step(actions)
            np.testing.assert_array_equal(rollout.rewards[t], rewards)
            np.testing.assert_array_equal(rollout.terminated[t], terminated)
            np.testing.assert_array_equal(rollout.truncated[t], truncated)
            np.testing.assert_array_equal(rollout.frames[t], info["frame"])
            autoreset = terminated | truncated
        np.testing.assert_array_equal(rollout.last_observations, observations)
    assert first.autoreset.any(), "no episode ended inside the rollout"
    # step() goes on from where the rollout stopped.
    assert_same(env.step(np.zeros(6, dtype=int)), one.step(np.zeros(6, dtype=int)))


def test_a_cartridge_in_memory_needs_no_file(cluster, demo, tmp_path):
    copy = tmp_path / "copy.nes"
    copy.write_bytes(pathlib.Path(demo).read_bytes())
    cartridge = Cartridge.read(copy)
    copy.unlink()
    env = RayVectorEnv(cartridge, 2, 1, **OPTIONS)
    try:
        one = NESVectorEnv(demo, 2, **OPTIONS)
        assert_same(env.reset(seed=7), one.reset(seed=7))
        assert_same(env.step([1, 2]), one.step([1, 2]))
    finally:
        env.close()


@pytest.mark.parametrize("asked, mode", [({}, "hardware"), ({"accuracy": "fast"}, "fast")])
def test_the_actors_consoles_run_in_the_mode_asked_for(cluster, asked, mode):
    env = cluster(num_actors=1, envs_per_actor=1, **asked)
    in_actor = env._actors[0].__ray_call__.remote(lambda worker: worker.env._batch.accuracy)
    assert ray.get(in_actor) == env.accuracy == env.metadata["accuracy"] == mode


def test_render_gathers_every_console(cluster):
    env = cluster(render_mode="rgb_array")
    env.reset(seed=0)
    env.step(np.zeros(6, dtype=int))
    pictures = env.render()
    assert len(pictures) == 6 and all(p.shape == (240, 256, 3) for p in pictures)
    env.close()
    assert cluster(num_actors=1).render() is None


@pytest.mark.parametrize("arguments, error, message", [
    ({"num_actors": 0}, ValueError, "num_actors must be at least 1"),
    ({"envs_per_actor": 1.5}, TypeError, "envs_per_actor must be an integer"),
    ({"threads_per_actor": 0}, ValueError, "threads_per_actor must be at least 1"),
    ({"timeout": 0}, ValueError, "timeout must be positive"),
    ({"timeout": "1"}, TypeError, "timeout must be a number"),
    ({"start_timeout": -1.0}, ValueError, "start_timeout must be positive"),
    ({"num_envs": 4}, TypeError, "RayVectorEnv sets num_envs itself"),
    ({"obs_typ": "ram"}, TypeError, "unexpected option.*obs_typ"),
    ({"obs_type": "depth"}, ValueError, "obs_type must be one of"),
    ({"render_mode": "human"}, ValueError, "render_mode must be None or one of 'rgb_array'"),
    ({"accuracy": "turbo"}, ValueError, "accuracy must be 'fast' or 'hardware', got 'turbo'"),
])
def test_bad_arguments_are_refused_on_the_driver(demo, arguments, error, message):
    with pytest.raises(error, match=message):
        RayVectorEnv(demo, **{"num_actors": 1, "envs_per_actor": 1, **arguments})


def test_errors_raised_in_an_actor_come_back_as_raised(cluster):
    with pytest.raises(ValueError, match="not an iNES image"):
        RayVectorEnv(Cartridge(b"not a cartridge at all", "junk.nes"), 1, 1)

    def broken_reward(ram, previous):
        raise KeyError("no such address")

    env = cluster(reward_fn=broken_reward)
    with pytest.raises(ResetNeeded):
        env.rollout(3, by_hero_position)
    env.reset(seed=0)
    with pytest.raises(ValueError, match="indices 0-21"):
        env.step(np.full(6, 99))                  # refused before any actor sees it
    with pytest.raises(KeyError, match="no such address"):
        env.step(np.zeros(6, dtype=int))
    with pytest.raises(ValueError, match="needs a policy"):
        env.rollout(2)
    with pytest.raises(ResetNeeded):            # after a failed rollout, steps were lost
        env.step(np.zeros(6, dtype=int))


class DiesMidRollout:
    """A policy that kills the actor process `pid` at its fifth step there."""

    def __init__(self, pid):
        self.pid = pid
        self.calls = 0

    def __call__(self, observations):
        self.calls += 1
        if os.getpid() == self.pid and self.calls == 5:
            os.kill(self.pid, signal.SIGKILL)
        return np.zeros(len(observations), dtype=int)


@pytest.mark.parametrize("when", ["between steps", "mid-rollout"])
def test_a_killed_actor_is_named_not_waited_for(cluster, when):
    env = cluster()
    env.reset(seed=0)
    if when == "between steps":
        os.kill(env.actor_pids[1], signal.SIGKILL)
        call = functools.partial(env.step, np.zeros(6, dtype=int))
    else:
        call = functools.partial(env.rollout, 50, DiesMidRollout(env.actor_pids[1]))
    for _ in range(2):      # and again: the environment stays broken, it does not hang
        with pytest.raises(RolloutActorError,
                           match=r"rollout actor 1 of 2 \(consoles 3-5\) died") as caught:
            call()
        assert caught.value.actor == 1 and caught.value.consoles == range(3, 6)
    env.close()


def test_a_silent_actor_times_out(cluster):
    env = cluster(num_actors=2, envs_per_actor=1, timeout=0.5)
    env.reset(seed=0)

    def slow(observations):
        time.sleep(2)
        return np.zeros(len(observations), dtype=int)

    started = time.monotonic()
    with pytest.raises(TimeoutError, match=r"within 0.5 s from rollout actor 0 of 2 "
                                           r"\(consoles 0-0\), rollout actor 1"):
        env.rollout(1, slow)
    assert time.monotonic() - started < 1.9
    with pytest.raises(ResetNeeded):
        env.step(np.zeros(2, dtype=int))


def test_actors_no_machine_can_hold_are_reported(demo):
    started = time.monotonic()
    with pytest.raises(TimeoutError, match=r"start: no answer within 2 s from rollout actor 0 "
                                           r".*each actor asks for 3 CPU\(s\); the cluster "
                                           r"has 2 in all"):
        RayVectorEnv(demo, 1, 1, threads_per_actor=3, start_timeout=2)
    assert time.monotonic() - started < 10
    RayVectorEnv(demo, 2, 1).close()         # the CPUs it asked for are free again


def test_close_ends_the_actors(cluster):
    env = cluster(num_actors=2, envs_per_actor=1)
    pids = env.actor_pids
    env.close()
    with pytest.raises(RuntimeError, match="closed"):
        env.reset()
    deadline = time.monotonic() + 10
    while any(_alive(pid) for pid in pids) and time.monotonic() < deadline:
        time.sleep(0.1)
    assert not any(_alive(pid) for pid in pids)


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return True
