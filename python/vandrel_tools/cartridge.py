"""Opening a console for the command-line tools, and their one-line errors.

The tools never show a traceback for a bad request: anything the user can get wrong
(a missing file, a file that is not an iNES image, an output folder that does not
exist) becomes a ToolError, which `run_command` prints as one line before exiting
with a non-zero status.
"""
import argparse
import contextlib
import importlib.resources
import os
import pathlib
import sys
import warnings
from dataclasses import dataclass

import vandrel

from . import demo

# The NTSC picture rate: 262 lines of 341 dots, three dots per CPU cycle.
FRAME_RATE = 1789773 * 3 / (262 * 341)

EXIT_ERROR = 1
EXIT_USAGE = 2


class ToolError(Exception):
    """A problem with what the user asked for, reported as one line."""


def positive_number(text):
    """argparse type: a whole number of at least 1."""
    if not text.strip().isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f"{text!r} is not a positive number")
    return int(text)


ACCURACIES = ("fast", "hardware")


def add_accuracy_option(parser, default="fast"):
    """--accuracy, the mode every console of the tool is built in."""
    help = {"fast": "fast: whole instructions (the default); hardware: the console cycle "
                    "by cycle, slower",
            "hardware": "hardware: the console cycle by cycle (the default, as in the "
                        "Gymnasium environments); fast: whole instructions"}[default]
    parser.add_argument("--accuracy", choices=ACCURACIES, default=default, help=help)


def add_window_options(parser):
    """--scale, --mute and --screenshot-dir: the options of every tool that opens a player
    window. Such a tool's arguments also need `frames` (None: no frame limit)."""
    parser.add_argument("--scale", type=int, choices=range(1, 9), default=3, metavar="{1..8}",
                        help="window size in multiples of 256x240 pixels (default 3)")
    parser.add_argument("--mute", action="store_true", help="no sound")
    parser.add_argument("--screenshot-dir", default=".", metavar="DIR",
                        help="where F12 puts screenshots (default: the current folder)")


class OneLineParser(argparse.ArgumentParser):
    """An argument parser whose usage errors are one line, not usage plus error."""

    def error(self, message):
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message} (see --help)\n")


def run_command(prog, main):
    """Runs `main()` and turns ToolError and Ctrl-C into a one-line message and an
    exit status; returns main's own status otherwise."""
    try:
        return main()
    except ToolError as error:
        print(f"{prog}: error: {error}", file=sys.stderr)
        return EXIT_ERROR
    except KeyboardInterrupt:
        print(f"{prog}: interrupted", file=sys.stderr)
        return 130


@dataclass
class Cartridge:
    """Where a console comes from: a file chosen by the user, or the built-in demo, and
    the accuracy mode its consoles run in."""

    path: pathlib.Path | None
    accuracy: str = "fast"

    @property
    def name(self):
        return self.path.stem if self.path else "demo"

    def describe(self):
        where = str(self.path) if self.path else "the built-in demo"
        return f"{where} ({self.accuracy} accuracy)"

    def open(self):
        """A new console running this cartridge from power-on."""
        if self.path is None:
            with importlib.resources.as_file(demo.resource()) as path:
                return quiet_console(path, self.accuracy)
        return quiet_console(self.path, self.accuracy)


# The boards the emulator emulates; others load with nothing mapped.
EMULATED_MAPPERS = {0, 1, 2, 3, 4, 5, 7, 9, 10, 11, 28, 30, 34, 40, 66, 69, 71, 206}


def mapper_number(path):
    """The mapper number in an iNES header, or None when the file is not one."""
    with open(path, "rb") as f:
        header = f.read(16)
    if len(header) < 16 or header[:4] != b"NES\x1a":
        return None
    return header[6] >> 4 | header[7] & 0xF0


def load_cartridge(argument, prog, accuracy="fast"):
    """The cartridge named on the command line (the demo when there is none) and a
    console running it in the mode `accuracy`; fails with ToolError when the file cannot
    be used, and warns on one line when its board is not emulated."""
    cartridge = Cartridge(None if argument is None else pathlib.Path(argument), accuracy)
    nes = cartridge.open()
    number = cartridge.path and mapper_number(cartridge.path)
    if number is not None and number not in EMULATED_MAPPERS:
        print(f"{prog}: warning: {cartridge.path} uses mapper {number}, which is not "
              f"emulated: its picture and sound will be wrong", file=sys.stderr)
    return cartridge, nes


def quiet_console(path, accuracy="fast"):
    """Builds a console from `path` in the mode `accuracy`, hiding the progress lines the
    emulator prints on C stdout, and turns its complaints about the file into ToolError.
    A board that is not emulated gets the tools' own one-line warning (load_cartridge)
    instead of vandrel's UnsupportedBoardWarning."""
    try:
        with _quiet(), warnings.catch_warnings():
            warnings.simplefilter("ignore", vandrel.UnsupportedBoardWarning)
            return vandrel.NES(str(path), accuracy=accuracy)
    except OSError as error:
        raise ToolError(f"{path}: {error.strerror or error}") from None
    except ValueError as error:
        raise ToolError(str(error)) from None


@contextlib.contextmanager
def _quiet():
    """Builds consoles with VANDREL_QUIET set (their progress lines unprinted), then puts
    the variable back as it was."""
    previous = os.environ.get("VANDREL_QUIET")
    os.environ["VANDREL_QUIET"] = "1"
    try:
        yield
    finally:
        if previous is None:
            del os.environ["VANDREL_QUIET"]
        else:
            os.environ["VANDREL_QUIET"] = previous
