"""Ctrl-C during calls that step for long without the interpreter lock: the call ends
after a whole frame, raises KeyboardInterrupt, and leaves its consoles usable. A real
SIGINT is sent to the process, as a terminal would send it."""
import os
import signal
import threading
import time

import numpy as np
import pytest
import vandrel
from vandrel_gym._batch import Batch

PATIENCE = 30  # seconds; the calls below run for minutes unless interrupted
LONG = 10**5  # frames


def run_frames(demo):
    nes = vandrel.NES(demo, accuracy="hardware")
    first = nes.frameCount()

    def check():
        assert first < nes.frameCount() < first + LONG
        twin = vandrel.NES(demo, accuracy="hardware")
        twin.runFrames(nes.frameCount() - first)
        assert nes.cycleCount() == twin.cycleCount()
        assert np.array_equal(nes.cpuMem(), twin.cpuMem())
        nes.runFrame()
        assert nes.frameCount() == twin.frameCount() + 1
    return lambda: nes.runFrames(LONG), check


def batch_step(demo):
    batch = Batch(demo, 2, frame_skip=1000, observation="ram", accuracy="hardware", threads=2)

    def check():
        frames = int(batch.frames[0])
        assert 0 < frames < 1000
        twin = vandrel.NES(demo, accuracy="hardware")
        twin.runFrames(frames)
        assert np.array_equal(batch.ram[0], twin.cpuMem()[:2048])
        batch.step(np.zeros(2, dtype=int))
        assert batch.frames[0] == frames + 1000
    return lambda: batch.step(np.zeros(2, dtype=int)), check


def batch_build(demo):
    return lambda: Batch(demo, 1, start_frames=LONG, accuracy="hardware"), lambda: None


@pytest.mark.parametrize("call", [run_frames, batch_step, batch_build])
def test_ctrl_c_ends_a_long_call_after_a_whole_frame(call, demo):
    long_call, check = call(demo)
    threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
    began = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        long_call()
    assert time.monotonic() - began < PATIENCE
    check()
