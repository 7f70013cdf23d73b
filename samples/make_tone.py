#!/usr/bin/env python3
"""Writes a short sine tone as a plain PCM WAVE file with Python's own wave module.

The sample that scripts/run-sample.sh wraps and unwraps, and a WAVE writer for the end-to-end
tests. Nothing here comes from elsewhere: the sound is computed.

    python3 samples/make_tone.py tone.wav [--rate 44100] [--channels 2] [--width 2] [--frames N]
"""
import argparse
import math
import wave


def tone_frames(rate, channels, width, frames, frequency=440.0):
    """Sample bytes of a sine tone: unsigned for 8 bits, signed little-endian above."""
    peak = (1 << (8 * width - 1)) - 1
    out = bytearray()
    for i in range(frames):
        value = int(round(0.5 * peak * math.sin(2 * math.pi * frequency * i / rate)))
        if width == 1:
            sample = bytes([value + 128])
        else:
            sample = value.to_bytes(width, "little", signed=True)
        out += sample * channels
    return bytes(out)


def write_tone(path, rate=44100, channels=2, width=2, frames=22050):
    """Writes the tone and returns the size of its "data" chunk in bytes."""
    data = tone_frames(rate, channels, width, frames)
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(data)
    return len(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path")
    parser.add_argument("--rate", type=int, default=44100)
    parser.add_argument("--channels", type=int, default=2)
    parser.add_argument("--width", type=int, default=2, choices=[1, 2, 3, 4], help="bytes per sample")
    parser.add_argument("--frames", type=int, default=22050, help="default: half a second at 44100 Hz")
    options = parser.parse_args()
    write_tone(options.path, options.rate, options.channels, options.width, options.frames)


if __name__ == "__main__":
    main()
