"""The native batch stepper (vandrel_gym._batch.Batch) against single consoles driven by
hand with the same buttons: observations, RAM, frame counts, resets and seeding."""
import gc
import pathlib
import threading

import numpy as np
import pytest
import vandrel
from vandrel_gym._batch import Batch


def luma(picture):
    rgb = picture.astype(np.int64)
    return ((299 * rgb[..., 0] + 587 * rgb[..., 1] + 114 * rgb[..., 2] + 500) // 1000)


def shrink(gray):
    """Area averaging, done the long way: every pixel repeated up to the common multiple
    of both sizes (1680 = 7 x 240 = 20 x 84, 5376 = 21 x 256 = 64 x 84), then block means."""
    big = np.repeat(np.repeat(gray, 7, axis=0), 21, axis=1)
    return big.reshape(84, 20, 84, 64).mean(axis=(1, 3))


class Hand:
    """One console stepped by hand the way the batch steps each of its consoles."""

    def __init__(self, rom, start_frames=0, accuracy="fast"):
        self.nes = vandrel.NES(rom, accuracy=accuracy)
        self.pads = [vandrel.Controller(), vandrel.Controller()]
        self.nes.setController(self.pads[0], 0)
        self.nes.setController(self.pads[1], 1)
        self.nes.runFrames(start_frames)

    def step(self, masks, skip):
        for pad, mask in zip(self.pads, masks):
            pad.setButtons(int(mask))
        pictures = []
        for _ in range(skip):
            self.nes.runFrame()
            pictures.append(self.nes.getImg().copy())
        return pictures

    def observe(self, pictures, observation):
        if observation == "ram":
            return self.nes.cpuMem()[:2048].copy()
        if observation == "rgb":
            return np.maximum(*pictures[-2:]) if len(pictures) > 1 else pictures[-1]
        pooled = np.maximum(*pictures[-2:]) if len(pictures) > 1 else pictures[-1]
        return shrink(luma(pooled))


@pytest.mark.parametrize("observation, ports, skip, threads, accuracy", [
    ("rgb", 1, 4, 2, "fast"),
    ("gray84", 2, 3, 2, "fast"),
    ("ram", 1, 1, 1, "fast"),
    ("ram", 1, 5, 2, "fast"),
    ("rgb", 2, 1, 3, "fast"),
    ("rgb", 2, 4, 2, "hardware"),
    ("gray84", 1, 3, 2, "hardware"),
])
def test_observations_equal_single_consoles_given_the_same_buttons(demo, observation, ports,
                                                                   skip, threads, accuracy):
    count = 3
    batch = Batch(demo, count, threads=threads, frame_skip=skip, observation=observation,
                  start_frames=5, seed=0, accuracy=accuracy)
    hands = [Hand(demo, start_frames=5, accuracy=accuracy) for _ in range(count)]
    rng = np.random.default_rng(7)
    for step in range(12):
        actions = rng.integers(0, 256, size=(count, ports) if ports == 2 else count,
                               dtype=np.uint8)
        batch.step(actions)
        for i, hand in enumerate(hands):
            masks = actions[i] if ports == 2 else [actions[i], 0]
            expected = hand.observe(hand.step(masks, skip), observation)
            got = batch.observations[i]
            if observation == "gray84":
                assert np.abs(got.astype(float) - expected).max() <= 0.5 + 1e-3
            else:
                assert np.array_equal(got, expected)
            assert np.array_equal(batch.ram[i], hand.nes.cpuMem()[:2048])
            # Frames the batch never looks at are not drawn; the last one always is.
            assert np.array_equal(batch.picture(i), hand.nes.getImg())
        assert (batch.frames == (step + 1) * skip).all()


def test_a_reset_returns_to_the_start_state_and_a_reset_flag_replaces_the_step(demo):
    batch = Batch(demo, 2, frame_skip=2, start_frames=3, observation="ram")
    start = batch.observations.copy()
    for _ in range(10):
        batch.step(np.array([0x08, 0x81], np.uint8))
    assert not np.array_equal(batch.observations, start)
    batch.step(np.array([0x08, 0x81], np.uint8), reset=np.array([False, True]))
    assert np.array_equal(batch.observations[1], start[1])
    assert list(batch.frames) == [22, 0]
    batch.reset([0, 0])
    assert np.array_equal(batch.observations, start)
    assert list(batch.frames) == [0, 0]


def run_episode(batch, steps=15):
    batch.reset()
    seen = [batch.observations.copy()]
    for step in range(steps):
        batch.step(np.full(batch.count, (step * 29) & 0xFF, np.uint8))
        seen.append(batch.observations.copy())
    return np.stack(seen)


def test_seeds_make_no_ops_and_sticky_actions_reproducible(demo):
    options = dict(observation="ram", noop_max=20, repeat_action_probability=0.3)
    a = Batch(demo, 3, seed=11, **options)
    b = Batch(demo, 3, seed=11, **options)
    assert np.array_equal(run_episode(a), run_episode(b))
    b.seed(99)
    assert not np.array_equal(run_episode(a), run_episode(b))
    a.seed([5, 6, 7])
    b.seed(5)
    assert np.array_equal(run_episode(a), run_episode(b))
    b.seed([1], indices=[2])
    assert not np.array_equal(run_episode(a)[:, 2], run_episode(b)[:, 2])


def test_always_sticky_actions_keep_the_buttons_released_at_the_reset(demo):
    sticky = Batch(demo, 1, observation="ram", repeat_action_probability=1.0, seed=0)
    idle = Batch(demo, 1, observation="ram", seed=0)
    for _ in range(8):
        sticky.step(np.array([0xFF], np.uint8))
        idle.step(np.array([0], np.uint8))
    assert np.array_equal(sticky.observations, idle.observations)


def test_the_arrays_are_the_same_objects_and_outlive_the_batch(demo):
    batch = Batch(demo, 2, observation="gray84")
    observations, ram, frames = batch.observations, batch.ram, batch.frames
    assert observations is batch.observations and ram is batch.ram
    assert observations.shape == (2, 84, 84) and ram.shape == (2, 2048)
    batch.step(np.zeros(2, np.uint8))
    assert frames[0] == 4
    del batch
    gc.collect()
    assert observations.sum() > 0 and ram.shape == (2, 2048)


def test_a_console_sharing_the_batch_cartridge_outlives_the_batch(demo):
    batch = Batch(demo, 2, observation="ram")
    nes = vandrel.NES(demo)  # the same image: one shared copy of its ROM
    batch.step(np.zeros(2, np.uint8))
    snapshot = batch.snapshot(0, picture=False)
    del batch
    gc.collect()
    nes.setSnapshot(snapshot)
    start = nes.frameCount()
    nes.runFrames(3)
    assert nes.frameCount() == start + 3 and nes.cpuMem()[0x8000:].any()


@pytest.mark.parametrize("call, error, message", [
    (lambda b: b.step(np.zeros(3, np.uint8)), ValueError, r"shape \(2,\) or \(2, 2\)"),
    (lambda b: b.step(np.zeros((2, 3), np.uint8)), ValueError, "shape"),
    (lambda b: b.step(np.array([0, 256])), ValueError, "0-255, got 256"),
    (lambda b: b.step(np.array([-1, 0])), ValueError, "got -1"),
    (lambda b: b.step(np.array([0.5, 1.0])), TypeError, "integers"),
    (lambda b: b.step(np.zeros(2, np.uint8), reset=[True]), ValueError, "2 flags"),
    (lambda b: b.reset([2]), IndexError, "out of range"),
    (lambda b: b.reset([-1]), IndexError, "out of range"),
    (lambda b: b.seed([1, 2, 3]), ValueError, "2 seeds needed, got 3"),
    (lambda b: b.picture(5), IndexError, "out of range"),
    (lambda b: b.snapshot(2), IndexError, "out of range"),
    (lambda b: b.restore(0, b"not a snapshot"), ValueError, "not a console snapshot"),
    (lambda b: b.restore(0, b.snapshot(1)[:-1]), ValueError, "unchanged"),
    (lambda b: b.clone(0, [1, 2]), IndexError, "out of range"),
])
def test_bad_calls_are_refused(demo, call, error, message):
    batch = Batch(demo, 2, observation="ram")
    before = batch.observations.copy()
    with pytest.raises(error, match=message):
        call(batch)
    assert np.array_equal(before, batch.observations)


@pytest.mark.parametrize("accuracy", ["fast", "hardware"])
def test_snapshots_and_clones_continue_as_the_original(demo, accuracy):
    batch = Batch(demo, 4, observation="ram", frame_skip=2, accuracy=accuracy, threads=2)
    press = np.array([0x80, 0x01, 0x40, 0x08], np.uint8)
    for _ in range(5):
        batch.step(press)
    saved = batch.snapshot(0)
    single = vandrel.NES(demo, accuracy=accuracy)
    single.setSnapshot(saved)  # a console's own snapshot format
    batch.clone(0, [1, 2, 0])
    assert np.array_equal(batch.ram[1], batch.ram[0]) and batch.frames[2] == batch.frames[0]
    batch.step(np.full(4, 0x81, np.uint8))
    branch = batch.ram[0].copy()
    assert all(np.array_equal(batch.ram[i], branch) for i in (1, 2))
    batch.restore(3, saved)
    batch.restore(0, saved)
    batch.step(np.full(4, 0x81, np.uint8))
    assert np.array_equal(batch.ram[0], branch) and np.array_equal(batch.ram[3], branch)


@pytest.mark.parametrize("options, message", [
    (dict(count=0), "count must be"),
    (dict(frame_skip=0), "frame_skip must be"),
    (dict(observation="grey"), "observation must be"),
    (dict(repeat_action_probability=1.5), "repeat_action_probability"),
    (dict(noop_max=-1), "noop_max"),
    (dict(threads=-2), "threads"),
])
def test_bad_options_are_refused(demo, options, message):
    arguments = dict(count=2) | options
    with pytest.raises(ValueError, match=message):
        Batch(demo, **arguments)


def test_a_missing_cartridge_raises_oserror(tmp_path):
    with pytest.raises(FileNotFoundError):
        Batch(tmp_path / "missing.nes", 1)


@pytest.mark.parametrize("wrap", [bytes, bytearray, memoryview])
def test_a_cartridge_image_in_memory_steps_as_its_file(demo, wrap):
    options = dict(observation="ram", noop_max=5, repeat_action_probability=0.5, seed=4)
    from_file = Batch(demo, 2, **options)
    from_memory = Batch.from_image(wrap(pathlib.Path(demo).read_bytes()), 2, name="demo.nes",
                                   **options)
    for batch in (from_file, from_memory):
        batch.reset()
        batch.step(np.array([0x80, 0x01], np.uint8))
    np.testing.assert_array_equal(from_memory.ram, from_file.ram)
    np.testing.assert_array_equal(from_memory.frames, from_file.frames)


@pytest.mark.parametrize("image, name, error, message", [
    ("demo.nes", "x.nes", TypeError, "image must be bytes-like"),
    (12, "x.nes", TypeError, "bytes-like"),
    (b"NES", "x.nes", ValueError, "x.nes: the image is too short"),
    (b"NOT AN INES IMAGE", "y.nes", ValueError, 'y.nes: not an iNES image'),
    (b"", "a\0b.nes", ValueError, "name contains a NUL"),
])
def test_a_bad_image_in_memory_is_refused(image, name, error, message):
    with pytest.raises(error, match=message):
        Batch.from_image(image, 1, name=name)


def test_a_second_thread_is_refused_while_a_step_runs(demo):
    batch = Batch(demo, 2, frame_skip=60, observation="ram", threads=1)
    failures = []

    def step():
        try:
            batch.step(np.zeros(2, np.uint8))
        except RuntimeError as error:
            failures.append(str(error))

    threads = [threading.Thread(target=step) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all("another thread" in f for f in failures)
    assert (batch.frames % 60 == 0).all() and batch.frames.sum() == 120 * (4 - len(failures))
