// Written by scripts/docstrings.py from src/bindings/vandrel.pyi; edit the stubs,
// not this file.
#pragma once

namespace vandrel::docs {

inline constexpr char const MODULE[] =
    "An NES emulator: a console (\"NES\") built from an iNES cartridge, and controllers.";
inline constexpr char const CONVERSIONERROR_CLASS[] =
    "A value vandrel converts itself is of a type it cannot take: an element of\n"
    "updateInputs' list that is no truth value, a file object's read() that returns no\n"
    "bytes or a name that is no path, a setButtons mask that is no integer, a path, a\n"
    "field of a pickled console. Both a TypeError and a RuntimeError, so that callers\n"
    "catching either see it.";
inline constexpr char const UNSUPPORTEDBOARDWARNING_CLASS[] =
    "Issued when a console (or a vandrel_gym batch) is built for a cartridge whose\n"
    "mapper number has no emulated board: it loads with nothing mapped, so its picture\n"
    "and sound are wrong. The message names the mapper number.";
inline constexpr char const NES_CLASS[] =
    "One console. Construction runs the cartridge's reset code path up to the first\n"
    "instruction; step it with runFrame() or run it in real time with start().";
inline constexpr char const NES_DUNDER_INIT_0[] =
    "A console from an iNES file. OSError if it cannot be read, ValueError if it is\n"
    "not a usable iNES image. CLOCK_SPEED: the CPU cycles per second the run thread of\n"
    "start() keeps to (runFrame ignores it). accuracy=\"hardware\" follows the console\n"
    "cycle by cycle; \"fast\" (the default) steps whole instructions. ValueError for any\n"
    "other mode. UnsupportedBoardWarning when the cartridge's board is not emulated.";
inline constexpr char const NES_DUNDER_INIT_1[] =
    "A console with the built-in blank cartridge. CLOCK_SPEED, here the only\n"
    "positional argument, is the CPU cycles per second the run thread of start() keeps\n"
    "to, not a cartridge: NES(5) runs the blank cartridge at 5 cycles a second.";
inline constexpr char const NES_DUNDER_INIT_2[] =
    "A console from the bytes an open file object's read() returns (its name names\n"
    "the save folder); ConversionError when read() returns no bytes or the name is\n"
    "no path.";
inline constexpr char const NES_ACCURACY[] =
    "The mode the console was built with: \"fast\" or \"hardware\".";
inline constexpr char const NES_MAPPERNUMBER[] =
    "The cartridge's iNES mapper number (0 for the blank cartridge).";
inline constexpr char const NES_BOARDSUPPORTED[] =
    "Whether the cartridge's board is emulated; False for a mapper number that\n"
    "loads with nothing mapped (see UnsupportedBoardWarning).";
inline constexpr char const NES_RESET[] =
    "Presses the reset button: the CPU runs its reset sequence from the reset\n"
    "vector (A, X, Y kept, S down by 3, I set), the PPU and the APU take their reset\n"
    "lines; RAM and the cartridge's registers are kept. RuntimeError as runFrame, but\n"
    "allowed from the console's own per-frame callable.";
inline constexpr char const NES_CPUMEM[] =
    "A live, writable view of the 64 KiB CPU address space (no bus effects).";
inline constexpr char const NES_PPUMEM[] = "A live, writable view of video memory $0000-$3FFF.";
inline constexpr char const NES_OAM[] = "A live, writable view of the 256 bytes of sprite memory.";
inline constexpr char const NES_GETIMG[] =
    "The last finished picture: a live (240, 256, 3) RGB view.";
inline constexpr char const NES_COLORLOOKUP[] =
    "A writable (64, 3) copy of the colour table; changing it changes no picture.";
inline constexpr char const NES_GETAUDIO[] =
    "The latest block of 1024 16-bit little-endian samples at 44100 Hz, with\n"
    "split_channels also one block per channel (pulse 1, pulse 2, triangle, noise,\n"
    "DMC, then the cartridge's own sound channels together if it has any); [b\"\"]\n"
    "when no new block is ready.";
inline constexpr char const NES_START[] =
    "Runs the console in real time on its own thread. RuntimeError when it has a\n"
    "run thread already, or when called from its own per-frame callable; waits for a\n"
    "runFrame in progress on another thread.";
inline constexpr char const NES_STOP[] =
    "Ends the run thread and writes battery RAM; RuntimeError when there was no\n"
    "run thread (after writing battery RAM). From the console's own per-frame\n"
    "callable, the thread ends (and writes battery RAM) when the callable returns.\n"
    "Concurrent stops take turns; OSError when battery RAM cannot be written.";
inline constexpr char const NES_SAVESTATE[] =
    "Writes save-state slot `slot` in the save folder. RuntimeError while another\n"
    "thread steps the console (allowed from its own per-frame callable); OSError\n"
    "when the file cannot be written.";
inline constexpr char const NES_LOADSTATE[] =
    "Restores save-state slot `slot`; False when there is no usable state there.\n"
    "RuntimeError while another thread steps the console (allowed from its own\n"
    "per-frame callable).";
inline constexpr char const NES_SETPAUSED[] =
    "Holds or releases the run thread. Pausing returns once the thread has\n"
    "finished its step (from the console's own per-frame callable: takes effect when\n"
    "the callable returns).";
inline constexpr char const NES_SETSAVEDIR[] =
    "Moves save states to an existing entry; False (and no change) otherwise.\n"
    "ValueError for a path containing a NUL character.";
inline constexpr char const NES_GETSAVEDIR[] =
    "The folder save states go to: $HOME/.config/Tamberlo/<name> unless setSaveDir\n"
    "moved them.";
inline constexpr char const NES_SETCONTROLLER[] =
    "Plugs a controller into port 0 ($4016) or 1 ($4017); the console keeps it alive\n"
    "while it is plugged. ValueError for any other port.";
inline constexpr char const NES_FRAMECOUNT[] = "Frames completed since the console was built.";
inline constexpr char const NES_CYCLECOUNT[] =
    "CPU cycles since the console was built (or the last reset).";
inline constexpr char const NES_RUNFRAME[] =
    "Steps until the next frame is complete. RuntimeError, changing nothing,\n"
    "while the run thread steps, while another thread steps the console, or from its\n"
    "own per-frame callable.";
inline constexpr char const NES_RUNFRAMES[] =
    "Steps `count` frames without holding the interpreter lock (the per-frame\n"
    "callable takes it back for each call); returns when the last frame is complete.\n"
    "The same frames as `count` runFrame calls. RuntimeError as runFrame; ValueError\n"
    "for a negative count. Called from the main thread with Python's own SIGINT\n"
    "handler, Ctrl-C ends it after the frame in progress with KeyboardInterrupt: the\n"
    "console is left whole, frameCount() counting the frames that ran.";
inline constexpr char const NES_GETSTATE[] =
    "The state record that saveState writes, taken now: 82189 bytes, and the\n"
    "board's trailer for boards that keep more (MMC5, and Action 53 or UNROM 512 with\n"
    "CHR RAM). RuntimeError\n"
    "while another thread steps the console (allowed from its own per-frame\n"
    "callable).";
inline constexpr char const NES_SETSTATE[] =
    "Applies a state record from getState or a saveState file, of either accuracy\n"
    "mode (it holds no timing), validated as loadState validates a file; ValueError\n"
    "(console unchanged) when it is not usable, TypeError when `data` is not\n"
    "bytes-like, RuntimeError as getState.";
inline constexpr char const NES_SAVEBATTERY[] =
    "Writes the cartridge's battery RAM to its save folder now (the whole-file write\n"
    "stop() makes): True when the cartridge has a battery, False (nothing written)\n"
    "when it has none. OSError when the file cannot be written (the previous save is\n"
    "kept), RuntimeError while another thread steps the console.";
inline constexpr char const NES_GETSNAPSHOT[] =
    "The console's whole state (every chip mid-frame, the sound not yet fetched)\n"
    "and its accuracy mode: a console of the same cartridge and mode restored from it\n"
    "continues exactly as this one. It names the cartridge's banks instead of copying\n"
    "them, so its length depends on the state. picture=False leaves out the last\n"
    "finished picture: after restoring such a snapshot, getImg shows the next frame\n"
    "finished. With into=, a writable buffer (bytearray, memoryview, NumPy array)\n"
    "receives it in its first bytes instead and the count is returned; ValueError,\n"
    "nothing written, when the buffer is shorter. RuntimeError as getState.";
inline constexpr char const NES_SETSNAPSHOT[] =
    "Restores a snapshot from getSnapshot; ValueError (console unchanged) when it is\n"
    "damaged, of another cartridge, of the other accuracy mode or of a format this\n"
    "version does not read (the message names it), RuntimeError as getState.";
inline constexpr char const NES_PERFRAME[] =
    "Calls `callback` once per completed frame, on the thread that steps, replacing\n"
    "the previous one. None is taken, but the next frame then raises RuntimeError.";
inline constexpr char const CONTROLLER_CLASS[] =
    "A standard controller whose buttons the program sets.";
inline constexpr char const CONTROLLER_UPDATEINPUTS[] =
    "Sets A, B, Select, Start, Up, Down, Left, Right from the first eight elements;\n"
    "ConversionError, buttons unchanged, for an element that is no truth value.";
inline constexpr char const CONTROLLER_SETBUTTONS[] =
    "Sets all eight buttons from one integer: bit 0 A, 1 B, 2 Select, 3 Start,\n"
    "4 Up, 5 Down, 6 Left, 7 Right. ValueError outside 0-255, ConversionError for\n"
    "anything but an integer.";
inline constexpr char const CONTROLLER_GETBUTTONS[] =
    "The buttons held, as the mask setButtons takes. Copies and pickles keep them.";

} // namespace vandrel::docs
