"""Game folders in the integration format: variable types, scenario evaluation, malformed
folders, ROM hashes and the integration path."""
import hashlib
import json
import os
import pathlib

import pytest

import vandrel
import vandrel_gym
from vandrel_gym import Integration, IntegrationError, integration

DATA = {"info": {"score": {"address": 0x10, "type": ">n6"},
                 "lives": {"address": 0x20, "type": "|u1"},
                 "gameover": {"address": 0x21, "type": "|u1"},
                 "x": {"address": 0x30, "type": "<u2"},
                 "speed": {"address": 0x40, "type": "|i1"}}}
SCENARIO = {"reward": {"variables": {"score": {"reward": 1.0}, "lives": {"penalty": 10.0},
                                     "x": {"reward": 0.5, "measurement": "absolute",
                                           "op": "greater-than", "reference": 100}},
                       "time": {"reward": 0.1, "penalty": 0.01}},
            "done": {"variables": {"lives": {"op": "equal", "reference": 0},
                                   "gameover": {"op": "nonzero"}}},
            "actions": [[[], ["UP"], ["DOWN"]], [[], ["A"], ["B", "RIGHT"]]],
            "crop": [0, 8, 0, 0]}
TIME = 0.1 - 0.01


def game_folder(folder, **files):
    folder.mkdir(parents=True, exist_ok=True)
    files = {"data.json": DATA, "scenario.json": SCENARIO} | files
    for name, content in files.items():
        (folder / name).write_text(content if isinstance(content, str) else json.dumps(content))
    return folder


def ram_with(writes):
    ram = bytearray(0x800)
    for address, data in writes.items():
        ram[address:address + len(data)] = data
    return ram


@pytest.mark.parametrize("type_, data, value", [
    (">u2", b"\x01\x02", 258), ("<u2", b"\x01\x02", 513), ("=u2", b"\x01\x02", 513),
    ("|u1", b"\xff", 255), (">u3", b"\x01\x00\x00", 65536), ("<u4", b"\0\0\0\x80", 2**31),
    ("|i1", b"\x80", -128), (">i2", b"\xff\xfe", -2), ("<i2", b"\xfe\xff", -2),
    (">i3", b"\x7f\xff\xff", 2**23 - 1), (">d2", b"\x12\x34", 1234), ("<d2", b"\x12\x34", 3412),
    ("<d3", b"\x99\x00\x01", 10099), (">n6", b"\0\0\x01\x02\x05\0", 1250),
    ("<n6", b"\0\x05\x02\x01\0\0", 1250), (">n2", b"\xf3\x27", 37),
])
def test_types_decode_to_hand_computed_values(tmp_path, type_, data, value):
    # At the very end of RAM, so that a reader one byte off reads outside it.
    address = 0x800 - len(data)
    game = Integration(game_folder(tmp_path / "Types-Nes", **{
        "data.json": {"info": {"v": {"address": address, "type": type_}}},
        "scenario.json": {}}))
    assert game.read(ram_with({address: data})) == {"v": value}


def test_read_takes_the_consoles_work_ram(tmp_path, demo):
    nes = vandrel.NES(demo)
    nes.cpuMem()[0x10:0x16] = [0, 0, 1, 2, 5, 0]
    nes.cpuMem()[0x40] = 0xfd
    values = Integration(game_folder(tmp_path / "Game-Nes")).read(nes)
    assert (values["score"], values["speed"]) == (1250, -3)


@pytest.mark.parametrize("writes, reward, done_any, done_all", [
    ({}, TIME, False, False),
    ({0x14: b"\x07"}, 20 + TIME, False, False),                 # score 1250 -> 1270
    ({0x13: b"\x01"}, TIME, False, False),                      # a fall, no penalty given
    ({0x20: b"\x02"}, -10 + TIME, False, False),                # a life lost: penalty * -1
    ({0x20: b"\x04"}, TIME, False, False),                      # a life won: no reward given
    ({0x30: b"\x65\x00"}, 0.5 + TIME, False, False),            # x = 101, not its delta 51
    ({0x30: b"\x64\x00"}, TIME, False, False),                  # x = 100: not greater
    ({0x30: b"\xc8\x00", 0x14: b"\x06"}, 0.5 + 10 + TIME, False, False),
    ({0x20: b"\x00"}, -30 + TIME, True, False),
    ({0x21: b"\x01"}, TIME, True, False),
    ({0x20: b"\x00", 0x21: b"\x01"}, -30 + TIME, True, True),
])
def test_scenario_reward_and_done(tmp_path, writes, reward, done_any, done_all):
    all_of = SCENARIO | {"done": SCENARIO["done"] | {"condition": "all"}}
    folder = game_folder(tmp_path / "Game-Nes", **{"all.json": all_of, "empty.json": {}})
    start = {0x10: b"\0\0\x01\x02\x05\0", 0x20: b"\x03", 0x30: b"\x32\x00"}
    for game in Integration(folder), Integration(folder, scenario="all"):
        previous, values = game.read(ram_with(start)), game.read(ram_with(start | writes))
        assert game.scenario.reward(previous, values) == pytest.approx(reward)
        assert game.scenario.done(previous, values) == (done_all if game.scenario.done_all
                                                        else done_any)
    empty = Integration(folder, scenario="empty").scenario
    assert (empty.reward(previous, values), empty.done(previous, values)) == (0, False)
    assert game.scenario.actions == ((0, 0x10, 0x20), (0, 0x01, 0x82))
    assert game.scenario.crop == (0, 8, 0, 0)


@pytest.mark.parametrize("op, reference, speed, result", [
    (None, 0, -3, -3), ("nonzero", 0, -3, 1), ("zero", 0, 0, 1), ("zero", 0, 5, 0),
    ("positive", 0, 5, 1), ("negative", 0, -1, 1), ("negative", 0, 0, 0), ("sign", 0, -7, -1),
    ("sign", 0, 7, 1), ("equal", 3, 3, 1), ("not-equal", 3, 3, 0), ("less-than", 3, 2, 1),
    ("greater-than", 3, 3, 0), ("less-or-equal", 3, 3, 1), ("greater-or-equal", 3, 2, 0),
])
def test_ops_on_an_absolute_measurement(tmp_path, op, reference, speed, result):
    term = {"measurement": "absolute", "reference": reference, "reward": 1, "penalty": 2}
    scenario = {"reward": {"variables": {"speed": term | ({"op": op} if op else {})}},
                "done": {"variables": {"speed": term | ({"op": op} if op else {})}}}
    game = Integration(game_folder(tmp_path / "Ops-Nes", **{"scenario.json": scenario}))
    values = game.read(ram_with({0x40: speed.to_bytes(1, "little", signed=True)}))
    assert game.scenario.reward(values, values) == result * (1 if result > 0 else 2)
    assert game.scenario.done(values, values) == (result != 0)


def variable(type_="|u1", address=0):
    return {"info": {"v": {"address": address, "type": type_}}}


@pytest.mark.parametrize("file, content, key", [
    ("data.json", "{", ""), ("data.json", "[]", ""), ("data.json", "{}", "info"),
    ("data.json", '{"info": {"v": {"address": NaN, "type": "|u1"}}}', ""),
    ("data.json", variable(">x2"), "info.v.type"), ("data.json", variable("|u2"), "info.v.type"),
    ("data.json", variable("><u4"), "info.v.type"), ("data.json", variable(">u0"), "info.v.type"),
    ("data.json", variable(">u2", 0x7ff), "info.v.address"),
    ("data.json", variable(address=-1), "info.v.address"),
    ("data.json", variable(address="16"), "info.v.address"),
    ("scenario.json", "\xff", ""), ("scenario.json", {"reward": []}, "reward"),
    ("scenario.json", {"reward": {"variables": {"coins": {}}}}, "reward.variables.coins"),
    ("scenario.json", {"reward": {"variables": {"lives": {"op": "bigger"}}}},
     "reward.variables.lives.op"),
    ("scenario.json", {"done": {"variables": {"lives": {"measurement": "sum"}}}},
     "done.variables.lives.measurement"),
    ("scenario.json", {"reward": {"variables": {"lives": {"reward": "1"}}}},
     "reward.variables.lives.reward"),
    ("scenario.json", {"reward": {"time": {"penalty": True}}}, "reward.time.penalty"),
    ("scenario.json", {"done": {"condition": "most"}}, "done.condition"),
    ("scenario.json", {"crop": [0, 8, 0]}, "crop"),
    ("scenario.json", {"crop": [200, 0, 56, 0]}, "crop"),
    ("scenario.json", {"actions": [[["A"], ["JUMP"]]]}, "actions[0][1]"),
    ("scenario.json", {"actions": [[]]}, "actions[0]"),
    ("scenario.json", {"reward": {"script": "python:f"}}, "reward.script"),
    ("scenario.json", {"done": {"script": "lua:f"}}, "scripts[0]"),     # no script.lua
    ("metadata.json", "[1]", ""), ("rom.sha", "abc\n", "line 1"),
    ("metadata.json", {"states": {"S": {"inputs": "s.inputs", "speed": 2}}}, "states.S"),
])
def test_malformed_folders_name_the_file_and_the_key(tmp_path, file, content, key):
    folder = game_folder(tmp_path / "Bad-Nes", **{file: content})
    before = (folder / file).read_bytes()
    with pytest.raises(IntegrationError) as raised:
        Integration(folder)
    assert (raised.value.file, raised.value.key) == (str(folder / file), key)
    assert str(folder / file) in str(raised.value) and key in str(raised.value)
    assert (folder / file).read_bytes() == before


@pytest.mark.parametrize("hashed, as_bytes", [("whole", False), ("headerless", True),
                                              ("headerless", False), ("other", True)])
def test_check_rom_accepts_the_file_with_or_without_its_header(tmp_path, demo, hashed, as_bytes):
    image = pathlib.Path(demo).read_bytes()
    digest = hashlib.sha1({"whole": image, "headerless": image[16:],
                           "other": image[:-1]}[hashed]).hexdigest()
    folder = game_folder(tmp_path / "Demo-Nes", **{"rom.sha": f"{'0' * 40}\n{digest.upper()}\n"})
    assert Integration(folder).check_rom(image if as_bytes else demo) == (hashed != "other")
    with pytest.raises(IntegrationError, match="rom.sha"):
        Integration(game_folder(tmp_path / "Unhashed-Nes")).check_rom(image)


def test_games_are_found_on_the_integration_path(tmp_path, monkeypatch):
    monkeypatch.setattr(integration, "_added_paths", [])
    monkeypatch.setattr(integration, "INTEGRATIONS_DIR", tmp_path / "shipped")  # none
    first, second, added = tmp_path / "first", tmp_path / "second", tmp_path / "added"
    game_folder(first / "Shared-Nes", **{"scenario.json": {"crop": [1, 1, 1, 1]}})
    game_folder(second / "Shared-Nes")
    game_folder(second / "Second-Nes")
    game_folder(added / "Added-Nes")
    (added / "NotAGame").mkdir()
    monkeypatch.setenv("VANDREL_INTEGRATIONS", os.pathsep.join([str(first), str(second)]))
    vandrel_gym.add_integration_path(added)
    assert vandrel_gym.list_games() == ["Added-Nes", "Second-Nes", "Shared-Nes"]
    assert Integration("Shared-Nes").scenario.crop == (1, 1, 1, 1)
    assert Integration("Added-Nes").path == added / "Added-Nes"
    with pytest.raises(FileNotFoundError, match=str(added)):
        Integration("NotAGame")
