"""Misuse of the Python surface: objects made by __new__ alone or built twice, cartridge
files that are not cartridges, out-of-range options and arguments of the wrong type.
Each gets a clear Python exception and leaves the process and the objects intact."""
import faulthandler
import math
import os
import pickle
import threading

import numpy as np
import pytest
import vandrel
from vandrel_gym._batch import MAX_IMAGE_SIZE, Batch

from conftest import Reader, ines


def new(cls):
    return cls.__new__(cls)


@pytest.mark.parametrize("call", [
    lambda: new(vandrel.NES).frameCount(),
    lambda: new(vandrel.NES).cpuMem(),
    lambda: new(vandrel.NES).__getstate__(),
    lambda: new(vandrel.Controller).getButtons(),
    lambda: vandrel.NES().setController(new(vandrel.Controller), 0),
    lambda: new(Batch).count,
    lambda: new(Batch).observations,
    lambda: new(Batch).step(np.zeros(1, np.uint8)),
], ids=["NES.frameCount", "NES.cpuMem", "NES.__getstate__", "Controller.getButtons",
        "setController", "Batch.count", "Batch.observations", "Batch.step"])
def test_an_object_made_by_new_alone_is_refused(call):
    with pytest.raises(TypeError, match="__new__ alone"):
        call()


@pytest.mark.parametrize("build, again", [
    (lambda demo: vandrel.NES(demo), lambda nes, demo: nes.__init__()),
    (lambda demo: vandrel.NES(demo), lambda nes, demo: nes.__setstate__(nes.__getstate__())),
    (lambda demo: Batch(demo, 1, observation="ram"), lambda b, demo: b.__init__(demo, 2)),
], ids=["NES.__init__", "NES.__setstate__", "Batch.__init__"])
def test_building_a_live_object_again_is_refused(build, again, demo):
    live = build(demo)
    before = pickle.dumps(live) if isinstance(live, vandrel.NES) else live.count
    with pytest.raises(RuntimeError, match="built already"):
        again(live, demo)
    assert before == (pickle.dumps(live) if isinstance(live, vandrel.NES) else live.count)
    copy = pickle.loads(pickle.dumps(vandrel.NES(demo)))     # __setstate__ still builds
    assert copy.frameCount() == 0


def sparse_image(path):
    """A valid header followed by zeros: one byte more than any iNES image."""
    with open(path, "wb") as file:
        file.write(ines())
        file.truncate(MAX_IMAGE_SIZE + 1)
    return str(path)


def fifo(path):
    os.mkfifo(path)
    return str(path)


def cartridge_read(path):
    from vandrel_gym import Cartridge
    return Cartridge.read(path)


@pytest.mark.parametrize("source, message", [
    (lambda tmp: "/dev/zero", "not a regular file"),
    (lambda tmp: fifo(tmp / "pipe.nes"), "not a regular file"),
    (lambda tmp: sparse_image(tmp / "big.nes"), f"{MAX_IMAGE_SIZE + 1} bytes, more than"),
], ids=["device", "fifo", "too-large"])
@pytest.mark.parametrize("load", [vandrel.NES, lambda p: Batch(p, 1), cartridge_read],
                         ids=["NES", "Batch", "Cartridge.read"])
def test_a_file_that_is_no_cartridge_is_refused_unread(source, message, load, tmp_path):
    faulthandler.dump_traceback_later(60, exit=True)   # a FIFO must not block for ever
    try:
        with pytest.raises(ValueError, match=message):
            load(source(tmp_path))
    finally:
        faulthandler.cancel_dump_traceback_later()


def endless_file():
    with open("/dev/zero", "rb") as zeros:                    # read(size) is bounded
        return vandrel.NES(zeros)


@pytest.mark.parametrize("load", [
    endless_file,
    lambda: vandrel.NES(Reader("zeros.nes", bytes(MAX_IMAGE_SIZE + 1))),
    lambda: Batch.from_image(bytes(MAX_IMAGE_SIZE + 1), 1),
], ids=["endless-file", "bare-read", "from_image"])
def test_an_image_larger_than_any_cartridge_is_refused(load):
    with pytest.raises(ValueError, match=f"more than the largest iNES image \\({MAX_IMAGE_SIZE}"):
        load()


@pytest.mark.parametrize("noop_max", [100_001, 2**31 - 1, 2**70])
def test_noop_max_is_bounded(noop_max, demo):
    if noop_max < 2**31:
        with pytest.raises(ValueError, match="noop_max must be 0-100000"):
            Batch(demo, 1, observation="ram", noop_max=noop_max)
    gym_env = pytest.importorskip("vandrel_gym.env")
    with pytest.raises(ValueError, match="noop_max must be 0-100000"):
        gym_env.NESEnv(demo, obs_type="ram", noop_max=noop_max)


def test_last_call_seconds_may_be_read_while_a_step_runs(demo):
    """Race-free (the ThreadSanitizer build of the module checks it)."""
    batch = Batch(demo, 2, observation="ram", threads=2)
    stepper = threading.Thread(target=lambda: [batch.step(np.zeros(2, np.uint8))
                                               for _ in range(30)])
    stepper.start()
    seen = [batch.last_call_seconds for _ in range(2000)]
    stepper.join()
    assert all(math.isfinite(s) and s >= 0 for s in seen)


class FailingBool:
    def __bool__(self):
        raise KeyError("from __bool__")


def state_with(field, value):
    state = list(vandrel.NES().__getstate__())
    state[field] = value
    return tuple(state)


@pytest.mark.parametrize("call, error, message", [
    (lambda demo: vandrel.NES(3.5), TypeError, "must be a path .* or a file object"),
    (lambda demo: vandrel.NES(Reader("x.nes", 12345)), TypeError, "read\\(\\) must return bytes"),
    (lambda demo: vandrel.Controller().updateInputs([True] * 7 + [FailingBool()]), KeyError,
     "from __bool__"),
    (lambda demo: new(vandrel.NES).__setstate__(state_with(3, "fast")), TypeError,
     "clock speed"),
    (lambda demo: new(vandrel.NES).__setstate__(state_with(7, (None, 5))), TypeError,
     "controller"),
    (lambda demo: Batch(demo, 1).seed(-1), ValueError, "seed is 0 to 2\\*\\*64 - 1, got -1"),
    (lambda demo: Batch(demo, 1).seed([2**64]), ValueError, "seed is 0 to"),
    (lambda demo: Batch(demo, 1).reset([0.5]), TypeError, "integer"),
], ids=["NES(float)", "read-gives-int", "__bool__-raises", "pickle-speed", "pickle-controller",
        "seed(-1)", "seed(2**64)", "reset([0.5])"])
def test_bad_arguments_get_clear_errors(call, error, message, demo):
    with pytest.raises(error, match=message):
        call(demo)


def test_per_frame_none_is_taken_and_the_next_frame_says_why():
    nes = vandrel.NES()
    nes.perFrame(None)
    with pytest.raises(RuntimeError, match=r"perFrame\(None\)"):
        nes.runFrame()
    nes.perFrame(lambda: None)
    nes.runFrame()


def test_a_cartridge_path_that_is_not_utf8_works(demo, tmp_path, tamberlo):
    path = os.fsencode(tmp_path) + b"/\xff.nes"
    with open(demo, "rb") as source, open(path, "wb") as copy:
        copy.write(source.read())
    for rom in (path, os.fsdecode(path)):
        nes = vandrel.NES(rom)
        assert nes.getSaveDir() == os.fsdecode(os.fsencode(tamberlo) + b"/\xff")
        assert pickle.loads(pickle.dumps(nes)).getSaveDir() == nes.getSaveDir()
    assert Batch(path, 1).count == 1
    with pytest.raises(FileNotFoundError) as missing:
        vandrel.NES(path + b".gone")
    assert missing.value.filename == os.fsdecode(path + b".gone")


@pytest.mark.parametrize("vector", [True, False])
def test_a_closed_env_lets_its_consoles_go(vector, demo):
    pytest.importorskip("gymnasium")
    from gymnasium.error import ClosedEnvironmentError
    from vandrel_gym import NESEnv, NESVectorEnv
    if vector:
        env, action = NESVectorEnv(demo, 2, obs_type="ram", render_mode="rgb_array"), np.zeros(2, np.int64)
    else:
        env, action = NESEnv(demo, obs_type="ram", render_mode="rgb_array"), 0
    env.reset(seed=0)
    env.close()
    env.close()
    assert env._batch is None
    for call in (lambda: env.step(action), env.reset, env.render):
        with pytest.raises(ClosedEnvironmentError, match="closed"):
            call()


@pytest.mark.parametrize("convert", [
    lambda demo: vandrel.NES(Reader("x.nes", 12345)),
    lambda demo: vandrel.NES(Reader(12345, ines())),
    lambda demo: vandrel.Controller().updateInputs([True] * 7 + ["x"]),
    lambda demo: vandrel.Controller().setButtons("x"),
    lambda demo: vandrel.NES().setSaveDir(5),
    lambda demo: new(vandrel.NES).__setstate__(state_with(3, "fast")),
    lambda demo: Batch(demo, 1).seed(["x"]),
], ids=["read-gives-int", "name-is-int", "button-is-str", "mask-is-str", "save-dir-is-int",
        "pickle-speed", "seed-is-str"])
@pytest.mark.parametrize("caught", [TypeError, RuntimeError])
def test_a_value_that_does_not_convert_is_caught_as_either_error(convert, caught, demo):
    with pytest.raises(caught) as raised:
        convert(demo)
    assert type(raised.value) is vandrel.ConversionError
