"""Whole-console snapshots, copies and pickles: a copy continues exactly as the original
would, picture, memory, sound, counters and accuracy mode alike, in this process or
another."""
import copy
import pathlib
import pickle
import subprocess
import sys

import numpy as np
import pytest
import vandrel

from conftest import ines, jmp


def play(nes, frames, start=0):
    """Steps with a changing input and returns everything observable, sound included."""
    pad = vandrel.Controller()
    nes.setController(pad, 0)
    sound = []
    for frame in range(start, start + frames):
        pad.setButtons((frame * 37) & 0xF9)
        nes.runFrame()
        sound.append(b"".join(nes.getAudio(split_channels=True)))
    return (nes.accuracy, nes.frameCount(), nes.cycleCount(), nes.getImg().tobytes(),
            nes.cpuMem().tobytes(), nes.ppuMem().tobytes(), nes.OAM().tobytes(),
            b"".join(sound))


def in_a_new_process(data, folder):
    """Unpickles and plays in a fresh interpreter (its console prints to standard output,
    so the result comes back through a file)."""
    result = folder / "result.pickle"
    child = ("import pickle, sys\n"
             "sys.path.insert(0, sys.argv[1])\n"
             "from test_copies import play\n"
             "nes = pickle.loads(sys.stdin.buffer.read())\n"
             "open(sys.argv[2], 'wb').write(pickle.dumps(play(nes, 90, 100)))\n")
    subprocess.run([sys.executable, "-c", child, str(pathlib.Path(__file__).parent),
                    str(result)], input=data, capture_output=True, timeout=120, check=True)
    return pickle.loads(result.read_bytes())


@pytest.mark.parametrize("accuracy", ["fast", "hardware"])
@pytest.mark.parametrize("how", ["copy", "deepcopy", "pickle", "snapshot", "snapshot without picture",
                                 "other process"])
def test_a_copy_continues_exactly_as_the_original(how, accuracy, demo, tmp_path):
    nes = vandrel.NES(demo, accuracy=accuracy)
    play(nes, 100)  # mid-tune, with a frame of sound not yet fetched
    if how == "copy":
        twin = copy.copy(nes)
    elif how == "deepcopy":
        twin = copy.deepcopy(nes)
    elif how == "pickle":
        twin = pickle.loads(pickle.dumps(nes))
    elif how.startswith("snapshot"):
        twin = vandrel.NES(demo, accuracy=accuracy)
        twin.runFrames(7)
        twin.setSnapshot(nes.getSnapshot(picture=how == "snapshot"))
    if how == "other process":
        theirs = in_a_new_process(pickle.dumps(nes), tmp_path)
    else:
        theirs = play(twin, 90, 100)
    assert play(nes, 90, 100) == theirs


@pytest.mark.parametrize("accuracy", ["fast", "hardware"])
def test_a_snapshot_without_the_picture_shows_the_next_frame_finished(accuracy, demo):
    nes = vandrel.NES(demo, accuracy=accuracy)
    nes.runFrames(30)
    twin = vandrel.NES(demo, accuracy=accuracy)
    shown = twin.getImg().copy()
    bare, whole = nes.getSnapshot(picture=False), nes.getSnapshot()
    assert len(whole) - len(bare) >= 240 * 256  # the picture, a byte a pixel
    twin.setSnapshot(bare)
    assert np.array_equal(twin.getImg(), shown)
    nes.runFrame()
    twin.runFrame()
    assert np.array_equal(twin.getImg(), nes.getImg())
    assert twin.getSnapshot() == nes.getSnapshot()


def test_the_save_state_record_alone_does_not_continue_identically(demo):
    """Why snapshots exist: the record leaves out the PPU's and APU's inner state."""
    nes = vandrel.NES(demo)
    play(nes, 100)
    twin = vandrel.NES(demo)
    twin.setState(nes.getState())
    assert play(twin, 90, 100) != play(nes, 90, 100)


def test_copies_keep_the_setup_but_not_the_callable_or_thread(demo, tmp_path):
    nes = vandrel.NES(demo, CLOCK_SPEED=0)
    folder = tmp_path / "saves"
    folder.mkdir()
    assert nes.setSaveDir(str(folder))
    nes.colorLookup()[:] = 7
    pad = vandrel.Controller()
    pad.setButtons(0b1000_1000)
    nes.setController(pad, 1)
    calls = []
    nes.perFrame(lambda: calls.append(1))
    twin = copy.deepcopy(nes)
    assert twin.getSaveDir() == str(folder)
    assert (twin.colorLookup() == 7).all()
    twin.runFrame()
    assert calls == []
    copied_pad = pickle.loads(pickle.dumps(pad))
    assert copied_pad is not pad and copied_pad.getButtons() == 0b1000_1000


def test_a_copy_of_the_blank_cartridge(demo):
    nes = vandrel.NES()
    nes.runFrames(3)
    twin = pickle.loads(pickle.dumps(nes))
    assert twin.cycleCount() == nes.cycleCount()
    twin.runFrames(2)
    nes.runFrames(2)
    assert (twin.cpuMem() == nes.cpuMem()).all()


def flip(offset):
    def damage(data):
        broken = bytearray(data)
        broken[offset] ^= 1
        return bytes(broken)
    return damage


@pytest.mark.parametrize("damage, message", [
    (lambda s: b"", "not a console snapshot"),
    (lambda s: s[:100], "not a console snapshot|damaged"),
    (lambda s: s[:-1], "damaged"),
    (lambda s: s + b"\0", "damaged"),
    (flip(0), "not a console snapshot"),
    (flip(8), "format version 2, made by another version of vandrel; this one reads format 3"),
    (flip(16), "another cartridge"),
    (flip(5000), "damaged"),
    (lambda s: np.frombuffer(s, np.uint8), None),  # not damaged: any bytes-like works
])
def test_unusable_snapshots_are_refused_and_change_nothing(damage, message, demo):
    nes = vandrel.NES(demo)
    nes.runFrames(5)
    snapshot = nes.getSnapshot()
    nes.runFrames(3)
    before = (nes.cycleCount(), nes.cpuMem().tobytes(), nes.getImg().tobytes())
    if message is None:
        nes.setSnapshot(damage(snapshot))
        assert nes.cycleCount() < before[0]
        return
    with pytest.raises(ValueError, match=message):
        nes.setSnapshot(damage(snapshot))
    assert (nes.cycleCount(), nes.cpuMem().tobytes(), nes.getImg().tobytes()) == before


def test_a_snapshot_of_one_cartridge_is_refused_by_another(demo, make_rom):
    other = vandrel.NES(make_rom("other.nes", ines(jmp(0x8000))))
    with pytest.raises(ValueError, match="another cartridge"):
        other.setSnapshot(vandrel.NES(demo).getSnapshot())


def test_a_pickle_of_another_layout_is_refused():
    with pytest.raises(ValueError, match="another version"):
        pickle.loads(pickle.dumps(vandrel.NES()).replace(b"K\x01", b"K\x09", 1))


@pytest.mark.parametrize("frames", [1, 3])
def test_a_callable_restoring_the_starting_frame_lets_the_step_return(frames, demo):
    nes = vandrel.NES(demo)
    nes.runFrames(2)
    start = nes.getSnapshot()
    calls = []
    nes.perFrame(lambda: (calls.append(1), nes.setSnapshot(start)))
    nes.runFrames(frames)
    assert len(calls) == frames and nes.frameCount() == 2


@pytest.mark.parametrize("make_buffer", [
    lambda n: bytearray(n + 7), lambda n: np.zeros(n, np.uint8),
    lambda n: memoryview(bytearray(n))])
def test_a_snapshot_written_into_a_buffer_is_the_returned_one(make_buffer, demo):
    nes = vandrel.NES(demo)
    nes.runFrames(3)
    snapshot = nes.getSnapshot()
    buffer = make_buffer(len(snapshot))
    assert nes.getSnapshot(into=buffer) == len(snapshot)
    assert bytes(memoryview(buffer)[:len(snapshot)]) == snapshot


def test_a_buffer_that_cannot_take_a_snapshot_is_refused(demo):
    nes = vandrel.NES(demo)
    short = bytearray(1000)
    with pytest.raises(ValueError, match="takes"):
        nes.getSnapshot(into=short)
    assert not any(short)
    with pytest.raises(BufferError):
        nes.getSnapshot(into=bytes(len(nes.getSnapshot())))


@pytest.mark.parametrize("accuracy", ["fast", "hardware"])
def test_every_frame_end_of_the_demo_copies_whole(accuracy, demo):
    """The demo's music plays DMC samples: at its 1577th frame end a sample fetch is
    pending. Copies, pickles and restores into another console of each frame end (at
    return and inside the callable) continue as the original, and a batch can start
    there."""
    nes = vandrel.NES(demo, accuracy=accuracy)
    twin = vandrel.NES(demo, accuracy=accuracy)
    inside = []
    nes.perFrame(lambda: inside.append(nes.getSnapshot(picture=False)))
    nes.runFrames(1560)
    inside.clear()
    for _ in range(30):
        nes.runFrame()
        for snapshot in (inside.pop(), nes.getSnapshot(picture=False)):
            twin.setSnapshot(snapshot)
            assert twin.getSnapshot(picture=False) == snapshot
    nes.perFrame(lambda: None)
    copies = (copy.deepcopy(nes), pickle.loads(pickle.dumps(nes)))
    assert play(copies[0], 20) == play(copies[1], 20) == play(nes, 20)
    from vandrel_gym._batch import Batch
    Batch(demo, 1, start_frames=1577, observation="ram", accuracy=accuracy)
