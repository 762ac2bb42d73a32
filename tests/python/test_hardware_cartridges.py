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
