"""Render a test tune through the emulated sound hardware and check it by eye and ear.

Usage: render_tune.py [--out DIR]

Builds a small NROM cartridge whose 6502 program plays six one-second parts by writing
the sound registers from a table, frame by frame: pulse 1, pulse 2, the triangle, the
noise channel, the DMC, and all five together. Runs it on a console, collects the
per-channel sample streams with getAudio(split_channels=True) after every frame, and
writes DIR/tune.wav (the mixed stream, 44100 Hz, 16-bit mono) and DIR/tune.png (for
each part: a few milliseconds of the mixed waveform and the spectrum of the part's
channel, with the pitch the registers ask for marked). It also prints, per part, the
pitch and duty the registers ask for against the ones measured from the stream, and
exits with status 1 when one is off.

Needs vandrel and numpy; the plot needs matplotlib.
"""

import argparse
import os
import pathlib
import sys
import tempfile
import wave

import numpy as np
from vandrel_tools.cartridge import quiet_console

CPU_HZ = 1789773
RATE = 44100
FRAME_CYCLES = 341 * 262 / 3  # CPU cycles per frame
SAMPLES_PER_FRAME = RATE * FRAME_CYCLES / CPU_HZ
PART_FRAMES = 60
STREAMS = ["mixed", "pulse 1", "pulse 2", "triangle", "noise", "DMC"]

# The player, at $8000. Each event is three bytes: frames to wait (0 for none, $FF
# ends the tune), register ($40xx low byte), value. The NMI handler counts frames.
EVENTS_ADDR = 0x8100
PLAYER = bytes.fromhex(
    "78 D8 A2 FF 9A"        # 8000 SEI; CLD; LDX #$FF; TXS
    "A9 00 85 00"           # 8005 LDA #<events; STA $00
    "A9 81 85 01"           # 8009 LDA #>events; STA $01
    "A9 80 8D 00 20"        # 800D LDA #$80; STA $2000   (NMI every frame)
    "A0 00"                 # 8012 next:  LDY #0
    "B1 00"                 # 8014        LDA ($00),Y    (frames to wait)
    "C9 FF F0 24"           # 8016        CMP #$FF; BEQ done
    "AA F0 09"              # 801A        TAX; BEQ write
    "A5 02"                 # 801D wait:  LDA $02
    "C5 02 F0 FC"           # 801F same:  CMP $02; BEQ same
    "CA D0 F7"              # 8023        DEX; BNE wait
    "C8 B1 00 AA"           # 8026 write: INY; LDA ($00),Y; TAX
    "C8 B1 00 9D 00 40"     # 802A        INY; LDA ($00),Y; STA $4000,X
    "18 A5 00 69 03 85 00"  # 8030        CLC; LDA $00; ADC #3; STA $00
    "90 02 E6 01"           # 8037        BCC +2; INC $01
    "4C 12 80"              # 803B        JMP next
    "4C 3E 80"              # 803E done:  JMP done
    "E6 02 40"              # 8041 nmi:   INC $02; RTI
)
NMI_ADDR, RESET_ADDR = 0x8041, 0x8000

# The DMC sample: one byte $0F at $F000, looped. Four 1-bits raise the level by 8,
# four 0-bits lower it again: a triangle wave of 8 output ticks.
DMC_SAMPLE_ADDR = 0xF000
DMC_SAMPLE = bytes([0x0F])


def pulse_hz(period):
    return CPU_HZ / (16 * (period + 1))


def triangle_hz(period):
    return CPU_HZ / (32 * (period + 1))


def dmc_hz(rate_cycles):
    return CPU_HZ / (rate_cycles * 8)


def pulse_writes(channel, period, duty, volume):
    base = 0x00 if channel == 1 else 0x04
    return [(base, duty << 6 | 0x30 | volume), (base + 1, 0x00),  # halt, constant volume
            (base + 2, period & 0xFF), (base + 3, period >> 8 | 0x08)]


def triangle_writes(period):
    return [(0x08, 0xFF), (0x0A, period & 0xFF), (0x0B, period >> 8 | 0x08)]


NOISE_WRITES = [(0x0C, 0x3C), (0x0E, 0x08), (0x0F, 0x08)]  # volume 12, period index 8
DMC_WRITES = [(0x10, 0x40), (0x11, 0x20),                   # loop, 428 cycles a bit
              (0x12, (DMC_SAMPLE_ADDR - 0xC000) // 64), (0x13, 0x00)]

# Each part: the stream to check, the registers, the $4015 enables, and the pitch and
# pulse duty (fraction of the cycle high) that those registers ask for.
PARTS = [
    ("pulse 1: period $0FD, duty 2", 1, pulse_writes(1, 0x0FD, 2, 15), 0x01,
     pulse_hz(0x0FD), 4 / 8),
    ("pulse 2: period $0A9, duty 1", 2, pulse_writes(2, 0x0A9, 1, 15), 0x02,
     pulse_hz(0x0A9), 2 / 8),
    ("triangle: period $0FD", 3, triangle_writes(0x0FD), 0x04, triangle_hz(0x0FD), None),
    ("noise: period index 8, long mode", 4, NOISE_WRITES, 0x08, None, None),
    ("DMC: rate 0, byte $0F looped", 5, DMC_WRITES, 0x10, dmc_hz(428), None),
    ("all five: pulse 1 duty 0", 1,
     pulse_writes(1, 0x0D5, 0, 8) + pulse_writes(2, 0x0A9, 1, 8) + triangle_writes(0x0FD)
     + NOISE_WRITES + DMC_WRITES, 0x1F, pulse_hz(0x0D5), 1 / 8),
]


def events():
    """The event table: each part starts one frame after the previous one ends, with the
    channels off while its registers are written."""
    table = bytearray()
    waited = 0
    for index, (_, _, writes, enables, _, _) in enumerate(PARTS):
        start = 1 + index * PART_FRAMES
        table += bytes([start - waited, 0x15, 0x00])
        waited = start
        for register, value in writes:
            table += bytes([0, register, value])
        table += bytes([0, 0x15, enables])
    table += bytes([PART_FRAMES, 0x15, 0x00, 0xFF])
    return bytes(table)


def cartridge():
    prg = bytearray(16384)
    prg[0:len(PLAYER)] = PLAYER
    table = events()
    prg[EVENTS_ADDR - 0x8000:EVENTS_ADDR - 0x8000 + len(table)] = table
    sample_at = DMC_SAMPLE_ADDR & 0x3FFF
    prg[sample_at:sample_at + len(DMC_SAMPLE)] = DMC_SAMPLE
    vectors = (NMI_ADDR, RESET_ADDR, NMI_ADDR + 2)  # IRQ: the RTI
    prg[0x3FFA:0x4000] = b"".join(v.to_bytes(2, "little") for v in vectors)
    return b"NES\x1a" + bytes([1, 1, 0, 0]) + bytes(8) + bytes(prg) + bytes(8192)


def render(path):
    """Runs the tune; returns the six streams as int16 arrays."""
    nes = quiet_console(path)
    frames = (len(PARTS) + 1) * PART_FRAMES
    blocks = []
    for _ in range(frames):
        nes.runFrame()
        got = nes.getAudio(split_channels=True)
        if got != [b""]:  # at most one block a frame, so none is missed
            blocks.append(got)
    return [np.concatenate([np.frombuffer(b[s], dtype="<i2") for b in blocks])
            for s in range(len(STREAMS))]


def write_wav(path, samples):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.astype("<i2").tobytes())


def part_window(index):
    """Sample range of a part, leaving out its first and last 10 frames; the stream
    lags the frames by the first, all-zero block."""
    first = 1 + index * PART_FRAMES + 10
    last = 1 + (index + 1) * PART_FRAMES - 10
    return (int(first * SAMPLES_PER_FRAME) + 1024, int(last * SAMPLES_PER_FRAME) + 1024)


def spectrum(x):
    x = x - x.mean()
    magnitude = np.abs(np.fft.rfft(x * np.hanning(len(x))))
    return np.fft.rfftfreq(len(x), 1 / RATE), magnitude


def peak_hz(x):
    """The strongest frequency, refined between bins by a parabola through the peak."""
    freqs, mag = spectrum(x)
    k = int(np.argmax(mag[1:])) + 1
    a, b, c = np.log(mag[k - 1:k + 2] + 1e-12)
    shift = 0.5 * (a - c) / (a - 2 * b + c)
    return freqs[k] + shift * (freqs[1] - freqs[0])


def check(streams):
    ok = True
    print(f"{'part':38} {'asked Hz':>9} {'heard Hz':>9} {'asked duty':>10} {'heard duty':>10}")
    for index, (name, stream, _, _, hz, duty) in enumerate(PARTS):
        lo, hi = part_window(index)
        x = streams[stream][lo:hi]
        heard_hz = peak_hz(x) if hz else None
        sounding = x[x != 0]
        heard_duty = float(np.mean(sounding > 0)) if len(sounding) else 0.0
        row = f"{name:38} "
        row += f"{hz:9.1f} {heard_hz:9.1f} " if hz else f"{'-':>9} {'-':>9} "
        row += f"{duty:10.3f} {heard_duty:10.3f}" if duty else f"{'-':>10} {'-':>10}"
        good = bool(len(sounding))
        if hz:
            good &= abs(heard_hz - hz) < 0.01 * hz
        if duty:
            good &= abs(heard_duty - duty) < 0.02
        print(row + ("" if good else "   MISMATCH"))
        ok &= good
    return ok


def plot(streams, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(len(PARTS), 2, figsize=(13, 2.3 * len(PARTS)))
    for index, (name, stream, _, _, hz, _) in enumerate(PARTS):
        lo, hi = part_window(index)
        wave_ax, spec_ax = axes[index]
        show = int(0.010 * RATE)  # 10 ms of the mixed stream
        t = np.arange(show) / RATE * 1000
        wave_ax.step(t, streams[0][lo:lo + show], where="post", lw=0.9, label="mixed")
        if stream != 0:
            wave_ax.step(t, streams[stream][lo:lo + show], where="post", lw=0.9,
                         label=STREAMS[stream], alpha=0.7)
        wave_ax.set_title(name, fontsize=9, loc="left")
        wave_ax.set_xlabel("ms", fontsize=8)
        wave_ax.legend(fontsize=7, loc="upper right")
        freqs, mag = spectrum(streams[stream][lo:hi])
        keep = freqs <= 5000
        spec_ax.plot(freqs[keep], 20 * np.log10(mag[keep] / mag.max() + 1e-9), lw=0.7)
        spec_ax.set_ylim(-80, 5)
        spec_ax.set_xlabel("Hz", fontsize=8)
        spec_ax.set_ylabel("dB", fontsize=8)
        title = f"spectrum of {STREAMS[stream]}"
        if hz:
            spec_ax.axvline(hz, color="red", ls="--", lw=0.8)
            title += f", registers ask {hz:.1f} Hz (red)"
        spec_ax.set_title(title, fontsize=9, loc="left")
    fig.tight_layout()
    fig.savefig(path, dpi=90)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=".", help="folder for tune.wav and tune.png")
    args = parser.parse_args()
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)

    with tempfile.TemporaryDirectory() as home:
        os.environ["HOME"] = home  # keep the console's save folders out of the user's
        path = pathlib.Path(home, "tune.nes")
        path.write_bytes(cartridge())
        streams = render(str(path))

    write_wav(out / "tune.wav", streams[0])
    print(f"wrote {out / 'tune.wav'}: {len(streams[0]) / RATE:.2f} s")
    ok = check(streams)
    try:
        plot(streams, out / "tune.png")
        print(f"wrote {out / 'tune.png'}")
    except ImportError:
        print("matplotlib is not installed: no plot")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
