"""Python-side controllers plugged into the two ports and read by a 6502
program through $4016/$4017."""
import gc
import weakref

import numpy as np
import pytest
import vandrel

from conftest import PAD_READER, ines, pad_bits

RELEASED = [False] * 8
PATTERN = [True, False, False, True, False, False, False, True]  # A, Start, Right


@pytest.fixture
def nes(make_rom):
    return vandrel.NES(make_rom("pads.nes", ines(PAD_READER)))


def reads(nes):
    """Run a full frame of scans, then return the nine reads of each port."""
    nes.runFrame()
    mem = nes.cpuMem()
    return list(mem[0x300:0x309]), list(mem[0x310:0x319])


def plugged(nes, buttons, port=0):
    c = vandrel.Controller()
    c.updateInputs(list(buttons))
    nes.setController(c, port)
    return c


def test_builtin_pads_read_released(nes):
    assert reads(nes) == (pad_bits(RELEASED), pad_bits(RELEASED))


def test_ports_are_independent(nes):
    nes.setController(vandrel.Controller(), 0)   # a new controller is released
    assert reads(nes)[0] == pad_bits(RELEASED)
    one = plugged(nes, PATTERN, 0)
    two = plugged(nes, [False, True] * 4, 1)
    assert reads(nes) == (pad_bits(PATTERN), pad_bits([False, True] * 4))
    two.updateInputs([True] * 8)
    assert reads(nes) == (pad_bits(PATTERN), pad_bits([True] * 8))
    one.updateInputs(RELEASED)
    assert reads(nes)[0] == pad_bits(RELEASED)


@pytest.mark.parametrize("inputs, pressed", [
    ([True] * 8, [True] * 8),
    ([1, 0, 0, 0, 0, 0, 0, 0, "ninth is never looked at"], [True] + [False] * 7),
    ([None, 0.0, 2, -1, np.bool_(True), np.bool_(False), 0, 1.5],
     [False, False, True, True, True, False, False, True]),
])
def test_update_inputs_truth_values(inputs, pressed, nes):
    plugged(nes, inputs)
    assert reads(nes)[0] == pad_bits(pressed)


@pytest.mark.parametrize("inputs, error", [
    ([True] * 7, IndexError),
    ([], IndexError),
    (tuple([True] * 8), TypeError),
    ([True] * 7 + ["x"], TypeError),
    (["x"] + [True] * 7, TypeError),
    ([True] * 7 + [[1]], TypeError),
])
def test_bad_update_leaves_buttons_alone(inputs, error, nes):
    c = plugged(nes, PATTERN)
    with pytest.raises(error):
        c.updateInputs(inputs)
    assert reads(nes)[0] == pad_bits(PATTERN)


@pytest.mark.parametrize("port", [2, 3, 255, 256, 257, 512, -1, 1000, 2**64])
def test_set_controller_rejects_ports_without_a_socket(port, nes):
    c = vandrel.Controller()
    c.updateInputs([True] * 8)
    with pytest.raises(ValueError):
        nes.setController(c, port)
    assert reads(nes) == (pad_bits(RELEASED), pad_bits(RELEASED))



def test_plugged_controller_outlives_its_python_name(make_rom):
    nes = vandrel.NES(make_rom("pads.nes", ines(PAD_READER)))
    pad = weakref.ref(plugged(nes, PATTERN, 0))   # only the console holds it now
    gc.collect()
    for _ in range(3):
        assert reads(nes)[0] == pad_bits(PATTERN)
    assert pad() is not None
    del nes
    gc.collect()
    assert pad() is None       # released together with the console


def test_controller_outlives_its_console(make_rom):
    nes = vandrel.NES(make_rom("pads.nes", ines(PAD_READER)))
    c = plugged(nes, PATTERN)
    del nes
    gc.collect()
    c.updateInputs([True] * 8)
    other = vandrel.NES(make_rom("pads.nes", ines(PAD_READER)))
    other.setController(c, 1)
    assert reads(other)[1] == pad_bits([True] * 8)
