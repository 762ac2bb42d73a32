"""NESEnv, the one-console Gymnasium environment, on the demo cartridge: spaces,
seeding, sticky actions, no-op starts, episode ends, the reward and termination
callables, rendering, registration and refusal of bad arguments."""

import importlib
import pathlib
import pickle
import subprocess
import sys

import numpy as np
import pytest

gym = pytest.importorskip("gymnasium")

import vandrel_gym  # noqa: E402  (registers vandrel/NES-v0)
from gymnasium.error import ResetNeeded  # noqa: E402
from gymnasium.utils.env_checker import check_env  # noqa: E402
from vandrel_gym import (DEFAULT_ACTIONS, Cartridge, NESEnv, action_masks,  # noqa: E402
                         button_mask, button_names)

# The demo's zero page: $01 counts frames, $07/$08 hold the hero's position.
TICKS, HERO_X = 0x01, 0x07
RIGHT = DEFAULT_ACTIONS.index(("right",))
LEFT = DEFAULT_ACTIONS.index(("left",))


@pytest.fixture
def headless(monkeypatch):
    monkeypatch.setenv("SDL_VIDEODRIVER", "dummy")
    monkeypatch.setenv("PYGAME_HIDE_SUPPORT_PROMPT", "1")


def run(env, actions, seed):
    """Observations, rewards and infos of an episode start and the given actions."""
    obs, info = env.reset(seed=seed)
    seen = [(obs, 0.0, info["frame"])]
    for action in actions:
        obs, reward, _, _, info = env.step(action)
        seen.append((obs, reward, info["frame"]))
    return seen


def same_run(a, b):
    return all(np.array_equal(x[0], y[0]) and x[1:] == y[1:] for x, y in zip(a, b))


@pytest.mark.parametrize("obs_type", ["rgb", "grayscale", "ram"])
@pytest.mark.parametrize("actions", [None, "multibinary"])
def test_check_env_passes(demo, headless, obs_type, actions):
    # Made through the registry so that the checker can try every render mode too.
    env = gym.make("vandrel/NES-v0", rom=demo, obs_type=obs_type, actions=actions)
    check_env(env.unwrapped)
    env.close()


@pytest.mark.parametrize("obs_type, shape", [
    ("rgb", (240, 256, 3)), ("grayscale", (84, 84)), ("ram", (2048,))])
def test_observations_fit_their_space_and_are_copies(demo, obs_type, shape):
    env = NESEnv(demo, obs_type=obs_type)
    assert env.observation_space.shape == shape and env.observation_space.dtype == np.uint8
    first, _ = env.reset(seed=0)
    kept = first.copy()
    second, *_ = env.step(RIGHT)
    assert first.shape == shape and first.dtype == np.uint8
    assert second in env.observation_space
    assert np.array_equal(first, kept), "a later step changed an observation already returned"


def test_same_seed_same_episode_with_noops_and_sticky_actions(demo):
    env = gym.make("vandrel/NES-v0", rom=demo, obs_type="ram", start_frames=30,
                   repeat_action_probability=0.5)
    actions = [RIGHT, LEFT] * 8 + [RIGHT] * 8
    first = run(env, actions, seed=7)
    run(env, actions[:5], seed=8)
    assert same_run(first, run(env, actions, seed=7))
    # Another environment with the same seed, after a different history.
    fresh = NESEnv(demo, obs_type="ram", start_frames=30, repeat_action_probability=0.5)
    run(fresh, [LEFT] * 5, seed=3)
    assert same_run(first, run(fresh, actions, seed=7))
    # Reset without a seed goes on with the seeded numbers: reproducible as well.
    follow = [env.reset(seed=7)[0], env.reset()[0], env.reset(seed=7)[0], env.reset()[0]]
    assert np.array_equal(follow[1], follow[3])


def test_different_seeds_give_different_starts(demo):
    env = NESEnv(demo, obs_type="ram", start_frames=30, noop_max=30)
    ticks = {int(env.reset(seed=seed)[0][TICKS]) for seed in range(12)}
    assert len(ticks) > 3
    start = NESEnv(demo, obs_type="ram", start_frames=30, noop_max=0).reset(seed=0)[0][TICKS]
    assert all(0 <= (t - int(start)) % 256 <= 30 for t in ticks), "more no-ops than noop_max"


@pytest.mark.parametrize("probability, moved", [(0.0, 40), (1.0, 0)])
def test_sticky_actions(demo, probability, moved):
    # Always sticky: the console keeps the no-op it was reset with.
    env = NESEnv(demo, obs_type="ram", start_frames=30, repeat_action_probability=probability, noop_max=0)
    start, _ = env.reset(seed=1)
    for _ in range(10):
        obs, *_ = env.step(RIGHT)
    assert int(obs[HERO_X]) - int(start[HERO_X]) == moved


@pytest.mark.parametrize("frameskip, limit, ends_at_step", [(4, 12, 3), (4, 10, 3), (1, 5, 5),
                                                             (30, None, 20)])
def test_truncation_after_max_episode_frames(demo, frameskip, limit, ends_at_step):
    env = NESEnv(demo, obs_type="ram", start_frames=30, frameskip=frameskip, max_episode_frames=limit)
    _, info = env.reset(seed=0)
    assert info["frame"] == 0
    for step in range(1, ends_at_step + 1):
        _, _, terminated, truncated, info = env.step(0)
        assert info["frame"] == step * frameskip
        assert truncated == (step == ends_at_step and limit is not None) and not terminated


def test_reward_and_termination_come_from_the_callables(demo):
    calls = []

    def reward(ram, previous):
        assert not ram.flags.writeable and not previous.flags.writeable
        calls.append((ram, previous))
        return np.int64(ram[HERO_X]) - previous[HERO_X]

    env = NESEnv(demo, obs_type="ram", start_frames=30, repeat_action_probability=0.0, reward_fn=reward,
                 terminated_fn=lambda ram: ram[HERO_X] >= start_x + 12)
    obs, _ = env.reset(seed=0)
    start_x = int(obs[HERO_X])
    results = [env.step(a)[1:3] for a in (RIGHT, RIGHT, LEFT, RIGHT, RIGHT)]
    assert results == [(4.0, False), (4.0, False), (-4.0, False), (4.0, False), (4.0, True)]
    assert all(type(r) is float and type(t) is bool for r, t in results)
    # Each call sees the RAM the previous call saw as current.
    assert all(np.array_equal(calls[i][0], calls[i + 1][1]) for i in range(len(calls) - 1))


@pytest.mark.parametrize("kwargs, error, message", [
    ({"reward_fn": lambda r, p: np.zeros(2)}, ValueError, "one value"),
    ({"reward_fn": lambda r, p: "lots"}, TypeError, "number"),
    ({"terminated_fn": lambda r: None}, TypeError, "number"),
])
def test_bad_callable_results_are_refused(demo, kwargs, error, message):
    env = NESEnv(demo, obs_type="ram", start_frames=30, **kwargs)
    env.reset(seed=0)
    with pytest.raises(error, match=message):
        env.step(0)


def test_actions_are_button_masks(demo):
    names = NESEnv(demo).get_action_meanings()
    assert names[0] == "noop" and names[RIGHT] == "right" and "start" in names
    assert len(set(names)) == len(names)
    env = NESEnv(demo, obs_type="ram", start_frames=30, actions=[("left",), "right", 0], noop_max=0,
                 repeat_action_probability=0.0)
    assert env.action_space == gym.spaces.Discrete(3)
    start, _ = env.reset(seed=0)
    assert env.step(1)[0][HERO_X] == start[HERO_X] + 4
    assert env.step(0)[0][HERO_X] == start[HERO_X]
    mb = NESEnv(demo, obs_type="ram", start_frames=30, actions="multibinary", noop_max=0,
                repeat_action_probability=0.0)
    start, _ = mb.reset(seed=0)
    assert mb.step(np.array([0, 0, 0, 0, 0, 0, 0, 1], np.int8))[0][HERO_X] == start[HERO_X] + 4


@pytest.mark.parametrize("names, mask", [
    (("a",), 0x01), (("right", "a"), 0x81), (("Right+A",), 0x81), (("noop",), 0),
    ((), 0), (("up", "down", "select", "start", "b"), 0x3E)])
def test_button_masks_from_names(names, mask):
    assert button_mask(*names) == mask
    assert button_mask(*button_names(mask)) == mask


@pytest.mark.parametrize("bad, error", [
    ((("jump",),), ValueError), ((256,), ValueError), ((-1,), ValueError), ((True,), TypeError),
    ((1.5,), TypeError), ((), ValueError), ("right", TypeError), ((("a", 3),), TypeError)])
def test_bad_action_sets_are_refused(bad, error):
    with pytest.raises(error):
        action_masks(bad)


@pytest.mark.parametrize("kwargs, error", [
    ({"obs_type": "gray"}, ValueError), ({"frameskip": 0}, ValueError),
    ({"frameskip": 2.0}, TypeError), ({"repeat_action_probability": 1.5}, ValueError),
    ({"repeat_action_probability": float("nan")}, ValueError),
    ({"repeat_action_probability": "0.1"}, TypeError), ({"max_episode_frames": 0}, ValueError),
    ({"actions": "all"}, ValueError), ({"actions": []}, ValueError),
    ({"actions": [("a", "jump")]}, ValueError), ({"reward_fn": 3}, TypeError),
    ({"terminated_fn": "yes"}, TypeError), ({"noop_max": -1}, ValueError),
    ({"start_frames": None}, TypeError), ({"render_mode": "ansi"}, ValueError),
    ({"rom": 123}, TypeError), ({"rom": b"demo.nes"}, TypeError),
    ({"grayscale_channel": True}, ValueError), ({"grayscale_channel": 1}, TypeError),
    ({"frame_stack": 0}, ValueError), ({"frame_stack": 65}, ValueError),
    ({"frame_stack": "4"}, TypeError),
])
def test_bad_options_are_refused(demo, kwargs, error):
    with pytest.raises(error):
        NESEnv(**{"rom": demo, **kwargs})


def test_a_cartridge_in_memory_runs_as_its_file_and_travels_by_pickle(demo, tmp_path):
    copy = tmp_path / "copy.nes"
    copy.write_bytes(pathlib.Path(demo).read_bytes())
    cartridge = pickle.loads(pickle.dumps(Cartridge.read(copy)))
    copy.unlink()
    assert cartridge.name == "copy.nes" and repr(cartridge).startswith("Cartridge(name='copy.nes'")
    options = {"obs_type": "ram", "start_frames": 30, "repeat_action_probability": 0.5}
    actions = [RIGHT, LEFT] * 6
    assert same_run(run(NESEnv(demo, **options), actions, seed=5),
                    run(NESEnv(cartridge, **options), actions, seed=5))


@pytest.mark.parametrize("arguments, error, message", [
    ((), TypeError, "missing"),
    (("demo.nes",), TypeError, "image must be bytes-like"),
    ((b"NES", 5), TypeError, "name must be a str"),
    ((b"NES", "a\0.nes"), ValueError, "NUL"),
])
def test_bad_cartridges_are_refused(arguments, error, message):
    with pytest.raises(error, match=message):
        Cartridge(*arguments)


@pytest.mark.parametrize("actions, action, error", [
    (None, 22, ValueError), (None, -1, ValueError), (None, 1.0, TypeError),
    (None, True, TypeError), (None, "right", TypeError),
    ("multibinary", np.ones(7, int), ValueError), ("multibinary", np.full(8, 2), ValueError),
    ("multibinary", 3, ValueError)])
def test_bad_actions_are_refused(demo, actions, action, error):
    env = NESEnv(demo, obs_type="ram", start_frames=30, actions=actions)
    env.reset(seed=0)
    with pytest.raises(error):
        env.step(action)


@pytest.mark.parametrize("seed", [-1, 2**63, 1.5])
def test_bad_seeds_are_refused(demo, seed):
    with pytest.raises((ValueError, TypeError), match="seed"):
        NESEnv(demo, obs_type="ram", start_frames=30).reset(seed=seed)


def test_step_before_reset_is_refused(demo):
    with pytest.raises(ResetNeeded):
        NESEnv(demo, obs_type="ram", start_frames=30).step(0)


def test_rgb_array_render_is_the_picture(demo):
    env = NESEnv(demo, obs_type="ram", start_frames=30, render_mode="rgb_array", frameskip=1)
    env.reset(seed=0, options={})
    env.step(0)
    picture = env.render()
    assert picture.shape == (240, 256, 3) and picture.dtype == np.uint8
    assert len(np.unique(picture.reshape(-1, 3), axis=0)) > 4
    assert env.metadata["render_fps"] == 60 and NESEnv(demo).metadata["render_fps"] == 15


def test_human_render_opens_and_closes_a_window(demo, headless):
    pygame = pytest.importorskip("pygame")
    env = gym.make("vandrel/NES-v0", rom=demo, render_mode="human", frameskip=8)
    env.reset(seed=0)
    env.step(RIGHT)
    assert pygame.display.get_surface().get_size() == (768, 720)
    env.close()
    assert not pygame.display.get_init()


def test_registration_and_make_vec(demo):
    assert "vandrel/NES-v0" in gym.registry
    env = gym.make("vandrel/NES-v0", rom=demo, obs_type="grayscale")
    assert isinstance(env.unwrapped, NESEnv) and env.observation_space.shape == (84, 84)
    vec = gym.make_vec("vandrel/NES-v0", num_envs=2, rom=demo, obs_type="ram",
                       vectorization_mode="vector_entry_point")
    assert isinstance(vec.unwrapped, vandrel_gym.NESVectorEnv)
    assert vec.reset(seed=0)[0].shape == (2, 2048)


def test_the_cluster_module_without_ray_says_what_to_install(monkeypatch):
    monkeypatch.setitem(sys.modules, "ray", None)         # as if Ray were not installed
    monkeypatch.delitem(sys.modules, "vandrel_gym.cluster", raising=False)
    with pytest.raises(ImportError, match=r'needs Ray: pip install "\.\[cluster\]"'):
        importlib.import_module("vandrel_gym.cluster")


@pytest.mark.parametrize("load, extra", [
    ("vandrel_gym.NESEnv", ".[gym]"),
    ("vandrel_gym.NESVectorEnv", ".[gym]"),
    ("importlib.import_module('vandrel_gym.cluster')", ".[cluster]"),
])
def test_without_gymnasium_the_environments_name_their_extra(load, extra):
    code = ("import importlib, sys\nsys.modules['gymnasium'] = None\nimport vandrel_gym\n"
            f"try:\n    {load}\nexcept ModuleNotFoundError as error:\n    print(error)\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         check=True).stdout
    assert f'pip install "{extra}"' in out


def test_a_stacked_channelled_grayscale_env_returns_its_last_observations(demo):
    options = dict(obs_type="grayscale", repeat_action_probability=0.0, start_frames=30)
    plain = NESEnv(demo, grayscale_channel=True, **options)
    stacked = NESEnv(demo, grayscale_channel=True, frame_stack=4, **options)
    assert plain.observation_space.shape == (84, 84, 1)
    assert stacked.observation_space.shape == (84, 84, 4)
    first, _ = plain.reset(seed=1)
    history = [first] * 4
    assert np.array_equal(stacked.reset(seed=1)[0], np.concatenate(history, axis=-1))
    for step in range(6):
        history = history[1:] + [plain.step(step % 3)[0]]
        obs = stacked.step(step % 3)[0]
        assert obs in stacked.observation_space
        assert np.array_equal(obs, np.concatenate(history, axis=-1))
