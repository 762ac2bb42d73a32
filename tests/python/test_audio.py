"""The sample stream seen from Python: getAudio blocks, stream order, the sample
format with the pitch and duty of a pulse tone, and the block rate."""
import pickle
import struct

import pytest
import vandrel

from conftest import ines, jmp

BLOCK = 1024
APU_CLOCK = 1789773 // 2


def program(writes):
    """LDA #value / STA addr for each register write, then JMP to itself."""
    code = b"".join(bytes([0xA9, value, 0x8D]) + addr.to_bytes(2, "little")
                    for addr, value in writes)
    return code + jmp(0x8000 + len(code))


def console(make_rom, writes, **kwargs):
    return vandrel.NES(make_rom("tune.nes", ines(program(writes))), **kwargs)


def samples(block):
    return struct.unpack(f"<{BLOCK}h", block)


def next_blocks(nes, count, split_channels=False):
    """The next `count` blocks, polled after every frame (at most one block is
    published per frame, so none is missed)."""
    blocks = []
    while len(blocks) < count:
        nes.runFrame()
        got = nes.getAudio(split_channels)
        if got != [b""]:
            blocks.append(got)
    return blocks


PULSE1 = [(0x4015, 0x01), (0x4000, 0xBF), (0x4002, 0xFD), (0x4003, 0x08)]
PULSE2 = [(0x4015, 0x02), (0x4004, 0xBF), (0x4006, 0xFD), (0x4007, 0x08)]
TRIANGLE = [(0x4015, 0x04), (0x4008, 0xFF), (0x400A, 0xFD), (0x400B, 0x08)]
NOISE = [(0x4015, 0x08), (0x400C, 0x3F), (0x400E, 0x03), (0x400F, 0x08)]
# A looping one-byte sample of zeros at $FFC0 holds the level at 0.
DMC = [(0x4010, 0x4F), (0x4012, 0xFF), (0x4013, 0x00), (0x4015, 0x10)]


def test_first_block_is_silence_and_is_handed_out_once(make_rom):
    nes = console(make_rom, PULSE1)
    assert nes.getAudio() == [b""]
    assert nes.getAudio(split_channels=True) == [b""]
    nes.runFrame()
    assert nes.getAudio() == [bytes(2 * BLOCK)]
    assert nes.getAudio() == [b""]


@pytest.mark.parametrize("args, count", [((), 1), ((False,), 1), ((True,), 6)])
def test_block_count_and_size(args, count, make_rom):
    nes = console(make_rom, PULSE1)
    next_blocks(nes, 1)  # the zero block
    nes.runFrame()
    nes.runFrame()
    got = nes.getAudio(*args)
    assert [len(b) for b in got] == [2 * BLOCK] * count
    assert all(type(b) is bytes for b in got)


@pytest.mark.parametrize("writes, stream", [
    (PULSE1, 1), (PULSE2, 2), (TRIANGLE, 3), (NOISE, 4), (DMC, 5)])
def test_each_channel_has_its_own_stream(writes, stream, make_rom):
    nes = console(make_rom, writes)
    block = next_blocks(nes, 3, split_channels=True)[-1]
    heard = [any(samples(b)) for b in block]
    assert heard == [True] + [s == stream for s in range(1, 6)]


@pytest.mark.parametrize("duty, high_fraction", [(0, 1 / 8), (1, 2 / 8), (2, 4 / 8),
                                                 (3, 6 / 8)])
def test_pulse_tone_has_the_registers_pitch_and_duty(duty, high_fraction, make_rom):
    # Period $0FD: 16 x 254 CPU cycles per cycle of the tone, 440.4 Hz.
    writes = [(0x4015, 0x01), (0x4000, 0x3F | duty << 6), (0x4002, 0xFD),
              (0x4003, 0x08)]
    nes = console(make_rom, writes)
    next_blocks(nes, 1)
    tone = [s for block in next_blocks(nes, 8, split_channels=True)
            for s in samples(block[1])]
    assert set(tone) == {3696, -3696}
    rises = sum(1 for a, b in zip(tone, tone[1:]) if a < 0 < b)
    assert rises / (len(tone) / 44100) == pytest.approx(1789773 / (16 * 254), rel=0.02)
    assert sum(s > 0 for s in tone) / len(tone) == pytest.approx(high_fraction, abs=0.015)


def test_blocks_follow_44100_samples_per_emulated_second(make_rom):
    nes = console(make_rom, PULSE1)
    blocks = 0
    while nes.cycleCount() < 1789773:
        nes.runFrame()
        blocks += nes.getAudio() != [b""]
    steps = -(-nes.cycleCount() // 2)
    taken = (steps - 1) * 44100 // APU_CLOCK
    assert taken == pytest.approx(44100 * nes.cycleCount() / 1789773, abs=1)
    assert blocks == (taken - 1) // BLOCK + 1


def test_a_1_hz_clock_runs_without_samples(make_rom):
    nes = console(make_rom, PULSE1, CLOCK_SPEED=1)
    nes.runFrame()
    assert nes.getAudio(True) == [b""]


def sunsoft_5b_tone(make_rom, accuracy):
    """Mapper 69 (FME-7 with the 5B's sound), its program in the fixed bank at $E000:
    the DMC's level to 64, the middle of its range (hardware mode mixes the level even
    with the DMC disabled, and level 64 adds nothing), then channel A at period $100 and
    volume 15 alone."""
    writes = [(0, 0x00), (1, 0x01), (7, 0x3E), (8, 15)]
    code = bytes([0xA9, 0x40, 0x8D, 0x11, 0x40]) + b"".join(bytes([0xA9, reg, 0x8D, 0x00, 0xC0, 0xA9, value, 0x8D, 0x00, 0xE0])
                    for reg, value in writes)
    code += jmp(0xE000 + len(code))
    image = ines(code, prg_banks=2, chr_banks=1, flags6=0x50, flags7=0x40,
                 code_at=0x6000, reset=0xE000)
    return vandrel.NES(make_rom("5b.nes", image), accuracy=accuracy)


@pytest.mark.parametrize("accuracy", ["fast", "hardware"])
def test_cartridge_sound_has_its_own_stream_and_joins_the_mix(accuracy, make_rom):
    nes = sunsoft_5b_tone(make_rom, accuracy)
    next_blocks(nes, 1)
    blocks = next_blocks(nes, 2, split_channels=True)[-1]
    assert len(blocks) == 7
    board = samples(blocks[6])
    assert set(abs(s) for s in board) == {7392}
    assert samples(blocks[0]) == board
    assert not any(any(samples(b)) for b in blocks[1:6])
    twin = pickle.loads(pickle.dumps(nes))
    assert next_blocks(twin, 3, True) == next_blocks(nes, 3, True)
