"""NESVectorEnv on the demo cartridge: its spaces, the next-step autoreset convention,
agreement with single NESEnv consoles, batch callables, seeding and bad arguments."""

import numpy as np
import pytest

gym = pytest.importorskip("gymnasium")

from gymnasium.vector import AutoresetMode  # noqa: E402
from vandrel_gym import DEFAULT_ACTIONS, NESEnv, NESVectorEnv  # noqa: E402

TICKS, HERO_X = 0x01, 0x07
RIGHT = DEFAULT_ACTIONS.index(("right",))
LEFT = DEFAULT_ACTIONS.index(("left",))
RAM = {"obs_type": "ram", "start_frames": 30}


@pytest.mark.parametrize("obs_type, shape", [
    ("rgb", (240, 256, 3)), ("grayscale", (84, 84)), ("ram", (2048,))])
def test_spaces_and_shapes(demo, obs_type, shape):
    env = NESVectorEnv(demo, 3, obs_type=obs_type, render_mode="rgb_array")
    assert env.metadata["autoreset_mode"] == AutoresetMode.NEXT_STEP
    assert env.single_observation_space.shape == shape
    assert env.observation_space.shape == (3, *shape)
    assert env.single_action_space == gym.spaces.Discrete(len(DEFAULT_ACTIONS))
    assert env.action_space == gym.spaces.MultiDiscrete([len(DEFAULT_ACTIONS)] * 3)
    obs, info = env.reset(seed=0)
    assert obs in env.observation_space and np.array_equal(info["frame"], [0, 0, 0])
    obs, rewards, terminated, truncated, info = env.step(env.action_space.sample())
    assert obs in env.observation_space
    assert rewards.shape == terminated.shape == truncated.shape == (3,)
    assert rewards.dtype == np.float64 and terminated.dtype == truncated.dtype == bool
    assert np.array_equal(info["frame"], [4, 4, 4]) and info["_frame"].all()
    assert [p.shape for p in env.render()] == [(240, 256, 3)] * 3


def test_next_step_autoreset_step_by_step(demo):
    # Console 0 walks right and ends its episode when the hero has gone 8 pixels;
    # console 1 stands still and is truncated at frame 12.
    def terminated(ram):
        return ram[:, HERO_X].astype(int) - start_x >= 8

    env = NESVectorEnv(demo, 2, repeat_action_probability=0.0, noop_max=0,
                       max_episode_frames=12, terminated_fn=terminated,
                       reward_fn=lambda ram, prev: ram[:, HERO_X].astype(float) - prev[:, HERO_X],
                       **RAM)
    first, _ = env.reset(seed=0)
    start_x = first[:, HERO_X].astype(int)
    walk = np.array([RIGHT, 0])

    def step():
        obs, rewards, terminated_, truncated, info = env.step(walk)
        return obs, list(rewards), list(terminated_), list(truncated), list(info["frame"])

    assert step()[1:] == ([4.0, 0.0], [False, False], [False, False], [4, 4])
    assert step()[1:] == ([4.0, 0.0], [True, False], [False, False], [8, 8])
    # Console 0 is reset instead of stepped: its first observation, reward 0, no end.
    obs, *rest = step()
    assert rest == [[0.0, 0.0], [False, False], [False, True], [0, 12]]
    assert np.array_equal(obs[0], first[0])
    obs, *rest = step()
    assert rest == [[4.0, 0.0], [False, False], [False, False], [4, 0]]
    assert np.array_equal(obs[1], first[1])


@pytest.mark.parametrize("obs_type", ["rgb", "grayscale", "ram"])
def test_equals_single_environments_with_the_same_seeds(demo, obs_type):
    kwargs = dict(obs_type=obs_type, start_frames=30, max_episode_frames=40,
                  reward_fn=None, repeat_action_probability=0.25, noop_max=30)
    vector = NESVectorEnv(demo, 3, **kwargs)
    singles = [NESEnv(demo, **kwargs) for _ in range(3)]
    obs, _ = vector.reset(seed=5)
    assert np.array_equal(obs, np.stack([e.reset(seed=5 + i)[0] for i, e in enumerate(singles)]))
    rng = np.random.default_rng(0)
    ended = [False] * 3
    for _ in range(25):
        actions = rng.integers(0, len(DEFAULT_ACTIONS), 3)
        obs, _, terminated, truncated, info = vector.step(actions)
        expected = []
        for i, env in enumerate(singles):
            if ended[i]:
                single_obs, single_info = env.reset()
                ended[i] = False
            else:
                single_obs, _, term, trunc, single_info = env.step(actions[i])
                ended[i] = term or trunc
                assert (term, trunc) == (terminated[i], truncated[i])
            assert single_info["frame"] == info["frame"][i]
            expected.append(single_obs)
        assert np.array_equal(obs, np.stack(expected))


def test_batch_callables_see_every_console(demo):
    seen = []

    def reward(ram, previous):
        seen.append((ram.shape, previous.shape, ram.flags.writeable))
        return np.arange(4) * 1.5

    env = NESVectorEnv(demo, 4, reward_fn=reward,
                       terminated_fn=lambda ram: np.arange(4) == 2, **RAM)
    env.reset(seed=0)
    _, rewards, terminated, _, _ = env.step(np.zeros(4, int))
    assert seen == [((4, 2048), (4, 2048), False)]
    assert list(rewards) == [0.0, 1.5, 3.0, 4.5]
    assert list(terminated) == [False, False, True, False]


@pytest.mark.parametrize("kwargs, error, message", [
    ({"reward_fn": lambda r, p: 1.0}, ValueError, "one value per console"),
    ({"reward_fn": lambda r, p: ["a"] * 4}, TypeError, "numbers"),
    ({"terminated_fn": lambda r: True}, ValueError, "one value per console"),
])
def test_bad_callable_results_are_refused(demo, kwargs, error, message):
    env = NESVectorEnv(demo, 4, **kwargs, **RAM)
    env.reset(seed=0)
    with pytest.raises(error, match=message):
        env.step(np.zeros(4, int))


def test_seeding(demo):
    env = NESVectorEnv(demo, 4, noop_max=30, **RAM)

    def episode(seed):
        frames = [env.reset(seed=seed)[0]]
        for step in range(10):
            frames.append(env.step(np.full(4, (RIGHT, LEFT)[step % 2]))[0])
        return np.stack(frames)

    first = episode(3)
    assert np.array_equal(first, episode(3))
    assert np.array_equal(first, episode([3, 4, 5, 6]))
    assert not np.array_equal(first, episode(4))
    assert not np.array_equal(first[:, 0], first[:, 1]), "consoles share their random numbers"


def test_reset_mask_resets_only_the_marked_consoles(demo):
    env = NESVectorEnv(demo, 3, noop_max=0, **RAM)
    start, _ = env.reset(seed=0)
    env.step(np.full(3, RIGHT))
    obs, info = env.reset(options={"reset_mask": np.array([False, True, False])})
    assert list(info["frame"]) == [4, 0, 4]
    assert np.array_equal(obs[1], start[1]) and not np.array_equal(obs[0], start[0])
    with pytest.raises(ValueError, match="reset_mask"):
        env.reset(options={"reset_mask": np.array([1, 0, 0])})
    with pytest.raises(ValueError, match="seed"):
        env.reset(seed=1, options={"reset_mask": np.array([True, False, False])})


@pytest.mark.parametrize("copy", [True, False])
def test_copy_option(demo, copy):
    env = NESVectorEnv(demo, 2, copy=copy, **RAM)
    first, _ = env.reset(seed=0)
    kept = first.copy()
    second, *_ = env.step(np.array([RIGHT, RIGHT]))
    assert (first is second) == (not copy)
    assert np.array_equal(first, kept) == copy


@pytest.mark.parametrize("kwargs, error", [
    ({"num_envs": 0}, ValueError), ({"num_envs": 2.0}, TypeError), ({"threads": -1}, ValueError),
    ({"copy": "no"}, TypeError), ({"obs_type": "pixels"}, ValueError),
    ({"render_mode": "human"}, ValueError), ({"frameskip": 0}, ValueError),
])
def test_bad_options_are_refused(demo, kwargs, error):
    with pytest.raises(error):
        NESVectorEnv(demo, **kwargs)


@pytest.mark.parametrize("actions, error", [
    (np.zeros(3, int), ValueError), (np.array([0, 22]), ValueError),
    (np.array([-1, 0]), ValueError), (np.array([0.0, 1.0]), TypeError)])
def test_bad_actions_are_refused(demo, actions, error):
    env = NESVectorEnv(demo, 2, **RAM)
    env.reset(seed=0)
    with pytest.raises(error):
        env.step(actions)


@pytest.mark.parametrize("seed", [[1, 2], -5, [0, 1, -1]])
def test_bad_seeds_are_refused(demo, seed):
    with pytest.raises(ValueError, match="seed"):
        NESVectorEnv(demo, 3, **RAM).reset(seed=seed)


@pytest.mark.parametrize("options, stacked, axis", [
    ({"obs_type": "grayscale", "grayscale_channel": True}, (84, 84, 3), -1),
    ({"obs_type": "grayscale"}, (3, 84, 84), 0),
    ({"obs_type": "ram"}, (3, 2048), 0),
    ({"obs_type": "rgb"}, (240, 256, 9), -1),
])
def test_frame_stacks_hold_the_last_observations_across_resets_and_autoresets(
        demo, options, stacked, axis):
    # Console 0 walks right and ends its episode every few steps; console 1 stands.
    def terminated(ram):
        return (ram[:, HERO_X] % 16 == 0) & (ram[:, HERO_X] != start_x)

    common = dict(repeat_action_probability=0.0, noop_max=4, start_frames=30,
                  terminated_fn=terminated, **options)
    plain = NESVectorEnv(demo, 2, **common)
    stacked_env = NESVectorEnv(demo, 2, frame_stack=3, **common)
    assert stacked_env.single_observation_space.shape == stacked
    first, _ = plain.reset(seed=5)
    start, _ = stacked_env.reset(seed=5)
    start_x = plain._batch.ram[:, HERO_X].copy()
    history = [[first[i]] * 3 for i in range(2)]
    assert all(np.array_equal(start[i], np.concatenate(history[i], axis=axis) if axis == -1
                              else np.stack(history[i])) for i in range(2))
    walk = np.array([RIGHT, 0])
    restarting = np.zeros(2, dtype=bool)
    restarts = 0
    for _ in range(12):
        obs, *_ = plain.step(walk)
        got, _, ended, truncated, _ = stacked_env.step(walk)
        for i in range(2):
            history[i] = [obs[i]] * 3 if restarting[i] else (history[i] + [obs[i]])[-3:]
            expected = np.concatenate(history[i], axis=axis) if axis == -1 else \
                np.stack(history[i])
            assert got[i].shape == stacked and np.array_equal(got[i], expected)
        restarting = ended | truncated
        restarts += int(restarting.any())
    assert restarts > 0


def reward(ram, prev):
    return ram[..., HERO_X].astype(np.float64) - prev[..., HERO_X]


def test_snapshots_return_both_environments_to_a_state(demo):
    """A state saved mid-episode, restored after other steps (and cloned onto other
    consoles), continues exactly as it did the first time."""
    options = dict(repeat_action_probability=0.0, frame_stack=2, obs_type="grayscale",
                   reward_fn=reward, start_frames=30, noop_max=0)
    single = NESEnv(demo, **options)
    single.reset(seed=1)
    envs = NESVectorEnv(demo, 3, **options)
    envs.reset(seed=1)
    for _ in range(3):
        single.step(RIGHT)
        envs.step([RIGHT, LEFT, RIGHT])
    saved, saved_vector = single.get_snapshot(), envs.get_snapshot(0)
    first = [single.step(a)[:2] for a in (RIGHT, LEFT, RIGHT)]
    single.set_snapshot(saved)
    again = [single.step(a)[:2] for a in (RIGHT, LEFT, RIGHT)]
    assert all(np.array_equal(a[0], b[0]) and a[1] == b[1] for a, b in zip(first, again))
    envs.step([LEFT, LEFT, LEFT])
    envs.set_snapshot(2, saved_vector)
    envs.clone(2, [1])
    obs, rewards, _, _, info = envs.step([RIGHT, RIGHT, RIGHT])
    assert np.array_equal(obs[1], first[0][0]) and np.array_equal(obs[2], first[0][0])
    assert rewards[1] == rewards[2] == first[0][1] and info["frame"][1] == info["frame"][2]
    with pytest.raises(TypeError, match="EnvSnapshot"):
        single.set_snapshot(b"bytes")
    with pytest.raises(ValueError, match="stack"):
        NESEnv(demo).set_snapshot(saved)
