"""What an installation of a repository commit holds, written and compared.

An installation keeps every repository file outside `.upgrade/` and the player's
subtree (submodules name other repositories and are not installed); each map folder
below `data/maps/` becomes one archive `data/maps/<map>.zip` holding the map's
files and, instead of its image pieces `.part_<column>_<row>.<ext>`, one image
`map.png` put together from them.
"""
import subprocess
import zipfile
from pathlib import Path

from archive_support import decode_rgb8_png
from .images import write_png

PLAYER_SUBTREE = "data/campanings/mods/"
MAPS = "data/maps/"
PIECE = 4000


def repository_files(repo, commit):
    """{path: bytes} of every file of the commit (submodule entries left out)."""
    listing = subprocess.run(["git", "-C", str(repo), "ls-tree", "-r", "-z", commit],
                             check=True, capture_output=True).stdout
    files = {}
    for record in listing.decode("utf-8").split("\0"):
        if not record:
            continue
        meta, name = record.split("\t", 1)
        if meta.split()[1] != "blob":
            continue
        files[name] = subprocess.run(["git", "-C", str(repo), "cat-file", "blob", f"{commit}:{name}"],
                                     check=True, capture_output=True).stdout
    return files


def _installed(path):
    return path.split("/")[0] != ".upgrade" and not path.startswith(PLAYER_SUBTREE)


def compose_pieces(pieces):
    """(width, height, rows of RGB tuples) of the image the pieces {name: png bytes} make."""
    width = height = 0
    placed = []
    for name, data in sorted(pieces.items()):
        fields = name.rsplit(".", 1)[0].split("_")
        column, row = int(fields[1]), int(fields[2])
        _, rows = decode_rgb8_png(data)
        w, h = len(rows[0]), len(rows)
        x0, y0 = column * PIECE, row * PIECE
        if x0 + w > width or w != PIECE:
            width = x0 + w
        if y0 + h > height or h != PIECE:
            height = y0 + h
        placed.append((x0, y0, rows))
    canvas = [[(0, 0, 0)] * width for _ in range(height)]
    for x0, y0, rows in placed:
        for y, line in enumerate(rows):
            if y0 + y < height:
                canvas[y0 + y][x0:x0 + len(line)] = line[:max(0, width - x0)]
    return width, height, canvas


def expected_installation(files):
    """(plain {path: bytes}, maps {archive path: {"members": {name: bytes}, "image": composed or None}})."""
    plain, maps = {}, {}
    for path, data in files.items():
        if not _installed(path) or path == "Launcher.exe":
            continue
        if path.startswith(MAPS) and "/" in path[len(MAPS):]:
            name, _, member = path[len(MAPS):].partition("/")
            entry = maps.setdefault(f"{MAPS}{name}.zip", {"members": {}, "pieces": {}})
            if member.startswith(".part_"):
                entry["pieces"][member] = data
            else:
                entry["members"][member] = data
        else:
            plain[path] = data
    for entry in maps.values():
        pieces = entry.pop("pieces")
        entry["image"] = compose_pieces(pieces) if pieces else None
    return plain, maps


def write_installation(folder, files):
    """Writes what the launcher would have installed from the files (maps packed, image as map.png)."""
    plain, maps = expected_installation(files)
    folder = Path(folder)
    for path, data in plain.items():
        target = folder / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
    for archive, entry in maps.items():
        target = folder / archive
        target.parent.mkdir(parents=True, exist_ok=True)
        with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as out:
            for name, data in entry["members"].items():
                out.writestr(name, data)
            if entry["image"]:
                width, height, rows = entry["image"]
                image = Path(str(target) + ".png")
                write_png(image, width, height, [b"".join(bytes(p) for p in row) for row in rows])
                out.writestr("map.png", image.read_bytes())
                image.unlink()


def installation_differences(folder, files, allowed_extra=(".last", "Launcher.exe")):
    """What in the folder differs from an installation of the files: a list of texts, empty when equal."""
    folder = Path(folder)
    plain, maps = expected_installation(files)
    differences = []
    for path, data in plain.items():
        local = folder / path
        if not local.is_file():
            differences.append(f"missing {path}")
        elif local.read_bytes() != data:
            differences.append(f"different {path}")
    for archive, entry in maps.items():
        differences += _archive_differences(folder / archive, archive, entry)
    present = {p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file()}
    for extra in sorted(present - set(plain) - set(maps) - set(allowed_extra)):
        if not extra.startswith(PLAYER_SUBTREE):
            differences.append(f"unexpected {extra}")
    return differences


def _archive_differences(path, name, entry):
    if not path.is_file():
        return [f"missing {name}"]
    with zipfile.ZipFile(path) as archive:
        if archive.testzip() is not None:
            return [f"damaged {name}"]
        members = {info.filename: archive.read(info) for info in archive.infolist()}
    expected = set(entry["members"]) | ({"map.png"} if entry["image"] else set())
    if set(members) != expected:
        return [f"{name} holds {sorted(members)}, expected {sorted(expected)}"]
    differences = [f"different {name}:{m}" for m, data in entry["members"].items() if members[m] != data]
    if entry["image"]:
        width, height, rows = entry["image"]
        _, got = decode_rgb8_png(members["map.png"])
        if (len(got[0]) if got else 0, len(got)) != (width, height):
            differences.append(f"{name}:map.png is {len(got[0]) if got else 0}x{len(got)}, expected {width}x{height}")
        elif got != rows:
            differences.append(f"{name}:map.png pixels differ")
    return differences


def read_last(folder):
    data = (Path(folder) / ".last").read_bytes()
    return data.decode("utf-16-le")


PLACED_RECORD = ".launcher-placed"


def placed_record_names_the_heads_files(now, plain):
    """Whether the record of placed files a failed run keeps names only files that hold the head's bytes.

    now: a snapshot of the installation; plain: the head's plain files by path.
    """
    lines = now.get(PLACED_RECORD, b"").decode("utf-8").splitlines()
    if not lines or not lines[0].startswith("placed "):
        return False
    for line in lines[1:]:
        _sha, _size, path = line.split(" ", 2)
        if now.get(path.lstrip("/")) != plain.get(path.lstrip("/")):
            return False
    return True
