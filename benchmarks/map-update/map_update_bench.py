#!/usr/bin/env python3
"""The map update benchmark: a player's installation holds one 16000 x 16000
PNG map, assembled from 16 pieces of 4000 x 4000; the next release changes
one piece. The real Launcher.exe, driven through its window, first installs
the release (not measured), then updates to the next one: it downloads the
piece, decodes the old image onto its canvas, puts the piece on it and
encodes the whole map again.

The floor is what any program must do for that, one step after another:
pngtopnm of the old image, then pnmtopng (level 7, filter Sub) of the new one.

The picture is archivetool's make-canvas (the encode benchmarks' picture:
gradients with grain on every pixel), cut into pieces with pamcut; the changed
piece is its mirror image. The assembled image is checked pixel for pixel.

Usage: map_update_bench.py BUILD_DIR WORK_DIR
Expects the Wine session of tools/wine-session.sh (DISPLAY, WINEPREFIX).
"""
import os
import subprocess
import sys
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "benchmarks" / "update")]
import bigrepo  # noqa: E402
import update_bench  # noqa: E402

MAP = "highlands"
SIDE = 16000
PIECE = 4000
GRID = SIDE // PIECE
CHANGED = (1, 2)  # column, row of the piece the next release changes


def sh(command, **kwargs):
    return subprocess.run(command, shell=True, check=True, **kwargs)


def timed(command):
    started = time.monotonic()
    sh(command)
    return time.monotonic() - started


def load():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


class MapBench(update_bench.Bench):
    def prepare(self):
        started = time.monotonic()
        picture = self.work / "picture.ppm"
        canvas = self.work / "picture.raw"
        self.wine.run([self.build / "tools" / "archivetool.exe", "make-canvas", self.wine.windows_path(canvas),
                       self.wine.windows_path(picture)], timeout=600)
        canvas.unlink()
        repo = self.work / "repo"
        repo.mkdir()
        bigrepo._git(repo, "init", "-q", "-b", "main")
        (repo / "Launcher.exe").write_bytes((self.build / "Launcher.exe").read_bytes())
        (repo / "VELDRA.exe").write_bytes((self.build / "tools" / "VELDRA.exe").read_bytes())
        folder = repo / "data" / "maps" / MAP
        folder.mkdir(parents=True)
        (folder / "settings.ini").write_bytes(f"[main]\r\nMapFormat=png\r\nTitle={MAP}\r\n".encode("ascii"))
        (folder / "objects.txt").write_bytes(b"objects of the highlands\n" * 400)
        for column in range(GRID):
            for row in range(GRID):
                sh(f"pamcut -left {column * PIECE} -top {row * PIECE} -width {PIECE} -height {PIECE} '{picture}'"
                   f" | pnmtopng -compression 1 > '{folder}/.part_{column}_{row}.png'")
        base = self.commit(repo, "base", "2026-02-01T12:00:00+00:00", None)
        column, row = CHANGED
        piece = folder / f".part_{column}_{row}.png"
        mirrored = self.work / "mirrored.ppm"
        sh(f"pamcut -left {column * PIECE} -top {row * PIECE} -width {PIECE} -height {PIECE} '{picture}'"
           f" | pamflip -lr > '{mirrored}'")
        sh(f"pnmtopng -compression 1 < '{mirrored}' > '{piece}'")
        # What the launcher must assemble: the picture with that piece mirrored.
        self.expected = self.work / "expected.ppm"
        sh(f"pnmpaste '{mirrored}' {column * PIECE} {row * PIECE} '{picture}' > '{self.expected}'")
        picture.unlink()
        mirrored.unlink()
        bigrepo._git(repo, "checkout", "-q", "-b", "next")
        changes = bigrepo._git(repo, "diff", "--name-status", "--", ".")
        (repo / ".upgrade").mkdir()
        (repo / ".upgrade" / base).write_bytes(changes.encode("utf-8"))
        next_commit = self.commit(repo, "next", "2026-02-02T12:00:00+00:00", base)
        bigrepo._git(repo, "checkout", "-q", "main")
        self.repo = {"path": str(repo), "base": base, "next": next_commit, "maps": [MAP]}
        print(f"repository: one {SIDE} x {SIDE} map in {GRID * GRID} pieces of {PIECE} x {PIECE}, "
              f"piece {CHANGED} changes (made in {time.monotonic() - started:.0f} s)", flush=True)
        self.service = update_bench.Service(repo, self.work)

    @staticmethod
    def commit(repo, message, date, previous):
        bigrepo._git(repo, "add", "-A", ".")
        bigrepo._git(repo, "commit", "-q", "-m", message, env={"GIT_AUTHOR_DATE": date, "GIT_COMMITTER_DATE": date})
        return bigrepo._git(repo, "rev-parse", "HEAD").strip()

    def map_image(self, target):
        with zipfile.ZipFile(self.folder / "data" / "maps" / f"{MAP}.zip") as archive:
            member = next(n for n in archive.namelist() if n.lower() == "map.png")
            with archive.open(member) as source, open(target, "wb") as out:
                while chunk := source.read(1 << 22):
                    out.write(chunk)


def main():
    build, work = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    bench = MapBench(build, work, 1.0)
    try:
        bench.prepare()
        print(f"load average before: {load()} ({os.cpu_count()} cores)", flush=True)
        installed = bench.fresh()
        print(f"installation (not measured): {installed.seconds:.1f} s", flush=True)
        old_png, new_png = work / "old.png", work / "new.png"
        bench.map_image(old_png)
        run = bench.incremental()
        print("\n".join(run.report()), flush=True)
        bench.map_image(new_png)
        sh(f"pngcheck -q '{new_png}'")
        new_ppm = work / "new.ppm"
        sh(f"pngtopnm '{new_png}' > '{new_ppm}'")
        if subprocess.run(["cmp", "-s", str(new_ppm), str(bench.expected)]).returncode != 0:
            raise SystemExit("map-update: the assembled image differs from the expected picture")
        bench.expected.unlink()
        decode = timed(f"pngtopnm '{old_png}' > /dev/null")
        encode = timed(f"pnmtopng -force -compression 7 -sub < '{new_ppm}' > /dev/null")
        floor = decode + encode
        print(f"floor: pngtopnm {decode:.1f} s + pnmtopng {encode:.1f} s; new image {new_png.stat().st_size} bytes",
              flush=True)
        print(f"load average after: {load()}", flush=True)
        print(f"map-update: ours {run.seconds:.1f} s, floor {floor:.1f} s, ratio {run.seconds / floor:.2f}, "
              f"peak {run.peak:.0f} MiB")
    finally:
        bench.end()


if __name__ == "__main__":
    main()
