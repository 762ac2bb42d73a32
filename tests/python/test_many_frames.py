"""Stepping many frames without the interpreter lock (runFrames), states kept in memory
(getState, setState), and buttons set from one integer (Controller.setButtons)."""
import os
import threading
import time

import numpy as np
import pytest
import vandrel

from conftest import PAD_READER, ines, jmp, pad_bits

STATE_SIZE = 82189
COUNTER = bytes([0xE8, 0x86, 0x10]) + jmp(0x8000)  # INX; STX $10; JMP $8000


@pytest.fixture
def nes(make_rom):
    return vandrel.NES(make_rom("states.nes", ines(COUNTER)))


def observed(nes):
    return (nes.frameCount(), nes.cycleCount(), nes.getImg().copy(), nes.cpuMem().copy(),
            nes.ppuMem().copy(), nes.OAM().copy())


def assert_same(a, b):
    assert a[:2] == b[:2]
    for x, y in zip(a[2:], b[2:]):
        assert np.array_equal(x, y)


def test_run_frames_is_the_same_as_as_many_run_frame_calls(demo):
    pads = []
    consoles = []
    for _ in range(2):
        nes = vandrel.NES(demo)
        pad = vandrel.Controller()
        pad.setButtons(0b1000_0001)  # A and Right
        nes.setController(pad, 0)
        calls = []
        nes.perFrame(lambda calls=calls: calls.append(1))
        pads.append(pad)
        consoles.append((nes, calls))
    (one, calls_one), (many, calls_many) = consoles
    for _ in range(120):
        one.runFrame()
    many.runFrames(100)
    many.runFrames(0)
    many.runFrames(count=20)
    assert_same(observed(one), observed(many))
    assert len(calls_one) == len(calls_many) == 120


def test_run_frames_lets_other_threads_run(nes):
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.0005)

    ticker = threading.Thread(target=tick)
    ticker.start()
    time.sleep(0.01)
    before = len(ticks)
    nes.runFrames(600)
    during = len(ticks) - before
    stop.set()
    ticker.join()
    assert during > 0


def test_two_threads_stepping_two_consoles_give_the_frames_of_one_thread(demo):
    def console(mask):
        nes = vandrel.NES(demo)
        pad = vandrel.Controller()
        pad.setButtons(mask)
        nes.setController(pad, 0)
        return nes, pad

    def step(nes, pictures):
        for _ in range(6):
            nes.runFrames(20)
            pictures.append(nes.getImg().copy())

    masks = (0b1000_0001, 0b0100_0010)
    alone = [console(m) for m in masks]
    together = [console(m) for m in masks]
    expected = [[], []]
    for (nes, _), pictures in zip(alone, expected):
        step(nes, pictures)
    got = [[], []]
    threads = [threading.Thread(target=step, args=(nes, pictures))
               for (nes, _), pictures in zip(together, got)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for (a, _), (b, _), x, y in zip(alone, together, expected, got):
        assert all(np.array_equal(p, q) for p, q in zip(x, y)) and len(x) == len(y) == 6
        assert_same(observed(a), observed(b))


def test_run_frames_refusals_and_a_raising_callable(nes):
    with pytest.raises(ValueError, match="0 or more"):
        nes.runFrames(-1)
    with pytest.raises(TypeError):
        nes.runFrames(1.5)

    def fail_at_third():
        if nes.frameCount() == 3:
            raise KeyError("third")

    nes.perFrame(fail_at_third)
    with pytest.raises(KeyError, match="third"):
        nes.runFrames(10)
    assert nes.frameCount() == 3
    nes.perFrame(lambda: nes.runFrames(1))
    with pytest.raises(RuntimeError, match="per-frame callable"):
        nes.runFrames(1)


def test_one_console_is_never_stepped_by_two_threads(nes):
    inside = threading.Event()
    release = threading.Event()

    def hold():
        inside.set()
        release.wait(10)

    nes.perFrame(hold)
    stepper = threading.Thread(target=nes.runFrames, args=(1,))
    stepper.start()
    assert inside.wait(10)
    for call in (nes.runFrame, nes.runFrames, nes.getState):
        with pytest.raises(RuntimeError, match="another thread"):
            call()
    release.set()
    stepper.join()


def test_get_state_is_the_record_save_state_writes(nes):
    nes.runFrames(3)
    state = nes.getState()
    assert isinstance(state, bytes) and len(state) == STATE_SIZE
    nes.saveState(0)
    with open(os.path.join(nes.getSaveDir(), "0"), "rb") as f:
        assert f.read() == state


@pytest.mark.parametrize("as_type", [bytes, bytearray, memoryview,
                                     lambda b: np.frombuffer(b, np.uint8)])
def test_set_state_round_trip_replays_identically(as_type, demo):
    nes = vandrel.NES(demo)
    nes.runFrames(30)
    state = nes.getState()
    nes.runFrames(60)
    first = observed(nes)
    nes.setState(as_type(state))
    nes.runFrames(60)
    again = observed(nes)
    assert again[1] > first[1]  # the counters are not part of a state
    for x, y in zip(first[2:], again[2:]):
        assert np.array_equal(x, y)


def bad_pc(state):
    broken = bytearray(state)
    broken[5:13] = (0x10000).to_bytes(8, "little")
    return bytes(broken)


@pytest.mark.parametrize("damage, error, message", [
    (lambda s: s[:-1], ValueError, "82189 bytes, got 82188"),
    (lambda s: s + b"\0", ValueError, "got 82190"),
    (lambda s: b"", ValueError, "got 0"),
    (bad_pc, ValueError, "program counter"),
    (lambda s: "text", TypeError, None),
    (lambda s: np.frombuffer(s * 2, np.uint8)[::2], (ValueError, BufferError), None),
])
def test_unusable_records_are_refused_and_change_nothing(damage, error, message, nes):
    nes.runFrames(2)
    state = nes.getState()
    nes.runFrames(1)
    before = observed(nes)
    with pytest.raises(error, match=message):
        nes.setState(damage(state))
    assert_same(before, observed(nes))


def test_state_calls_wait_for_the_run_thread_like_the_slot_calls(nes):
    state = nes.getState()
    taken = []
    nes.perFrame(lambda: taken.append(nes.getState()) if not taken else None)
    nes.start()
    try:
        with pytest.raises(RuntimeError, match="own thread"):
            nes.getState()
        with pytest.raises(RuntimeError, match="own thread"):
            nes.setState(state)
        deadline = time.monotonic() + 10
        while not taken and time.monotonic() < deadline:
            time.sleep(0.01)
        nes.setPaused(True)
        nes.setState(state)
    finally:
        nes.stop()
    assert len(taken[0]) == STATE_SIZE


@pytest.mark.parametrize("mask", [0, 1, 0b1000_1001, 0xFF, 0x40, np.uint8(129), np.int64(3)])
def test_set_buttons_takes_bit_i_as_button_i(mask, make_rom):
    nes = vandrel.NES(make_rom("pads.nes", ines(PAD_READER)))
    pad = vandrel.Controller()
    pad.setButtons(mask)
    nes.setController(pad, 1)
    nes.runFrame()
    pressed = [bool(mask >> i & 1) for i in range(8)]
    assert list(nes.cpuMem()[0x310:0x319]) == pad_bits(pressed)


@pytest.mark.parametrize("mask, error", [(256, ValueError), (-1, ValueError),
                                         (1 << 70, OverflowError), ("1", TypeError),
                                         (1.0, TypeError), ([1], TypeError)])
def test_set_buttons_refuses_what_is_not_a_mask(mask, error):
    pad = vandrel.Controller()
    with pytest.raises(error):
        pad.setButtons(mask)
