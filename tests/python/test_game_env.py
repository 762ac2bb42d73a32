"""A game folder as a task: the batch stepper's native scenario against the Python one,
vandrel/Game-v0's ROM check, start states, action sets, crop and info."""
import hashlib
import json
import pathlib
import warnings

import gymnasium as gym
import numpy as np
import pytest

import vandrel
import vandrel_gym
from vandrel_gym import Integration, IntegrationError, PowerOnStartWarning
from vandrel_gym._batch import Batch

# Every format and endianness, sizes up to the widest the stepper decodes, at addresses
# the demo cartridge leaves alone after its start-up.
WIDE_DATA = {"info": {
    "u1": {"address": 0x400, "type": "|u1"}, "i1": {"address": 0x401, "type": "|i1"},
    "bu2": {"address": 0x402, "type": ">u2"}, "lu3": {"address": 0x404, "type": "<u3"},
    "bi4": {"address": 0x408, "type": ">i4"}, "li8": {"address": 0x410, "type": "<i8"},
    "bu7": {"address": 0x418, "type": ">u7"}, "bd3": {"address": 0x420, "type": ">d3"},
    "ld9": {"address": 0x428, "type": "<d9"}, "n6": {"address": 0x438, "type": ">n6"},
    "ln18": {"address": 0x440, "type": "<n18"}}}
OPS = (None, "nonzero", "zero", "positive", "negative", "sign", "equal", "not-equal",
       "less-than", "greater-than", "less-or-equal", "greater-or-equal")


def scenario_over(names, rng, done_condition):
    reward = {name: {"reward": float(rng.uniform(-2, 2)), "penalty": float(rng.uniform(-2, 2)),
                     "measurement": str(rng.choice(["delta", "absolute"])),
                     "op": OPS[rng.integers(len(OPS))], "reference": int(rng.integers(-3, 300))}
              for name in names}
    done = {name: {"op": OPS[1 + rng.integers(len(OPS) - 1)],
                   "reference": int(rng.integers(0, 200))} for name in names[:3]}
    for entry in (*reward.values(), *done.values()):
        if entry["op"] is None:
            del entry["op"]
    return {"reward": {"variables": reward, "time": {"reward": 0.25, "penalty": 0.125}},
            "done": {"condition": done_condition, "variables": done}}


@pytest.mark.parametrize("seed, condition", [(1, "any"), (2, "all"), (3, "any")])
def test_the_stepper_evaluates_scenarios_as_python_does(tmp_path, demo, seed, condition):
    rng = np.random.default_rng(seed)
    folder = tmp_path / "Wide-Nes"
    folder.mkdir()
    (folder / "data.json").write_text(json.dumps(WIDE_DATA))
    names = list(WIDE_DATA["info"])
    rng.shuffle(names)
    (folder / "scenario.json").write_text(json.dumps(scenario_over(names, rng, condition)))
    game = Integration(folder)
    natives = list(game.variables.values())
    batch = Batch(demo, 3, frame_skip=1, observation="ram", start_frames=10,
                  scenario=game.scenario.compiled(natives))
    previous = [game.read(row) for row in batch.ram]
    for _ in range(12):
        for i in range(3):
            # Small values often, so that the comparisons with references hit both ways.
            data = rng.integers(0, 4 if rng.random() < 0.5 else 256, 0x58, dtype=np.uint8)
            batch.write_ram(i, 0x400, data.tobytes())
        batch.step(np.zeros(3, dtype=np.uint8))
        values = [game.read(row) for row in batch.ram]
        for i in range(3):
            assert batch.values[i].tolist() == [values[i][v.name] for v in natives]
            assert batch.rewards[i] == game.scenario.reward(previous[i], values[i])
            assert batch.done[i] == game.scenario.done(previous[i], values[i])
        previous = values


def catalogue_folder(tmp_path, **scenario):
    """A folder as the public catalogue has them: made for a ROM we do not have, with a
    .state file of another emulator."""
    folder = tmp_path / "Catalogue-Nes"
    folder.mkdir()
    (folder / "data.json").write_text(json.dumps({"info": {
        "score": {"address": 0x500, "type": ">n6"}, "lives": {"address": 0x510, "type": "|u1"}}}))
    (folder / "scenario.json").write_text(json.dumps({
        "reward": {"variables": {"score": {"reward": 1.0}}},
        "done": {"variables": {"lives": {"op": "equal", "reference": 9}}}, **scenario}))
    (folder / "metadata.json").write_text(json.dumps({"default_state": "Level1"}))
    (folder / "Level1.state").write_bytes(b"\x1f\x8b another emulator's")
    (folder / "rom.sha").write_text("0" * 40 + "\n")
    return folder


def test_a_catalogue_folder_checks_the_rom_and_starts_at_power_on(tmp_path, demo):
    folder = catalogue_folder(tmp_path)
    digest = hashlib.sha1(pathlib.Path(demo).read_bytes()).hexdigest()
    with pytest.raises(ValueError, match=f"{digest}.*{'0' * 40}.*check_rom=False"):
        gym.make("vandrel/Game-v0", game=folder, rom=demo)
    with pytest.warns(PowerOnStartWarning, match="start at power-on"):
        env = gym.make("vandrel/Game-v0", game=folder, rom=demo, check_rom=False,
                       obs_type="ram", noop_max=0, repeat_action_probability=0.0,
                       start_frames=30)               # past the demo's clearing of RAM
    with warnings.catch_warnings():
        warnings.simplefilter("error")      # said once per folder
        gym.make("vandrel/Game-v0", game=folder, rom=demo, check_rom=False).close()
    _, info = env.reset(seed=0)
    assert info["score"] == 0 and info["frame"] == 0
    batch = env.unwrapped._batch
    batch.write_ram(0, 0x500, bytes([0, 0, 1, 2, 5, 0]))
    _, reward, terminated, _, info = env.step(np.zeros(8, dtype=np.int8))
    assert (reward, terminated, info["score"]) == (1250.0, False, 1250)
    batch.write_ram(0, 0x510, b"\x09")
    assert env.step(np.zeros(8, dtype=np.int8))[1:3] == (0.0, True)
    with pytest.raises(IntegrationError, match="no start state 'Level1'"):
        gym.make("vandrel/Game-v0", game=folder, rom=demo, check_rom=False, state="Level1")


def demo_folder(tmp_path, scenario=None, states=None, files=None):
    folder = tmp_path / "Demo-Nes"
    folder.mkdir(parents=True)
    (folder / "data.json").write_text(json.dumps({"info": {
        "x": {"address": 7, "type": "|u1"}, "y": {"address": 8, "type": "|u1"},
        "wide": {"address": 0x600, "type": ">u12"}}}))
    (folder / "scenario.json").write_text(json.dumps(scenario or {
        "reward": {"variables": {"x": {"reward": 1.0, "penalty": 1.0}}},
        "done": {"variables": {"x": {"op": "greater-or-equal", "reference": 150}}}}))
    (folder / "metadata.json").write_text(json.dumps(
        {"states": states or {"Right": {"inputs": "right.inputs"}}}))
    for name, content in (files or {"right.inputs": "1-60:right"}).items():
        if isinstance(content, bytes):
            (folder / name).write_bytes(content)
        else:
            (folder / name).write_text(content)
    return folder


@pytest.mark.parametrize("accuracy", ["fast", "hardware"])
def test_the_game_env_plays_the_scenario_from_its_start_state(tmp_path, demo, accuracy):
    folder = demo_folder(tmp_path)
    options = dict(game=folder, rom=demo, obs_type="ram", accuracy=accuracy, noop_max=0,
                   repeat_action_probability=0.0, actions=[(), ("right",)])
    env = gym.make("vandrel/Game-v0", **options)
    _, info = env.reset(seed=0)
    start = info["x"]
    assert start > 100 and info["wide"] == 0           # 60 frames of "right" from power-on
    total, steps, terminated = 0.0, 0, False
    while not terminated:
        _, reward, terminated, _, info = env.step(1)
        total, steps = total + reward, steps + 1
    assert info["x"] >= 150 and total == info["x"] - start
    vector = gym.make_vec("vandrel/Game-v0", num_envs=2, vectorization_mode="vector_entry_point",
                          **options)
    vector.reset(seed=0)
    rewards = sum(vector.step(np.ones(2, dtype=np.int64))[1] for _ in range(steps))
    assert rewards.tolist() == [total, total]


def test_action_sets_crop_and_callables_combine_with_the_scenario(tmp_path, demo):
    scenario = {"reward": {"variables": {"x": {"reward": 1.0}}},
                "actions": [[[], ["LEFT"], ["RIGHT"]], [[], ["A"]]], "crop": [8, 16, 24, 0]}
    folder = demo_folder(tmp_path, scenario)
    env = vandrel_gym.NESEnv(demo, game=folder, obs_type="rgb", noop_max=0,
                             repeat_action_probability=0.0, reward_fn=lambda ram, prev: 0.5)
    assert env.action_space == gym.spaces.MultiDiscrete([3, 2])
    assert env.observation_space.shape == (224, 224, 3)
    env.reset(seed=0)
    assert env.step(np.array([2, 0]))[1] == 4.0 + 0.5    # 4 frames right, plus reward_fn
    gray = vandrel_gym.NESVectorEnv(demo, 2, game=folder, obs_type="grayscale",
                                    grayscale_channel=True)
    assert gray.single_observation_space.shape == (84 - 6, 84 - 3 - 8, 1)
    assert gray.reset(seed=0)[0].shape == (2, 78, 73, 1)
    # Without scenario actions: eight buttons, Start and Select filtered out.
    plain = vandrel_gym.NESEnv(demo, game=demo_folder(tmp_path / "plain"), noop_max=0,
                               repeat_action_probability=0.0, obs_type="ram")
    assert plain.action_space == gym.spaces.MultiBinary(8)
    plain.reset(seed=0)
    ticks = plain.unwrapped._batch.ram[0][1]
    plain.step(np.array([0, 0, 1, 1, 0, 0, 0, 0]))       # Start would pause the demo
    assert plain.unwrapped._batch.ram[0][1] != ticks


@pytest.mark.parametrize("states, files, error, match", [
    ({"S": {"inputs": "s.inputs"}}, {"s.inputs": "1-10:jump"}, IntegrationError,
     r"s\.inputs: .*unknown button 'jump'"),
    ({"S": {"inputs": "s.inputs"}}, {"s.inputs": "5-:right"}, IntegrationError,
     r"states\.S\.frames: .*open-ended"),
    ({"S": {"snapshot": "s.snapshot"}}, {"s.snapshot": b"garbage"}, ValueError,
     r"start state 'S': .*s\.snapshot: .*not a console snapshot"),
    ({"S": {"snapshot": "s.snapshot"}}, {"s.snapshot": "other cartridge"}, ValueError,
     r"s\.snapshot: .*another cartridge"),
    ({"S": {"snapshot": "missing.snapshot"}}, {}, IntegrationError, r"states\.S\.snapshot: "),
    ({"S": {"frames": 10}}, {}, IntegrationError, r"states\.S: needs 'inputs'"),
])
def test_bad_start_states_are_refused_clearly(tmp_path, demo, states, files, error, match):
    if files.get("s.snapshot") == "other cartridge":
        other = bytearray(pathlib.Path(demo).read_bytes())
        other[-20] ^= 0xFF                                   # another cartridge's CHR
        (tmp_path / "other.nes").write_bytes(other)
        files = {"s.snapshot": vandrel.NES(str(tmp_path / "other.nes"),
                                           accuracy="hardware").getSnapshot()}
    with pytest.raises(error, match=match):
        folder = demo_folder(tmp_path, states=states, files=files)
        vandrel_gym.NESEnv(demo, game=folder)


def test_wide_reward_variables_are_refused_and_edited_scripts_replay_anew(tmp_path, demo):
    wide = demo_folder(tmp_path / "wide", {"reward": {"variables": {"wide": {"reward": 1}}}})
    with pytest.raises(IntegrationError, match=r"reward\.variables\.wide: .*too wide"):
        Integration(wide)
    folder = demo_folder(tmp_path)
    first = Integration(folder).start_snapshot(demo)
    (folder / "right.inputs").write_text("1-70:right")
    assert Integration(folder).start_snapshot(demo) != first


def test_lua_functions_add_to_the_reward_and_end_episodes(tmp_path, demo):
    pytest.importorskip("lupa")
    script = ("last = nil\n"
              "function reward() local r = last and data.x - last or 0; last = data.x; "
              "return r end\n"
              "function done() return data.x >= 130 end\n")
    folder = demo_folder(tmp_path, {"reward": {"script": "lua:reward", "variables": {
        "y": {"reward": 1.0}}}, "done": {"script": "lua:done"}},
        files={"right.inputs": "1-60:right", "script.lua": script})
    envs = vandrel_gym.NESVectorEnv(demo, 2, game=folder, obs_type="ram", noop_max=0,
                                    repeat_action_probability=0.0, actions=[("right",)])
    envs.reset(seed=0)
    steps = [envs.step(np.zeros(2, dtype=np.int64)) for _ in range(5)]
    # x goes 119 (the start state), 123, 127, 131 (the end), then a new episode: its
    # first step resets the console and the script's globals.
    assert [s[1].tolist() for s in steps] == [[0, 0], [4, 4], [4, 4], [0, 0], [0, 0]]
    assert [s[2].any() for s in steps] == [False, False, True, False, False]
