"""Save folders under $HOME/.config/Tamberlo, battery RAM loading, and the
rejection of cartridge files that cannot be used."""
import os
import pathlib

import pytest
import vandrel

from conftest import CHR_BANK, PRG_BANK, Reader, c_stdout, header, in_order, ines, jmp


@pytest.mark.parametrize("file_name, folder", [
    ("Super Game (U).rev.nes", "Super_Game_(U).rev"),
    ("game", "game"),
    ("a.b.c", "a.b"),
    ("x.y/game", "game"),             # a dot in a directory name is not an extension
    ("C:\\roms\\a.nes", "a"),         # backslashes also separate path components
    ("....nes", "..."),               # only "", "." and ".." are names to mend
    (".hidden.nes", ".hidden"),
])
def test_save_folder_name(file_name, folder, make_rom, tamberlo):
    nes = vandrel.NES(make_rom(file_name, ines()))
    assert nes.getSaveDir() == str(tamberlo / folder)
    assert [p.name for p in tamberlo.iterdir()] == [folder]


@pytest.mark.parametrize("via", ["path", "reader"])
@pytest.mark.parametrize("file_name, folder", [
    ("...", "_.."), ("...nes", "_.."), ("..nes", "_."), (".nes", "_"),
])
def test_odd_names_keep_their_files_in_their_own_folder(file_name, folder, via,
                                                       make_rom, home, tamberlo):
    data = ines(flags6=0x02)
    path = make_rom(f"x/{file_name}", data)
    nes = vandrel.NES(path if via == "path" else Reader(path, data))
    assert nes.getSaveDir() == str(tamberlo / folder)
    nes.saveState(1)
    nes.runFrame()
    with pytest.raises(RuntimeError):
        nes.stop()                       # writes the battery RAM, then refuses
    written = sorted(p.relative_to(home) for p in home.rglob("*") if not p.is_dir())
    assert written == [pathlib.Path(".config", "Tamberlo", folder, name)
                       for name in ("1", "ram")]


@pytest.mark.parametrize("size", [None, 100, 8192, 9000])
def test_battery_ram_is_loaded_into_6000(size, make_rom, tamberlo, capfd):
    folder = tamberlo / "saved"
    data = bytes((i * 7 + 1) % 256 for i in range(size or 0))
    if size is not None:
        folder.mkdir(parents=True)
        (folder / "ram").write_bytes(data)
    c_stdout(capfd)
    nes = vandrel.NES(make_rom("saved.nes", ines(b"\xea" * 4, flags6=0x02)))
    assert in_order(c_stdout(capfd), [f"load RAM file: {folder / 'ram'}",
                                      f"RAM file exists: {int(size is not None)}"])
    mem = nes.cpuMem()
    n = min(size or 0, 8192)
    assert bytes(mem[0x6000:0x6000 + n]) == data[:n]
    assert not mem[0x6000 + n:0x8000].any()
    assert bytes(mem[0x8000:0x8004]) == b"\xea" * 4    # PRG not disturbed
    assert (folder / "ram").exists() == (size is not None)  # loading writes nothing


def test_ram_file_ignored_without_battery(make_rom, tamberlo):
    (tamberlo / "plain").mkdir(parents=True)
    (tamberlo / "plain" / "ram").write_bytes(b"\xff" * 8192)
    nes = vandrel.NES(make_rom("plain.nes", ines()))
    assert not nes.cpuMem()[0x6000:0x8000].any()


def test_each_console_keeps_its_own_folder(make_rom, tamberlo, capfd):
    (tamberlo / "first").mkdir(parents=True)
    (tamberlo / "first" / "ram").write_bytes(b"\x11" * 16)
    first = vandrel.NES(make_rom("first.nes", ines(flags6=0x02)))
    c_stdout(capfd)
    second = vandrel.NES(make_rom("second.nes", ines(flags6=0x02)))
    assert in_order(c_stdout(capfd), [
        f"load RAM file: {tamberlo / 'second' / 'ram'}", "RAM file exists: 0"])
    vandrel.NES()
    assert first.getSaveDir() == str(tamberlo / "first")
    assert second.getSaveDir() == str(tamberlo / "second")
    assert bytes(first.cpuMem()[0x6000:0x6011]) == b"\x11" * 16 + b"\0"
    assert not second.cpuMem()[0x6000:0x8000].any()
    first.runFrame()
    second.runFrame()
    assert sorted(os.listdir(tamberlo / "first")) == ["ram"]
    assert os.listdir(tamberlo / "second") == []


@pytest.mark.parametrize("kind, accepted", [
    ("dir", True), ("file", True), ("missing", False), ("bytes", True),
    ("non-ascii", True), ("path", True),
])
def test_set_save_dir(kind, accepted, make_rom, tmp_path, tamberlo):
    nes = vandrel.NES(make_rom("game.nes", ines()))
    target = tmp_path / ("säve" if kind == "non-ascii" else "elsewhere")
    if kind == "file":
        target.write_bytes(b"")
    elif kind != "missing":
        target.mkdir()
    arg = {"bytes": os.fsencode(target), "path": target}.get(kind, str(target))
    assert nes.setSaveDir(arg) is accepted
    assert nes.getSaveDir() == (str(target) if accepted else str(tamberlo / "game"))
    blank = vandrel.NES()
    assert blank.getSaveDir() == ""
    assert blank.setSaveDir(arg) is accepted
    assert blank.getSaveDir() == (str(target) if accepted else "")


@pytest.mark.parametrize("value", [None, ""])
def test_home_missing_is_an_error(value, monkeypatch, make_rom, tmp_path):
    path = make_rom("game.nes", ines())
    monkeypatch.chdir(tmp_path)
    if value is None:
        monkeypatch.delenv("HOME")
    else:
        monkeypatch.setenv("HOME", value)
    with pytest.raises(RuntimeError):
        vandrel.NES(path)
    assert not list(tmp_path.rglob("Tamberlo")) and not list(tmp_path.rglob(".config"))
    vandrel.NES().runFrame()     # the blank console never needs a folder


PRG = bytes(PRG_BANK)
BAD_IMAGES = {
    "empty": b"",
    "bad magic": b"NES\x1b" + ines()[4:],
    "short header": header(1, 0)[:10],
    "short prg": header(1, 0) + bytes(100),
    "short chr": header(1, 1) + PRG + bytes(CHR_BANK - 1),
    "no prg": header(0, 0),
    "prg below 1 KiB": header(0, 0, flags7=0x08, byte9=0x0F) + b"\0",  # 2^0 x 1 bytes
    "chr of 512 bytes": header(1, 0x24, flags7=0x08, byte9=0xF0) + PRG + bytes(512),
}


@pytest.mark.parametrize("via", ["path", "reader"])
@pytest.mark.parametrize("case", list(BAD_IMAGES))
def test_malformed_image_is_rejected(case, via, make_rom, tamberlo):
    data = BAD_IMAGES[case]
    path = make_rom("Broken.nes", data)
    with pytest.raises(ValueError):
        vandrel.NES(path if via == "path" else Reader(path, data))
    assert not (tamberlo / "Broken").exists()


@pytest.mark.parametrize("kind, error", [("missing", FileNotFoundError),
                                         ("directory", OSError)])
def test_unreadable_cartridge_file(kind, error, tmp_path, tamberlo):
    path = tmp_path / "gone.nes"
    if kind == "directory":
        path.mkdir()
    with pytest.raises(error) as info:
        vandrel.NES(str(path))
    assert str(path) in str(info.value)
    assert not (tamberlo / "gone").exists()


class NoName:
    def read(self):
        return ines()


class BadRead(Reader):
    def read(self):
        raise KeyError("boom")


@pytest.mark.parametrize("obj, error", [
    (NoName(), AttributeError),
    (BadRead("/x/bad.nes", b""), KeyError),         # Python errors pass through
    (Reader("/x/bad.nes", 12345), TypeError),        # read() gave no byte string
    (Reader(12345, ines()), TypeError),              # name is no string
])
def test_file_object_errors(obj, error):
    with pytest.raises(error):
        vandrel.NES(obj)


def test_saving_clears_only_abandoned_temporaries(make_rom, tamberlo):
    """A save state or battery RAM write removes the `<file>.vandrel-tmp-XXXXXX` files
    that a killed writer left more than a minute ago, and leaves everything else."""
    nes = vandrel.NES(make_rom("game.nes", ines(flags6=0x02)))
    folder = tamberlo / "game"
    old = os.stat(folder).st_mtime - 120
    mark = ".vandrel-tmp-"
    for name in (f"1{mark}Ab3xY9", f"ram{mark}000000", f"1{mark}Fresh1", f"1{mark}Ab3xY9z",
                 f"2{mark}Ab3xY9", "1.Ab3xY9", "notes"):
        (folder / name).write_bytes(b"left")
        if name != f"1{mark}Fresh1":
            os.utime(folder / name, (old, old))
    nes.saveState(1)
    nes.runFrame()
    with pytest.raises(RuntimeError):
        nes.stop()
    assert sorted(os.listdir(folder)) == sorted([
        "1", "1.Ab3xY9", f"1{mark}Ab3xY9z", f"1{mark}Fresh1", f"2{mark}Ab3xY9", "notes", "ram"])
    assert os.path.getsize(folder / "1") == 82189


# STA $6000,X; INX; JMP $8000: fills PRG RAM with its own index, frame after frame.
FILL_PRG_RAM = bytes([0x9D, 0x00, 0x60, 0xE8]) + jmp(0x8000)


@pytest.mark.parametrize("battery", [True, False])
def test_save_battery_writes_the_ram_now_without_stopping(battery, make_rom, tamberlo):
    nes = vandrel.NES(make_rom("keep.nes", ines(FILL_PRG_RAM, flags6=0x02 if battery else 0)))
    nes.runFrame()
    assert nes.saveBattery() is battery
    ram = tamberlo / "keep" / "ram"
    assert ram.exists() == battery
    if battery:
        assert ram.read_bytes() == nes.cpuMem()[0x6000:0x8000].tobytes()
        nes.runFrame()                   # still steps: nothing was stopped
        assert vandrel.NES(make_rom("keep.nes", ines(FILL_PRG_RAM, flags6=0x02))) \
            .cpuMem()[0x6000:0x6100].tobytes() == ram.read_bytes()[:0x100]


def test_save_battery_is_refused_while_the_run_thread_steps(make_rom):
    nes = vandrel.NES(make_rom("busy.nes", ines(FILL_PRG_RAM, flags6=0x02)), CLOCK_SPEED=0)
    nes.start()
    try:
        with pytest.raises(RuntimeError, match="saveBattery"):
            nes.saveBattery()
        nes.setPaused(True)
        assert nes.saveBattery()
    finally:
        nes.stop()
