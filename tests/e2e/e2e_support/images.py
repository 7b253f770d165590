"""BMP screenshots to PNG files with the standard library only."""
import struct
import zlib
from pathlib import Path


def read_bmp(path):
    """Returns (width, height, rows) of a 24-bit BMP; rows top-down as RGB bytes."""
    data = Path(path).read_bytes()
    if data[:2] != b"BM":
        raise ValueError(f"{path} is not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        raise ValueError(f"{path}: {bits} bits per pixel, expected 24")
    stride = (width * 3 + 3) & ~3
    bottom_up = height > 0
    height = abs(height)
    rows = []
    for y in range(height):
        source = height - 1 - y if bottom_up else y
        start = offset + source * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(bytes(rgb))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\x00" + row for row in rows)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))
    Path(path).write_bytes(png)


def bmp_to_png(bmp_path, png_path):
    """Converts and returns (width, height, rows) for further checks."""
    width, height, rows = read_bmp(bmp_path)
    write_png(png_path, width, height, rows)
    return width, height, rows


def distinct_colours(rows, step=7):
    """Number of distinct colours in a sample of the pixels: a blank or black
    capture has one or two, a drawn window many."""
    seen = set()
    for row in rows[::step]:
        for x in range(0, len(row) - 2, 3 * step):
            seen.add(row[x:x + 3])
    return len(seen)
