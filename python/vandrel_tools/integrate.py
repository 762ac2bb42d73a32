"""vandrel-integrate: record a game folder's start states and check its variables.

    python -m vandrel_tools.integrate record ROM FOLDER [--state NAME]
        Opens a player window at power-on. Play to the point where an episode should
        start and press F8: the buttons of both controllers in every frame so far become
        NAME.inputs (an input script, runs of frames with the same buttons on one line
        each), the console's state NAME.<accuracy>.snapshot. F1 (reset) and F9 (load a
        state) are off meanwhile: the script replays from power-on, and so must the
        play. The script is replayed headless before anything is written, to be sure it
        reaches the very same state.
    python -m vandrel_tools.integrate record ROM FOLDER --inputs SCRIPT [--frames N]
        The same without a window: SCRIPT (or @FILE) runs from power-on for N frames
        (by default up to the last frame it names).

    Either way the folder (made if missing, in an existing parent) gets the ROM's SHA-1
    in rom.sha (its other lines kept) and the state in metadata.json under "states"
    (its other keys kept; "default_state" set when missing). The state's name defaults
    to "Start".

    python -m vandrel_tools.integrate check FOLDER ROM [--inputs SCRIPT] [--every K]
        Starts from a start state of the folder, runs SCRIPT and prints every K frames
        each variable of data.json with the scenario's reward and whether it says the
        episode is over, so a person can see the values move as the screen does.
"""
import argparse
import hashlib
import pathlib
import re
import sys

import vandrel

from . import files, inputs
from .cartridge import (OneLineParser, ToolError, add_accuracy_option, add_window_options,
                        load_cartridge, positive_number, run_command)

PROG = "vandrel-integrate"
DEFAULT_STATE = "Start"
MARK_KEY_NAME = "F8"
_STATE_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9_.-]*")


# ---------------------------------------------------------------- input scripts

def button_mask(buttons):
    """The eight button states of one controller as a mask, bit 0 A ... bit 7 Right."""
    return sum(1 << bit for bit, held in enumerate(buttons) if held)


def compact_script(masks):
    """The input script of a list of (controller 1, controller 2) button masks, one pair
    a frame from frame 1: each run of frames with the same buttons held on one line,
    frames with none held left out."""
    lines = []
    start = 0
    for index in range(1, len(masks) + 1):
        if index < len(masks) and masks[index] == masks[start]:
            continue
        if any(masks[start]):
            first, last = start + 1, index
            frames = f"{first}" if first == last else f"{first}-{last}"
            pads = [_names(mask) for mask in masks[start]]
            lines.append(f"{frames}:{pads[0]}" + (f"/{pads[1]}" if pads[1] else ""))
        start = index
    return "".join(line + "\n" for line in lines)


def _names(mask):
    return "+".join(name for bit, name in enumerate(inputs.BUTTONS) if mask >> bit & 1)


def scripted_frames(nes, script, frames):
    """Runs `frames` frames of `script` on `nes` from where it is, as the player does,
    yielding each frame's number once it has run."""
    pads = (vandrel.Controller(), vandrel.Controller())
    for port, pad in enumerate(pads):
        nes.setController(pad, port)
    for frame in range(1, frames + 1):
        for pad, buttons in zip(pads, script.buttons(frame)):
            pad.updateInputs(buttons)
        nes.runFrame()
        yield frame


def run_script(nes, script, frames):
    """Runs `frames` frames of `script` on `nes` from where it is, as the player does."""
    for _ in scripted_frames(nes, script, frames):
        pass


def script_frames(script, frames):
    """How many frames a script runs: `frames` when given, else the last frame it names;
    ToolError when that is not known (an open-ended entry)."""
    if frames is not None:
        return frames
    if any(entry.last is None for entry in script.entries):
        raise ToolError("the input script has an open-ended entry (N-:...): say how many "
                        "frames it runs with --frames")
    return max((entry.last for entry in script.entries), default=0)


def load_script(argument):
    try:
        return inputs.load_script(argument)
    except inputs.ScriptError as error:
        raise ToolError(str(error)) from None


def script_text(argument):
    """The text of a script given on the command line (inline, or @FILE)."""
    if argument.startswith("@"):
        return pathlib.Path(argument[1:]).read_text()     # load_script has read it already
    return argument


# ---------------------------------------------------------------- writing a state

def write_state(folder, rom_image, name, script, frames, snapshot, accuracy):
    """Writes the start state `name` into the game folder: its input script, snapshot,
    the ROM's SHA-1 in rom.sha and its entry in metadata.json. metadata.json is checked
    before anything is written and written last. Returns the files written."""
    folder = pathlib.Path(folder)
    metadata_file = folder / "metadata.json"
    metadata, states = _state_entries(metadata_file)
    _state_frames(frames)
    inputs_name, snapshot_name = f"{name}.inputs", f"{name}.{accuracy}.snapshot"
    files.replace_file(folder / inputs_name, script.encode("utf-8"))
    files.replace_file(folder / snapshot_name, snapshot)
    written = [inputs_name, snapshot_name]
    if _add_rom_hash(folder / "rom.sha", hashlib.sha1(rom_image).hexdigest()):
        written.append("rom.sha")
    states[name] = {"inputs": inputs_name, "frames": frames, "snapshot": snapshot_name}
    metadata.setdefault("default_state", name)
    files.write_json(metadata_file, metadata)
    return [*written, "metadata.json"]


def _state_entries(metadata_file):
    """metadata.json's contents and its "states" object (both made when missing);
    ToolError when the file or its "states" is not a JSON object."""
    metadata = files.read_json_object(metadata_file)
    states = metadata.setdefault("states", {})
    if not isinstance(states, dict):
        raise ToolError(f"{metadata_file}: 'states' is not a JSON object; left unchanged")
    return metadata, states


def _state_frames(frames):
    """`frames`, or ToolError when a game folder's start state cannot run that long."""
    from vandrel_gym.start_states import MAX_SCRIPT_FRAMES

    if frames > MAX_SCRIPT_FRAMES:
        raise ToolError(f"a start state runs at most {MAX_SCRIPT_FRAMES} frames from "
                        f"power-on (an hour), not {frames}")
    return frames


def _add_rom_hash(path, digest):
    """Adds `digest` to rom.sha unless it is there; whether the file changed."""
    try:
        text = path.read_bytes().decode("latin-1")
    except FileNotFoundError:
        text = ""
    except OSError as error:
        raise ToolError(f"cannot read {path}: {error.strerror or error}") from None
    if digest in (line.strip().lower() for line in text.splitlines()):
        return False
    if text and not text.endswith("\n"):
        text += "\n"
    files.replace_file(path, (text + digest + "\n").encode("latin-1"))
    return True


def _game_folder(argument):
    folder = pathlib.Path(argument)
    if folder.exists() and not folder.is_dir():
        raise ToolError(f"{folder} is not a folder")
    if not folder.exists():
        if not folder.parent.is_dir():
            raise ToolError(f"cannot make the game folder {folder}: {folder.parent} does "
                            "not exist")
        folder.mkdir()
    return folder


def _read_rom(path):
    try:
        return pathlib.Path(path).read_bytes()
    except OSError as error:
        raise ToolError(f"{path}: {error.strerror or error}") from None


# ---------------------------------------------------------------- record by playing

class Recording:
    """A player hook that keeps the buttons of every frame since power-on and, at F8,
    the console's snapshot; it keeps F1 and F9 from breaking the run from power-on."""

    def __init__(self):
        import pygame
        self.mark_key = pygame.K_F8
        self.refused = {pygame.K_F1: "reset", pygame.K_F9: "loading a state"}
        self.masks = []
        self.snapshot = None

    def frame(self, player, buttons):
        self.masks.append(tuple(button_mask(pad) for pad in buttons))

    def key(self, player, key):
        if key == self.mark_key:
            self.snapshot = player.nes.getSnapshot()
            player.running = False
            return True
        if key in self.refused:
            player.show(f"{self.refused[key]} is off while recording a start state")
            return True
        return False

    def idle(self, player):
        pass

    @property
    def script(self):
        return compact_script(self.masks)


def record(args):
    if args.state is not None and not _STATE_NAME.fullmatch(args.state):
        raise ToolError(f"{args.state!r} cannot name a state: use letters, digits, '_', "
                        "'-' and '.'")
    name = args.state or DEFAULT_STATE
    if args.inputs is None:
        if args.frames is not None:
            raise ToolError("--frames goes with --inputs; when playing, F8 marks the end")
        from . import player as window
        window.check_window(args, headless="record --inputs SCRIPT runs without one")
    rom_image = _read_rom(args.rom)
    cartridge, nes = load_cartridge(args.rom, PROG, args.accuracy)
    if args.inputs is not None:
        script = load_script(args.inputs)
        frames = _state_frames(script_frames(script, args.frames))
    # Everything that can be refused is refused before the folder is made or the play
    # begins, so that neither an empty folder nor a session of play is left for nothing.
    folder = _game_folder(args.folder)
    _state_entries(folder / "metadata.json")
    if args.inputs is not None:
        text = script_text(args.inputs)
        text += "" if text.endswith("\n") else "\n"
        run_script(nes, script, frames)
        snapshot = nes.getSnapshot()
    else:
        text, frames, snapshot = _play_to_start(cartridge, nes, args)
    written = write_state(folder, rom_image, name, text, frames, snapshot, args.accuracy)
    print(f"{folder}: start state {name!r} at frame {frames} ({args.accuracy} accuracy): "
          f"wrote {', '.join(written)}")
    return 0


def _play_to_start(cartridge, nes, args):
    """Plays in a window until F8; the script, frame count and snapshot of that moment,
    after making sure the script replays to the same snapshot."""
    from . import player as window
    args.frames = None
    player = window.open_player(cartridge, nes, args)
    recording = Recording()
    player.hooks.append(recording)
    print(f"{cartridge.describe()}: play to the start point and press {MARK_KEY_NAME} "
          "(F1 reset and F9 load are off; Esc quits without writing)", flush=True)
    player.run()
    if recording.snapshot is None:
        raise ToolError(f"the window closed before {MARK_KEY_NAME} marked the start point: "
                        "nothing written")
    text, frames = recording.script, len(recording.masks)
    replayed = cartridge.open()
    run_script(replayed, inputs.InputScript.parse(text), frames)
    snapshot = replayed.getSnapshot()
    # A snapshot also says whether the latest block of sound has been fetched: the
    # player fetches every block, a headless replay none. The state written is the
    # replay's, which is what a game folder's script replays to; it is compared with the
    # played one once it too has fetched its sound.
    replayed.getAudio()
    if replayed.getSnapshot() != recording.snapshot:
        raise ToolError("the buttons played do not replay to the same state from power-on: "
                        "nothing written")
    return text, frames, snapshot


# ---------------------------------------------------------------- check

def check(args):
    from vandrel_gym.integration import Integration, IntegrationError

    try:
        game = Integration(args.folder, args.scenario)
    except (IntegrationError, OSError, ValueError) as error:
        raise ToolError(str(error)) from None
    rom_image = _read_rom(args.rom)
    if not args.no_check_rom:
        _check_rom(game, rom_image, args.rom)
    cartridge, nes = load_cartridge(args.rom, PROG, args.accuracy)
    script = load_script(args.inputs)
    frames = script_frames(script, args.frames) if args.inputs else args.frames or 600
    try:
        state = game.state(args.state)
        start = game.start_snapshot(rom_image, args.state, args.accuracy)
    except (IntegrationError, OSError, ValueError) as error:
        raise ToolError(str(error)) from None
    if start is not None:
        nes.setSnapshot(start)
    print(f"{game.path}: {'power-on' if state is None else f'start state {state.name!r}'}, "
          f"{cartridge.describe()}, "
          f"{'no scenario' if game.scenario is None else game.scenario.file.name}")
    for line in check_lines(game, nes, script, frames, args.every):
        print(line, flush=True)
    return 0


def check_lines(game, nes, script, frames, every):
    """The lines of a check: a heading, then frame 0 (the start), every `every`-th frame,
    and the last one, each with every variable, the reward summed since the line before,
    the total, and whether the scenario ends the episode (the run stops there)."""
    scenario = game.scenario
    names = list(game.variables)
    columns = ["frame", *names] + (["reward", "total", "done"] if scenario else [])
    widths = [max(len(c), 8) for c in columns]

    def line(cells):
        return "  ".join(f"{c:>{w}}" for c, w in zip(cells, widths)).rstrip()

    yield line(columns)
    values = game.read(nes)
    reward = total = 0.0
    yield line([0, *values.values()] + ([_number(0), _number(0), "no"] if scenario else []))
    for frame in scripted_frames(nes, script, frames):
        previous, values = values, game.read(nes)
        done = False
        if scenario:
            step = scenario.reward(previous, values)
            reward, total = reward + step, total + step
            done = scenario.done(previous, values)
        if done or frame % every == 0 or frame == frames:
            yield line([frame, *(values[n] for n in names)]
                       + ([_number(reward), _number(total), "yes" if done else "no"]
                          if scenario else []))
            reward = 0.0
        if done:
            yield f"the scenario ends the episode at frame {frame}"
            return


def _number(value):
    return f"{value:.6g}"


def _check_rom(game, image, path):
    if not game.rom_hashes:
        print(f"{PROG}: warning: {game.path} has no rom.sha: the ROM is not checked",
              file=sys.stderr)
        return
    if game.check_rom(image):
        return
    whole = hashlib.sha1(image).hexdigest()
    bare = hashlib.sha1(image[16:]).hexdigest()
    raise ToolError(f"{path} is not a ROM of {game.path}: its SHA-1 is {whole} ({bare} "
                    f"without its header), rom.sha has {', '.join(sorted(game.rom_hashes))} "
                    "(--no-check-rom to go on anyway)")


# ---------------------------------------------------------------- command line

def build_parser():
    parser = OneLineParser(
        prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Record start states of a game folder and check its variables.",
        epilog="input scripts:\n" + inputs.__doc__.split("\n", 2)[2])
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    rec = commands.add_parser(
        "record", help="record a start state, by playing (F8 marks it) or from a script",
        description="Record a start state into a game folder: by playing from power-on "
                    "until F8, or headless from an input script.")
    rec.add_argument("rom", metavar="ROM", help="the game's iNES file")
    rec.add_argument("folder", metavar="FOLDER", help="the game folder (made if missing)")
    rec.add_argument("--state", metavar="NAME", help=f"the state's name (default {DEFAULT_STATE})")
    rec.add_argument("--inputs", metavar="SCRIPT",
                     help="record headless from this input script (or @FILE) from power-on")
    rec.add_argument("--frames", type=positive_number, metavar="N",
                     help="with --inputs: frames to run (default: the script's last frame)")
    add_accuracy_option(rec, default="hardware")
    add_window_options(rec)

    chk = commands.add_parser(
        "check", help="print the variables and the reward along a scripted run",
        description="Start from a start state of a game folder, run an input script and "
                    "print the variables, the reward and the end of the episode.")
    chk.add_argument("folder", metavar="FOLDER", help="the game folder, or a game's name")
    chk.add_argument("rom", metavar="ROM", help="the game's iNES file")
    chk.add_argument("--state", metavar="NAME", help="the start state (default: the folder's)")
    chk.add_argument("--scenario", metavar="NAME", help="scenario file without .json "
                     "(default: scenario)")
    chk.add_argument("--inputs", metavar="SCRIPT", help="buttons from the start (or @FILE)")
    chk.add_argument("--frames", type=positive_number, metavar="N",
                     help="frames to run (default: the script's last frame, or 600)")
    chk.add_argument("--every", type=positive_number, default=60, metavar="K",
                     help="print every K-th frame (default 60)")
    chk.add_argument("--no-check-rom", action="store_true",
                     help="go on when the ROM's SHA-1 is not in rom.sha")
    add_accuracy_option(chk, default="hardware")
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    return run_command(PROG, lambda: (record if args.command == "record" else check)(args))


if __name__ == "__main__":
    sys.exit(main())
