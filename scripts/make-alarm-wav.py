#!/usr/bin/env python3
"""Writes res/sounds/alarm.wav: one second of a two-tone alarm (880 Hz and
660 Hz alternating every quarter second), 16-bit mono at 22050 Hz, with short
fades so it loops without clicks."""
import math
import struct
import sys
import wave

RATE = 22050
path = sys.argv[1] if len(sys.argv) > 1 else "res/sounds/alarm.wav"
frames = bytearray()
segment = RATE // 4
fade = RATE // 200
for i in range(RATE):
    freq = 880.0 if (i // segment) % 2 == 0 else 660.0
    pos = i % segment
    gain = min(1.0, pos / fade, (segment - 1 - pos) / fade)
    # A square-ish tone (fundamental plus odd harmonics) carries better than a sine.
    t = i / RATE
    v = sum(math.sin(2 * math.pi * freq * k * t) / k for k in (1, 3, 5))
    frames += struct.pack("<h", int(0.45 * 32767 * gain * v / 1.5))
with wave.open(path, "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(RATE)
    w.writeframes(bytes(frames))
