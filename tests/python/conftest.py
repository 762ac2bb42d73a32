"""Shared fixtures for the Python-level tests.

Every test runs with HOME pointing into its own temporary directory, so the
save folders ($HOME/.config/Tamberlo/NAME) never touch the real user's files.
Cartridges are assembled here from a few bytes of hand-written 6502 code.
"""
import ctypes
import importlib.resources
import importlib.util
import os
import pathlib
import subprocess
import sys

import pytest

PRG_BANK = 16 * 1024
CHR_BANK = 8 * 1024

_libc = ctypes.CDLL(None)

NO_PUBLIC_TEST_ROMS = ("public test cartridges not found: set VANDREL_TEST_ROMS or put "
                       "them in ../shared/roms")


def run_example(name, *args, folder):
    """Runs examples/NAME with ARGS in `folder` (also its HOME) for at most ten minutes and
    returns what it printed; a failure shows the end of its error output."""
    example = pathlib.Path(__file__).resolve().parents[2] / "examples" / name
    done = subprocess.run([sys.executable, str(example), *args], cwd=folder,
                          capture_output=True, text=True, timeout=600,
                          env={"HOME": str(folder), "PATH": "/usr/bin:/bin"})
    assert done.returncode == 0, done.stderr[-3000:]
    return done.stdout


def import_error(*modules):
    """None when a fresh interpreter (with this one's sys.path) imports every module of
    `modules`, else the last line of its error. A package can be found yet fail to import,
    such as ray.rllib without its dependency dm-tree: an example test must skip then, not
    fail, so it asks for exactly what its example imports."""
    absent = [m.split(".")[0] for m in modules if importlib.util.find_spec(m.split(".")[0]) is None]
    if absent:      # quicker than starting an interpreter
        return f"No module named {absent[0]!r}"
    done = subprocess.run([sys.executable, "-c", "".join(f"import {m}\n" for m in modules)],
                          capture_output=True, text=True, timeout=300,
                          env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    if done.returncode == 0:
        return None
    lines = done.stderr.strip().splitlines()
    return lines[-1] if lines else f"exit status {done.returncode}"


def needs_modules(*modules, install):
    """Skips the calling test unless every module of `modules` imports (see import_error);
    the reason names the error and what to `install`."""
    error = import_error(*modules)
    if error:
        pytest.skip(f"{', '.join(modules)} cannot be imported ({error}): {install}")


def public_test_rom(name):
    """A public test cartridge (or its companion file): from $VANDREL_TEST_ROMS first,
    then ../shared/roms beside the project; None when neither has it."""
    folders = [os.environ.get("VANDREL_TEST_ROMS"),
               pathlib.Path(__file__).resolve().parents[3] / "shared" / "roms"]
    for folder in folders:
        if folder and (pathlib.Path(folder) / name).exists():
            return pathlib.Path(folder) / name
    return None


def header(prg_banks, chr_banks, flags6=0, flags7=0, byte9=0):
    """A 16-byte iNES header (byte 9 only matters for NES 2.0 images)."""
    return (b"NES\x1a" + bytes([prg_banks, chr_banks, flags6, flags7, 0, byte9])
            + bytes(6))


def ines(code=b"", *, prg_banks=1, chr_banks=0, flags6=0, flags7=0,
         code_at=0, reset=0x8000):
    """An NROM-style image: `code` at PRG offset `code_at`, reset vector in
    the last four bytes of PRG (which the CPU sees at $FFFC with 16 or 32 KiB
    of PRG ROM), CHR ROM left zero."""
    prg = bytearray(prg_banks * PRG_BANK)
    prg[code_at:code_at + len(code)] = code
    prg[-4:-2] = reset.to_bytes(2, "little")
    return (header(prg_banks, chr_banks, flags6, flags7) + bytes(prg)
            + bytes(chr_banks * CHR_BANK))


def jmp(addr):
    return b"\x4c" + addr.to_bytes(2, "little")


# Strobe both pads, read each port nine times into $0300+X ($4016) and
# $0310+X ($4017), then start over, so the RAM always holds a recent scan.
PAD_READER = bytes([
    0xA9, 0x01, 0x8D, 0x16, 0x40,  # 8000 LDA #$01 / STA $4016  (latch)
    0xA9, 0x00, 0x8D, 0x16, 0x40,  # 8005 LDA #$00 / STA $4016  (shift mode)
    0xA2, 0x00,                    # 800A LDX #$00
    0xAD, 0x16, 0x40,              # 800C LDA $4016
    0x9D, 0x00, 0x03,              # 800F STA $0300,X
    0xAD, 0x17, 0x40,              # 8012 LDA $4017
    0x9D, 0x10, 0x03,              # 8015 STA $0310,X
    0xE8,                          # 8018 INX
    0xE0, 0x09,                    # 8019 CPX #$09
    0xD0, 0xEF,                    # 801B BNE $800C
]) + jmp(0x8000)                   # 801D JMP $8000


def pad_bits(pressed):
    """What the nine reads of a port give for the given eight buttons."""
    return [0x40 | bool(b) for b in pressed] + [0x41]


def c_stdout(capfd):
    """Lines printed so far; the C library buffers stdout when it is not a
    terminal, so flush it before collecting."""
    _libc.fflush(None)
    return capfd.readouterr().out.splitlines()


def in_order(lines, expected):
    """True when `expected` appears in `lines` as an ordered subsequence."""
    it = iter(lines)
    return all(any(line == want for line in it) for want in expected)


@pytest.fixture(autouse=True)
def home(tmp_path, monkeypatch):
    h = tmp_path / "home"
    h.mkdir()
    monkeypatch.setenv("HOME", str(h))
    return h


@pytest.fixture(scope="session")
def demo():
    """The path of the demo cartridge shipped with vandrel_tools."""
    from vandrel_tools import demo as demo_module
    with importlib.resources.as_file(demo_module.resource()) as path:
        yield str(path)


@pytest.fixture(scope="session")
def ray_home(tmp_path_factory):
    """HOME for every Ray instance the tests start: Ray keeps its authentication token
    under it (and remembers the token for the rest of this process), away from the real
    home."""
    return tmp_path_factory.mktemp("ray-home")


@pytest.fixture
def tamberlo(home):
    return home / ".config" / "Tamberlo"


@pytest.fixture
def make_rom(tmp_path):
    """Write an image to tmp/roms/<name> and return the path as a str."""
    def write(name, data):
        path = pathlib.Path(tmp_path, "roms", name)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return str(path)
    return write


class Reader:
    """A minimal stand-in for an open file: a name and a read() method."""

    def __init__(self, name, payload):
        self.name = name
        self._payload = payload

    def read(self):
        return self._payload
