"""Helpers of the archive interoperability tests: the target-side archivetool
under Wine, and small image files written and read with the standard library
(an encoder and decoder independent of the launcher's own)."""
import os
import struct
import subprocess
import zlib
from pathlib import Path

from e2e_support.wine import WineSession

SOURCE_DIR = Path(os.environ.get("LAUNCHER_SOURCE_DIR") or Path(__file__).resolve().parents[2])
BUILD_DIR = Path(os.environ.get("LAUNCHER_BUILD_DIR") or SOURCE_DIR / "build-x64")


class ArchiveTool:
    def __init__(self):
        self.wine = WineSession(BUILD_DIR).ensure_ready()
        self.exe = self.wine.build_dir / "tools" / "archivetool.exe"
        if not self.exe.exists():
            raise RuntimeError(f"{self.exe} is missing: build the folder {self.wine.build_dir} first")

    def win(self, path):
        return self.wine.windows_path(path)

    def run(self, *args, check=True):
        """Runs archivetool; Path arguments become Windows paths. Returns stdout."""
        converted = [self.win(a) if isinstance(a, Path) else a for a in args]
        result = self.wine.run([self.exe, *converted], timeout=600, check=False)
        if check and result.returncode != 0:
            raise AssertionError(f"archivetool {args[0]} failed ({result.returncode}): {result.stdout}{result.stderr}")
        return result

    def read_zip(self, zip_path, out_dir):
        """Our reading of an archive: [(name, size, crc, method, flags, content)]."""
        out_dir.mkdir(parents=True, exist_ok=True)
        self.run("zip-read", zip_path, out_dir)
        members = []
        for line in (out_dir / "listing.tsv").read_text(encoding="utf-8").splitlines():
            index, name, size, crc, method, flags = line.split("\t")
            content = (out_dir / f"{index}.bin").read_bytes()
            members.append((name, int(size), int(crc, 16), int(method), int(flags), content))
        return members


# -- pixels: lists of rows, each row a list of (r, g, b) or (r, g, b, a) ----

def sample_pixels(width, height, seed=7):
    """A deterministic picture with gradients and noise, as RGB tuples."""
    rows, state = [], seed
    for y in range(height):
        row = []
        for x in range(width):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            row.append(((x * 255) // max(1, width - 1), (y * 255) // max(1, height - 1), (state >> 16) & 0xFF))
        rows.append(row)
    return rows


def write_ppm(path, rows):
    height, width = len(rows), len(rows[0])
    body = b"".join(bytes(c for px in row for c in px[:3]) for row in rows)
    Path(path).write_bytes(b"P6\n%d %d\n255\n" % (width, height) + body)


def read_pnm(path):
    """Rows of RGB tuples from a binary PPM (P6) or PGM (P5) file."""
    data = Path(path).read_bytes()
    fields, at = [], 2
    while len(fields) < 3:
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(int(data[start:at]))
    at += 1
    width, height, _ = fields
    channels = 3 if data[:2] == b"P6" else 1
    rows = []
    for y in range(height):
        line = data[at + y * width * channels: at + (y + 1) * width * channels]
        if channels == 3:
            rows.append([tuple(line[i:i + 3]) for i in range(0, len(line), 3)])
        else:
            rows.append([(v, v, v) for v in line])
    return rows


def over_white(px):
    """A pixel with alpha put over white, as an opaque RGB tuple."""
    if len(px) == 3:
        return tuple(px)
    r, g, b, a = px
    return tuple((c * a + 255 * (255 - a) + 127) // 255 for c in (r, g, b))


def max_difference(rows_a, rows_b):
    return max(abs(a - b) for ra, rb in zip(rows_a, rows_b) for pa, pb in zip(ra, rb) for a, b in zip(pa, pb))


# -- PNG ------------------------------------------------------------------

def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def write_png(path, samples, width, height, bit_depth, color_type, palette=None, trns=None, interlaced=False):
    """A PNG of rows of sample tuples (one tuple a pixel, values of bit_depth bits), filter None."""
    def scanline(pixels):
        if bit_depth == 16:
            return b"\0" + b"".join(struct.pack(">H", v) for px in pixels for v in px)
        if bit_depth == 8:
            return b"\0" + bytes(v for px in pixels for v in px)
        out, acc, bits = bytearray(), 0, 0
        for px in pixels:
            acc = (acc << bit_depth) | px[0]
            bits += bit_depth
            if bits == 8:
                out.append(acc)
                acc, bits = 0, 0
        if bits:
            out.append(acc << (8 - bits))
        return b"\0" + bytes(out)

    if interlaced:
        raw = b""
        for x0, y0, dx, dy in ADAM7:
            if x0 >= width or y0 >= height:
                continue
            for y in range(y0, height, dy):
                raw += scanline([samples[y][x] for x in range(x0, width, dx)])
    else:
        raw = b"".join(scanline(row) for row in samples)
    png = b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bit_depth, color_type, 0, 0,
                                                                  1 if interlaced else 0))
    if palette:
        png += png_chunk(b"PLTE", bytes(c for rgb in palette for c in rgb))
    if trns is not None:
        png += png_chunk(b"tRNS", trns)
    png += png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b"")
    Path(path).write_bytes(png)


def png_chunks(data):
    """[(type, body)] of a PNG file, checking every chunk's CRC."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    chunks, at = [], 8
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        assert struct.unpack_from(">I", data, at + 8 + length)[0] == zlib.crc32(kind + body), kind
        chunks.append((kind.decode(), body))
        at += 12 + length
    return chunks


def decode_rgb8_png(data):
    """Decodes an 8-bit RGB, non-interlaced PNG; returns (filter types, rows of RGB tuples)."""
    chunks = png_chunks(data)
    width, height, depth, color, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    assert (depth, color, interlace) == (8, 2, 0)
    raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == "IDAT"))
    stride = width * 3
    filters, rows, previous = [], [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, cur = line[0], bytearray(line[1:])
        filters.append(kind)
        for i in range(stride):
            left = cur[i - 3] if i >= 3 else 0
            up = previous[i]
            if kind == 1:
                cur[i] = (cur[i] + left) & 0xFF
            elif kind == 2:
                cur[i] = (cur[i] + up) & 0xFF
            elif kind == 3:
                cur[i] = (cur[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                ul = previous[i - 3] if i >= 3 else 0
                p = left + up - ul
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - ul)
                cur[i] = (cur[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else ul)) & 0xFF
        rows.append([tuple(cur[i:i + 3]) for i in range(0, stride, 3)])
        previous = cur
    return filters, rows


# -- BMP ------------------------------------------------------------------

def write_bmp(path, rows, bits, top_down=False):
    """A BMP of RGB rows at 1, 4, 8 (palette of the picture's colours), 24 or 32 bits."""
    height, width = len(rows), len(rows[0])
    palette = []
    if bits <= 8:
        for row in rows:
            for px in row:
                if px not in palette:
                    palette.append(px)
        assert len(palette) <= 1 << bits
    stride = (width * bits + 31) // 32 * 4
    body = b""
    order = range(height) if top_down else range(height - 1, -1, -1)
    for y in order:
        line = bytearray()
        if bits <= 8:
            acc, used = 0, 0
            for px in rows[y]:
                acc = (acc << bits) | palette.index(px)
                used += bits
                if used == 8:
                    line.append(acc)
                    acc, used = 0, 0
            if used:
                line.append(acc << (8 - used))
        else:
            for r, g, b in rows[y]:
                line += bytes((b, g, r)) + (b"\x00" if bits == 32 else b"")
        body += bytes(line) + b"\0" * (stride - len(line))
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits, 0, len(body), 2835, 2835,
                       len(palette), 0)
    Path(path).write_bytes(header + info + table + body)


def run_linux(*args, **kwargs):
    return subprocess.run([str(a) for a in args], capture_output=True, check=True, **kwargs)
