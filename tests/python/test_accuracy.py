"""The two accuracy modes from Python: everything that builds consoles (NES, Batch, the
Gymnasium environments) builds them in the mode asked for and refuses any other value;
the reset button; snapshots and state records across modes."""
import io
import pathlib

import pytest
import vandrel

from conftest import Reader, ines, jmp

MODES = ["fast", "hardware"]
I_FLAG = 0x04


def registers(nes):
    """P, A, X, Y, S and PC, read from the getState record."""
    record = nes.getState()
    return {"P": record[0], "A": record[1], "X": record[2], "Y": record[3], "S": record[4],
            "PC": int.from_bytes(record[5:13], "little", signed=True)}


def program(stack):
    """Silences the frame IRQ, sets S, A, X and Y, stores a mark in RAM, clears I and
    loops; the reset vector points at $8000."""
    return ines(bytes([
        0x78,                           # 8000 SEI
        0xA9, 0x40, 0x8D, 0x17, 0x40,   # LDA #$40 / STA $4017: no frame IRQ
        0xA2, stack, 0x9A,              # LDX #stack / TXS
        0xA9, 0x11, 0x8D, 0x00, 0x02,   # LDA #$11 / STA $0200
        0xA2, 0x22, 0xA0, 0x33,         # LDX #$22 / LDY #$33
        0x58,                           # CLI
    ]) + jmp(0x8013))                   # 8013 JMP $8013


def gym():
    gymnasium = pytest.importorskip("gymnasium")
    import vandrel_gym
    return gymnasium, vandrel_gym


def batch():
    from vandrel_gym._batch import Batch
    return Batch


# Everything that builds consoles, with its default mode.
BUILDERS = {
    "NES(path)": (lambda rom, **kw: vandrel.NES(rom, **kw), "fast"),
    "NES(path, speed)": (lambda rom, **kw: vandrel.NES(pathlib.Path(rom), 1789773, **kw), "fast"),
    "NES()": (lambda rom, **kw: vandrel.NES(**kw), "fast"),
    "NES(file)": (lambda rom, **kw: vandrel.NES(Reader(rom, pathlib.Path(rom).read_bytes()),
                                                **kw), "fast"),
    "Batch": (lambda rom, **kw: batch()(rom, 2, **kw), "fast"),
    "Batch.from_image": (lambda rom, **kw: batch().from_image(pathlib.Path(rom).read_bytes(), 1,
                                                              **kw), "fast"),
    "NESEnv": (lambda rom, **kw: gym()[1].NESEnv(rom, **kw), "hardware"),
    "NESVectorEnv": (lambda rom, **kw: gym()[1].NESVectorEnv(rom, 2, **kw), "hardware"),
    "make": (lambda rom, **kw: gym()[0].make("vandrel/NES-v0", rom=rom, **kw), "hardware"),
    "make_vec": (lambda rom, **kw: gym()[0].make_vec(
        "vandrel/NES-v0", num_envs=2, rom=rom, vectorization_mode="vector_entry_point", **kw),
        "hardware"),
}


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("asked", [None, "fast", "hardware"])
def test_every_builder_makes_consoles_in_the_mode_asked_for(kind, asked, demo):
    build, default = BUILDERS[kind]
    built = build(demo, **({} if asked is None else {"accuracy": asked}))
    mode = asked or default
    if hasattr(built, "metadata"):      # an environment, and its batch of consoles
        assert built.metadata["accuracy"] == built.unwrapped.accuracy == mode
        built = built.unwrapped._batch
    assert built.accuracy == mode


@pytest.mark.parametrize("kind", BUILDERS)
@pytest.mark.parametrize("bad", ["turbo", 1, None, "Fast"])
def test_every_builder_refuses_other_modes(kind, bad, demo):
    with pytest.raises(ValueError, match="accuracy must be 'fast' or 'hardware', got "):
        BUILDERS[kind][0](demo, accuracy=bad)


def test_the_mode_is_keyword_only_and_read_only(demo):
    for arguments in [(demo, 1789773, "hardware"), (1789773, "hardware"),
                      (io.BytesIO(b""), 1789773, "fast")]:
        with pytest.raises(TypeError):
            vandrel.NES(*arguments)
    with pytest.raises(AttributeError):
        vandrel.NES(demo).accuracy = "hardware"


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("stack", [0x80, 0x01])
def test_the_reset_button(mode, stack, make_rom):
    nes = vandrel.NES(make_rom("reset.nes", program(stack)), accuracy=mode)
    nes.runFrames(2)
    before = registers(nes)
    assert before["PC"] == 0x8013 and not before["P"] & I_FLAG
    assert (before["A"], before["X"], before["Y"], before["S"]) == (0x11, 0x22, 0x33, stack)
    ram = nes.cpuMem()[:0x800].copy()
    nes.reset()
    after = registers(nes)
    assert after["PC"] == 0x8000
    assert after["S"] == (stack - 3) % 256
    assert after["P"] & I_FLAG
    assert (after["A"], after["X"], after["Y"]) == (0x11, 0x22, 0x33)
    assert (nes.cpuMem()[:0x800] == ram).all() and ram[0x200] == 0x11
    nes.runFrames(2)          # and the program runs again from the top
    assert registers(nes)["PC"] == 0x8013


@pytest.mark.parametrize("mode", MODES)
def test_reset_from_the_per_frame_callable(mode, make_rom):
    nes = vandrel.NES(make_rom("reset.nes", program(0x80)), accuracy=mode)
    nes.runFrames(2)
    seen = []

    def press():
        if not seen:
            nes.reset()
            seen.append(registers(nes))

    nes.perFrame(press)
    nes.runFrames(2)
    nes.perFrame(lambda: None)
    assert seen[0]["PC"] == 0x8000 and seen[0]["S"] == 0x7D
    assert nes.frameCount() == 4


@pytest.mark.parametrize("mode", MODES)
def test_a_snapshot_of_the_other_mode_is_refused_and_changes_nothing(mode, demo):
    other = "fast" if mode == "hardware" else "hardware"
    theirs = vandrel.NES(demo, accuracy=other)
    theirs.runFrames(5)
    nes = vandrel.NES(demo, accuracy=mode)
    nes.runFrames(3)
    mine = nes.getSnapshot()
    with pytest.raises(ValueError, match=f"accuracy='{other}'.*accuracy='{mode}'"):
        nes.setSnapshot(theirs.getSnapshot())
    assert nes.getSnapshot() == mine and nes.accuracy == mode


@pytest.mark.parametrize("source, target", [("fast", "hardware"), ("hardware", "fast")])
def test_a_state_record_loads_in_either_mode(source, target, demo):
    nes = vandrel.NES(demo, accuracy=source)
    nes.runFrames(40)
    record = nes.getState()
    twin = vandrel.NES(demo, accuracy=target)
    twin.setState(record)
    assert twin.getState() == record and twin.accuracy == target
    nes.runFrames(30)
    twin.runFrames(30)
    # The game goes on alike; the record holds no timing, so the stack's leftovers of
    # interrupts may differ.
    assert (twin.cpuMem()[:0x100] == nes.cpuMem()[:0x100]).all()
