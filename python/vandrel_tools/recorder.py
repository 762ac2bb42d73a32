"""vandrel-record: run a cartridge without a window and keep its pictures and sound."""
import argparse
import contextlib
import io
import pathlib
import sys
import time

import tqdm
import vandrel

from . import inputs, media
from .cartridge import (FRAME_RATE, OneLineParser, ToolError, add_accuracy_option,
                        load_cartridge, positive_number, run_command)

PROG = "vandrel-record"
PROGRESS_FROM = 300             # runs this long (5 s of play) get a progress bar

EPILOG = f"""\
input scripts:
{inputs.__doc__.split(chr(10), 2)[2]}
examples:
  {PROG} --png last.png --gif run.gif --wav run.wav
  {PROG} game.nes -n 1800 --mp4 run.mp4 --scale 3
  {PROG} -n 300 -i "1-120:right, 60:a, 150-:left+b" --png-dir frames --png-every 30
"""


def build_parser():
    parser = OneLineParser(
        prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter, epilog=EPILOG,
        description="Run an NES cartridge headless for a number of frames, with optional\n"
                    "scripted buttons, and write its pictures and sound. Prints the frames\n"
                    "per second it achieved.")
    parser.add_argument("cartridge", nargs="?", help="iNES file to run (default: the built-in demo)")
    parser.add_argument("-n", "--frames", type=positive_number, default=600, metavar="N",
                        help="frames to run, 60 a second (default 600)")
    parser.add_argument("-i", "--input", metavar="SCRIPT",
                        help="buttons to press, as a script or @FILE (see below)")
    parser.add_argument("--scale", type=int, choices=range(1, 9), default=1, metavar="{1..8}",
                        help="enlarge PNG, GIF and MP4 pictures this many times (default 1)")
    parser.add_argument("--no-progress", action="store_true", help="no progress bar")
    add_accuracy_option(parser)
    outputs = parser.add_argument_group("outputs (any mix; none just measures the speed)")
    outputs.add_argument("--png", metavar="FILE", help="the last frame as a PNG picture")
    outputs.add_argument("--png-dir", metavar="DIR", help="every K-th frame as DIR/frame_NNNNNN.png")
    outputs.add_argument("--png-every", type=positive_number, default=60, metavar="K",
                         help="K for --png-dir (default 60, once a second)")
    outputs.add_argument("--gif", metavar="FILE",
                         help="an animated GIF of the run (held in memory until the end: "
                              "for clips of a minute or two)")
    outputs.add_argument("--gif-every", type=positive_number, default=2, metavar="K",
                         help="keep every K-th frame in the GIF (default 2, 30 a second)")
    outputs.add_argument("--mp4", metavar="FILE",
                         help="an H.264 video of the run with its sound (needs the video extra: imageio-ffmpeg)")
    outputs.add_argument("--wav", metavar="FILE", help="the sound, 44.1 kHz 16-bit mono WAV")
    return parser


class Outputs:
    """Everything the run writes, fed frame by frame."""

    def __init__(self, args):
        """Checks every output path, so that a run does not fail at its end."""
        self.args = args
        self.written = []
        self.png = args.png and media.check_output_file(args.png, ".png")
        self.gif_path = args.gif and media.check_output_file(args.gif, ".gif")
        self.mp4_path = args.mp4 and media.check_output_file(args.mp4, ".mp4")
        self.wav_path = args.wav and media.check_output_file(args.wav, ".wav")
        if self.mp4_path:
            media.check_mp4_support()
        self.png_dir = args.png_dir and media.prepare_folder(args.png_dir)
        self.gif = self.mp4 = self.wav = None
        self.samples = 0

    def open(self, colours):
        """Starts the recorders; `colours` is the console's colour table."""
        args = self.args
        # The video's sound goes through a WAV file: the one asked for, or a hidden one.
        self.hidden_wav = bool(self.mp4_path and not self.wav_path)
        wav_path = self.wav_path
        if self.hidden_wav:
            wav_path = media.staging_name(self.mp4_path).with_suffix(".wav")
        self.gif = self.gif_path and media.GifRecorder(self.gif_path, colours, args.gif_every, args.scale)
        self.mp4 = self.mp4_path and media.Mp4Recorder(self.mp4_path, args.scale)
        self.wav = wav_path and media.WavRecorder(wav_path)

    def add(self, number, frame, sound):
        if self.png_dir and number % self.args.png_every == 0:
            media.write_png(self.png_dir / f"frame_{number:06d}.png", frame, self.args.scale)
        if self.gif and number % self.args.gif_every == 0:
            self.gif.add(frame)
        if self.mp4:
            self.mp4.add(frame)
        if self.wav and sound:
            self.wav.add(sound)
            self.samples += len(sound) // media.SAMPLE_BYTES

    def finish(self, last_frame):
        if self.png:
            media.write_png(self.png, last_frame, self.args.scale)
            self.written.append(self.png)
        if self.png_dir:
            self.written.append(self.png_dir)
        if self.gif:
            self.gif.finish()
            self.written.append(self.gif.path)
        if self.wav:
            self.wav.finish()
            if not self.hidden_wav:
                self.written.append(self.wav.path)
        if self.mp4:
            try:
                self.mp4.finish(self.wav.path if self.samples else None)
            finally:
                if self.hidden_wav:
                    self.wav.path.unlink(missing_ok=True)
            self.written.append(self.mp4.path)

    def abandon(self):
        """Removes the partial files of a run that did not finish."""
        for recorder in (self.mp4, self.wav):
            if recorder:
                recorder.abandon()


def record(args):
    try:
        script = inputs.load_script(args.input)
    except inputs.ScriptError as error:
        raise ToolError(str(error)) from None
    outputs = Outputs(args)
    cartridge, nes = load_cartridge(args.cartridge, PROG, args.accuracy)
    pads = (vandrel.Controller(), vandrel.Controller())
    for port, pad in enumerate(pads):
        nes.setController(pad, port)
    sound = media.SoundStream(nes)
    outputs.open(nes.colorLookup())
    frames = range(1, args.frames + 1)
    show_progress = not args.no_progress and args.frames >= PROGRESS_FROM
    started = time.perf_counter()
    try:
        for number in tqdm.tqdm(frames, unit="frame", disable=None if show_progress else True,
                                file=sys.stderr, desc=PROG):
            for pad, buttons in zip(pads, script.buttons(number)):
                pad.updateInputs(buttons)
            nes.runFrame()
            outputs.add(number, nes.getImg(), sound.poll())
        elapsed = time.perf_counter() - started
        outputs.finish(nes.getImg())
    except BaseException:
        outputs.abandon()
        raise
    report(cartridge, args.frames, elapsed, outputs.written)
    return 0


def report(cartridge, frames, elapsed, written):
    rate = frames / elapsed
    print(f"{cartridge.describe()}: {frames} frames in {elapsed:.2f} s, "
          f"{rate:.1f} frames per second ({rate / FRAME_RATE:.1f}x real time)")
    for path in written:
        print(f"wrote {path}")


def output_name(argv):
    """The name scripts/main.sh gives the files it writes for the recorder arguments
    `argv`: the cartridge file's name without its last extension, wherever it stands
    among the options, or "demo" for the built-in cartridge and for arguments the
    recorder refuses (it says why itself)."""
    try:
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
            cartridge = build_parser().parse_args(argv).cartridge
    except SystemExit:
        return "demo"
    return pathlib.PurePath(cartridge).stem if cartridge else "demo"


def main(argv=None):
    args = build_parser().parse_args(argv)
    return run_command(PROG, lambda: record(args))


if __name__ == "__main__":
    sys.exit(main())
