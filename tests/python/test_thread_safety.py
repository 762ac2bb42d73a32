"""One console, several threads: the per-frame callable acting on its own console, the
last reference dropped on the run thread, stop from several threads at once, and
runFrame racing a resume. The cases that used to hang or abort the interpreter run in a
child process with a time limit, so that a regression fails the test instead of the
suite."""
import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest
import vandrel

from conftest import PAD_READER, Reader, ines, jmp

LOOP = jmp(0x8000)

# A child process gets the cartridge path and HOME from its environment.
PRELUDE = """
import gc, os, sys, threading, time
import vandrel
ROM = os.environ["ROM"]
"""


def run_child(code, rom, home, timeout=60):
    """Runs `code` in a fresh interpreter; returns its stdout. A hang, a crash or a
    non-zero exit fails the test with what the child printed."""
    env = dict(os.environ, ROM=rom, HOME=str(home), PYTHONFAULTHANDLER="1")
    try:
        done = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(code)],
                              env=env, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired as e:
        pytest.fail(f"the child hung:\n{e.stdout}\n{e.stderr}")
    assert done.returncode == 0, f"exit {done.returncode}:\n{done.stdout}\n{done.stderr}"
    return done.stdout


@pytest.fixture
def rom(make_rom):
    return make_rom("loop.nes", ines(LOOP))


@pytest.fixture
def battery_rom(make_rom):
    # INC $6000 for ever, on a battery-backed board.
    return make_rom("bat.nes", ines(bytes([0xEE, 0x00, 0x60]) + jmp(0x8000), flags6=0x02))


def test_pausing_from_the_callable_takes_effect_when_it_returns(rom, home):
    out = run_child("""
        nes = vandrel.NES(ROM, 0)
        calls = []
        def once():
            calls.append(1)
            if len(calls) == 2:
                nes.setPaused(True)
        nes.perFrame(once)
        nes.start()
        while len(calls) < 2:
            time.sleep(0.001)
        time.sleep(0.05)
        held = nes.cycleCount()
        time.sleep(0.1)
        assert nes.cycleCount() == held, "still stepping"
        assert len(calls) == 2
        nes.setPaused(False)
        while len(calls) < 4:
            time.sleep(0.001)
        nes.stop()
        print("ok")
    """, rom, home)
    assert out.splitlines()[-1] == "ok"


def test_the_callable_saves_loads_and_is_refused_stepping_its_own_console(rom, home):
    out = run_child("""
        nes = vandrel.NES(ROM, 0)
        seen = {}
        def act():
            if seen:
                return
            for name, call in [("runFrame", nes.runFrame), ("start", nes.start)]:
                try:
                    call()
                    seen[name] = "ran"
                except RuntimeError as e:
                    seen[name] = str(e)
            nes.saveState(3)
            seen["loaded"] = nes.loadState(3)
        nes.perFrame(act)
        nes.start()
        while "loaded" not in seen:
            time.sleep(0.001)
        nes.stop()
        for name in ("runFrame", "start"):
            assert "per-frame callable" in seen[name], seen
        assert seen["loaded"] is True
        print("ok")
    """, rom, home)
    assert out.splitlines()[-1] == "ok"


@pytest.mark.parametrize("thread", ["run thread", "runFrame"])
def test_stop_from_the_callable_ends_the_thread_and_writes_battery_ram(thread, battery_rom,
                                                                       home, tamberlo):
    out = run_child(f"""
        nes = vandrel.NES(ROM, 0)
        def stop_once():
            nes.perFrame(lambda: None)
            nes.stop()
        nes.perFrame(stop_once)
        if {thread!r} == "run thread":
            nes.start()
            time.sleep(0.3)
        else:
            nes.setPaused(True)
            nes.start()
            nes.runFrame()
        try:
            nes.stop()
            print("second stop returned")
        except RuntimeError as e:
            print("second stop:", e)
        nes.start()
        nes.stop()
        print("ok")
    """, battery_rom, home)
    assert "second stop: stop: the console has no run thread\n" in out
    assert out.splitlines()[-1] == "ok"
    assert (tamberlo / "bat" / "ram").stat().st_size == 0x2000


@pytest.mark.parametrize("how", ["self-replacing callable", "view dropped in the callable",
                                 "stop then drop"])
def test_dropping_the_last_reference_on_the_run_thread(how, battery_rom, home, tamberlo):
    out = run_child(f"""
        how = {how!r}
        def build():
            nes = vandrel.NES(ROM, 0)
            done = threading.Event()
            if how == "self-replacing callable":
                def once():
                    nes.perFrame(lambda: None)
                    done.set()
                nes.perFrame(once)
            elif how == "view dropped in the callable":
                kept = {{"ram": nes.cpuMem()}}
                def drop():
                    if kept:
                        kept.clear()
                        done.set()
                nes.perFrame(drop)
            else:
                def stop_and_drop():
                    nes.stop()
                    nes.perFrame(lambda: None)
                    done.set()
                nes.perFrame(stop_and_drop)
            nes.start()
            return done
        done = build()
        gc.collect()
        assert done.wait(10), "the callable never ran"
        time.sleep(0.2)
        print("ok")
    """, battery_rom, home)
    assert out.splitlines()[-1] == "ok"
    ram = tamberlo / "bat" / "ram"
    assert ram.exists() == (how == "stop then drop")


def test_many_threads_stopping_one_console_all_return(rom, home):
    out = run_child("""
        nes = vandrel.NES(ROM)
        for _ in range(20):
            nes.start()
            outcomes = []
            def stop():
                try:
                    nes.stop()
                    outcomes.append("stopped")
                except RuntimeError:
                    outcomes.append("refused")
            threads = [threading.Thread(target=stop) for _ in range(4)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            assert sorted(outcomes) == ["refused"] * 3 + ["stopped"], outcomes
        print("ok")
    """, rom, home)
    assert out.splitlines()[-1] == "ok"


def test_run_frame_racing_a_resume_never_steps_beside_the_run_thread(rom):
    """Inside the callable a thread notes who steps; two steppers at once would show as
    a callable entered while another stepping thread is inside it."""
    nes = vandrel.NES(rom, 0)
    inside = []
    overlaps = []

    def note():
        inside.append(threading.get_ident())
        if len(inside) > 1:
            overlaps.append(list(inside))
        time.sleep(0.0001)
        inside.pop()

    nes.perFrame(note)
    nes.setPaused(True)
    nes.start()
    stop_at = time.monotonic() + 1.0
    steps = []

    def step():
        while time.monotonic() < stop_at:
            try:
                nes.runFrame()
                steps.append(1)
            except RuntimeError:
                pass

    stepper = threading.Thread(target=step)
    stepper.start()
    while time.monotonic() < stop_at:
        nes.setPaused(False)
        nes.setPaused(True)
    stepper.join()
    nes.stop()
    assert not overlaps
    assert steps


@pytest.mark.parametrize("call", [
    lambda rom: vandrel.NES(rom + "\0.nes"),
    lambda rom: vandrel.NES(rom.encode() + b"\0"),
    lambda rom: vandrel.NES().setSaveDir(os.path.dirname(rom) + "\0/x"),
    lambda rom: vandrel.NES(Reader("game\0.nes", ines(LOOP))),
])
def test_paths_with_a_nul_character_are_refused(call, rom):
    with pytest.raises(ValueError, match="NUL"):
        call(rom)


@pytest.mark.parametrize("linger", [0, 0.001, 0.01])
def test_exit_while_callables_let_go_of_their_consoles(linger, rom, home):
    """The interpreter ends while run threads may be handing their consoles over: the
    exit waits for them and nothing is used after it is freed."""
    out = run_child(f"""
        def build():
            nes = vandrel.NES(ROM, 0)
            def once():
                nes.perFrame(lambda: None)
            nes.perFrame(once)
            nes.start()
        for _ in range(8):
            build()
        time.sleep({linger})
        print("ok")
    """, rom, home)
    assert out.splitlines()[-1] == "ok"


def test_replugging_controllers_while_the_console_strobes_them(make_rom):
    """Each setController lets go of the controller it replaces; a strobe on the
    stepping thread must never latch one that is gone (ASan catches a slip)."""
    nes = vandrel.NES(make_rom("pads.nes", ines(PAD_READER)), 0)
    nes.start()
    stop_at = time.monotonic() + 1.0
    plugged = 0
    while time.monotonic() < stop_at:
        pad = vandrel.Controller()
        pad.setButtons(plugged & 0xFF)
        nes.setController(pad, plugged & 1)
        plugged += 1
    nes.stop()
    assert plugged > 100
