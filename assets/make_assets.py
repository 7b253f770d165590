#!/usr/bin/env python3
"""Draws the launcher's own pictures (application icon, window background, logo
buttons) into an output folder. Standard library only, so every build machine
can make them."""
import struct
import sys
import zlib
from pathlib import Path

# Theme colours shared with the window's drawing code.
CHARCOAL = (0x1E, 0x20, 0x24)
SLATE = (0x2B, 0x33, 0x3D)
ACCENT = (0xD9, 0x8E, 0x2B)
LIGHT = (0xE8, 0xE6, 0xE3)


def mix(a, b, t):
    return tuple(int(a[i] + (b[i] - a[i]) * t) for i in range(3))


def icon_pixel(x, y, size):
    """A dark rounded square with an amber "V"."""
    cx, cy = (x + 0.5) / size, (y + 0.5) / size
    r = 0.18
    dx = max(r - cx, 0, cx - (1 - r))
    dy = max(r - cy, 0, cy - (1 - r))
    if dx * dx + dy * dy > r * r:
        return (0, 0, 0, 0)
    colour = mix(SLATE, CHARCOAL, cy)
    # The two strokes of the V meet at the bottom centre.
    for sign in (-1, 1):
        tx = 0.5 + sign * (0.32 - 0.32 * (cy - 0.2) / 0.6)
        if 0.2 <= cy <= 0.82 and abs(cx - tx) < 0.075:
            colour = ACCENT
    return colour + (255,)


def png_bytes(width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


def dib_icon_image(size, pixel):
    """A 32-bit BGRA icon image with its AND mask (bottom-up)."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            xor.extend((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    return header + bytes(xor) + bytes(mask_row * size)


def write_icon(path):
    sizes = [16, 24, 32, 48, 256]
    images = []
    for s in sizes:
        if s == 256:
            images.append(png_bytes(s, s, lambda x, y: icon_pixel(x, y, s)))
        else:
            images.append(dib_icon_image(s, icon_pixel))
    out = bytearray(struct.pack("<HHH", 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    path.write_bytes(bytes(out))


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    write_icon(out / "Launcher.ico")


if __name__ == "__main__":
    main()
