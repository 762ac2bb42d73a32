"""The integration tools: the RAM search and vandrel-integrate (record, check), on
synthetic RAM and on the demo cartridge, whose RAM $07 is the hero's x position."""
import hashlib
import io
import json
import pathlib
import types

import numpy as np
import pytest

from vandrel_gym.integration import Integration, Variable
from vandrel_tools import inputs, integrate
from vandrel_tools.cartridge import ToolError, quiet_console
from vandrel_tools.ram_search import (TYPE_NAMES, TYPES, Command, CommandError, RamSearch,
                                      TerminalSearch, decode_all, execute, parse_command,
                                      save_variable)

HEADLESS = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy"}

# ---------------------------------------------------------------- RAM search


def test_every_type_decodes_as_the_integration_reads_it():
    ram = np.random.default_rng(7).integers(0, 256, 0x800, dtype=np.uint8)
    ram[0x100:0x140] = np.random.default_rng(8).integers(0, 10, 0x40)    # BCD-ish bytes too
    values, valid = decode_all(ram)
    for row, (endian, form, size) in enumerate(TYPES):
        for address in (0, 0x100, 0x123, 0x800 - size):
            expected = Variable("v", address, size, endian == ">", form).decode(ram.tobytes())
            assert valid[row, address] == (form in "ui" or _bcd(ram[address:address + size], form))
            if valid[row, address]:
                assert values[row, address] == expected, (TYPE_NAMES[row], address)
        assert not valid[row, 0x800 - size + 1:].any()


def _bcd(raw, form):
    return all(b & 0xF <= 9 and (form == "n" or b >> 4 <= 9) for b in raw)


def synthetic_pair():
    before, after = np.zeros(0x800, np.uint8), np.zeros(0x800, np.uint8)
    for ram, lives, coins, score, speed in ((before, 5, 7, [0x12, 0x34], [0xFF, 0xFF]),
                                            (after, 4, 9, [0x12, 0x50], [0xFE, 0xFF])):
        ram[0x10], ram[0x20], ram[0x30:0x32], ram[0x50:0x52] = lives, coins, score, speed
        ram[0x60] = 0x33
    after[0x70] = 0x1A              # no longer BCD
    return before, after


@pytest.mark.parametrize("op, kwargs, kept, dropped", [
    ("decreased", {"by": 1}, [(0x10, "|u1"), (0x50, "<i2")], [(0x20, "|u1"), (0x60, "|u1")]),
    ("decreased", {}, [(0x10, "|u1"), (0x50, "<i2"), (0x50, "<u2")], [(0x20, "|u1")]),
    ("increased", {"by": 16}, [(0x30, ">d2")], [(0x30, ">u2"), (0x20, "|u1")]),
    ("increased", {}, [(0x20, "|u1"), (0x30, ">d2"), (0x30, ">u2")], [(0x10, "|u1")]),
    ("equal", {"value": 1250}, [(0x30, ">d2")], [(0x30, ">u2"), (0x10, "|u1")]),
    ("equal", {"value": -2}, [(0x50, "<i2")], [(0x50, "<u2"), (0x50, ">i2")]),
    ("not_equal", {"value": 0}, [(0x10, "|u1"), (0x60, "|n1")], [(0x00, "|u1")]),
    ("changed", {}, [(0x10, "|u1"), (0x70, "|u1")], [(0x60, "|u1"), (0x70, "|d1")]),
    ("unchanged", {}, [(0x60, "|u1"), (0x60, "|d1")], [(0x10, "|u1"), (0x70, "|n1")]),
])
def test_narrowing(op, kwargs, kept, dropped):
    before, after = synthetic_pair()
    search = RamSearch(before.tobytes())
    left = getattr(search, op)(ram=after, **kwargs)
    found = {(c.address, c.type) for c in search.candidates()}
    assert left == len(found) == search.count == sum(search.counts().values())
    assert set(kept) <= found and not set(dropped) & found


def test_candidates_show_both_values_and_their_data_json_entry():
    before, after = synthetic_pair()
    search = RamSearch(before)
    search.decreased(after, by=1)
    search.equal(4)
    left = search.candidates()
    assert [c.address for c in left] == sorted(c.address for c in left)
    assert len(search.candidates(limit=3)) == 3
    lives = next(c for c in left if c.type == "|u1")
    assert (lives.address, lives.type, lives.value, lives.previous) == (0x10, "|u1", 4, 5)
    assert lives.entry() == {"address": 16, "type": "|u1"}
    assert str(lives) == "$0010 |u1  4 (was 5)"
    search.reset(before)
    assert search.count > 60000


@pytest.mark.parametrize("line, expected", [
    ("", None),
    ("eq 3", Command("eq", (3,))),
    ("= $1F", Command("eq", (31,))),
    ("ne -0x10", Command("ne", (-16,))),
    ("SAME", Command("same")),
    ("up", Command("up")),
    ("down 2", Command("down", (2,))),
    ("list 5", Command("list", (5,))),
    ("save lives $75A |u1", Command("save", ("lives", 0x75A, "|u1"))),
    ("q", Command("quit")),
    ("jump", "unknown command 'jump'"),
    ("eq", "eq takes 1 argument, got 0"),
    ("changed 4", "changed takes 0 arguments"),
    ("eq three", "'three' is not a number"),
    ("up 0", "up N needs N of at least 1"),
    ("list -1", "at least 1"),
    ("save lives here |u1", "'here' is not a number"),
])
def test_command_parser(line, expected):
    if isinstance(expected, str):
        with pytest.raises(CommandError, match=expected):
            parse_command(line)
    else:
        assert parse_command(line) == expected


def test_saved_variables_keep_the_file_and_never_clobber(tmp_path):
    (tmp_path / "game").mkdir()
    data = tmp_path / "game" / "data.json"
    data.write_text('{"info": {"score": {"address": 1, "type": ">n6"}}, "note": "mine"}')
    search = RamSearch(bytes(0x800))
    out = execute(search, parse_command("save lives 0x75a |u1"), bytes(0x800), data)
    assert "lives" in out
    assert json.loads(data.read_text()) == {"note": "mine", "info": {
        "score": {"address": 1, "type": ">n6"}, "lives": {"address": 0x75A, "type": "|u1"}}}
    kept = data.read_bytes()
    for name, address, type_name, complaint in [("lives", 1, "|u1", "already has"),
                                                ("x", 0x7FF, "<u2", "outside the work RAM"),
                                                ("x", 1, "|u2", "'|' is for one byte")]:
        with pytest.raises(ToolError, match=complaint):
            save_variable(data, name, address, type_name)
    assert data.read_bytes() == kept
    data.write_text("{not json")
    with pytest.raises(ToolError, match="not valid JSON"):
        save_variable(data, "x", 1, "|u1")
    assert data.read_text() == "{not json"
    assert [p.name for p in data.parent.iterdir()] == ["data.json"]


def test_typed_commands_find_the_demo_heros_x(demo):
    out = io.StringIO()
    window = types.SimpleNamespace(nes=quiet_console(demo), running=True)
    terminal = TerminalSearch(RamSearch(window.nes), "data.json", out)
    for script, frames, line in [("", 30, "reset"), ("1-:right", 12, "up 12"),
                                 ("", 10, "same"), ("1-:left", 5, "down 5"),
                                 ("", 1, "eq three"), ("", 1, "list")]:
        integrate.run_script(window.nes, inputs.InputScript.parse(script), frames)
        terminal.lines.put(line)
        terminal.idle(window)
    assert window.running
    printed = out.getvalue().splitlines()
    assert "error: 'three' is not a number" in printed
    counts = [int(line.split()[0]) for line in printed if line.endswith("candidates left")]
    assert counts == sorted(counts, reverse=True) and counts[-1] < 20
    assert any(line.startswith("$0007 |u1 ") for line in printed[-counts[-1]:])
    terminal.apply(window, "quit")
    assert not window.running


# ---------------------------------------------------------------- vandrel-integrate

def test_played_buttons_become_a_compact_script_that_replays_them():
    masks = [(0, 0)] * 3 + [(0x80, 0)] * 57 + [(0x81, 0x10)] * 2 + [(0, 0), (0x08, 0)]
    text = integrate.compact_script(masks)
    assert text == "4-60:right\n61-62:a+right/up\n64:start\n"
    script = inputs.InputScript.parse(text)
    replayed = [tuple(integrate.button_mask(pad) for pad in script.buttons(f))
                for f in range(1, len(masks) + 1)]
    assert replayed == masks


@pytest.fixture
def folder(tmp_path):
    game = tmp_path / "Demo-Nes"
    game.mkdir()
    (game / "data.json").write_text('{"info": {"x": {"address": 7, "type": "|u1"}}}')
    (game / "scenario.json").write_text(json.dumps({
        "reward": {"variables": {"x": {"reward": 1.0}}},
        "done": {"variables": {"x": {"op": "greater-than", "reference": 150}}}}))
    (game / "metadata.json").write_text('{"default_player_state": ["Start"]}')
    (game / "rom.sha").write_text("0" * 40)           # another dump: kept
    return game


def console_after(demo, script, frames, accuracy):
    nes = quiet_console(demo, accuracy)
    integrate.run_script(nes, inputs.InputScript.parse(script), frames)
    return nes


@pytest.mark.parametrize("accuracy", ["fast", "hardware"])
def test_recorded_state_replays_and_checks(demo, folder, accuracy, capsys):
    args = ["record", demo, str(folder), "--inputs", "1-60:right, 80-:down", "--frames", "90",
            "--accuracy", accuracy]
    assert integrate.main(args) == 0
    game = Integration(folder)
    assert game.metadata["default_player_state"] == ["Start"]
    assert game.metadata["states"]["Start"]["frames"] == 90 and game.default_state == "Start"
    assert game.check_rom(demo) and "0" * 40 in game.rom_hashes
    played = console_after(demo, "1-60:right, 80-:down", 90, accuracy).getSnapshot()
    assert game.start_snapshot(demo, accuracy=accuracy) == played
    (folder / f"Start.{accuracy}.snapshot").unlink()       # the script alone gets there too
    del game.metadata["states"]["Start"]["snapshot"]
    (folder / "metadata.json").write_text(json.dumps(game.metadata))
    game = Integration(folder)
    assert game.start_snapshot(demo, accuracy=accuracy) == played

    capsys.readouterr()
    assert integrate.main(["check", str(folder), demo, "--inputs", "1-:right", "--frames",
                           "100", "--every", "10", "--accuracy", accuracy]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[1].split() == ["frame", "x", "reward", "total", "done"]
    rows = [line.split() for line in lines[2:-1]]
    x0 = int(rows[0][1])
    assert rows[0] == ["0", str(x0), "0", "0", "no"]
    assert rows[1] == ["10", str(x0 + 10), "10", "10", "no"]
    assert rows[-1][4] == "yes" and int(rows[-1][1]) == 151
    assert lines[-1] == f"the scenario ends the episode at frame {151 - x0}"


def test_recording_by_playing_is_replay_exact(demo, folder, monkeypatch, capsys):
    pytest.importorskip("pygame")
    import pygame
    from vandrel_tools import player
    for name, value in HEADLESS.items():
        monkeypatch.setenv(name, value)

    def play(window):           # stands in for a person at the keyboard
        window.script = inputs.InputScript.parse("5-40:right+b, 30-70:/left, 90:start")
        for frame in range(100):
            window.step()
            if frame == 50:
                before = window.nes
                window.handle_key(pygame.K_F1)       # refused: it would break the script
                window.handle_key(pygame.K_F9)
                assert window.nes is before and window.nes.frameCount() == 51
        window.handle_key(pygame.K_F8)
        assert not window.running
        window.close()
    monkeypatch.setattr(player.Player, "run", play)
    assert integrate.main(["record", demo, str(folder), "--state", "Level1", "--mute",
                           "--accuracy", "fast"]) == 0
    script = (folder / "Level1.inputs").read_text()
    assert script == "5-29:b+right\n30-40:b+right/left\n41-70:/left\n90:start\n"
    game = Integration(folder)
    assert game.state("Level1").frames == 100
    expected = console_after(demo, script, 100, "fast").getSnapshot()
    assert (folder / "Level1.fast.snapshot").read_bytes() == expected
    assert Integration(folder).start_snapshot(demo, "Level1", "fast") == expected


@pytest.mark.parametrize("args, complaint", [
    (["check", "{folder}", "{other}"], "its SHA-1 is {whole} ({bare} without its header), "
                                       "rom.sha has"),
    (["check", "{folder}/nope", "{demo}"], "no game folder"),
    (["check", "{folder}", "{demo}", "--state", "Boss"], "no start state 'Boss'"),
    (["check", "{folder}", "{demo}", "--inputs", "1:jump"], "unknown button 'jump'"),
    (["record", "{demo}", "{folder}", "--inputs", "1-:a"], "open-ended entry"),
    (["record", "{demo}", "{folder}", "--state", "../up", "--inputs", "1:a"], "cannot name"),
    (["record", "{demo}", "{folder}/a/b", "--inputs", "1:a"], "does not exist"),
    (["record", "{demo}", "{folder}/new", "--inputs", "@{folder}/no.txt"], "cannot read input"),
    (["record", "{demo}", "{folder}/new", "--inputs", "1:a", "--frames", "300000"], "at most"),
    (["record", "{folder}/rom.sha", "{folder}", "--inputs", "1:a"], "not an iNES image"),
    (["check", "{folder}", "{demo}", "--every", "0"], "not a positive number"),
])
def test_bad_requests_get_one_line_and_change_nothing(demo, folder, tmp_path, capsys, args,
                                                       complaint):
    other = tmp_path / "other.nes"
    other.write_bytes(b"NES\x1a\x01\x00" + bytes(10) + bytes(16384))
    image = other.read_bytes()
    (folder / "rom.sha").write_text(hashlib.sha1(pathlib.Path(demo).read_bytes()).hexdigest() + "\n")
    fields = dict(folder=folder, demo=demo, other=other, whole=hashlib.sha1(image).hexdigest(),
                  bare=hashlib.sha1(image[16:]).hexdigest())
    before = {p.name: p.read_bytes() for p in folder.iterdir()}
    try:
        status = integrate.main([a.format(**fields) for a in args])
    except SystemExit as exit:
        status = exit.code
    err = capsys.readouterr().err
    assert status != 0 and err.count("\n") == 1 and complaint.format(**fields) in err
    assert {p.name: p.read_bytes() for p in folder.iterdir()} == before
