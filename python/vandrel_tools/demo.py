"""The demo cartridge shipped with the tools, and how to rebuild it.

The cartridge is written in 6502 assembly in the repository's demo/ folder and
assembled with ca65 and ld65 (Debian package cc65); the result, demo.nes, is package
data next to this module. After changing the source, rebuild it with

    python -m vandrel_tools.demo --build

which writes the package's demo.nes from the repository's demo/demo.s.
"""
import argparse
import importlib.resources
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

# In a source checkout this module lives in python/vandrel_tools/.
REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
SOURCE_DIR = REPOSITORY / "demo"
PACKAGED = pathlib.Path(__file__).resolve().with_name("demo.nes")


class BuildError(Exception):
    """The assembler or linker is missing or rejected the source."""


def resource():
    """The shipped cartridge as an importlib resource (use with as_file)."""
    return importlib.resources.files(__package__).joinpath("demo.nes")


def assembler_available():
    return shutil.which("ca65") is not None and shutil.which("ld65") is not None


def build(source_dir=SOURCE_DIR, output=PACKAGED):
    """Assembles source_dir/demo.s with the link layout source_dir/demo.cfg into
    `output`, which is replaced only when the build succeeds."""
    source_dir = pathlib.Path(source_dir)
    output = pathlib.Path(output)
    if not assembler_available():
        raise BuildError("ca65 and ld65 are needed (Debian package cc65)")
    if not (source_dir / "demo.s").is_file():
        raise BuildError(f"no demo source in {source_dir}")
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        _run(["ca65", "demo.s", "-o", str(work / "demo.o")], source_dir)
        _run(["ld65", "-C", "demo.cfg", "-o", str(work / "demo.nes"), str(work / "demo.o")], source_dir)
        staged = output.with_name(f".{output.name}.tmp")
        shutil.copyfile(work / "demo.nes", staged)
        os.replace(staged, output)
    return output


def _run(command, cwd):
    # ca65 looks for .include files in the current folder, so run beside the source.
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0 or result.stderr.strip():
        raise BuildError(f"{command[0]} failed: {result.stderr.strip() or result.returncode}")


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python -m vandrel_tools.demo",
        description="Show where the demo cartridge is, or rebuild it from its assembly source.")
    parser.add_argument("--build", action="store_true",
                        help="assemble the demo with ca65/ld65 and replace the packaged demo.nes")
    parser.add_argument("--source", default=SOURCE_DIR, type=pathlib.Path,
                        help=f"folder with demo.s and demo.cfg (default {SOURCE_DIR})")
    parser.add_argument("--output", default=PACKAGED, type=pathlib.Path,
                        help=f"cartridge file to write (default {PACKAGED})")
    args = parser.parse_args(argv)
    if not args.build:
        with importlib.resources.as_file(resource()) as path:
            print(path)
        return 0
    try:
        print(build(args.source, args.output))
    except (BuildError, OSError) as error:
        print(f"{parser.prog}: error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
