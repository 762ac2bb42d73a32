"""Pictures and sound out of a console, and the files they go into.

Every file is first written under a temporary name in its own folder and renamed into
place only when it is complete, so an output file is there whole or not at all.
"""
import contextlib
import os
import pathlib
import secrets
import subprocess
import wave

import numpy as np
from PIL import Image

from .cartridge import FRAME_RATE, ToolError

SAMPLE_RATE = 44100
SAMPLE_BYTES = 2                # 16-bit signed little-endian, mono


def check_output_file(path, extension):
    """Fails before a run, rather than after it, when `path` cannot be written or its
    extension names another format than the one written (`extension`, as ".png")."""
    path = pathlib.Path(path)
    if path.is_dir():
        raise ToolError(f"{path} is a folder, not a file name")
    if path.suffix.lower() != extension:
        raise ToolError(f"{path}: a {extension[1:].upper()} file needs a name ending in "
                        f"{extension}")
    if not path.parent.is_dir():
        raise ToolError(f"{path}: folder {path.parent} does not exist")
    if not os.access(path.parent, os.W_OK):
        raise ToolError(f"{path}: folder {path.parent} is not writable")
    return path


def prepare_folder(path):
    """Creates the output folder `path` (its parent must exist)."""
    path = pathlib.Path(path)
    try:
        path.mkdir(exist_ok=True)
    except OSError as error:
        raise ToolError(f"cannot create folder {path}: {error.strerror}") from None
    if not os.access(path, os.W_OK):
        raise ToolError(f"folder {path} is not writable")
    return path


def staging_name(path):
    """A temporary name beside `path` with the same extension (encoders go by it)."""
    path = pathlib.Path(path)
    return path.with_name(f".{path.stem}.{secrets.token_hex(4)}.partial{path.suffix}")


@contextlib.contextmanager
def whole_file(path):
    """Yields a temporary path to write; it becomes `path` when the block succeeds
    and is removed when it fails."""
    temporary = staging_name(path)
    try:
        yield temporary
        os.replace(temporary, path)
    except BaseException:
        temporary.unlink(missing_ok=True)
        raise


def scaled(frame, scale):
    """The picture enlarged `scale` times with square, crisp pixels."""
    if scale == 1:
        return frame
    return frame.repeat(scale, axis=0).repeat(scale, axis=1)


def write_png(path, frame, scale=1):
    with whole_file(path) as temporary:
        Image.fromarray(scaled(frame, scale)).save(temporary, format="PNG")


class GifRecorder:
    """Collects frames for an animated GIF, written when the run is over.

    GIF frame times are whole hundredths of a second, so each frame's time is the
    rounded difference of the rounded start times: the frames keep in step with the
    run however the times divide."""

    def __init__(self, path, colours, frame_step, scale=1):
        self.path = path
        self.scale = scale
        self.frame_step = frame_step
        self.frames = []
        self.palette = _palette_image(colours)

    def add(self, frame):
        picture = Image.fromarray(scaled(frame, self.scale))
        self.frames.append(picture.quantize(palette=self.palette, dither=Image.Dither.NONE))

    def finish(self):
        if not self.frames:
            return
        with whole_file(self.path) as temporary:
            self.frames[0].save(temporary, format="GIF", save_all=True, append_images=self.frames[1:],
                                duration=self._durations(), loop=0)

    def _durations(self):
        step = self.frame_step / FRAME_RATE
        starts = [round(i * step * 100) for i in range(len(self.frames) + 1)]
        return [10 * (b - a) for a, b in zip(starts, starts[1:])]


def _palette_image(colours):
    """A palette image holding the console's colours, so frames map to it exactly."""
    palette = np.zeros((256, 3), np.uint8)
    palette[:len(colours)] = colours
    image = Image.new("P", (1, 1))
    image.putpalette(palette.tobytes())
    return image


class WavRecorder:
    """Streams 16-bit mono samples into a WAV file."""

    def __init__(self, path):
        self.path = path
        self.temporary = staging_name(path)
        self.file = wave.open(str(self.temporary), "wb")
        self.file.setnchannels(1)
        self.file.setsampwidth(SAMPLE_BYTES)
        self.file.setframerate(SAMPLE_RATE)

    def add(self, samples):
        self.file.writeframes(samples)

    def finish(self):
        self.file.close()
        os.replace(self.temporary, self.path)

    def abandon(self):
        self.file.close()
        self.temporary.unlink(missing_ok=True)


class Mp4Recorder:
    """Encodes frames to H.264 as they come; at the end the sound, if any, is added
    as AAC. Needs the imageio-ffmpeg package, which brings its own ffmpeg."""

    def __init__(self, path, scale=1):
        imageio, self.ffmpeg = _load_ffmpeg()
        self.path = path
        self.video = staging_name(path)
        self.writer = imageio.get_writer(self.video, format="FFMPEG", fps=FRAME_RATE, codec="libx264",
                                         pixelformat="yuv420p", quality=8, macro_block_size=16,
                                         ffmpeg_log_level="error")
        self.scale = scale

    def add(self, frame):
        self.writer.append_data(scaled(frame, self.scale))

    def finish(self, wav_path=None):
        self.writer.close()
        try:
            if wav_path is None:
                os.replace(self.video, self.path)
                return
            with whole_file(self.path) as temporary:
                self._add_sound(wav_path, temporary)
        finally:
            self.video.unlink(missing_ok=True)

    def abandon(self):
        self.writer.close()
        self.video.unlink(missing_ok=True)

    def _add_sound(self, wav_path, output):
        command = [self.ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-i", str(self.video),
                   "-i", str(wav_path), "-c:v", "copy", "-c:a", "aac", "-b:a", "128k", str(output)]
        result = subprocess.run(command, capture_output=True, text=True)
        if result.returncode != 0:
            detail = (result.stderr.strip().splitlines() or [f"exit status {result.returncode}"])[-1]
            raise ToolError(f"ffmpeg could not add the sound to {self.path}: {detail}")


def check_mp4_support():
    _load_ffmpeg()


def mp4_available():
    try:
        check_mp4_support()
    except ToolError:
        return False
    return True


def _load_ffmpeg():
    try:
        import imageio.v2 as imageio
        import imageio_ffmpeg
    except ImportError:
        raise ToolError('MP4 output needs imageio-ffmpeg: pip install ".[video]" in the vandrel '
                        'checkout (or pip install imageio-ffmpeg)') from None
    return imageio, imageio_ffmpeg.get_ffmpeg_exe()


class SoundStream:
    """The console's sound as it is produced, block by block.

    A console publishes a block every 1024 samples, and the very first one, published
    before any sample is taken, is silence that belongs to no emulated time: it is
    dropped, so the stream starts with the console's first sample. Poll after every
    frame: at most one block becomes ready per frame, and an unfetched block is lost
    when the next one is published."""

    def __init__(self, nes):
        self.nes = nes
        self.started = False

    def poll(self):
        """The new block's bytes, or b"" when there is none."""
        block = self.nes.getAudio()[0]
        if block and not self.started:
            self.started = True
            return b""
        return block
