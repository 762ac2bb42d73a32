"""vandrel-play: play a cartridge in a window, with sound, keyboard and gamepads."""
import argparse
import os
import pathlib
import sys
import time

# pygame greets on import unless told not to; the player prints only what it means to.
os.environ.setdefault("PYGAME_HIDE_SUPPORT_PROMPT", "1")
import pygame  # noqa: E402
import vandrel  # noqa: E402

from . import inputs, media  # noqa: E402
from .cartridge import (FRAME_RATE, OneLineParser, ToolError,  # noqa: E402
                        add_accuracy_option, add_window_options, load_cartridge,
                        positive_number, run_command)

PROG = "vandrel-play"
WIDTH, HEIGHT = 256, 240
FAST_FORWARD = 4                # frames per displayed frame while fast-forwarding
MAX_LAG = 0.25                  # seconds the clock may fall behind before it gives up
MESSAGE_SECONDS = 2.5

KEYS_HELP = """\
keys:
  controller 1   arrows: D-pad   X: A   Z: B   Right Shift: Select   Enter: Start
  controller 2   W A S D: D-pad   G: A   F: B   R: Select   T: Start
  gamepads       the first is controller 1, the second controller 2: D-pad or left
                 stick; buttons 0: A, 1 or 2: B, 6: Select, 7: Start (Xbox layout)
  P or Pause     pause / resume
  Tab (hold)     fast-forward, 4x, without sound
  F1             reset: start the cartridge again from power-on
  0-9            choose the save-state slot (slot 1 at start)
  F5             save the state into the chosen slot
  F9             load the state from the chosen slot
  F12            screenshot: a PNG in the screenshot folder
  Esc            quit
"""

# Button order: A, B, Select, Start, Up, Down, Left, Right.
KEYBOARD = (
    (pygame.K_x, pygame.K_z, pygame.K_RSHIFT, pygame.K_RETURN,
     pygame.K_UP, pygame.K_DOWN, pygame.K_LEFT, pygame.K_RIGHT),
    (pygame.K_g, pygame.K_f, pygame.K_r, pygame.K_t,
     pygame.K_w, pygame.K_s, pygame.K_a, pygame.K_d),
)
GAMEPAD_BUTTONS = ((0,), (1, 2), (6,), (7,))
STICK_THRESHOLD = 0.5
SLOT_KEYS = {getattr(pygame, f"K_{digit}"): digit for digit in range(10)}


def build_parser():
    parser = OneLineParser(
        prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog=KEYS_HELP + "\ninput scripts (--input):\n" + inputs.__doc__.split("\n", 2)[2],
        description="Play an NES cartridge in a window with sound. Save states go to\n"
                    "$HOME/.config/Tamberlo/<cartridge name>/. In the built-in demo the\n"
                    "D-pad moves the hero, A and B make sounds and Start pauses.")
    parser.add_argument("cartridge", nargs="?", help="iNES file to play (default: the built-in demo)")
    add_window_options(parser)
    parser.add_argument("--frames", type=positive_number, metavar="N", help="quit after N frames")
    parser.add_argument("--input", metavar="SCRIPT",
                        help="scripted buttons, pressed along with the keys (see below)")
    add_accuracy_option(parser)
    return parser


def gamepad_buttons(joystick):
    """The eight NES buttons held on a pygame joystick (Xbox-style layout)."""
    def pressed(numbers):
        return any(n < joystick.get_numbuttons() and joystick.get_button(n) for n in numbers)

    hat_x, hat_y = joystick.get_hat(0) if joystick.get_numhats() else (0, 0)
    stick_x = joystick.get_axis(0) if joystick.get_numaxes() > 0 else 0.0
    stick_y = joystick.get_axis(1) if joystick.get_numaxes() > 1 else 0.0
    return [pressed(numbers) for numbers in GAMEPAD_BUTTONS] + [
        hat_y > 0 or stick_y < -STICK_THRESHOLD,
        hat_y < 0 or stick_y > STICK_THRESHOLD,
        hat_x < 0 or stick_x < -STICK_THRESHOLD,
        hat_x > 0 or stick_x > STICK_THRESHOLD,
    ]


class SoundOut:
    """Plays the console's sample blocks through the pygame mixer, and tells the
    player when to run the next frame.

    A mixer channel plays one sound and holds one more in its queue, which it starts
    without a gap; blocks wait in `pending` until the queue is free. The player runs a
    frame whenever less than AHEAD seconds of sound are ready, so the emulation keeps
    pace with the sound card's own clock and the sound never runs dry or piles up.
    Playback starts (and restarts after a stall) once START bytes are waiting."""

    START = 2 * 2048            # two blocks, 46 ms
    AHEAD = 0.07

    def __init__(self):
        pygame.mixer.init(frequency=media.SAMPLE_RATE, size=-16, channels=1, buffer=512)
        self.channel = pygame.mixer.Channel(0)
        self.pending = bytearray()
        self.playing_until = 0.0    # when the sound playing now ends, by our clock
        self.queued = 0.0           # seconds in the channel's queue

    def add(self, block):
        self.pending += block

    def needs_more(self):
        waiting = len(self.pending) / media.SAMPLE_BYTES / media.SAMPLE_RATE
        playing = max(0.0, self.playing_until - time.perf_counter())
        return playing + self.queued + waiting < self.AHEAD

    def pump(self):
        """Hands waiting sound to the channel; call it every few milliseconds."""
        now = time.perf_counter()
        queue = self.channel.get_queue()
        if not self.channel.get_busy() and queue is None:
            self.playing_until, self.queued = now, 0.0
            if len(self.pending) >= self.START:
                self.playing_until = now + self._send(self.channel.play)
            return
        # (Between one sound ending and the queued one starting, the channel briefly
        # reports nothing playing while its queue is still full.)
        if self.queued and queue is None:
            # The queued sound has just started: time it from now, which also corrects
            # any difference between our clock and the sound card's.
            self.playing_until, self.queued = now + self.queued, 0.0
        if not self.queued and self.pending:
            self.queued = self._send(self.channel.queue)

    def drop(self):
        """Forgets what has not been played yet (after a reset or a state load)."""
        self.pending.clear()
        self.channel.stop()

    def close(self):
        pygame.mixer.quit()

    def _send(self, method):
        sound = pygame.mixer.Sound(buffer=bytes(self.pending))
        self.pending.clear()
        method(sound)
        return sound.get_length()


class Hook:
    """Something riding along with a player (the RAM search, the start-state recorder).
    A player calls each of its `hooks` in turn: any object with these three methods,
    which here do nothing."""

    def idle(self, player):
        """Called on every turn of the window's loop, between frames, paused or not."""

    def frame(self, player, buttons):
        """Called after each frame with the buttons it ran with: two lists of eight."""

    def key(self, player, key):
        """Called on a key press before the player's own keys; True takes the key away
        from the player (and from the hooks after this one)."""
        return False


class Player:
    """One window playing one cartridge."""

    def __init__(self, cartridge, nes, args, script=None):
        self.cartridge = cartridge
        self.script = script or inputs.InputScript()
        self.frame_limit = args.frames
        self.screenshot_dir = pathlib.Path(args.screenshot_dir)
        self.pads = (vandrel.Controller(), vandrel.Controller())
        self.joysticks = {}
        self.slot = 1
        self.paused = False
        self.running = True
        self.frames = 0
        self.message = ""
        self.message_until = 0.0
        self.hooks = []
        pygame.display.init()
        pygame.joystick.init()
        self.window = pygame.display.set_mode((WIDTH * args.scale, HEIGHT * args.scale))
        self.sound = None if args.mute else _open_sound()
        self._attach(nes)
        self._update_title()

    # ------------------------------------------------------------ running
    def run(self):
        """Plays until the window closes, Esc, or the frame limit. With sound, frames
        run when the sound needs them; without, and while fast-forwarding, by the clock."""
        next_frame = time.perf_counter()
        while self.running:
            self.handle_events()
            for hook in self.hooks:
                hook.idle(self)
            self._update_title()
            now = time.perf_counter()
            fast = pygame.key.get_pressed()[pygame.K_TAB]
            if self.paused:
                self.present()
                time.sleep(1 / FRAME_RATE)
                next_frame = now
                continue
            if self.sound and not fast:
                if self.sound.needs_more():
                    self.advance(1)
                next_frame = now
            elif now >= next_frame:
                self.advance(FAST_FORWARD if fast else 1)
                next_frame = max(next_frame + 1 / FRAME_RATE, now - MAX_LAG)
            if self.sound:
                self.sound.pump()
            time.sleep(0.002)
        self.close()

    def handle_events(self):
        for event in pygame.event.get():
            self.handle_event(event)

    def advance(self, frames):
        """Runs `frames` frames and shows the last; sound is kept only at normal speed."""
        for _ in range(frames):
            self.step(keep_sound=frames == 1)
            if not self.running:
                break
        self.present()

    def step(self, keep_sound=True):
        """Runs one frame with the buttons held now."""
        self.frames += 1
        held = self._held_buttons()
        for pad, buttons in zip(self.pads, held):
            pad.updateInputs(buttons)
        self.nes.runFrame()
        for hook in self.hooks:
            hook.frame(self, held)
        block = self.stream.poll()
        if self.sound and block and keep_sound:
            self.sound.add(block)
        if self.frame_limit and self.frames >= self.frame_limit:
            self.running = False

    def present(self):
        picture = pygame.image.frombuffer(self.nes.getImg(), (WIDTH, HEIGHT), "RGB")
        self.window.blit(pygame.transform.scale(picture, self.window.get_size()), (0, 0))
        pygame.display.flip()

    def close(self):
        if self.sound:
            self.sound.close()
        pygame.quit()

    # ------------------------------------------------------------ input
    def handle_event(self, event):
        if event.type == pygame.QUIT:
            self.running = False
        elif event.type == pygame.KEYDOWN:
            self.handle_key(event.key)
        elif event.type == pygame.JOYDEVICEADDED:
            joystick = pygame.joystick.Joystick(event.device_index)
            self.joysticks[joystick.get_instance_id()] = joystick
        elif event.type == pygame.JOYDEVICEREMOVED:
            self.joysticks.pop(event.instance_id, None)

    def handle_key(self, key):
        if any(hook.key(self, key) for hook in self.hooks):
            return
        if key == pygame.K_ESCAPE:
            self.running = False
        elif key in (pygame.K_p, pygame.K_PAUSE):
            self.paused = not self.paused
            self.show("paused" if self.paused else "")
        elif key == pygame.K_F1:
            self.reset()
        elif key in SLOT_KEYS:
            self.slot = SLOT_KEYS[key]
            self.show(f"slot {self.slot}")
        elif key == pygame.K_F5:
            self.save_state()
        elif key == pygame.K_F9:
            self.load_state()
        elif key == pygame.K_F12:
            self.screenshot()

    def _held_buttons(self):
        keys = pygame.key.get_pressed()
        held = [[keys[key] for key in layout] for layout in KEYBOARD]
        for pad, joystick in zip(held, self.joysticks.values()):
            pad[:] = [a or b for a, b in zip(pad, gamepad_buttons(joystick))]
        scripted = self.script.buttons(self.frames)
        return [[bool(a or b) for a, b in zip(pad, more)] for pad, more in zip(held, scripted)]

    # ------------------------------------------------------------ console actions
    def reset(self):
        self._attach(self.cartridge.open())
        self.show("reset")

    def save_state(self):
        self.nes.saveState(self.slot)
        self.show(f"saved slot {self.slot}")

    def load_state(self):
        if self.nes.loadState(self.slot):
            if self.sound:
                self.sound.drop()
            self.show(f"loaded slot {self.slot}")
        else:
            self.show(f"slot {self.slot} is empty")

    def screenshot(self):
        stamp = time.strftime("%Y%m%d-%H%M%S")
        path = self.screenshot_dir / f"{self.cartridge.name}-{stamp}-{self.nes.frameCount():06d}.png"
        try:
            media.write_png(path, self.nes.getImg())
        except OSError as error:
            self.show(f"screenshot failed: {error.strerror or error}")
            return
        print(f"screenshot: {path}")
        self.show("screenshot saved")

    def _attach(self, nes):
        self.nes = nes
        for port, pad in enumerate(self.pads):
            nes.setController(pad, port)
        self.stream = media.SoundStream(nes)
        if self.sound:
            self.sound.drop()

    # ------------------------------------------------------------ window title
    def show(self, message):
        self.message = message
        self.message_until = time.monotonic() + MESSAGE_SECONDS

    def _update_title(self):
        parts = [f"vandrel - {self.cartridge.name}", f"slot {self.slot}"]
        if self.paused:
            parts.append("paused")
        elif self.message and time.monotonic() < self.message_until:
            parts.append(self.message)
        title = " - ".join(parts)
        if title != pygame.display.get_caption()[0]:
            pygame.display.set_caption(title)


def _open_sound():
    try:
        return SoundOut()
    except pygame.error as error:
        print(f"{PROG}: no sound: {error}", file=sys.stderr)
        return None


def has_display():
    """A window can be shown: an X or Wayland display is named, or SDL was told which
    video driver to use (the dummy one included, for headless runs on purpose)."""
    return any(os.environ.get(name) for name in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"))


def check_window(args, headless="vandrel-record runs without one"):
    """Fails with ToolError, before any console is built, when no window can be opened
    or the screenshot folder is missing; `headless` names what works without a window."""
    if not has_display():
        raise ToolError("no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not "
                        f"set); {headless}")
    if not pathlib.Path(args.screenshot_dir).is_dir():
        raise ToolError(f"screenshot folder {args.screenshot_dir} does not exist")


def open_player(cartridge, nes, args, script=None):
    """A Player, or ToolError when pygame cannot open its window."""
    try:
        return Player(cartridge, nes, args, script)
    except pygame.error as error:
        raise ToolError(f"cannot open a window: {error}") from None


def play(args):
    try:
        script = inputs.load_script(args.input)
    except inputs.ScriptError as error:
        raise ToolError(str(error)) from None
    check_window(args)
    cartridge, nes = load_cartridge(args.cartridge, PROG, args.accuracy)
    player = open_player(cartridge, nes, args, script)
    started = time.perf_counter()
    player.run()
    elapsed = time.perf_counter() - started
    print(f"{cartridge.describe()}: played {player.frames} frames in {elapsed:.1f} s "
          f"({player.frames / elapsed:.1f} frames per second)")
    return 0


def main(argv=None):
    args = build_parser().parse_args(argv)
    return run_command(PROG, lambda: play(args))


if __name__ == "__main__":
    sys.exit(main())
