#!/usr/bin/env python3
"""Draws the launcher's own pictures (application icon, window background, logo
buttons) into an output folder. Standard library only, so every build machine
can make them."""
import math
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


def rounded_square_alpha(cx, cy, radius):
    """1 inside a unit square with rounded corners (coordinates 0..1), else 0."""
    dx = max(radius - cx, 0, cx - (1 - radius))
    dy = max(radius - cy, 0, cy - (1 - radius))
    return 1.0 if dx * dx + dy * dy <= radius * radius else 0.0


def segment_distance(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
    qx, qy = ax + vx * t, ay + vy * t
    return ((px - qx) ** 2 + (py - qy) ** 2) ** 0.5


def supersampled(size, shade):
    """RGBA rows from shade(cx, cy) -> (r, g, b, a) sampled 3 x 3 per pixel."""
    def pixel(x, y):
        acc = [0.0, 0.0, 0.0, 0.0]
        for sy in range(3):
            for sx in range(3):
                r, g, b, a = shade((x + (sx + 0.5) / 3) / size, (y + (sy + 0.5) / 3) / size)
                acc[0] += r * a
                acc[1] += g * a
                acc[2] += b * a
                acc[3] += a
        if acc[3] == 0:
            return (0, 0, 0, 0)
        return (int(acc[0] / acc[3]), int(acc[1] / acc[3]), int(acc[2] / acc[3]), int(255 * acc[3] / 9))
    return pixel


def logo_community(cx, cy):
    """Our social-network mark: a blue tile with a white "VK"-like pair of strokes."""
    if not rounded_square_alpha(cx, cy, 0.24):
        return (0, 0, 0, 0)
    colour = mix((0x4C, 0x7D, 0xC4), (0x2E, 0x5C, 0x9E), cy)
    strokes = [(0.18, 0.32, 0.30, 0.68), (0.30, 0.68, 0.42, 0.32),
               (0.54, 0.30, 0.54, 0.70), (0.54, 0.52, 0.80, 0.30), (0.58, 0.49, 0.80, 0.70)]
    if min(segment_distance(cx, cy, *s) for s in strokes) < 0.055:
        colour = (0xFF, 0xFF, 0xFF)
    return colour + (1,)


def logo_chat(cx, cy):
    """Our community-chat mark: a violet bubble with two eyes."""
    if not rounded_square_alpha(cx, cy, 0.24):
        return (0, 0, 0, 0)
    colour = mix((0x72, 0x7C, 0xE8), (0x4F, 0x58, 0xC9), cy)
    # A rounded face with a small tail at the bottom left.
    fx, fy = (cx - 0.5) / 0.33, (cy - 0.48) / 0.25
    face = fx * fx + fy * fy <= 1 or (0.22 < cx < 0.36 and 0.62 < cy < 0.80 and cx - 0.22 > (cy - 0.62) * 0.6)
    if face:
        colour = (0xFF, 0xFF, 0xFF)
        for ex in (0.39, 0.61):
            if ((cx - ex) / 0.055) ** 2 + ((cy - 0.47) / 0.075) ** 2 <= 1:
                colour = mix((0x72, 0x7C, 0xE8), (0x4F, 0x58, 0xC9), cy)
    return colour + (1,)


# Window layout that the background is painted for (client pixels).
WIDTH, HEIGHT = 800, 600
PANEL = (14, 368, 792, 592)
HEADER_HEIGHT = 62


def background_pixel(x, y):
    """Charcoal to dark slate, a ridge of mountains, a darker header band and
    the panel area behind the controls."""
    t = y / HEIGHT
    colour = mix((0x33, 0x3D, 0x4A), CHARCOAL, t)
    # A soft amber glow behind the peaks.
    gx, gy = (x - 560) / 420, (y - 250) / 170
    glow = max(0.0, 1 - (gx * gx + gy * gy))
    colour = mix(colour, ACCENT, 0.22 * glow * glow)
    # Two ridges of mountains, the nearer one darker.
    def peaks(period, shift):
        f = ((x + shift) / period) % 1.0
        return 1 - abs(2 * f - 1)
    far = 320 - 120 * peaks(270, 40) - 28 * peaks(83, 10) + 6 * math.sin(x / 9.0)
    near = 365 - 70 * peaks(190, 130) - 18 * peaks(57, 20) + 4 * math.sin(x / 7.0)
    if y > far:
        colour = mix(colour, SLATE, 0.75)
    if y > near:
        colour = mix(colour, CHARCOAL, 0.85)
    if y < HEADER_HEIGHT:
        colour = mix(colour, CHARCOAL, 0.55)
    elif y < HEADER_HEIGHT + 2:
        colour = mix(colour, ACCENT, 0.35)
    l, tp, r, b = PANEL
    if l <= x < r and tp <= y < b:
        edge = x in (l, r - 1) or y in (tp, b - 1)
        colour = mix(colour, (0x3A, 0x45, 0x52) if edge else SLATE, 0.92 if edge else 0.8)
    return colour + (255,)


def write_png(path, width, height, pixel):
    path.write_bytes(png_bytes(width, height, pixel))


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    write_icon(out / "Launcher.ico")
    write_png(out / "background.png", WIDTH, HEIGHT, background_pixel)
    write_png(out / "logo_vk.png", 50, 50, supersampled(50, logo_community))
    write_png(out / "logo_discord.png", 50, 50, supersampled(50, logo_chat))


if __name__ == "__main__":
    main()
