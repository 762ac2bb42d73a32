"""Catch, a small game cartridge shipped with the tools, and how to rebuild it.

Apples fall from the top of the screen and the basket at the bottom, moved with the
D-pad, catches them: a point each, and a life lost for each one that reaches the
ground, three lives in all. Start begins a game. The cartridge is written in 6502
assembly in the repository's catch/ folder and assembled with ca65 and ld65 (Debian
package cc65), as the demo is; the result, catch.nes, is package data next to this
module. After changing the source, rebuild it with

    python -m vandrel_tools.catch --build

The gym integration VandrelCatch-Nes plays it.
"""
import importlib.resources
import pathlib
import sys

from .demo import REPOSITORY, BuildError, assemble, assembler_available, command_line

__all__ = ["BuildError", "assembler_available", "build", "resource"]

SOURCE_DIR = REPOSITORY / "catch"
PACKAGED = pathlib.Path(__file__).resolve().with_name("catch.nes")


def resource():
    """The shipped cartridge as an importlib resource (use with as_file)."""
    return importlib.resources.files(__package__).joinpath("catch.nes")


def build(source_dir=SOURCE_DIR, output=PACKAGED):
    """Assembles source_dir/catch.s with the link layout source_dir/catch.cfg into
    `output`, which is replaced only when the build succeeds."""
    return assemble("catch", source_dir, output)


def main(argv=None):
    return command_line("catch", "the Catch cartridge", resource, build, SOURCE_DIR, PACKAGED,
                        argv)


if __name__ == "__main__":
    sys.exit(main())
