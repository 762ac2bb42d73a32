"""The thread stress (stress_consoles.py) as part of the suite: a few seconds of random
life-cycle calls on a few consoles from several threads, in a child process so that a
deadlock or a crash fails this test with the child's stack dump."""
import importlib.resources
import os
import pathlib
import subprocess
import sys

from conftest import ines, jmp

HERE = pathlib.Path(__file__).parent
SECONDS = float(os.environ.get("VANDREL_STRESS_SECONDS", "6"))


def test_random_life_cycles_end_without_deadlock_or_crash(make_rom, home):
    from vandrel_tools import demo
    # A battery board that keeps changing its RAM, and the demo, which draws and plays.
    battery = make_rom("bat.nes", ines(bytes([0xEE, 0x00, 0x60]) + jmp(0x8000), flags6=0x02))
    with importlib.resources.as_file(demo.resource()) as cart:
        done = subprocess.run(
            [sys.executable, str(HERE / "stress_consoles.py"), battery, str(cart),
             "--seconds", str(SECONDS)],
            env=dict(os.environ, HOME=str(home)), capture_output=True, text=True,
            timeout=SECONDS * 4 + 120)
    summary = [line for line in done.stdout.splitlines() if line.startswith("stress:")]
    assert done.returncode == 0, f"exit {done.returncode}\n{done.stdout[-3000:]}\n" \
                                 f"{done.stderr[-6000:]}"
    assert summary, done.stdout[-2000:]
    print(summary[0])
