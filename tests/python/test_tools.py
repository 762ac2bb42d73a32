"""The tools package beside the emulator: the shipped cartridges (demo and Catch),
vandrel-record and vandrel-play, run headless on the demo with scripted buttons."""
import os
import pathlib
import subprocess
import sys
import wave

import numpy as np
import pytest
from PIL import Image

import vandrel
from vandrel_tools import cartridge, catch, demo, inputs, media, recorder
from vandrel_tools.cartridge import FRAME_RATE

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
SHIPPED = REPOSITORY / "python" / "vandrel_tools"
CARTRIDGES = pytest.mark.parametrize("name, module", [("demo", demo), ("catch", catch)])
HERO_RED = (0xC7, 0x2E, 0x00)       # palette colour $16, worn by the demo's hero only
BLOCK = 1024
HEADLESS = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy"}


def record(*args):
    """Runs vandrel-record in this process."""
    assert recorder.main([*args, "--no-progress"]) == 0


def hero_position(path):
    """Centre (x, y) of the hero's red pixels in a picture of the demo."""
    with Image.open(path) as image:
        picture = np.asarray(image.convert("RGB"))
    ys, xs = np.nonzero(np.all(picture == HERO_RED, axis=2))
    assert len(xs) > 20, "the hero is not in the picture"
    return xs.mean(), ys.mean()


def wav_samples(path):
    with wave.open(str(path)) as file:
        return file.getparams(), np.frombuffer(file.readframes(file.getnframes()), "<i2")


def run_tool(module, *args, cwd=None):
    env = dict(os.environ, **HEADLESS)
    return subprocess.run([sys.executable, "-m", f"vandrel_tools.{module}", *args],
                          capture_output=True, text=True, cwd=cwd, env=env, timeout=120)


# ---------------------------------------------------------------- the shipped cartridges

@pytest.mark.skipif(not demo.assembler_available(), reason="ca65/ld65 (cc65) not installed")
@CARTRIDGES
def test_shipped_cartridge_is_what_its_source_assembles_to(name, module, tmp_path):
    built = module.build(REPOSITORY / name, tmp_path / "built.nes")
    assert built.read_bytes() == (SHIPPED / f"{name}.nes").read_bytes()


@CARTRIDGES
def test_installed_package_carries_the_cartridge(name, module):
    data = module.resource().read_bytes()
    assert data == (SHIPPED / f"{name}.nes").read_bytes()
    assert data[:4] == b"NES\x1a" and data[4] == 1 and data[5] == 1      # 16 KiB PRG, 8 KiB CHR


# ---------------------------------------------------------------- vandrel-record

FRAMES = 300


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    """One recorded run of the demo: 300 frames, the hero walking right, A pressed."""
    out = tmp_path_factory.mktemp("run")
    recorder.main(["-n", str(FRAMES), "-i", "1-120:right, 150:a", "--no-progress",
                   "--png", str(out / "last.png"), "--gif", str(out / "run.gif"), "--gif-every", "3",
                   "--wav", str(out / "run.wav"), "--png-dir", str(out / "frames"), "--png-every", "100"])
    return out


def test_last_frame_is_a_full_varied_picture(run):
    with Image.open(run / "last.png") as picture:
        assert picture.size == (256, 240) and picture.mode == "RGB"
        assert len(picture.getcolors(256 * 240)) >= 10


def test_every_kth_frame_is_kept(run):
    assert sorted(p.name for p in (run / "frames").iterdir()) == [
        "frame_000100.png", "frame_000200.png", "frame_000300.png"]
    assert (run / "frames" / "frame_000300.png").read_bytes() == (run / "last.png").read_bytes()


def test_gif_has_one_frame_per_kept_frame_and_keeps_time(run):
    with Image.open(run / "run.gif") as gif:
        assert gif.n_frames == FRAMES // 3
        assert gif.size == (256, 240)
        durations = []
        for index in range(gif.n_frames):
            gif.seek(index)
            durations.append(gif.info["duration"])
    assert sum(durations) == pytest.approx(1000 * FRAMES / FRAME_RATE, abs=10)


def test_wav_is_cd_rate_mono_with_the_runs_length_and_sound(run):
    params, samples = wav_samples(run / "run.wav")
    assert (params.nchannels, params.sampwidth, params.framerate) == (1, 2, 44100)
    assert params.nframes % BLOCK == 0
    assert FRAMES / FRAME_RATE * 44100 - 2 * BLOCK < params.nframes <= FRAMES / FRAME_RATE * 44100
    assert samples.std() > 500


@pytest.mark.parametrize("args, mode", [([], "fast"), (["--accuracy", "hardware"], "hardware"),
                                        (["--accuracy", "fast"], "fast")])
def test_recorder_reports_its_speed_and_mode(tmp_path, capsys, monkeypatch, args, mode):
    built, real = [], vandrel.NES
    monkeypatch.setattr(vandrel, "NES", lambda *a, **kw: built.append(real(*a, **kw)) or built[-1])
    record("-n", "30", *args)
    out = capsys.readouterr().out
    assert f"the built-in demo ({mode} accuracy): 30 frames" in out and "frames per second" in out
    assert [nes.accuracy for nes in built] == [mode]


@pytest.mark.parametrize("button, dx, dy", [
    ("right", 1, 0), ("left", -1, 0), ("down", 0, 1), ("up", 0, -1)])
def test_demo_hero_follows_the_d_pad(tmp_path, button, dx, dy):
    # A one-frame press turns the hero the same way, so both pictures show him alike.
    nudged, moved = tmp_path / "nudged.png", tmp_path / "moved.png"
    record("-n", "80", "-i", f"11:{button}", "--png", str(nudged))
    record("-n", "80", "-i", f"11-50:{button}", "--png", str(moved))
    (x0, y0), (x1, y1) = hero_position(nudged), hero_position(moved)
    assert (x1 - x0, y1 - y0) == pytest.approx((39 * dx, 39 * dy), abs=0.01)


@pytest.mark.parametrize("button", ["a", "b"])
def test_demo_a_and_b_make_sounds(tmp_path, button):
    plain, pressed = tmp_path / "plain.wav", tmp_path / "pressed.wav"
    record("-n", "120", "--wav", str(plain))
    record("-n", "120", "-i", f"60:{button}", "--wav", str(pressed))
    _, before = wav_samples(plain)
    _, after = wav_samples(pressed)
    press = int(59 / FRAME_RATE * 44100)
    assert np.array_equal(before[:press], after[:press])
    assert np.abs(before[press:].astype(int) - after[press:]).mean() > 100


def test_demo_start_pauses_picture_and_sound(tmp_path):
    frames = tmp_path / "frames"
    record("-n", "180", "-i", "40:start", "--png-dir", str(frames), "--png-every", "60",
           "--wav", str(tmp_path / "run.wav"))
    assert (frames / "frame_000120.png").read_bytes() == (frames / "frame_000180.png").read_bytes()
    _, samples = wav_samples(tmp_path / "run.wav")
    assert not samples[int(60 / FRAME_RATE * 44100):].any()


def test_scale_enlarges_with_square_pixels(tmp_path, run):
    record("-n", str(FRAMES), "-i", "1-120:right, 150:a", "--png", str(tmp_path / "big.png"),
           "--scale", "3")
    with Image.open(tmp_path / "big.png") as big, Image.open(run / "last.png") as small:
        big, small = np.asarray(big), np.asarray(small)
    assert big.shape == (720, 768, 3)
    assert np.array_equal(big[::3, ::3], small) and np.array_equal(big[2::3, 1::3], small)


def test_interrupted_run_leaves_no_files(tmp_path, monkeypatch, capsys):
    out = tmp_path / "out"
    out.mkdir()
    polls = iter(range(50))

    def poll_then_interrupt(self):
        if next(polls) == 40:
            raise KeyboardInterrupt
        return b""
    monkeypatch.setattr(media.SoundStream, "poll", poll_then_interrupt)
    status = recorder.main(["-n", "100", "--no-progress", "--wav", str(out / "run.wav"),
                            "--gif", str(out / "run.gif"), "--png", str(out / "last.png")])
    assert status == 130
    assert list(out.iterdir()) == []
    assert capsys.readouterr().err == "vandrel-record: interrupted\n"


@pytest.mark.skipif(not media.mp4_available(), reason="imageio-ffmpeg not installed")
def test_mp4_has_every_frame_and_the_sound(tmp_path):
    import imageio.v2 as imageio
    import imageio_ffmpeg
    out = tmp_path / "out"
    out.mkdir()
    path = out / "run.mp4"
    record("-n", "120", "--mp4", str(path))
    with imageio.get_reader(path, format="FFMPEG") as reader:
        assert reader.count_frames() == 120
    probe = subprocess.run([imageio_ffmpeg.get_ffmpeg_exe(), "-hide_banner", "-i", str(path)],
                           capture_output=True, text=True)
    assert "Audio: aac" in probe.stderr
    assert [p.name for p in out.iterdir()] == ["run.mp4"]


# ---------------------------------------------------------------- input scripts

@pytest.mark.parametrize("script, frame, pad1, pad2", [
    ("", 1, [], []),
    ("5:a", 5, ["a"], []),
    ("5:a", 6, [], []),
    ("1-60:right, 30-40:a+B", 35, ["a", "b", "right"], []),
    ("1-60:right, 30-40:a", 41, ["right"], []),
    ("100-:left", 10**6, ["left"], []),
    ("3:start/up+select", 3, ["start"], ["select", "up"]),
    ("2:/down  # controller 2 only\n4:a", 2, [], ["down"]),
])
def test_script_buttons(script, frame, pad1, pad2):
    held = inputs.InputScript.parse(script).buttons(frame)
    named = [[name for name, on in zip(inputs.BUTTONS, pad) if on] for pad in held]
    assert named == [sorted(pad1, key=inputs.BUTTONS.index), sorted(pad2, key=inputs.BUTTONS.index)]


@pytest.mark.parametrize("script, complaint", [
    ("right", "needs FRAMES:BUTTONS"),
    ("0:a", "frames count from 1"),
    ("x:a", "is not a frame number"), ("\u00b2:a", "is not a frame number"),
    ("9-3:a", "ends before it starts"),
    ("1:jump", "unknown button 'jump'"),
    ("1:a/b/c", "more than two controllers"),
])
def test_script_mistakes_are_explained(script, complaint):
    with pytest.raises(inputs.ScriptError, match=complaint):
        inputs.InputScript.parse(script)


# ---------------------------------------------------------------- bad requests

@pytest.fixture
def not_a_cartridge(tmp_path):
    path = tmp_path / "notes.nes"
    path.write_text("just some text, long enough to have a header\n")
    return path


@pytest.mark.parametrize("tool", ["recorder", "player"])
@pytest.mark.parametrize("args, complaint", [
    (["missing.nes"], "No such file or directory"),
    (["{not_a_cartridge}"], "not an iNES image"),
    (["."], "Is a directory"),
    (["--loud"], "unrecognized arguments: --loud"),
    (["--input", "1:jump"], "unknown button"),
    (["--input", "@missing.txt"], "cannot read input script"),
    (["--scale", "9"], "invalid choice"),
    (["--accuracy", "turbo"], "argument --accuracy: invalid choice: 'turbo'"),
])
def test_bad_requests_get_one_line_and_a_failure_status(tmp_path, not_a_cartridge, tool, args, complaint):
    args = [a.format(not_a_cartridge=not_a_cartridge) for a in args]
    result = run_tool(tool, *args, "--frames", "5", cwd=tmp_path)
    assert result.returncode != 0
    assert result.stderr.count("\n") == 1 and complaint in result.stderr
    assert "Traceback" not in result.stderr and result.stdout == ""


@pytest.mark.parametrize("args, complaint", [
    (["--png", "no/such/folder/x.png"], "does not exist"),
    (["--wav", "."], "is a folder"),
    (["-n", "0"], "not a positive number"),
    (["--gif", "run.jpg"], "a GIF file needs a name ending in .gif"),
    (["--png", "last.gif"], "a PNG file needs a name ending in .png"),
    (["--wav", "sound"], "ending in .wav"),
])
def test_recorder_refuses_unusable_outputs_before_running(tmp_path, args, complaint):
    out = tmp_path / "out"
    out.mkdir()
    result = run_tool("recorder", *args, cwd=out)
    assert result.returncode != 0
    assert result.stderr.count("\n") == 1 and complaint in result.stderr
    assert list(out.iterdir()) == []


@pytest.mark.parametrize("args, name", [
    (["-n", "60", "game.nes"], "game"),                 # options before the cartridge
    (["--input", "1-60:right", "-n60", "roms/My Game.nes"], "My Game"),
    (["--frames=60", "--accuracy", "hardware", "x.y.nes", "--scale", "2"], "x.y"),
    (["game.nes", "-n", "60"], "game"),
    (["-n", "60", "--input", "game.nes"], "demo"),      # an option's value, not a cartridge
    (["-n", "sixty", "game.nes"], "demo"),              # refused: the recorder says why
    (["--help"], "demo"),
    ([], "demo"),
])
def test_main_sh_names_its_outputs_after_the_cartridge_wherever_it_stands(args, name, capsys):
    assert recorder.output_name(args) == name
    assert capsys.readouterr() == ("", "")


@pytest.mark.parametrize("tool", ["recorder", "player"])
def test_a_board_that_is_not_emulated_gets_one_warning(tool, tmp_path):
    if tool == "player":
        pytest.importorskip("pygame")
    rom = tmp_path / "namco163.nes"
    rom.write_bytes(b"NES\x1a\x01\x00\x30\x10" + bytes(8) + bytes(16384))
    result = run_tool(tool, str(rom), "--frames", "2", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stderr.count("\n") == 1
    assert "warning" in result.stderr and "mapper 19, which is not emulated" in result.stderr


def test_player_without_a_display_says_so_in_one_line(tmp_path):
    pytest.importorskip("pygame")
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER")}
    result = subprocess.run([sys.executable, "-m", "vandrel_tools.player", "--frames", "2"],
                            capture_output=True, text=True, cwd=tmp_path, env=env, timeout=120)
    assert result.returncode != 0
    assert result.stderr.count("\n") == 1 and "no display" in result.stderr


# ---------------------------------------------------------------- vandrel-play

def test_player_runs_headless_and_reports(tmp_path):
    pytest.importorskip("pygame")
    result = run_tool("player", "--frames", "90", "--input", "1-90:right", "--accuracy",
                      "hardware", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "the built-in demo (hardware accuracy): played 90 frames" in result.stdout
    assert result.stderr == ""


@pytest.fixture
def player(tmp_path, monkeypatch):
    """A player window on the dummy video and audio drivers, stepped by the test."""
    pytest.importorskip("pygame")
    for name, value in HEADLESS.items():
        monkeypatch.setenv(name, value)
    from vandrel_tools import cartridge, player
    args = player.build_parser().parse_args(["--scale", "2", "--screenshot-dir", str(tmp_path)])
    demo_cartridge, nes = cartridge.load_cartridge(None, "vandrel-play")
    window = player.Player(demo_cartridge, nes, args, inputs.InputScript.parse("1-60:right"))
    yield window
    window.close()


def test_player_reset_keeps_the_mode(tmp_path, monkeypatch):
    pytest.importorskip("pygame")
    for name, value in HEADLESS.items():
        monkeypatch.setenv(name, value)
    import pygame
    from vandrel_tools import player
    args = player.build_parser().parse_args(["--accuracy", "hardware"])
    window = player.Player(*cartridge.load_cartridge(None, player.PROG, args.accuracy), args)
    try:
        first = window.nes
        window.handle_key(pygame.K_F1)
        assert window.nes is not first and window.nes.accuracy == first.accuracy == "hardware"
    finally:
        window.close()


def window_picture(window):
    import pygame
    return pygame.surfarray.array3d(window.window).transpose(1, 0, 2)


def test_player_window_shows_the_picture_with_crisp_pixels(player):
    for _ in range(30):
        player.step()
    player.present()
    shown = window_picture(player)
    assert shown.shape == (480, 512, 3)
    assert np.array_equal(shown, player.nes.getImg().repeat(2, axis=0).repeat(2, axis=1))


def test_player_scripted_buttons_move_the_hero(player, tmp_path):
    import pygame
    for _ in range(20):
        player.step()
    player.handle_key(pygame.K_F12)
    for _ in range(30):
        player.step()
    player.handle_key(pygame.K_F12)
    first, last = sorted(tmp_path.glob("demo-*.png"))
    (x0, _), (x1, _) = hero_position(first), hero_position(last)
    assert x1 - x0 == pytest.approx(30, abs=0.5)


def test_player_save_load_and_reset(player):
    import pygame
    for _ in range(40):
        player.step()
    player.handle_key(pygame.K_3)
    player.handle_key(pygame.K_F5)
    saved = player.nes.cpuMem()[:0x800].copy()
    for _ in range(20):
        player.step()
    assert not np.array_equal(player.nes.cpuMem()[:0x800], saved)
    player.handle_key(pygame.K_F9)
    assert np.array_equal(player.nes.cpuMem()[:0x800], saved)
    player.handle_key(pygame.K_4)
    player.handle_key(pygame.K_F9)
    assert "slot 4 is empty" in player.message
    player.handle_key(pygame.K_F1)
    assert player.nes.frameCount() == 0


def test_gamepad_layout():
    pytest.importorskip("pygame")
    from vandrel_tools.player import gamepad_buttons

    class Pad:
        def __init__(self, buttons=(), hat=(0, 0), stick=(0.0, 0.0)):
            self.buttons, self.hat, self.stick = set(buttons), hat, stick

        def get_numbuttons(self): return 8
        def get_button(self, n): return n in self.buttons
        def get_numhats(self): return 1
        def get_hat(self, n): return self.hat
        def get_numaxes(self): return 2
        def get_axis(self, n): return self.stick[n]

    assert gamepad_buttons(Pad([0, 7])) == [True, False, False, True, False, False, False, False]
    assert gamepad_buttons(Pad([2, 6], hat=(1, 1))) == [False, True, True, False, True, False, False, True]
    assert gamepad_buttons(Pad(stick=(-0.9, 0.8))) == [False] * 5 + [True, True, False]
    assert gamepad_buttons(Pad(stick=(0.3, -0.3))) == [False] * 8


@pytest.mark.parametrize("command, module", [("record", "tqdm"), ("play", "pygame")])
def test_commands_without_the_tools_extra_say_so_in_one_line(command, module, monkeypatch, capsys):
    import sys

    from vandrel_tools import commands
    for name in list(sys.modules):
        if name.startswith(("vandrel_tools.recorder", "vandrel_tools.player", "vandrel_tools.media")):
            monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, module, None)  # an import of it now fails
    assert getattr(commands, command)() == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and "pip install '.[tools]'" in err
