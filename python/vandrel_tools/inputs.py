"""Scripted controller input, typed on the command line or kept in a small file.

A script is a list of entries separated by commas or new lines:

    FRAMES:BUTTONS[/BUTTONS]

FRAMES is one frame N, a range N-M (both included) or N- (from N to the end);
frames count from 1, the first frame run. BUTTONS are button names joined with '+'
(a, b, select, start, up, down, left, right); after a '/' come the buttons of
controller 2. Buttons of entries that cover the same frame add up; '#' starts a
comment. Example: "1-60:right, 61-90:right+a, 100:start, 120-:/left".
"""
import pathlib
from dataclasses import dataclass

# The order in which the console reads a controller's buttons.
BUTTONS = ("a", "b", "select", "start", "up", "down", "left", "right")


class ScriptError(ValueError):
    """A script that cannot be read; the message says where and why."""


@dataclass(frozen=True)
class Entry:
    first: int
    last: int | None            # None: to the end of the run
    pads: tuple[frozenset, frozenset]

    def covers(self, frame):
        return self.first <= frame and (self.last is None or frame <= self.last)


class InputScript:
    """The buttons each controller holds during each frame."""

    def __init__(self, entries=()):
        self.entries = tuple(entries)

    @classmethod
    def parse(cls, text):
        lines = (line.split("#", 1)[0] for line in text.splitlines())
        items = (item.strip() for line in lines for item in line.split(","))
        return cls(_parse_entry(item) for item in items if item)

    def buttons(self, frame):
        """The eight button states of controllers 1 and 2 during `frame`."""
        held = ([False] * len(BUTTONS), [False] * len(BUTTONS))
        for entry in self.entries:
            if entry.covers(frame):
                for pad, names in zip(held, entry.pads):
                    for name in names:
                        pad[BUTTONS.index(name)] = True
        return held


def load_script(argument):
    """The script given on the command line: the text itself, or @PATH for a file."""
    if argument is None:
        return InputScript()
    if argument.startswith("@"):
        path = pathlib.Path(argument[1:])
        try:
            argument = path.read_text()
        except (OSError, UnicodeDecodeError) as error:
            raise ScriptError(f"cannot read input script {path}: {getattr(error, 'strerror', None) or error}") from None
    return InputScript.parse(argument)


def _parse_entry(item):
    frames, colon, buttons = item.partition(":")
    if not colon:
        raise ScriptError(f"input entry {item!r} needs FRAMES:BUTTONS")
    first, last = _parse_frames(frames.strip(), item)
    pads = buttons.split("/")
    if len(pads) > 2:
        raise ScriptError(f"input entry {item!r} names more than two controllers")
    pads += [""] * (2 - len(pads))
    return Entry(first, last, tuple(_parse_buttons(pad, item) for pad in pads))


def _parse_frames(text, item):
    start, dash, end = text.partition("-")
    first = _frame_number(start, item)
    if not dash:
        return first, first
    if not end.strip():
        return first, None
    last = _frame_number(end, item)
    if last < first:
        raise ScriptError(f"input entry {item!r} ends before it starts")
    return first, last


def _frame_number(text, item):
    text = text.strip()
    if not (text.isascii() and text.isdigit()) or len(text) > 9:
        raise ScriptError(f"input entry {item!r}: {text!r} is not a frame number")
    number = int(text)
    if number < 1:
        raise ScriptError(f"input entry {item!r}: frames count from 1")
    return number


def _parse_buttons(text, item):
    names = [name.strip().lower() for name in text.split("+") if name.strip()]
    for name in names:
        if name not in BUTTONS:
            raise ScriptError(f"input entry {item!r}: unknown button {name!r} "
                              f"(buttons: {', '.join(BUTTONS)})")
    return frozenset(names)
