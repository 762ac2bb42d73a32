"""The self-checking test cartridges in hardware mode: each runs until it reports through
$6000 (the reset button pressed whenever it asks), and must report a pass."""
import pathlib
import sys

import pytest

from conftest import NO_PUBLIC_TEST_ROMS, public_test_rom

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
from cartridge_verdicts import run_cartridge  # noqa: E402

SUITES = ["instr_test-v5", "instr_timing", "instr_misc", "cpu_interrupts_v2", "cpu_reset",
          "cpu_dummy_writes", "cpu_exec_space", "ppu_vbl_nmi", "ppu_open_bus",
          "ppu_read_buffer", "oam_read", "oam_stress", "mmc3_test_2", "apu_test", "apu_reset",
          "sprdma_and_dmc_dma"]
# The one cartridge made for the MMC3's rarer revision.
OTHER_REVISION = {
    "mmc3_test_2/rom_singles/6-MMC3_alt.nes": "made for the MMC3's other revision",
}


def cartridges():
    folder = public_test_rom("tests")
    if folder is None:
        return [pytest.param(None, marks=pytest.mark.skip(reason=NO_PUBLIC_TEST_ROMS))]
    found = []
    for suite in SUITES:
        for path in sorted((folder / suite).rglob("*.nes")):
            name = path.relative_to(folder).as_posix()
            marks = ([pytest.mark.xfail(reason=OTHER_REVISION[name], strict=True)]
                     if name in OTHER_REVISION else [])
            found.append(pytest.param(path, id=name, marks=marks))
    return found


@pytest.mark.parametrize("cartridge", cartridges())
def test_cartridge_passes_in_hardware_mode(cartridge):
    result, text = run_cartridge(cartridge, "hardware")
    assert result == 0, text


def with_submapper(image, submapper):
    """The image with its iNES header made NES 2.0 (byte 7 bits 2-3 = 10) naming
    `submapper` in byte 8's high nibble; the sizes keep their meaning."""
    patched = bytearray(image)
    patched[7] = (patched[7] & 0xF3) | 0x08
    patched[8] = (submapper << 4) | (patched[8] & 0x0F)
    return bytes(patched)


# The MMC3 revision comes from the header's submapper: 4 the alternate IRQ (which the
# alt cartridge wants and the common one's cartridge fails on), 1 the MMC6, whose counter
# is the common revision's.
@pytest.mark.parametrize("name, submapper, passes", [
    ("6-MMC3_alt.nes", 4, True),
    ("5-MMC3.nes", 4, False),
    ("5-MMC3.nes", 1, True),
])
def test_mmc3_revision_follows_the_submapper(tmp_path, name, submapper, passes):
    original = public_test_rom(f"tests/mmc3_test_2/rom_singles/{name}")
    if original is None:
        pytest.skip(NO_PUBLIC_TEST_ROMS)
    cartridge = tmp_path / name
    cartridge.write_bytes(with_submapper(original.read_bytes(), submapper))
    result, text = run_cartridge(cartridge, "hardware")
    assert (result == 0) == passes, text
