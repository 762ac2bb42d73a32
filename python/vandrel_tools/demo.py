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
    return assemble("demo", source_dir, output)


def assemble(name, source_dir, output):
    """Assembles source_dir/`name`.s with the link layout source_dir/`name`.cfg into
    `output`, which is replaced only when the build succeeds. The other cartridges
    shipped with the tools are built with it too."""
    source_dir = pathlib.Path(source_dir)
    output = pathlib.Path(output)
    if not assembler_available():
        raise BuildError("ca65 and ld65 are needed (Debian package cc65)")
    if not (source_dir / f"{name}.s").is_file():
        raise BuildError(f"no {name} source in {source_dir}")
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        _run(["ca65", f"{name}.s", "-o", str(work / f"{name}.o")], source_dir)
        _run(["ld65", "-C", f"{name}.cfg", "-o", str(work / f"{name}.nes"),
              str(work / f"{name}.o")], source_dir)
        staged = output.with_name(f".{output.name}.tmp")
        shutil.copyfile(work / f"{name}.nes", staged)
        os.replace(staged, output)
    return output


def _run(command, cwd):
    # ca65 looks for .include files in the current folder, so run beside the source.
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0 or result.stderr.strip():
        raise BuildError(f"{command[0]} failed: {result.stderr.strip() or result.returncode}")


def main(argv=None):
    return command_line("demo", "the demo cartridge", resource, build, SOURCE_DIR, PACKAGED, argv)


def command_line(name, title, packaged_resource, builder, source_dir, packaged, argv):
    """`python -m vandrel_tools.<name>`: prints where the packaged cartridge is, or with
    --build rebuilds it with `builder`(source, output)."""
    parser = argparse.ArgumentParser(
        prog=f"python -m vandrel_tools.{name}",
        description=f"Show where {title} is, or rebuild it from its assembly source.")
    parser.add_argument("--build", action="store_true",
                        help=f"assemble the {name} with ca65/ld65 and replace the packaged {name}.nes")
    parser.add_argument("--source", default=source_dir, type=pathlib.Path,
                        help=f"folder with {name}.s and {name}.cfg (default {source_dir})")
    parser.add_argument("--output", default=packaged, type=pathlib.Path,
                        help=f"cartridge file to write (default {packaged})")
    args = parser.parse_args(argv)
    if not args.build:
        with importlib.resources.as_file(packaged_resource()) as path:
            print(path)
        return 0
    try:
        print(builder(args.source, args.output))
    except (BuildError, OSError) as error:
        print(f"{parser.prog}: error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
