"""PNG images for the sample map pieces (standard library only)."""
import random
import struct
import zlib


def _chunk(kind: bytes, data: bytes) -> bytes:
    crc = zlib.crc32(kind + data) & 0xFFFFFFFF
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def png_from_rows(width: int, height: int, rows, level: int = 9) -> bytes:
    """An 8-bit RGB PNG of the rows (RGB bytes each, top to bottom), unfiltered."""
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    body = zlib.compress(b"".join(b"\x00" + bytes(row) for row in rows), level)
    return b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header) + _chunk(b"IDAT", body) + _chunk(b"IEND", b"")


def png_rgb(width: int, height: int, colour: tuple) -> bytes:
    """A solid-colour 8-bit RGB PNG with a diagonal stripe, so pieces differ."""
    rows = []
    for y in range(height):
        row = bytearray(colour * width)
        x = y % width
        row[x * 3:x * 3 + 3] = bytes((255 - colour[0], 255 - colour[1], 255 - colour[2]))
        rows.append(row)
    return png_from_rows(width, height, rows)


def noise_rgb(width: int, height: int, seed: int = 1) -> bytes:
    """Grey noise as RGB bytes, row after row: each sample one of two neighbouring values at random.
    Quick to make, but slow to deflate well (every short match has many equal candidates), so
    an encoder spends seconds on a large image of it."""
    table = bytes(0x70 + (b & 1) for b in range(256))
    return random.Random(seed).randbytes(width * height * 3).translate(table)


def png_noise(width: int, height: int, pixels: bytes) -> bytes:
    """The PNG of noise_rgb pixels, written quickly (lowest compression level)."""
    stride = width * 3
    return png_from_rows(width, height, (pixels[y * stride:(y + 1) * stride] for y in range(height)), level=1)
