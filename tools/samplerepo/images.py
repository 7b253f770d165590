"""Small PNG images for the sample map pieces (standard library only)."""
import struct
import zlib


def _chunk(kind: bytes, data: bytes) -> bytes:
    crc = zlib.crc32(kind + data) & 0xFFFFFFFF
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def png_rgb(width: int, height: int, colour: tuple) -> bytes:
    """A solid-colour 8-bit RGB PNG with a diagonal stripe, so pieces differ."""
    rows = []
    for y in range(height):
        row = bytearray(colour * width)
        x = y % width
        row[x * 3:x * 3 + 3] = bytes((255 - colour[0], 255 - colour[1], 255 - colour[2]))
        rows.append(b"\x00" + bytes(row))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header)
            + _chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + _chunk(b"IEND", b""))
