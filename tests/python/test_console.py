"""Building a console, stepping it frame by frame, and the raw memory views."""
import gc
import os
import pathlib
import weakref

import numpy as np
import pytest
import vandrel

from conftest import PRG_BANK, Reader, c_stdout, header, in_order, ines, jmp

# LDA #$2A / STA $0200 / JMP * : proves the program at the reset vector ran.
MARKER = bytes([0xA9, 0x2A, 0x8D, 0x00, 0x02]) + jmp(0x8005)


def _open(path):
    with open(path, "rb") as f:
        return vandrel.NES(f)


BUILD = {
    "str": lambda path, data: vandrel.NES(path),
    "bytes": lambda path, data: vandrel.NES(path.encode()),
    "bytearray": lambda path, data: vandrel.NES(bytearray(path.encode()), 1789773),
    "keyword": lambda path, data: vandrel.NES(rom_name=path, CLOCK_SPEED=0),
    "open": lambda path, data: _open(path),
    "reader-bytes": lambda path, data: vandrel.NES(Reader(path, data)),
    "reader-bytearray": lambda path, data: vandrel.NES(
        rom_file=Reader(path.encode(), bytearray(data))),
}


@pytest.mark.parametrize("form", list(BUILD))
def test_every_constructor_form_loads_the_cartridge(form, make_rom, tamberlo):
    data = ines(MARKER)
    path = make_rom("Form Cart.nes", data)
    nes = BUILD[form](path, data)
    assert nes.getSaveDir() == str(tamberlo / "Form_Cart")
    assert (tamberlo / "Form_Cart").is_dir()
    mem = nes.cpuMem()
    assert bytes(mem[0x8000:0x8000 + len(MARKER)]) == MARKER
    assert not mem[0xC000:].any()   # a 16 KiB PRG is mirrored by the bus, not copied
    nes.runFrame()
    assert mem[0x200] == 0x2A


def test_reader_returning_text_is_taken_as_utf8(tamberlo):
    text = header(1, 0).decode("latin-1") + "é" + "\0" * (PRG_BANK - 2)
    nes = vandrel.NES(Reader("/nowhere/Text Cart.nes", text))
    assert list(nes.cpuMem()[0x8000:0x8003]) == [0xC3, 0xA9, 0x00]
    assert nes.getSaveDir() == str(tamberlo / "Text_Cart")


@pytest.mark.parametrize("code_at, banks", [(0, 1), (PRG_BANK, 2)])
def test_program_runs_from_c000_with_16_and_32_kib_prg(code_at, banks, make_rom):
    # With 16 KiB the code sits at $8000 and is reached through the $C000 mirror.
    code = bytes([0xA9, 0x2A, 0x8D, 0x00, 0x02]) + jmp(0xC005)
    nes = vandrel.NES(make_rom("mirror.nes", ines(code, prg_banks=banks,
                                                  code_at=code_at, reset=0xC000)))
    nes.runFrame()
    assert nes.cpuMem()[0x200] == 0x2A


@pytest.mark.parametrize("args, kwargs", [
    ((), {}), ((1789773,), {}), ((), {"CLOCK_SPEED": 5}), ((0,), {}), ((-5,), {}),
])
def test_blank_console_runs_at_any_clock_speed(args, kwargs, home):
    nes = vandrel.NES(*args, **kwargs)
    assert (nes.frameCount(), nes.cycleCount()) == (0, 0)
    nes.runFrame()
    nes.runFrame()
    assert nes.frameCount() == 2
    assert nes.getSaveDir() == ""
    assert list(home.iterdir()) == []   # no cartridge, no save folder


@pytest.mark.parametrize("call", [
    lambda p: vandrel.NES(CLOCK_SPEED=2.5),
    lambda p: vandrel.NES(p, CLOCK_SPEED=2.5),
    lambda p: vandrel.NES(p, 2.5),
    lambda p: vandrel.NES(rom_name=None),
])
def test_rejected_constructor_arguments(call, make_rom):
    path = make_rom("game.nes", ines())
    with pytest.raises(TypeError):
        call(path)


def test_frame_and_cycle_counters():
    nes = vandrel.NES()
    # The PPU starts at dot 25 of scanline 0: the first frame ends after
    # 89342 - 25 dots, each later one after 89342 more, three dots per cycle;
    # runFrame stops at the end of the instruction that finishes the frame.
    for n, last_dot in enumerate([89317, 89317 + 89342, 89317 + 2 * 89342], 1):
        nes.runFrame()
        assert nes.frameCount() == n
        first = -(-last_dot // 3)
        assert first <= nes.cycleCount() < first + 8


def test_blank_console_messages(capfd):
    c_stdout(capfd)
    vandrel.NES()
    assert c_stdout(capfd) == ["No rom specified.", "No Battery", "iNES", "0",
                               "rom created.", "CHR-RAM Copied."]


@pytest.mark.parametrize("flags6, flags7, chr_banks, parse_lines", [
    (0x00, 0x00, 0, ["No Battery", "iNES", "0"]),
    (0x02, 0x00, 2, ["Battery", "iNES", "2"]),
    (0x00, 0x08, 1, ["No Battery"]),          # NES 2.0 header: no "iNES" lines
])
def test_cartridge_messages(flags6, flags7, chr_banks, parse_lines, make_rom,
                            home, tamberlo, capfd):
    path = make_rom("game.nes", ines(flags6=flags6, flags7=flags7,
                                     chr_banks=chr_banks))
    c_stdout(capfd)
    folder_lines = [f"LINUX, {home}/.config", str(tamberlo / "game")]
    vandrel.NES(path)
    out = c_stdout(capfd)
    assert in_order(out, folder_lines) and in_order(out, parse_lines)
    assert ("iNES" in out) == (flags7 != 0x08)
    assert "Folder already exists. Checking for save..." not in out
    ram_lines = [f"load RAM file: {tamberlo / 'game' / 'ram'}", "RAM file exists: 0"]
    assert in_order(out, parse_lines + ram_lines) == bool(flags6 & 2)

    vandrel.NES(path)
    assert in_order(c_stdout(capfd), folder_lines
                    + ["Folder already exists. Checking for save..."])


# LDA $10 / STA $0200; PPUADDR := $0123, two PPUDATA reads (the first only
# fills the read buffer) / STA $0201; OAM DMA from page 3; then INC $0202 forever.
PROBE = bytes([
    0xA5, 0x10, 0x8D, 0x00, 0x02,
    0xA9, 0x01, 0x8D, 0x06, 0x20, 0xA9, 0x23, 0x8D, 0x06, 0x20,
    0xAD, 0x07, 0x20, 0xAD, 0x07, 0x20, 0x8D, 0x01, 0x02,
    0xA9, 0x03, 0x8D, 0x14, 0x40,
    0xEE, 0x02, 0x02,                 # 801D INC $0202
]) + jmp(0x801D)


def test_views_alias_live_memory(make_rom):
    nes = vandrel.NES(make_rom("probe.nes", ines(PROBE)))
    cpu, ppu, oam = nes.cpuMem(), nes.ppuMem(), nes.OAM()
    cpu[0x10] = 7
    ppu[0x123] = 0x5A
    cpu[0x300:0x400] = np.arange(256, dtype=np.uint8)
    nes.runFrame()
    # The arrays fetched before the frame show what the program did during it.
    assert (cpu[0x200], cpu[0x201]) == (7, 0x5A)
    expected = np.arange(256, dtype=np.uint8)
    expected[2::4] &= 0xE3           # attribute bytes lose bits 2-4 on the way in
    assert np.array_equal(oam, expected)
    before = int(cpu[0x202])
    nes.runFrame()
    assert cpu[0x202] != before


@pytest.mark.parametrize("name, size", [("cpuMem", 65536), ("ppuMem", 16384),
                                        ("OAM", 256)])
def test_view_shape_and_sharing(name, size):
    nes = vandrel.NES()
    a, b = getattr(nes, name)(), getattr(nes, name)()
    assert a.shape == (size,) and a.dtype == np.uint8
    assert a.flags.writeable and not a.flags.owndata
    assert a is not b
    a[size - 1] = 0xAB
    assert b[size - 1] == 0xAB


def test_views_keep_their_console_alive():
    nes = vandrel.NES()
    console = weakref.ref(nes)
    views = [nes.cpuMem(), nes.ppuMem(), nes.OAM()]
    for v in views:
        v[5] = 99
    del nes
    gc.collect()
    assert console() is not None
    for v in views:
        assert v[5] == 99
        v[6] = 1
        assert v[6] == 1
    del v, views
    gc.collect()
    assert console() is None      # ...but only as long as a view exists


class BytesPath:
    """An os.PathLike that gives bytes, as a program's own path class might."""

    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return os.fsencode(self.path)


@pytest.mark.parametrize("as_path", [pathlib.Path, pathlib.PurePosixPath, BytesPath])
def test_path_objects_work_as_str_paths_do(as_path, make_rom, tamberlo):
    path = make_rom("Path Game.nes", ines(jmp(0x8000)))
    nes = vandrel.NES(as_path(path), CLOCK_SPEED=0)
    nes.runFrame()
    assert nes.getSaveDir() == str(tamberlo / "Path_Game")
    with pytest.raises(FileNotFoundError):
        vandrel.NES(as_path(path + ".missing"))
    with pytest.raises(ValueError, match="NUL"):
        vandrel.NES(as_path(path + "\0x"))


@pytest.mark.parametrize("mapper, emulated", [(0, True), (2, True), (19, False), (250, False)])
@pytest.mark.parametrize("build", ["NES", "Batch", "Batch.from_image"])
def test_a_board_that_is_not_emulated_warns_once_and_says_so(mapper, emulated, build, make_rom,
                                                            capfd):
    import warnings
    from vandrel_gym._batch import Batch
    rom = make_rom("board.nes", ines(flags6=(mapper & 0x0F) << 4, flags7=mapper & 0xF0))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        console = {"NES": lambda: vandrel.NES(rom), "Batch": lambda: Batch(rom, 3),
                   "Batch.from_image": lambda: Batch.from_image(pathlib.Path(rom).read_bytes(), 3)}[build]()
    assert [w.category for w in caught] == ([] if emulated else [vandrel.UnsupportedBoardWarning])
    assert emulated or (f"mapper {mapper})" in str(caught[0].message)
                        and caught[0].filename == __file__)
    if build == "NES":
        assert (console.mapperNumber, console.boardSupported) == (mapper, emulated)
        assert ("UNRECOGNIZED MAPPER!" in c_stdout(capfd)) is not emulated
