"""The real-time run thread seen from Python: pacing, pause, stop, the per-frame callable,
and the calls that must wait for it. Host timing is noisy, so margins are generous."""
import gc
import threading
import time

import pytest
import vandrel

from conftest import ines, jmp

SPEED = 1789773
LOOP = jmp(0x8000)  # an endless loop: the console only counts cycles


@pytest.fixture
def nes(make_rom):
    console = vandrel.NES(make_rom("loop.nes", ines(LOOP)))
    yield console
    try:
        console.stop()
    except RuntimeError:
        pass


def test_runs_at_the_clock_speed(nes):
    nes.start()
    time.sleep(1.0)
    cycles = nes.cycleCount()
    assert SPEED * 0.5 < cycles < SPEED * 1.15


def test_pause_holds_the_count_and_resuming_does_not_rush(nes):
    nes.start()
    time.sleep(0.2)
    nes.setPaused(True)
    held = nes.cycleCount()
    time.sleep(1.0)
    assert nes.cycleCount() == held
    nes.setPaused(False)
    time.sleep(0.3)
    assert nes.cycleCount() - held < SPEED * 0.6


def test_a_pause_before_start_counts_as_paused_time(nes):
    nes.setPaused(True)
    nes.start()
    time.sleep(0.5)
    assert nes.cycleCount() == 0
    nes.setPaused(False)
    time.sleep(0.2)
    assert 0 < nes.cycleCount() < SPEED * 0.5


def test_stop_while_paused_and_stop_twice(nes):
    nes.start()
    nes.setPaused(True)
    nes.stop()
    with pytest.raises(RuntimeError):
        nes.stop()


def test_restart_continues_the_cycle_count(nes):
    nes.start()
    time.sleep(0.2)
    nes.stop()
    first = nes.cycleCount()
    nes.start()
    time.sleep(0.2)
    nes.stop()
    assert nes.cycleCount() > first + SPEED * 0.05


def test_per_frame_callable_runs_about_sixty_times_a_second(nes):
    calls = []
    nes.perFrame(lambda: calls.append(threading.get_ident()))
    nes.start()
    time.sleep(1.0)
    nes.stop()
    assert 30 <= len(calls) <= 70
    assert threading.get_ident() not in calls


@pytest.mark.parametrize("call", ["runFrame", "saveState", "loadState", "start"])
def test_stepping_calls_are_refused_while_the_thread_steps(nes, call):
    nes.start()
    args = (0,) if call in ("saveState", "loadState") else ()
    with pytest.raises(RuntimeError, match=call):
        getattr(nes, call)(*args)
    nes.setPaused(True)
    if call != "start":
        getattr(nes, call)(*args)  # paused: safe again


def test_a_raising_callable_ends_the_thread_and_is_reported(nes, capfd):
    nes.perFrame(lambda: 1 / 0)
    nes.start()
    time.sleep(0.3)
    frames = nes.frameCount()
    time.sleep(0.2)
    assert nes.frameCount() == frames
    nes.stop()
    assert "ZeroDivisionError" in capfd.readouterr().err


def test_none_as_callable_fails_the_first_frame(nes):
    nes.perFrame(None)
    with pytest.raises(RuntimeError):
        nes.runFrame()


def test_deleting_a_console_whose_thread_calls_python_does_not_hang(make_rom):
    for _ in range(5):
        console = vandrel.NES(make_rom("loop.nes", ines(LOOP)), CLOCK_SPEED=0)
        console.perFrame(lambda: sum(range(100)))
        console.start()
        time.sleep(0.05)
        del console
        gc.collect()


def test_replacing_the_callable_while_it_runs(nes):
    seen = []
    nes.start()
    for i in range(300):
        nes.perFrame(lambda i=i: seen.append(i))
        time.sleep(0.001)
    nes.stop()
    assert seen


def test_stress_start_pause_resume_stop(make_rom):
    console = vandrel.NES(make_rom("loop.nes", ines(LOOP)), CLOCK_SPEED=0)
    console.perFrame(lambda: None)
    for _ in range(50):
        console.start()
        console.setPaused(True)
        console.setPaused(False)
        console.stop()
    console.start()  # still a working console afterwards
    time.sleep(0.1)
    console.stop()
    assert console.cycleCount() > 0


def test_stop_writes_battery_ram_with_or_without_a_thread(make_rom, tamberlo):
    # STA $6000 of an incrementing A, endlessly.
    code = bytes([0xE8, 0x8E, 0x00, 0x60]) + jmp(0x8000)
    console = vandrel.NES(make_rom("Saved Game.nes", ines(code, flags6=0x02)))
    console.runFrame()
    with pytest.raises(RuntimeError):
        console.stop()
    ram = (tamberlo / "Saved_Game" / "ram").read_bytes()
    assert len(ram) == 8192 and ram[0] == console.cpuMem()[0x6000] != 0
    console.start()
    time.sleep(0.1)
    console.stop()
    assert (tamberlo / "Saved_Game" / "ram").read_bytes()[0] == console.cpuMem()[0x6000]


@pytest.mark.parametrize("when", ["paused", "per-frame callable"])
@pytest.mark.parametrize("jump", ["forward", "back"])
def test_a_restored_snapshot_moves_the_cycle_count_not_the_pace(when, jump, nes):
    early = nes.getSnapshot(picture=False)
    nes.runFrames(600)  # ten seconds of emulated time
    late = nes.getSnapshot(picture=False)
    begin, restored = (early, late) if jump == "forward" else (late, early)
    nes.setSnapshot(begin)
    frames = []

    def per_frame():
        if not frames and when == "per-frame callable":
            nes.setSnapshot(restored)
        frames.append(time.monotonic())
    nes.perFrame(per_frame)
    nes.setPaused(when == "paused")
    nes.start()
    if when == "paused":
        nes.setSnapshot(restored)
        nes.setPaused(False)
    time.sleep(1.5)
    nes.stop()
    # About 90 frames in real time; a freeze shows none, an unthrottled run thousands.
    assert 20 < len(frames) < 300
