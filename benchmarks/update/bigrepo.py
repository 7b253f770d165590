"""The update benchmark's game repository: a real git repository of about
3,000 files in about 60 folders, about 300 MB, a few files of 20 MB and 8 maps
cut into 4 to 16 pieces (PNG and JPEG).

Two commits: "base" (the branch main) and "next" (the branch next), which
touches about 10 % of the files and two maps and carries the change list
.upgrade/<base>. Contents come from a seeded generator, so a second run writes
the same repository.

generate(out, launcher, game, scale=1.0) -> {"path", "base", "next", "maps"}
scale < 1 makes a smaller repository for trying the benchmark out.
"""
import os
import random
import shutil
import struct
import subprocess
import zlib
from pathlib import Path

PIECE = 4000
EDGE = 600  # width of the last column and height of the last row of a map
AREAS = ("textures", "sounds", "models", "scripts", "ui", "locale")
SUBFOLDERS = 8
# name, format, columns, rows
MAPS = (("plains", "png", 2, 2), ("harbour", "jpg", 2, 2), ("ridge", "png", 4, 1), ("marsh", "jpg", 2, 3),
        ("canyon", "png", 3, 2), ("tundra", "jpg", 4, 2), ("delta", "png", 3, 3), ("empire", "jpg", 4, 4))
CHANGED_MAPS = ("plains", "harbour")


def _git(repo, *args, env=None):
    environment = dict(os.environ, GIT_CONFIG_NOSYSTEM="1", HOME=str(repo),
                       GIT_AUTHOR_NAME="Veldra Release", GIT_AUTHOR_EMAIL="release@veldra.invalid",
                       GIT_COMMITTER_NAME="Veldra Release", GIT_COMMITTER_EMAIL="release@veldra.invalid")
    environment.update(env or {})
    # Random content does not compress: storing it keeps generation and serving quick.
    return subprocess.run(["git", "-C", str(repo), "-c", "core.compression=0", "-c", "core.looseCompression=0",
                           "-c", "core.quotePath=true", *args],
                          check=True, capture_output=True, env=environment).stdout.decode("utf-8")


def _png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def _rows(width, height, seed):
    """Rows of 24-bit pixels: smooth bands with some grain, different per seed."""
    rng = random.Random(seed)
    span = width * 3 + 3 * height
    base = bytearray(((i // 3) * (seed % 7 + 1) // 40 + (i % 3) * 60 + seed * 13) & 0xFF for i in range(span))
    grain = rng.randbytes(span)
    pattern = bytes((b + (g & 0x0F)) & 0xFF for b, g in zip(base, grain))
    for y in range(height):
        offset = (y * 3) % (span - width * 3 + 1)
        yield pattern[offset:offset + width * 3]


def _png(width, height, seed):
    raw = b"".join(b"\x00" + row for row in _rows(width, height, seed))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _png_chunk(b"IHDR", header) + _png_chunk(b"IDAT", zlib.compress(raw, 6))
            + _png_chunk(b"IEND", b""))


def _jpeg(width, height, seed):
    ppm = f"P6\n{width} {height}\n255\n".encode() + b"".join(_rows(width, height, seed))
    return subprocess.run(["cjpeg", "-quality", "85"], input=ppm, check=True, capture_output=True).stdout


def _piece(fmt, column, row, columns, rows, seed):
    width = EDGE if column == columns - 1 else PIECE
    height = EDGE if row == rows - 1 else PIECE
    return (_png if fmt == "png" else _jpeg)(width, height, seed)


def _map_files(name, fmt, columns, rows, seed, scale):
    files = {f"data/maps/{name}/settings.ini": f"[main]\r\nMapFormat={fmt}\r\nTitle={name}\r\n".encode("ascii"),
             f"data/maps/{name}/objects.txt": f"objects of {name} {seed}\n".encode("ascii") * 200}
    if scale < 1:
        columns, rows = min(columns, 2), min(rows, 2)
    for column in range(columns):
        for row in range(rows):
            files[f"data/maps/{name}/.part_{column}_{row}.{fmt}"] = _piece(fmt, column, row, columns, rows,
                                                                             seed * 100 + column * 10 + row)
    return files


def _plain_sizes(rng, count):
    sizes = []
    for _ in range(count):
        if rng.random() < 0.85:
            sizes.append(rng.randint(1024, 32 * 1024))
        else:
            sizes.append(rng.randint(50 * 1024, 530 * 1024))
    return sizes


def _base_files(rng, scale):
    files = {"readme.txt": b"Veldra benchmark installation\n", "data/config.ini": b"[game]\nversion=1\n"}
    count = int(2950 * scale)
    folders = [f"data/{area}/{area}{n:02d}" for area in AREAS for n in range(SUBFOLDERS)]
    for index, size in enumerate(_plain_sizes(rng, count)):
        files[f"{folders[index % len(folders)]}/file{index:04d}.bin"] = rng.randbytes(size)
    for n in range(max(1, int(4 * scale))):
        files[f"data/video/intro{n}.bik"] = rng.randbytes(int(20 * 1024 * 1024 * scale))
    for seed, (name, fmt, columns, rows) in enumerate(MAPS, start=1):
        files.update(_map_files(name, fmt, columns, rows, seed, scale))
    return files


def _next_files(files, rng, scale):
    """About 10 % of the plain files changed, added or removed, and new pieces for two maps."""
    plain = sorted(p for p in files if p.endswith(".bin"))
    picked = rng.sample(plain, len(plain) // 10)
    changed, removed = picked[:len(picked) * 9 // 10], picked[len(picked) * 9 // 10:]
    for path in changed:
        files[path] = rng.randbytes(len(files[path]))
    for path in removed:
        del files[path]
    for n in range(len(removed)):
        files[f"data/scripts/scripts00/added{n:03d}.bin"] = rng.randbytes(rng.randint(1024, 32 * 1024))
    for seed, (name, fmt, columns, rows) in enumerate(MAPS, start=1):
        if name in CHANGED_MAPS:
            for path in [p for p in files if p.startswith(f"data/maps/{name}/.part_0_")]:
                column_row = path.rsplit("/", 1)[1].split(".")[1]
                _, column, row = column_row.split("_")
                files[path] = _piece(fmt, int(column), int(row), columns if scale >= 1 else min(columns, 2),
                                     rows if scale >= 1 else min(rows, 2), seed * 1000 + int(row))
    return files


def _write(repo, files, previous):
    for entry in repo.iterdir():
        if entry.name != ".git":
            shutil.rmtree(entry) if entry.is_dir() else entry.unlink()
    for path, data in files.items():
        target = repo / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
    _git(repo, "add", "-A", ".")
    if previous:
        changes = _git(repo, "diff", "--cached", "--name-status", "-M", previous, "--", ".", ":(exclude).upgrade")
        (repo / ".upgrade").mkdir(exist_ok=True)
        (repo / ".upgrade" / previous).write_bytes(changes.encode("utf-8"))
        _git(repo, "add", "-A", ".")
    date = "2026-02-02T12:00:00+00:00" if previous else "2026-02-01T12:00:00+00:00"
    _git(repo, "commit", "-q", "-m", "next" if previous else "base",
         env={"GIT_AUTHOR_DATE": date, "GIT_COMMITTER_DATE": date})
    return _git(repo, "rev-parse", "HEAD").strip()


def generate(out, launcher, game, scale=1.0):
    out = Path(out)
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    _git(out, "init", "-q", "-b", "main")
    rng = random.Random(13)
    files = _base_files(rng, scale)
    files["Launcher.exe"] = launcher
    files["VELDRA.exe"] = game
    base = _write(out, files, None)
    _git(out, "checkout", "-q", "-b", "next")
    next_commit = _write(out, _next_files(files, rng, scale), base)
    _git(out, "checkout", "-q", "main")
    return {"path": str(out), "base": base, "next": next_commit, "maps": [m[0] for m in MAPS]}
