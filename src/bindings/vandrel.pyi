"""An NES emulator: a console ("NES") built from an iNES cartridge, and controllers."""

import os
from typing import BinaryIO, Callable, Literal, Protocol, SupportsIndex, SupportsInt, overload

import numpy as np
import numpy.typing as npt

_Int = SupportsInt | SupportsIndex
_Accuracy = Literal["fast", "hardware"]
_Path = str | bytes | bytearray | os.PathLike[str] | os.PathLike[bytes]

class ConversionError(TypeError, RuntimeError):
    """A value vandrel converts itself is of a type it cannot take: an element of
    updateInputs' list that is no truth value, a file object's read() that returns no
    bytes or a name that is no path, a setButtons mask that is no integer, a path, a
    field of a pickled console. Both a TypeError and a RuntimeError, so that callers
    catching either see it."""

class UnsupportedBoardWarning(UserWarning):
    """Issued when a console (or a vandrel_gym batch) is built for a cartridge whose
    mapper number has no emulated board: it loads with nothing mapped, so its picture
    and sound are wrong. The message names the mapper number."""

class _CartridgeFile(Protocol):
    """Anything with a name (for the save folder) and a read() returning the image. A
    read that takes a size is asked for one byte more than the largest iNES image, and
    more than that is refused."""

    @property
    def name(self) -> str | bytes | bytearray: ...
    def read(self) -> bytes | bytearray | str: ...

class NES:
    """One console. Construction runs the cartridge's reset code path up to the first
    instruction; step it with runFrame() or run it in real time with start()."""

    @overload
    def __init__(
        self, rom_name: _Path, CLOCK_SPEED: _Int = 1789773, *, accuracy: _Accuracy = "fast"
    ) -> None:
        """A console from an iNES file. OSError if it cannot be read, ValueError if it is
        not a usable iNES image. CLOCK_SPEED: the CPU cycles per second the run thread of
        start() keeps to (runFrame ignores it). accuracy="hardware" follows the console
        cycle by cycle; "fast" (the default) steps whole instructions. ValueError for any
        other mode. UnsupportedBoardWarning when the cartridge's board is not emulated."""
    @overload
    def __init__(self, CLOCK_SPEED: _Int = 1789773, *, accuracy: _Accuracy = "fast") -> None:
        """A console with the built-in blank cartridge. CLOCK_SPEED, here the only
        positional argument, is the CPU cycles per second the run thread of start() keeps
        to, not a cartridge: NES(5) runs the blank cartridge at 5 cycles a second."""
    @overload
    def __init__(
        self,
        rom_file: _CartridgeFile | BinaryIO,
        CLOCK_SPEED: _Int = 1789773,
        *,
        accuracy: _Accuracy = "fast",
    ) -> None:
        """A console from the bytes an open file object's read() returns (its name names
        the save folder); ConversionError when read() returns no bytes or the name is
        no path."""
    @property
    def accuracy(self) -> _Accuracy:
        """The mode the console was built with: "fast" or "hardware"."""
    @property
    def mapperNumber(self) -> int:
        """The cartridge's iNES mapper number (0 for the blank cartridge)."""
    @property
    def boardSupported(self) -> bool:
        """Whether the cartridge's board is emulated; False for a mapper number that
        loads with nothing mapped (see UnsupportedBoardWarning)."""
    def reset(self) -> None:
        """Presses the reset button: the CPU runs its reset sequence from the reset
        vector (A, X, Y kept, S down by 3, I set), the PPU and the APU take their reset
        lines; RAM and the cartridge's registers are kept. RuntimeError as runFrame, but
        allowed from the console's own per-frame callable."""
    def cpuMem(self) -> npt.NDArray[np.uint8]:
        """A live, writable view of the 64 KiB CPU address space (no bus effects)."""
    def ppuMem(self) -> npt.NDArray[np.uint8]:
        """A live, writable view of video memory $0000-$3FFF."""
    def OAM(self) -> npt.NDArray[np.uint8]:
        """A live, writable view of the 256 bytes of sprite memory."""
    def getImg(self) -> npt.NDArray[np.uint8]:
        """The last finished picture: a live (240, 256, 3) RGB view."""
    def colorLookup(self) -> npt.NDArray[np.uint8]:
        """A writable (64, 3) copy of the colour table; changing it changes no picture."""
    def getAudio(self, split_channels: bool = False) -> list[bytes]:
        """The latest block of 1024 16-bit little-endian samples at 44100 Hz, with
        split_channels also one block per channel (pulse 1, pulse 2, triangle, noise,
        DMC, then the cartridge's own sound channels together if it has any); [b""]
        when no new block is ready."""
    def start(self) -> None:
        """Runs the console in real time on its own thread. RuntimeError when it has a
        run thread already, or when called from its own per-frame callable; waits for a
        runFrame in progress on another thread."""
    def stop(self) -> None:
        """Ends the run thread and writes battery RAM; RuntimeError when there was no
        run thread (after writing battery RAM). From the console's own per-frame
        callable, the thread ends (and writes battery RAM) when the callable returns.
        Concurrent stops take turns; OSError when battery RAM cannot be written."""
    def saveState(self, slot: _Int, /) -> None:
        """Writes save-state slot `slot` in the save folder. RuntimeError while another
        thread steps the console (allowed from its own per-frame callable); OSError
        when the file cannot be written."""
    def loadState(self, slot: _Int, /) -> bool:
        """Restores save-state slot `slot`; False when there is no usable state there.
        RuntimeError while another thread steps the console (allowed from its own
        per-frame callable)."""
    def setPaused(self, paused: bool, /) -> None:
        """Holds or releases the run thread. Pausing returns once the thread has
        finished its step (from the console's own per-frame callable: takes effect when
        the callable returns)."""
    def setSaveDir(self, path: _Path, /) -> bool:
        """Moves save states to an existing entry; False (and no change) otherwise.
        ValueError for a path containing a NUL character."""
    def getSaveDir(self) -> str:
        """The folder save states go to: $HOME/.config/Tamberlo/<name> unless setSaveDir
        moved them."""
    def setController(self, controller: Controller, port: _Int, /) -> None:
        """Plugs a controller into port 0 ($4016) or 1 ($4017); the console keeps it alive
        while it is plugged. ValueError for any other port."""
    def frameCount(self) -> int:
        """Frames completed since the console was built."""
    def cycleCount(self) -> int:
        """CPU cycles since the console was built (or the last reset)."""
    def runFrame(self) -> None:
        """Steps until the next frame is complete. RuntimeError, changing nothing,
        while the run thread steps, while another thread steps the console, or from its
        own per-frame callable."""
    def runFrames(self, count: _Int = 1) -> None:
        """Steps `count` frames without holding the interpreter lock (the per-frame
        callable takes it back for each call); returns when the last frame is complete.
        The same frames as `count` runFrame calls. RuntimeError as runFrame; ValueError
        for a negative count. Called from the main thread with Python's own SIGINT
        handler, Ctrl-C ends it after the frame in progress with KeyboardInterrupt: the
        console is left whole, frameCount() counting the frames that ran."""
    def getState(self) -> bytes:
        """The state record that saveState writes, taken now: 82189 bytes, and the
        board's trailer for boards that keep more (MMC5, and Action 53 or UNROM 512 with
        CHR RAM). RuntimeError
        while another thread steps the console (allowed from its own per-frame
        callable)."""
    def setState(self, data: bytes | bytearray | memoryview | npt.NDArray[np.uint8]) -> None:
        """Applies a state record from getState or a saveState file, of either accuracy
        mode (it holds no timing), validated as loadState validates a file; ValueError
        (console unchanged) when it is not usable, TypeError when `data` is not
        bytes-like, RuntimeError as getState."""
    def saveBattery(self) -> bool:
        """Writes the cartridge's battery RAM to its save folder now (the whole-file write
        stop() makes): True when the cartridge has a battery, False (nothing written)
        when it has none. OSError when the file cannot be written (the previous save is
        kept), RuntimeError while another thread steps the console."""
    @overload
    def getSnapshot(self, *, into: None = None, picture: bool = True) -> bytes: ...
    @overload
    def getSnapshot(
        self, *, into: bytearray | memoryview | npt.NDArray[np.uint8], picture: bool = True
    ) -> int:
        """The console's whole state (every chip mid-frame, the sound not yet fetched)
        and its accuracy mode: a console of the same cartridge and mode restored from it
        continues exactly as this one. It names the cartridge's banks instead of copying
        them, so its length depends on the state. picture=False leaves out the last
        finished picture: after restoring such a snapshot, getImg shows the next frame
        finished. With into=, a writable buffer (bytearray, memoryview, NumPy array)
        receives it in its first bytes instead and the count is returned; ValueError,
        nothing written, when the buffer is shorter. RuntimeError as getState."""
    def setSnapshot(self, data: bytes | bytearray | memoryview | npt.NDArray[np.uint8]) -> None:
        """Restores a snapshot from getSnapshot; ValueError (console unchanged) when it is
        damaged, of another cartridge, of the other accuracy mode or of a format this
        version does not read (the message names it), RuntimeError as getState."""
    def __getstate__(self) -> tuple[object, ...]:
        """For copy and pickle: the cartridge image, its save-folder name, the clock speed,
        the snapshot (with the accuracy mode the copy is built in), the save folder, the
        colour table and the plugged controllers. The per-frame callable and the run
        thread are not copied."""
    def __setstate__(self, state: tuple[object, ...]) -> None: ...
    def perFrame(self, callback: Callable[[], object] | None, /) -> None:
        """Calls `callback` once per completed frame, on the thread that steps, replacing
        the previous one. None is taken, but the next frame then raises RuntimeError."""

class Controller:
    """A standard controller whose buttons the program sets."""

    def __init__(self) -> None: ...
    def updateInputs(self, buttons: list[bool] | list[int] | list[object], /) -> None:
        """Sets A, B, Select, Start, Up, Down, Left, Right from the first eight elements;
        ConversionError, buttons unchanged, for an element that is no truth value."""
    def setButtons(self, mask: SupportsIndex, /) -> None:
        """Sets all eight buttons from one integer: bit 0 A, 1 B, 2 Select, 3 Start,
        4 Up, 5 Down, 6 Left, 7 Right. ValueError outside 0-255, ConversionError for
        anything but an integer."""
    def getButtons(self) -> int:
        """The buttons held, as the mask setButtons takes. Copies and pickles keep them."""
