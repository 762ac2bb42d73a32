"""RAM search: find where a game keeps its score, lives or position in work RAM.

Every work-RAM address ($0000-$07FF) starts as a candidate for every variable type a
game folder's data.json can name: u (unsigned), i (signed) and d (two BCD digits a
byte) in 1 to 4 bytes, n (one BCD digit in each byte's low nibble) in 1 to 6 bytes;
little- and big-endian from 2 bytes. Each time the game is looked at again, the
candidates are narrowed by what the player saw happen (the lives went down by one, the
score is now 1250, the timer did not move). d and n candidates whose bytes stop being
BCD digits drop out on their own.

From Python, on a vandrel.NES or any 2 KiB of RAM:

    search = RamSearch(nes)
    ...                                 # lose a life
    search.decreased(nes, by=1)         # compares with the last RAM seen; returns the count
    search.equal(2)                     # the same RAM again, narrowed further
    for candidate in search.candidates(limit=10):
        print(candidate)                # $075A |u1 2 (was 3)
    save_variable("data.json", "lives", 0x75A, "|u1")

Beside a window (python -m vandrel_tools.ram_search [ROM]), commands typed in the
terminal are applied between two frames to the RAM of that moment:

    eq N  ne N  changed  same  up [N]  down [N]  list [N]  reset
    save NAME ADDRESS TYPE  help  quit

Each comparison is with the RAM of the previous comparison (or of the start). Pause
the game (P) while you type: the RAM is read when the command arrives.
"""
import argparse
import dataclasses
import queue
import sys
import threading

import numpy as np

from . import files
from .cartridge import (OneLineParser, ToolError, add_accuracy_option, add_window_options,
                        load_cartridge, run_command)

PROG = "vandrel-ram-search"
RAM_SIZE = 0x800

SIZES = {"u": (1, 2, 3, 4), "i": (1, 2, 3, 4), "d": (1, 2, 3, 4), "n": (1, 2, 3, 4, 5, 6)}


def _types():
    for form, sizes in SIZES.items():
        for size in sizes:
            for endian in ("|",) if size == 1 else ("<", ">"):
                yield endian, form, size


TYPES = tuple(_types())
"""The candidate types as (endianness, format, byte count)."""

TYPE_NAMES = tuple(f"{endian}{form}{size}" for endian, form, size in TYPES)
"""The same types as data.json writes them: "|u1", "<u2", ">n6", ..."""


@dataclasses.dataclass(frozen=True)
class Candidate:
    """One variable that may be the one searched for, with its value in the latest RAM
    and in the RAM before it."""

    address: int
    type: str
    value: int
    previous: int

    def entry(self):
        """The candidate as data.json's "info" holds it."""
        return {"address": self.address, "type": self.type}

    def __str__(self):
        return f"${self.address:04X} {self.type:<4} {self.value} (was {self.previous})"


def work_ram(source):
    """The 2 KiB of work RAM of a vandrel.NES, or of bytes or an array holding at least
    that many bytes (only the first 2 KiB are used), as a uint8 array."""
    if hasattr(source, "cpuMem"):
        source = source.cpuMem()
    if isinstance(source, (bytes, bytearray, memoryview)):
        ram = np.frombuffer(bytes(source[:RAM_SIZE]), dtype=np.uint8)
    else:
        ram = np.asarray(source).reshape(-1)[:RAM_SIZE]
        if ram.dtype != np.uint8:
            if ram.size and (ram.min() < 0 or ram.max() > 255):
                raise ValueError("work RAM holds bytes: values 0-255")
            ram = ram.astype(np.uint8)
    if ram.size < RAM_SIZE:
        raise ValueError(f"work RAM is {RAM_SIZE} bytes; got {ram.size}")
    return ram.copy()


def decode_all(ram):
    """Every type's value at every address, and whether it is one: two (types, 2048)
    arrays, int64 and bool. A type longer than the bytes left at an address is not one
    there; neither are d and n values whose bytes are not BCD digits."""
    ram = work_ram(ram).astype(np.int64)
    values = np.zeros((len(TYPES), RAM_SIZE), dtype=np.int64)
    valid = np.zeros((len(TYPES), RAM_SIZE), dtype=bool)
    for row, (endian, form, size) in enumerate(TYPES):
        count = RAM_SIZE - size + 1
        window = np.lib.stride_tricks.sliding_window_view(ram, size)
        if endian == "<":
            window = window[:, ::-1]        # most significant byte first
        high, low = window >> 4, window & 0xF
        if form == "d":
            digits, base = high * 10 + low, 100
            valid[row, :count] = ((high <= 9) & (low <= 9)).all(axis=1)
        elif form == "n":
            digits, base = low, 10
            valid[row, :count] = (low <= 9).all(axis=1)
        else:
            digits, base = window, 256
            valid[row, :count] = True
        value = np.zeros(count, dtype=np.int64)
        for column in range(size):
            value = value * base + digits[:, column]
        if form == "i":
            value -= (window[:, 0] >= 0x80).astype(np.int64) << (8 * size)
        values[row, :count] = value
    return values, valid


class RamSearch:
    """The candidates left, narrowed between snapshots of work RAM.

    Each narrowing method may take the new RAM (a vandrel.NES, bytes or an array): it
    becomes the latest snapshot and the one before becomes the previous. Without it,
    the method narrows on the snapshots already taken, so several tests can be applied
    to one change. Each returns the number of candidates left."""

    def __init__(self, ram):
        self.reset(ram)

    def reset(self, ram):
        """Starts over: every candidate that decodes in `ram` is in again."""
        self.current, self.alive = decode_all(ram)
        self.previous = self.current.copy()

    def update(self, ram):
        """Takes a new snapshot without narrowing by value; d and n candidates whose
        bytes are no longer BCD digits drop out."""
        values, valid = decode_all(ram)
        self.previous, self.current = self.current, values
        self.alive &= valid

    @property
    def count(self):
        return int(self.alive.sum())

    def counts(self):
        """The number of candidates left of each type that has any, by type name."""
        left = self.alive.sum(axis=1)
        return {name: int(n) for name, n in zip(TYPE_NAMES, left) if n}

    # ------------------------------------------------------------ narrowing
    def equal(self, value, ram=None):
        return self._narrow(ram, lambda now, before: now == value)

    def not_equal(self, value, ram=None):
        return self._narrow(ram, lambda now, before: now != value)

    def changed(self, ram=None):
        return self._narrow(ram, lambda now, before: now != before)

    def unchanged(self, ram=None):
        return self._narrow(ram, lambda now, before: now == before)

    def increased(self, ram=None, by=None):
        """Greater than before; by exactly `by` when it is given."""
        if by is None:
            return self._narrow(ram, lambda now, before: now > before)
        return self._narrow(ram, lambda now, before: now - before == by)

    def decreased(self, ram=None, by=None):
        """Less than before; by exactly `by` when it is given."""
        if by is None:
            return self._narrow(ram, lambda now, before: now < before)
        return self._narrow(ram, lambda now, before: before - now == by)

    def _narrow(self, ram, test):
        if ram is not None:
            self.update(ram)
        self.alive &= test(self.current, self.previous)
        return self.count

    # ------------------------------------------------------------ results
    def candidates(self, limit=None, ram=None):
        """The candidates left, by address and then type, at most `limit` of them. With
        `ram`, each value is read from it (the RAM now) and `previous` is the latest
        snapshot's; nothing is narrowed."""
        rows, addresses = np.nonzero(self.alive)
        order = np.lexsort((rows, addresses))[:limit]
        rows, addresses = rows[order], addresses[order]
        if ram is None:
            now, before = self.current, self.previous
        else:
            now, _ = decode_all(ram)
            before = self.current
        return [Candidate(int(a), TYPE_NAMES[r], int(now[r, a]), int(before[r, a]))
                for r, a in zip(rows, addresses)]


def save_variable(path, name, address, type_name):
    """Adds the variable `name` to the data.json at `path` (made when missing), keeping
    everything else in it. ToolError, the file unchanged, when the entry is not one
    data.json can hold or the file already names `name` otherwise."""
    from vandrel_gym.integration import IntegrationError, _variable

    entry = {"address": address, "type": type_name}
    if not isinstance(name, str) or not name.strip():
        raise ToolError("a variable needs a name")
    try:
        _variable(path, f"info.{name}", name, entry)
    except IntegrationError as error:
        raise ToolError(str(error).removeprefix(f"{error.file}: ")) from None
    data = files.read_json_object(path)
    info = data.setdefault("info", {})
    if not isinstance(info, dict):
        raise ToolError(f"{path}: 'info' is not a JSON object; left unchanged")
    if name in info and info[name] != entry:
        raise ToolError(f"{path} already has a variable {name!r} ({info[name]}); choose "
                        f"another name or edit the file")
    info[name] = entry
    files.write_json(path, data)


# ---------------------------------------------------------------- terminal commands

HELP = """\
commands (each compares with the RAM of the previous comparison):
  eq N            equal to N (decimal, or hex as $1F or 0x1F)
  ne N            not equal to N
  changed         changed            same      unchanged
  up [N]          increased (by N)   down [N]  decreased (by N)
  list [N]        the first N candidates left (default 20): value now (and at
                  the last comparison)
  reset           every candidate again, from the RAM now
  save NAME ADDRESS TYPE
                  add a variable to the data.json (e.g. save lives $75A |u1)
  help            this text          quit      close the window"""

_ALIASES = {
    "eq": "eq", "=": "eq", "==": "eq", "ne": "ne", "!=": "ne",
    "changed": "changed", "ch": "changed", "same": "same", "unchanged": "same",
    "up": "up", "increased": "up", "inc": "up", "down": "down", "decreased": "down",
    "dec": "down", "list": "list", "ls": "list", "reset": "reset", "save": "save",
    "help": "help", "?": "help", "quit": "quit", "exit": "quit", "q": "quit",
}
# name: (fewest arguments, most arguments)
_ARGUMENTS = {"eq": (1, 1), "ne": (1, 1), "changed": (0, 0), "same": (0, 0), "up": (0, 1),
              "down": (0, 1), "list": (0, 1), "reset": (0, 0), "save": (3, 3),
              "help": (0, 0), "quit": (0, 0)}


class CommandError(ValueError):
    """A command line that cannot be carried out; the message says why."""


@dataclasses.dataclass(frozen=True)
class Command:
    name: str
    args: tuple = ()


def parse_number(text):
    """A whole number in decimal, or hex as $1F or 0x1F, with an optional sign."""
    sign, digits = (-1, text[1:]) if text.startswith("-") else (1, text.lstrip("+"))
    try:
        if digits.startswith("$"):
            return sign * int(digits[1:], 16)
        if digits.lower().startswith("0x"):
            return sign * int(digits[2:], 16)
        if digits.isdigit():
            return sign * int(digits)
    except ValueError:
        pass
    raise CommandError(f"{text!r} is not a number")


def parse_command(line):
    """The Command a typed line asks for, or None for a blank line; CommandError when it
    asks for something unknown or with the wrong arguments."""
    words = line.split()
    if not words:
        return None
    name = _ALIASES.get(words[0].lower())
    if name is None:
        raise CommandError(f"unknown command {words[0]!r} (type help)")
    args = words[1:]
    fewest, most = _ARGUMENTS[name]
    if not fewest <= len(args) <= most:
        wanted = (f"{fewest}" if fewest == most else f"{fewest} to {most}")
        raise CommandError(f"{name} takes {wanted} argument{'s' * (most != 1)}, got {len(args)}")
    if name == "save":
        address = parse_number(args[1])
        return Command(name, (args[0], address, args[2]))
    if name == "list" and args:
        count = parse_number(args[0])
        if count < 1:
            raise CommandError("list needs a count of at least 1")
        return Command(name, (count,))
    if name in ("up", "down") and args and parse_number(args[0]) < 1:
        raise CommandError(f"{name} N needs N of at least 1")
    return Command(name, tuple(parse_number(a) for a in args))


def execute(search, command, ram, data_file="data.json"):
    """Carries out `command` on `search` with the RAM of now; returns what to print.
    ToolError from a save that cannot be made (nothing is lost)."""
    name, args = command.name, command.args
    narrowing = {
        "eq": lambda: search.equal(args[0], ram),
        "ne": lambda: search.not_equal(args[0], ram),
        "changed": lambda: search.changed(ram),
        "same": lambda: search.unchanged(ram),
        "up": lambda: search.increased(ram, by=args[0] if args else None),
        "down": lambda: search.decreased(ram, by=args[0] if args else None),
    }
    if name in narrowing:
        return _summary(narrowing[name]())
    if name == "reset":
        search.reset(ram)
        return _summary(search.count)
    if name == "list":
        limit = args[0] if args else 20
        shown = search.candidates(limit, ram)
        lines = [str(c) for c in shown] or ["no candidates left (reset starts over)"]
        if search.count > len(shown):
            lines.append(f"... {search.count - len(shown)} more")
        return "\n".join(lines)
    if name == "save":
        variable, address, type_name = args
        save_variable(data_file, variable, address, type_name)
        return f"{data_file}: {variable} = {{\"address\": {address}, \"type\": \"{type_name}\"}}"
    if name == "help":
        return HELP
    return ""


def _summary(count):
    return f"{count} candidate{'s' * (count != 1)} left"


# ---------------------------------------------------------------- beside the player

class TerminalSearch:
    """A player hook: applies the lines typed in the terminal to a RAM search between two
    frames. A reader thread queues the lines, so the window never waits for a key."""

    def __init__(self, search, data_file, out=sys.stdout):
        self.search = search
        self.data_file = data_file
        self.out = out
        self.lines = queue.Queue()

    def read_from(self, stream):
        """Starts queueing the lines of `stream` (a daemon thread: it ends with the
        program); at its end the reader stops, the window stays."""
        def reader():
            for line in stream:
                self.lines.put(line)
        threading.Thread(target=reader, name="ram-search-terminal", daemon=True).start()

    def idle(self, player):
        while True:
            try:
                line = self.lines.get_nowait()
            except queue.Empty:
                return
            self.apply(player, line)

    def apply(self, player, line):
        try:
            command = parse_command(line)
            if command is None:
                return
            if command.name == "quit":
                player.running = False
                return
            text = execute(self.search, command, work_ram(player.nes), self.data_file)
        except (CommandError, ToolError) as error:
            text = f"error: {error}"
        print(text, file=self.out, flush=True)

    # The other hook methods do nothing.
    def frame(self, player, buttons):
        pass

    def key(self, player, key):
        return False


def build_parser():
    parser = OneLineParser(
        prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog=HELP + "\n\nThe window's keys are the player's (vandrel-play --help).",
        description="Play a cartridge in a window and find its variables in work RAM by\n"
                    "typing commands in this terminal.")
    parser.add_argument("cartridge", nargs="?", help="iNES file to play (default: the built-in demo)")
    parser.add_argument("--data", default="data.json", metavar="FILE",
                        help="the data.json that save adds variables to (default: ./data.json)")
    add_accuracy_option(parser)
    add_window_options(parser)
    return parser


def search_beside_player(args):
    from . import player as window
    window.check_window(args, headless="RamSearch works without one, from Python")
    cartridge, nes = load_cartridge(args.cartridge, PROG, args.accuracy)
    args.frames = None
    player = window.open_player(cartridge, nes, args)
    terminal = TerminalSearch(RamSearch(nes), args.data)
    player.hooks.append(terminal)
    print(f"{cartridge.describe()}: {_summary(terminal.search.count)}; type help for the "
          "commands", flush=True)
    terminal.read_from(sys.stdin)
    player.run()
    return 0


def main(argv=None):
    args = build_parser().parse_args(argv)
    return run_command(PROG, lambda: search_beside_player(args))


if __name__ == "__main__":
    sys.exit(main())
