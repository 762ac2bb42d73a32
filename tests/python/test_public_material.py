"""Where the tests find the public test cartridges: $VANDREL_TEST_ROMS first, then
../shared/roms beside the project."""
from conftest import public_test_rom


def test_the_chosen_folder_comes_first_and_the_shared_one_after(tmp_path, monkeypatch):
    (tmp_path / "only-here.nes").write_bytes(b"x")
    monkeypatch.setenv("VANDREL_TEST_ROMS", str(tmp_path))
    assert public_test_rom("only-here.nes") == tmp_path / "only-here.nes"
    assert public_test_rom("nowhere.nes") is None
    monkeypatch.setenv("VANDREL_TEST_ROMS", str(tmp_path / "missing"))
    assert public_test_rom("only-here.nes") is None
