"""The picture seen from Python: the getImg and colorLookup arrays, a demo
cartridge whose whole frame is checked pixel by pixel and by a golden hash, and
the public nestest cartridge."""
import gc
import hashlib
import json
import pathlib
import shutil
import subprocess
import weakref

import numpy as np
import pytest
import vandrel

from conftest import NO_PUBLIC_TEST_ROMS, public_test_rom

ROOT = pathlib.Path(__file__).resolve().parents[2]
ASM = ROOT / "tests" / "asm"
GOLDEN = json.loads((pathlib.Path(__file__).parent / "golden" / "pictures.json").read_text())
NESTEST = public_test_rom("nestest.nes")

# The console's 64 colours, RRGGBB, eight per row.
COLOURS = np.array([[int(h[i:i + 2], 16) for i in (0, 2, 4)] for h in """
    606060 001CA1 2404C8 5300B2 730076 800024 730C00 502800
    254400 005700 015C00 005324 003C76 000000 000000 000000
    ABABAB 0D57FF 4B30FF 8A13FF BC09D6 D21269 C72E00 9D5400
    5F7B00 219800 00A300 009942 027DB4 000000 000000 000000
    FFFFFF 53AEFF 9085FF D365FF FF57FF FF5DCF FF7757 FA9E00
    BDC700 7AE701 42F60F 24EF7E 2BD5F6 4E4E4E 000000 000000
    FFFFFF B6E1FF CFD1FF E9C3FF FFBCFF FFBDF4 FFC6C3 FFD59A
    E8E681 CDF481 B7FB9A A9FAC3 A9F0F4 B8B8B8 000000 000000
    """.split()], dtype=np.uint8)


def save_png(img, name, tmp_path):
    """Writes a failing picture for a person to look at, when Pillow is there."""
    try:
        from PIL import Image
    except ImportError:
        return None
    path = tmp_path / f"{name}.png"
    Image.fromarray(np.ascontiguousarray(img)).save(path)
    return path


def backdrop_frame(nes, value):
    """Rendering off: every pixel shows palette cell 0x3F00. Two frames, since a
    new console starts drawing at dot 25 of line 0."""
    nes.cpuMem()[0x2001] = 0
    nes.ppuMem()[0x3F00] = value
    nes.runFrame()
    nes.runFrame()


def test_image_is_a_writable_view_of_the_published_frame():
    nes = vandrel.NES()
    a, b = nes.getImg(), nes.getImg()
    assert a.shape == (240, 256, 3) and a.dtype == np.uint8
    assert a.strides == (768, 3, 1)
    assert a.flags.writeable and not a.flags.owndata
    assert type(a.base).__name__ == "PyCapsule"
    assert a is not b and np.shares_memory(a, b)
    assert not a.any()                     # before the first vertical blank
    backdrop_frame(nes, 0x21)
    assert (b == COLOURS[0x21]).all()      # an old view shows the new frame
    a[7, 9] = (1, 2, 3)
    assert tuple(b[7, 9]) == (1, 2, 3)


def test_image_view_keeps_its_console_alive():
    nes = vandrel.NES()
    console = weakref.ref(nes)
    img = nes.getImg()
    backdrop_frame(nes, 0x16)
    del nes
    gc.collect()
    assert console() is not None
    assert (img == COLOURS[0x16]).all()
    del img
    gc.collect()
    assert console() is None


@pytest.mark.parametrize("value, shown", [(0x0F, 0x0F), (0x30, 0x30), (0x00, 0x00),
                                          (0x2C, 0x2C), (0x61, 0x21), (0xFF, 0x3F)])
def test_palette_values_become_table_colours(value, shown):
    nes = vandrel.NES()
    backdrop_frame(nes, 0x21)   # a different colour first, so every pixel is redrawn
    backdrop_frame(nes, value)
    assert (nes.getImg() == COLOURS[shown]).all()


def test_colour_table_is_a_writable_copy_per_console():
    nes, other = vandrel.NES(), vandrel.NES()
    table = nes.colorLookup()
    assert table.shape == (64, 3) and table.dtype == np.uint8
    assert table.strides == (3, 1) and not table.flags.owndata
    assert np.array_equal(table, COLOURS)
    assert [tuple(table[v]) for v in (0x0F, 0x30, 0x00)] == [
        (0, 0, 0), (255, 255, 255), (0x60, 0x60, 0x60)]
    table[:] = 0
    assert not nes.colorLookup().any()     # the same memory every call
    assert np.array_equal(other.colorLookup(), COLOURS)
    backdrop_frame(nes, 0x21)
    assert (nes.getImg() == COLOURS[0x21]).all()


# The demo cartridge (tests/asm/ppu_demo.s). Its background, by point of the
# plane of nametables 0 and 1 (vertical mirroring): a framed top band, stripes,
# then a checkerboard with per-quadrant palettes and a transparent window.
PALETTE = [0x0C, 0x16, 0x27, 0x18, 0x0C, 0x1A, 0x2A, 0x3A,
           0x0C, 0x12, 0x22, 0x32, 0x0C, 0x14, 0x24, 0x34,
           0x0C, 0x30, 0x10, 0x00, 0x0C, 0x28, 0x38, 0x08,
           0x0C, 0x21, 0x31, 0x01, 0x0C, 0x25, 0x35, 0x05]
GLYPH_LO = [0xFE, 0xC0, 0xC0, 0xF8, 0xC0, 0xC0, 0xC0, 0x00]
GLYPH_HI = [0xFE, 0, 0, 0, 0, 0, 0, 0]


def demo_background(wx, wy):
    x, y = wx % 256, wy % 240
    tx, ty, col, row = x // 8, y // 8, x % 8, y % 8
    if ty < 4:
        pal, value = 3, 3 if row in (0, 7) or col in (0, 7) else 1
    elif (wx // 256) % 2:
        pal, value = 1, 3
    elif ty < 8:
        pal, value = 0, col % 4
    elif 20 <= ty < 24 and tx >= 16:
        pal, value = 0, 0
    else:
        pal = 2 * ((y // 16) % 2) + (x // 16) % 2
        value = 1 + (((ty >> 1) ^ (tx >> 1)) & 1)
    return PALETTE[4 * pal + value] if value else PALETTE[0]


def demo_expected():
    """Palette values of the demo frame; row 21, where the program changes the
    scroll in the middle of the line, is left out (-1)."""
    want = np.empty((240, 256), dtype=int)
    for r in range(240):
        sx = 0 if r < 21 else 21        # after the sprite-0 hit
        want[r] = [demo_background(c + sx, r + 4) for c in range(256)]
    want[:, :8] = PALETTE[0]            # background hidden in columns 0-7
    want[21] = -1

    def box(y, x, value):
        want[y + 1:y + 9, x:x + 8] = value
    for n, attr in enumerate((0x00, 0x41, 0x82, 0xC3)):     # glyphs, flipped
        for row in range(8):
            for col in range(8):
                sr = 7 - row if attr & 0x80 else row
                bit = col if attr & 0x40 else 7 - col
                v = (GLYPH_LO[sr] >> bit & 1) | (GLYPH_HI[sr] >> bit & 1) << 1
                if v:
                    want[71 + row, 40 + 20 * n + col] = PALETTE[16 + 4 * (attr & 3) + v]
    want[22:29, 128:136] = PALETTE[17]  # sprite 0, below the split line
    box(165, 150, PALETTE[23])          # behind, over the transparent window
    box(165, 80, PALETTE[27])           # in front
    want[196:204, 38:42] = PALETTE[31]  # the front sprite beyond the behind one
    box(100, 0, PALETTE[17])            # sprites are shown in columns 0-7
    for k in range(8):                  # the ninth sprite on the line is not drawn
        box(210, 110 + 16 * k, PALETTE[16 + 4 * (k % 4) + 2])
    return want


@pytest.fixture
def demo(tmp_path, home):
    if not (shutil.which("ca65") and shutil.which("ld65")):
        pytest.skip("ca65/ld65 are not installed")
    obj, rom = tmp_path / "ppu_demo.o", tmp_path / "ppu_demo.nes"
    subprocess.run(["ca65", "-I", str(ASM), str(ASM / "ppu_demo.s"), "-o", str(obj)],
                   check=True)
    subprocess.run(["ld65", "-C", str(ASM / "ppu_demo.cfg"), str(obj), "-o", str(rom)],
                   check=True)
    nes = vandrel.NES(str(rom))
    for _ in range(8):
        nes.runFrame()
    return nes


def test_demo_picture_matches_its_design(demo, tmp_path):
    img = demo.getImg()
    want = demo_expected()
    shown = want >= 0
    expected = COLOURS[np.where(shown, want, 0)]
    wrong = np.argwhere(shown & (img != expected).any(axis=2))
    if len(wrong):
        r, c = wrong[0]
        png = save_png(img, "ppu_demo", tmp_path)
        pytest.fail(f"{len(wrong)} pixels differ, first at row {r}, column {c}: "
                    f"{tuple(img[r, c])} instead of colour {want[r, c]:#04x}; "
                    f"picture: {png}")
    assert demo.cpuMem()[0x10] == 0x20  # the program saw the overflow flag


def test_demo_picture_golden_hash(demo, tmp_path):
    img = demo.getImg()
    digest = hashlib.sha1(img.tobytes()).hexdigest()
    if digest != GOLDEN["ppu_demo"]:
        pytest.fail(f"SHA-1 {digest}; picture: {save_png(img, 'ppu_demo', tmp_path)}")


@pytest.mark.skipif(NESTEST is None, reason=NO_PUBLIC_TEST_ROMS)
def test_nestest_official_opcodes_pass_from_its_menu():
    nes = vandrel.NES(str(NESTEST))
    pad = vandrel.Controller()
    nes.setController(pad, 0)
    for _ in range(10):
        nes.runFrame()
    pad.updateInputs([False, False, False, True, False, False, False, False])
    for _ in range(5):
        nes.runFrame()
    pad.updateInputs([False] * 8)
    for _ in range(120):
        nes.runFrame()
    assert nes.cpuMem()[2] == 0
    img = nes.getImg()
    assert (img != img[0, 0]).any()
