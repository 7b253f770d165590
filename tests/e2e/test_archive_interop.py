"""Archives, images and blob hashes of the launcher's archive library checked
with independent tools: unzip, zip, Python's zipfile and zlib, pngcheck,
djpeg/cjpeg, ImageMagick and git. The library runs inside archivetool.exe
under Wine; the checks run on Linux."""
import io
import random
import struct
import subprocess
import zipfile
import zlib

import pytest

from archive_support import (ArchiveTool, decode_rgb8_png, max_difference, over_white, png_chunks, read_pnm,
                             run_linux, sample_pixels, write_bmp, write_png, write_ppm)


@pytest.fixture(scope="module")
def tool():
    return ArchiveTool()


def random_bytes(size, seed):
    return random.Random(seed).randbytes(size)


# -- zip archives we write ----------------------------------------------------

MEMBERS = [
    # (how, method, name, content)
    ("stream", 8, "settings.ini", b"[main]\r\nMapFormat=png\r\n"),
    ("stream", 0, "map.png", random_bytes(150_000, 1)),
    ("add", 8, "data/notes.txt", b"line\n" * 40_000),
    ("add", 0, "empty.bin", b""),
    ("stream", 8, "empty-deflated.bin", b""),
    ("stream", 8, "карта/Ёж.txt", "привет".encode("utf-8") * 100),
]


@pytest.mark.parametrize("encoding", ["utf8", "cp437"])
def test_archives_we_write_pass_unzip_and_zipfile(tool, tmp_path, encoding):
    members = MEMBERS if encoding == "utf8" else [("stream", 8, "Über ñ.txt", b"cp437 name")] + MEMBERS[:3]
    manifest = []
    for index, (how, method, name, content) in enumerate(members):
        source = tmp_path / f"source{index}"
        source.write_bytes(content)
        manifest.append(f"{how}\t{method}\t{name}\t{tool.win(source)}")
    (tmp_path / "manifest.txt").write_text("\n".join(manifest) + "\n", encoding="utf-8")
    archive = tmp_path / "out.zip"
    tool.run("zip-write", archive, tmp_path / "manifest.txt", *(["cp437"] if encoding == "cp437" else []))

    tested = subprocess.run(["unzip", "-t", str(archive)], capture_output=True, text=True, errors="replace")
    assert tested.returncode == 0, tested.stdout + tested.stderr
    assert "No errors detected" in tested.stdout

    with zipfile.ZipFile(archive) as z:
        assert z.testzip() is None
        assert z.comment == b""
        infos = z.infolist()
        assert [i.filename for i in infos] == [m[2] for m in members]
        for info, (_, method, name, content) in zip(infos, members):
            assert info.compress_type == method
            assert info.file_size == len(content)
            assert info.CRC == zlib.crc32(content)
            assert bool(info.flag_bits & 0x800) == (encoding == "utf8")
            assert not info.flag_bits & 0x8, "no data descriptors"
            assert z.read(info) == content


# -- zip archives others write ---------------------------------------------

class Unseekable(io.RawIOBase):
    """An output that cannot seek: zipfile then writes data descriptors."""

    def __init__(self, target):
        self.target = target

    def writable(self):
        return True

    def write(self, data):
        return self.target.write(data)


CONTENTS = {"a.txt": b"alpha\n" * 1000, "sub/b.bin": random_bytes(40_000, 2), "empty": b"",
            "ünï.txt": "non-ascii".encode()}


def python_zip(path, compression, comment=b"", unseekable=False):
    with open(path, "wb") as raw:
        target = Unseekable(raw) if unseekable else raw
        with zipfile.ZipFile(target, "w", compression=compression) as z:
            z.comment = comment
            for name, content in CONTENTS.items():
                z.writestr(name, content)


def info_zip(path, tmp_path, *options, stream=False):
    folder = tmp_path / "tree"
    for name, content in CONTENTS.items():
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(content)
    names = list(CONTENTS)
    if stream:  # to standard output: data descriptors
        with open(path, "wb") as out:
            subprocess.run(["zip", "-q", *options, "-", *names], cwd=folder, stdout=out, check=True)
    else:
        run_linux("zip", "-q", *options, path, *names, cwd=folder)


WRITERS = {
    "zipfile stored": lambda p, t: python_zip(p, zipfile.ZIP_STORED),
    "zipfile deflated with comment": lambda p, t: python_zip(p, zipfile.ZIP_DEFLATED, comment=b"made by zipfile"),
    "zipfile data descriptors": lambda p, t: python_zip(p, zipfile.ZIP_DEFLATED, unseekable=True),
    "zip stored": lambda p, t: info_zip(p, t, "-0"),
    "zip deflated with extra fields": lambda p, t: info_zip(p, t, "-9"),
    "zip data descriptors": lambda p, t: info_zip(p, t, "-6", stream=True),
}


@pytest.mark.parametrize("writer", WRITERS)
def test_archives_of_other_tools_read_back_byte_for_byte(tool, tmp_path, writer):
    archive = tmp_path / "in.zip"
    WRITERS[writer](archive, tmp_path)
    if writer == "zip deflated with extra fields":
        run_linux("zip", "-q", "-z", archive, input=b"a comment from zip\n")
    members = tool.read_zip(archive, tmp_path / "out")
    assert [m[0] for m in members] == list(CONTENTS)
    for name, size, crc, _, _, content in members:
        assert content == CONTENTS[name], name
        assert (size, crc) == (len(CONTENTS[name]), zlib.crc32(CONTENTS[name]))


def damage(data, kind):
    data = bytearray(data)
    cd = struct.unpack_from("<I", data, len(data) - 6)[0]
    if kind == "cut":
        return bytes(data[:len(data) // 2])
    if kind == "data past the end":
        struct.pack_into("<I", data, cd + 20, 0x40000000)
    if kind == "inflates beyond its size":
        struct.pack_into("<I", data, cd + 24, 10)
    if kind == "corrupt data":
        for i in range(60, 90):
            data[i] ^= 0xA5
    return bytes(data)


@pytest.mark.parametrize("kind", ["cut", "data past the end", "inflates beyond its size", "corrupt data"])
def test_damaged_archives_give_a_clear_error(tool, tmp_path, kind):
    archive = tmp_path / "in.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("big.txt", b"0123456789" * 100_000)
    archive.write_bytes(damage(archive.read_bytes(), kind))
    (tmp_path / "out").mkdir()
    result = tool.run("zip-read", archive, tmp_path / "out", check=False)
    assert result.returncode == 1, result.stdout + result.stderr
    assert result.stdout.startswith("error: EZipException: "), result.stdout
    written = (tmp_path / "out" / "0.bin")
    assert not written.exists() or written.stat().st_size <= 1_000_000


# -- Git blob hashes ----------------------------------------------------------

def test_blob_hashes_agree_with_git(tool, tmp_path):
    contents = [b"", b"abc", random_bytes(100_000, 3), b"compressible " * 200_000, random_bytes(70_001, 4)]
    files = []
    for index, content in enumerate(contents):
        files.append(tmp_path / f"f{index}")
        files[-1].write_bytes(content)
    expected = run_linux("git", "hash-object", *files).stdout.decode().split()
    assert expected[:2] == ["e69de29bb2d1d6434b8b29ae775ad8c2e48c5391", "f2ba8f84ab5c1bce84a7b441cb1959cfc7093b7f"]
    assert tool.run("hash", *files).stdout.split() == expected

    archive = tmp_path / "files.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        for index, content in enumerate(contents):
            z.writestr(f"f{index}", content)
    for index, sha in enumerate(expected):
        assert tool.run("hash-member", archive, f"F{index}").stdout.strip() == sha


# -- images we write ----------------------------------------------------------

@pytest.fixture(scope="module")
def picture(tmp_path_factory):
    """A 701 x 333 picture of noise and gradients: several IDAT chunks, odd row padding."""
    rows = sample_pixels(701, 333)
    path = tmp_path_factory.mktemp("picture") / "picture.ppm"
    write_ppm(path, rows)
    return path, rows


def test_png_we_write_has_the_required_layout(tool, tmp_path, picture):
    ppm, rows = picture
    out = tmp_path / "out.png"
    tool.run("encode", "png", ppm, out)
    check = subprocess.run(["pngcheck", "-v", str(out)], capture_output=True, text=True)
    assert check.returncode == 0, check.stdout
    assert "No errors detected" in check.stdout
    assert "non-interlaced" in check.stdout and "24-bit RGB" in check.stdout
    chunks = png_chunks(out.read_bytes())
    kinds = [kind for kind, _ in chunks]
    assert kinds[0] == "IHDR" and kinds[-1] == "IEND" and set(kinds[1:-1]) == {"IDAT"}
    assert len(kinds) > 3 and all(len(body) <= 65535 for kind, body in chunks if kind == "IDAT")
    filters, decoded = decode_rgb8_png(out.read_bytes())
    assert set(filters) == {1}
    assert decoded == rows
    magick = run_linux("convert", out, "-depth", "8", "rgb:-").stdout
    assert magick == b"".join(bytes(c for px in row for c in px) for row in rows)


def test_jpeg_we_write_is_baseline_quality_90(tool, tmp_path, picture):
    ppm, rows = picture
    out = tmp_path / "out.jpg"
    tool.run("encode", "jpg", ppm, out)
    data = out.read_bytes()
    assert b"\xff\xc0" in data and b"\xff\xc2" not in data  # baseline frame, not progressive
    frame = data.index(b"\xff\xc0")
    assert data[frame + 9] == 3  # colour: three components
    assert run_linux("identify", "-format", "%Q", out).stdout.strip() == b"90"
    run_linux("djpeg", "-outfile", tmp_path / "back.ppm", out)
    back = read_pnm(tmp_path / "back.ppm")
    assert len(back) == 333 and len(back[0]) == 701
    smooth = [[(r, g, 128) for r, g, _ in row] for row in rows]  # noise aside, the picture survives
    assert max_difference([[(r, g, 0) for r, g, _ in row] for row in back[8:-8]],
                          [[(r, g, 0) for r, g, _ in row] for row in smooth[8:-8]]) < 64


def test_bmp_we_write_is_24_bit_uncompressed(tool, tmp_path, picture):
    ppm, rows = picture
    out = tmp_path / "out.bmp"
    tool.run("encode", "bmp", ppm, out)
    data = out.read_bytes()
    size, _, _, offset, info_size, width, height, planes, bits, compression = struct.unpack_from("<IHHIIiiHHI", data, 2)
    assert (size, offset, info_size, width, height, planes, bits, compression) == (
        len(data), 54, 40, 701, 333, 1, 24, 0)
    magick = run_linux("convert", out, "-depth", "8", "rgb:-").stdout
    assert magick == b"".join(bytes(c for px in row for c in px) for row in rows)


# -- images we read -----------------------------------------------------------

W, H = 13, 7
BASE = sample_pixels(W, H, seed=11)
GREYS = [[((x * 37 + y * 11) % 256,) for x in range(W)] for y in range(H)]
PALETTE = [(255, 0, 0), (0, 128, 0), (0, 0, 255), (250, 250, 250), (10, 20, 30)]
INDEXED = [[((x + 2 * y) % len(PALETTE),) for x in range(W)] for y in range(H)]
ALPHA = [[(r, g, b, (x * 20 + y * 30) % 256) for (r, g, b), x in zip(row, range(W))] for y, row in enumerate(BASE)]


def grey(v, bits):
    return v * 255 // ((1 << bits) - 1)


PNG_VARIANTS = {
    # name: (samples, depth, colour type, extra, expected RGB rows)
    "grey 1-bit": ([[(v >> 7,) for (v,) in row] for row in GREYS], 1, 0, {},
                   [[(grey(v >> 7, 1),) * 3 for (v,) in row] for row in GREYS]),
    "grey 4-bit": ([[(v >> 4,) for (v,) in row] for row in GREYS], 4, 0, {},
                   [[(grey(v >> 4, 4),) * 3 for (v,) in row] for row in GREYS]),
    "grey 8-bit": (GREYS, 8, 0, {}, [[(v, v, v) for (v,) in row] for row in GREYS]),
    "grey 16-bit": ([[(v * 257,) for (v,) in row] for row in GREYS], 16, 0, {},
                    [[(v, v, v) for (v,) in row] for row in GREYS]),
    "grey with alpha": ([[(v, 255 - v) for (v,) in row] for row in GREYS], 8, 4, {},
                        [[over_white((v, v, v, 255 - v)) for (v,) in row] for row in GREYS]),
    "rgb 8-bit": (BASE, 8, 2, {}, BASE),
    "rgb 16-bit": ([[tuple(c * 257 for c in px) for px in row] for row in BASE], 16, 2, {}, BASE),
    "rgba 8-bit": (ALPHA, 8, 6, {}, [[over_white(px) for px in row] for row in ALPHA]),
    "rgba 16-bit": ([[tuple(c * 257 for c in px) for px in row] for row in ALPHA], 16, 6, {},
                    [[over_white(px) for px in row] for row in ALPHA]),
    "palette with transparency": (INDEXED, 8, 3, {"palette": PALETTE, "trns": bytes([255, 0, 128])},
                                  [[over_white(PALETTE[i] + ((255, 0, 128)[i] if i < 3 else 255,)) for (i,) in row]
                                   for row in INDEXED]),
    "palette 4-bit": (INDEXED, 4, 3, {"palette": PALETTE}, [[PALETTE[i] for (i,) in row] for row in INDEXED]),
    "rgb interlaced": (BASE, 8, 2, {"interlaced": True}, BASE),
    "rgba 16-bit interlaced": ([[tuple(c * 257 for c in px) for px in row] for row in ALPHA], 16, 6,
                               {"interlaced": True}, [[over_white(px) for px in row] for row in ALPHA]),
}


@pytest.mark.parametrize("variant", PNG_VARIANTS)
def test_png_variants_decode_to_their_pixels(tool, tmp_path, variant):
    samples, depth, color, extra, expected = PNG_VARIANTS[variant]
    write_png(tmp_path / "in.png", samples, W, H, depth, color, **extra)
    assert subprocess.run(["pngcheck", "-q", str(tmp_path / "in.png")]).returncode == 0
    tool.run("decode", "png", tmp_path / "in.png", tmp_path / "out.ppm")
    # One step of tolerance where alpha blending rounds.
    assert max_difference(read_pnm(tmp_path / "out.ppm"), expected) <= (1 if color in (4, 6) or "trns" in extra else 0)


@pytest.mark.parametrize("options", [[], ["-grayscale"], ["-progressive"], ["-quality", "50", "-sample", "1x1"]])
def test_jpeg_variants_decode_like_djpeg(tool, tmp_path, options):
    write_ppm(tmp_path / "in.ppm", sample_pixels(45, 29))
    run_linux("cjpeg", *options, "-outfile", tmp_path / "in.jpg", tmp_path / "in.ppm")
    run_linux("djpeg", "-outfile", tmp_path / "reference.pnm", tmp_path / "in.jpg")
    tool.run("decode", "jpeg", tmp_path / "in.jpg", tmp_path / "out.ppm")
    assert max_difference(read_pnm(tmp_path / "out.ppm"), read_pnm(tmp_path / "reference.pnm")) <= 1


BMP_PICTURES = {1: [[PALETTE[(x + y) % 2] for x in range(W)] for y in range(H)],
                4: [[PALETTE[i] for (i,) in row] for row in INDEXED],
                8: [[PALETTE[i] for (i,) in row] for row in INDEXED],
                24: BASE, 32: BASE}


@pytest.mark.parametrize("top_down", [False, True], ids=["bottom-up", "top-down"])
@pytest.mark.parametrize("bits", [1, 4, 8, 24, 32])
def test_bmp_variants_decode_to_their_pixels(tool, tmp_path, bits, top_down):
    rows = BMP_PICTURES[bits]
    write_bmp(tmp_path / "in.bmp", rows, bits, top_down)
    # ImageMagick agrees on what the file holds.
    assert run_linux("convert", tmp_path / "in.bmp", "-depth", "8", "rgb:-").stdout == \
        b"".join(bytes(c for px in row for c in px) for row in rows)
    tool.run("decode", "bmp", tmp_path / "in.bmp", tmp_path / "out.ppm")
    assert read_pnm(tmp_path / "out.ppm") == rows
