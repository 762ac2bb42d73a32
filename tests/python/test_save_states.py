"""Save states from Python: slots, round trips, and files that must be refused."""
import os
import pathlib

import numpy as np
import pytest
import vandrel

from conftest import ines, jmp

COUNTER = bytes([0xE8, 0x86, 0x10]) + jmp(0x8000)  # INX; STX $10; JMP $8000


@pytest.fixture
def nes(make_rom):
    return vandrel.NES(make_rom("states.nes", ines(COUNTER)))


def test_round_trip_restores_memory_and_execution(nes):
    nes.runFrame()
    nes.saveState(3)
    ram = nes.cpuMem().copy()
    nes.runFrame()
    assert not np.array_equal(nes.cpuMem(), ram)
    assert nes.loadState(3) is True
    assert np.array_equal(nes.cpuMem(), ram)


def test_state_file_size_slot_names_and_keyword_refusal(nes):
    nes.saveState(-1)
    path = os.path.join(nes.getSaveDir(), "-1")
    assert os.path.getsize(path) == 82189
    with open(path, "rb") as f:
        assert f.read()[-256:] == bytes(256)
    with pytest.raises(TypeError):
        nes.saveState(slot=1)
    assert nes.loadState(12345) is False


NESTEST = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "roms" / "nestest.nes"


@pytest.mark.skipif(not NESTEST.exists(), reason="public test cartridge not available")
def test_a_state_carries_over_to_a_fresh_console_with_the_same_pictures():
    first = vandrel.NES(str(NESTEST))
    for _ in range(20):
        first.runFrame()
    first.saveState(0)
    second = vandrel.NES(str(NESTEST))
    assert second.loadState(0)
    assert np.array_equal(first.cpuMem(), second.cpuMem())
    for _ in range(3):
        first.runFrame()
        second.runFrame()
    assert first.getImg().any()
    assert np.array_equal(first.getImg(), second.getImg())


@pytest.mark.parametrize("damage", ["truncate", "extend", "bad pc"])
def test_damaged_state_files_are_refused_whole(nes, damage):
    nes.saveState(1)
    path = os.path.join(nes.getSaveDir(), "1")
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if damage == "truncate":
        data = data[:-1]
    elif damage == "extend":
        data += b"\0"
    else:
        data[5:13] = (0x10000).to_bytes(8, "little")
    with open(path, "wb") as f:
        f.write(data)
    nes.cpuMem()[0x10] = 0x99
    assert nes.loadState(1) is False
    assert nes.cpuMem()[0x10] == 0x99


def test_a_console_without_a_save_folder(tmp_path):
    blank = vandrel.NES()
    with pytest.raises(RuntimeError):
        blank.saveState(0)
    assert not os.path.exists("/0")
    assert blank.loadState(0) is False
    assert blank.setSaveDir(str(tmp_path))
    blank.saveState(0)
    assert (tmp_path / "0").stat().st_size == 82189


def test_an_unwritable_slot_raises_oserror_and_leaves_no_debris(nes):
    folder = nes.getSaveDir()
    os.makedirs(os.path.join(folder, "5", "occupied"))
    with pytest.raises(OSError):
        nes.saveState(5)
    assert sorted(os.listdir(folder)) == ["5"]


@pytest.mark.parametrize("mapper, trailer", [(0, 0), (1, 0), (5, 0x10000), (30, 0x8000)])
def test_boards_that_need_more_append_a_trailer_and_old_records_still_load(
        make_rom, mapper, trailer):
    image = ines(COUNTER, flags6=(mapper & 15) << 4, flags7=mapper & 0xF0)
    nes = vandrel.NES(make_rom("board.nes", image))
    nes.runFrame()
    nes.saveState(1)
    state = nes.getState()
    assert len(state) == os.path.getsize(os.path.join(nes.getSaveDir(), "1")) == 82189 + trailer
    nes.setState(state)
    earlier = bytearray(state[:82189])
    earlier[-192:] = bytes(192)  # as files were written before boards had extensions
    nes.setState(bytes(earlier))
    with pytest.raises(ValueError, match="82189 bytes"):
        nes.setState(state[:-1] if trailer else state + b"\0")
