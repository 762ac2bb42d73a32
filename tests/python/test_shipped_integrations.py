"""The game folders shipped with vandrel_gym, played on their cartridges: each folder's
ROM hash, its start state (the first frame the game answers the pad, in both modes), and
the reward and end of episode of a fixed game, hand-checked and compared with what the
screen shows."""
import hashlib
import pathlib
from typing import NamedTuple

import numpy as np
import pytest

import vandrel
import vandrel_tools
from conftest import public_test_rom
from vandrel_gym import Integration, button_mask
from vandrel_gym.integration import INTEGRATIONS_DIR
from vandrel_tools.inputs import InputScript

DEMO = pathlib.Path(vandrel_tools.__file__).parent / "demo.nes"
CATCH = pathlib.Path(vandrel_tools.__file__).parent / "catch.nes"


class Game(NamedTuple):
    rom: pathlib.Path | None
    move: tuple[str, dict[str, int]]      # a button pressed once, and what it changes
    script: str                           # the fixed game, frame 1 = the episode's first
    rewards: dict[int, float]             # frame: reward, for every frame with one
    done: int                             # the frame that ends the episode
    field: tuple[int, int, int, int]      # rows and columns of the screen's counter
    counter: str                          # the variable it shows
    lag: int                              # frames the screen takes to show it


GAMES = {
    # Left for 30 frames, paused while right is held (no reward), then right all the way:
    # 64 - 30 + 198 = 232, the edge, at frame 249. The status line shows X one frame late.
    "VandrelDemo-Nes": Game(
        DEMO, ("right", {"hero_x": 65}),
        "1-30:left, 31:start, 41-50:right, 51:start, 52-:right",
        dict.fromkeys(range(1, 31), -1.0) | dict.fromkeys(range(52, 250), 1.0),
        249, (16, 24, 96, 112), "hero_x", 1),
    # Four covers in time, then none: a walker gets past one manhole on his own at
    # frame 81 and another at 994, and the misses at 610, 805 and 1080 end the game,
    # score 006 and three miss icons. The score sprites change two frames late.
    "Manhole-Nes": Game(
        public_test_rom("games/manhole.nes"), ("up", {"column": 1, "row": 1}),
        "209:up, 264:down, 396:left, 465:right",
        dict.fromkeys([81, 209, 264, 396, 465, 994], 1.0),
        1080, (16, 32, 180, 240), "score", 2),
    # The basket goes left to the first apple, right to the second and far left to the
    # third, then waits at x 14: the sixth apple falls into it, the fourth, fifth and
    # seventh reach the ground at frames 423, 503 and 663, the end, with score 0004 and
    # no lives left. The score's digits change two frames late.
    "VandrelCatch-Nes": Game(
        CATCH, ("right", {"basket_x": 119}),
        "1-2:left, 180-188:right, 260-300:left",
        dict.fromkeys([177, 257, 337, 577], 1.0),
        663, (16, 24, 72, 104), "score", 2),
}


def pad(script, frame):
    return sum(1 << bit for bit, held in enumerate(script.buttons(frame)[0]) if held)


def press(nes, controller, button):
    """Holds `button` for a frame, then runs a frame without it."""
    controller.setButtons(button_mask(button))
    nes.runFrames(1)
    controller.setButtons(0)
    nes.runFrames(1)


def test_every_shipped_folder_is_played_here():
    shipped = {p.name for p in INTEGRATIONS_DIR.iterdir() if (p / "data.json").is_file()}
    assert shipped == set(GAMES)


@pytest.mark.parametrize("accuracy", ["fast", "hardware"])
@pytest.mark.parametrize("name", GAMES)
def test_shipped_game_plays_as_its_screen_shows(name, accuracy):
    game = GAMES[name]
    if game.rom is None:
        pytest.skip("the public game cartridges are not in ../shared/roms/games")
    image = game.rom.read_bytes()
    folder = Integration(name)
    assert hashlib.sha1(image).hexdigest() in folder.rom_hashes
    state = folder.state()

    # The start state is the first frame that answers the pad: held one frame earlier,
    # the button changes nothing; held in the episode's first frame, it does (a game may
    # act on it in the next frame).
    button, moved = game.move
    nes = vandrel.NES(str(game.rom), accuracy=accuracy)
    controller = vandrel.Controller()
    nes.setController(controller, 0)
    for row in state.masks()[:-1]:
        controller.setButtons(int(row[0]))
        nes.runFrames(1)
    press(nes, controller, button)
    assert {k: folder.read(nes)[k] for k in moved} != moved

    nes = vandrel.NES(str(game.rom), accuracy=accuracy)
    nes.setController(controller, 0)
    nes.setSnapshot(folder.start_snapshot(image, accuracy=accuracy))
    start = folder.read(nes)
    press(nes, controller, button)
    assert {k: folder.read(nes)[k] for k in moved} == moved

    # The fixed game, from the start state: the counter at every frame to the end, and
    # the screen's counter field to `lag` frames past it.
    nes.setSnapshot(folder.start_snapshot(image, accuracy=accuracy))
    script = InputScript.parse(game.script)
    y0, y1, x0, x1 = game.field
    counters, pictures, rewards = [start[game.counter]], [], {}
    previous, frame, done_at = start, 0, None
    while done_at is None or frame < done_at + game.lag:
        frame += 1
        assert frame <= 5000, "the episode never ends"
        controller.setButtons(pad(script, frame))
        nes.runFrames(1)
        pictures.append(np.asarray(nes.getImg())[y0:y1, x0:x1].tobytes())
        if done_at is None:
            values = folder.read(nes)
            if reward := folder.scenario.reward(previous, values):
                rewards[frame] = reward
            if folder.scenario.done(previous, values):
                done_at = frame
            counters.append(values[game.counter])
            previous = values
    assert (rewards, done_at) == (game.rewards, game.done)

    # The screen shows the counter `lag` frames late: the same picture for the same
    # value, a different one for a different value.
    shown = set(zip(counters, pictures[game.lag - 1:]))
    assert len(shown) == len(set(counters)) == len({picture for _, picture in shown})
