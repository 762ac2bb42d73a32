"""VANDREL_QUIET: the progress lines a console prints while it is built, on request not."""
import copy
import pickle

import pytest
import vandrel

from conftest import c_stdout, ines, jmp


@pytest.mark.parametrize("value, printed", [
    (None, True), ("", True), ("0", True), ("1", False), ("yes", False),
])
@pytest.mark.filterwarnings("ignore::vandrel.UnsupportedBoardWarning")
def test_quiet_silences_every_progress_line(value, printed, monkeypatch, capfd, make_rom):
    if value is None:
        monkeypatch.delenv("VANDREL_QUIET", raising=False)
    else:
        monkeypatch.setenv("VANDREL_QUIET", value)
    # A battery cartridge with CHR RAM and an unknown mapper prints every kind of line.
    vandrel.NES(make_rom("loud.nes", ines(jmp(0x8000), flags6=0xF2)))
    vandrel.NES()
    lines = c_stdout(capfd)
    assert bool(lines) == printed
    if printed:
        assert "UNRECOGNIZED MAPPER!" in lines and "No rom specified." in lines


@pytest.mark.parametrize("build", ["batch", "copy", "pickle"])
def test_batches_copies_and_unpickling_build_quietly(build, monkeypatch, capfd, make_rom):
    from vandrel_gym._batch import Batch
    monkeypatch.delenv("VANDREL_QUIET", raising=False)
    rom = make_rom("batch.nes", ines(jmp(0x8000)))
    original = vandrel.NES(rom)
    c_stdout(capfd)
    if build == "batch":
        Batch(rom, 3)
    elif build == "copy":
        copy.deepcopy(original)
    else:
        pickle.loads(pickle.dumps(original))
    assert c_stdout(capfd) == []
    vandrel.NES(make_rom("after.nes", ines(jmp(0x8000))))
    assert c_stdout(capfd) != []
