#!/usr/bin/env python3
"""Writes the sample game repository: a real git repository with the release
channel "main" and the test channel "qa".

Each release commit after the first carries `.upgrade/<previous release>`, the
change list from the previous release to it, written exactly as
`git diff --name-status` prints it (renames as R<score>, non-ASCII paths quoted
with octal escapes). The repository holds map folders below data/maps/ with a
settings.ini and image pieces, the player's subtree data/campanings/mods/,
Launcher.exe and the game VELDRA.exe at the root.

Usage: generate.py OUT [--launcher FILE] [--game FILE]
Prints a JSON summary (the release commits of both branches, oldest first).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from images import png_rgb  # noqa: E402

MARKER = ".sample-game-repository"
PLACEHOLDER_EXE = b"MZ" + b"\x90" * 62 + b"sample executable placeholder\n"


def _git(repo: Path, *args: str, env_extra=None) -> str:
    env = dict(os.environ, GIT_CONFIG_NOSYSTEM="1", HOME=str(repo),
               GIT_AUTHOR_NAME="Veldra Release", GIT_AUTHOR_EMAIL="release@veldra.invalid",
               GIT_COMMITTER_NAME="Veldra Release", GIT_COMMITTER_EMAIL="release@veldra.invalid")
    env.update(env_extra or {})
    return subprocess.run(["git", "-C", str(repo), "-c", "core.quotePath=true", *args],
                          check=True, capture_output=True, env=env).stdout.decode("utf-8")


def _ini(fmt: str, title: str) -> bytes:
    return f"[main]\r\nMapFormat={fmt}\r\nTitle={title}\r\n".encode("ascii")


def _release_1(launcher: bytes, game: bytes) -> dict:
    return {
        "Launcher.exe": launcher,
        "VELDRA.exe": game,
        "readme.txt": b"Veldra sample installation\n",
        "data/config.ini": b"[game]\nversion=1\n",
        "data/text/intro.txt": b"Once upon a time\n",
        "data/text/old_name.txt": b"this file is renamed in the second release\n",
        "data/text/obsolete.txt": b"removed in the second release\n",
        "data/maps/north/settings.ini": _ini("png", "North"),
        "data/maps/north/.part_0_0.png": png_rgb(64, 48, (40, 90, 160)),
        "data/maps/north/objects.txt": b"tree 1 2\n",
        "data/maps/south/objects.txt": b"river 1 1\n",
        "data/maps/south/settings.ini": _ini("png", "South"),
        # Every piece but the last column is 4000 pixels wide.
        "data/maps/south/.part_0_0.png": png_rgb(4000, 8, (20, 120, 40)),
        "data/maps/south/.part_1_0.png": png_rgb(96, 8, (200, 160, 40)),
        "data/campanings/readme.txt": b"Campaigns\n",
        "data/campanings/mods/example_mod.txt": b"the player's own mod\n",
        "bin/tool.dll": b"tool v1\n",
        "bin/sub/deep.dll": b"two levels deep outside data\n",
    }


def _release_2(files: dict) -> None:
    files["data/config.ini"] = b"[game]\nversion=2\n"
    files["data/text/new_name.txt"] = files.pop("data/text/old_name.txt")
    del files["data/text/obsolete.txt"]
    files["data/text/кириллица.txt"] = "Привет\n".encode("utf-8")
    files["data/maps/north/.part_0_0.png"] = png_rgb(64, 48, (60, 110, 180))
    files["data/campanings/mods/example_mod.txt"] = b"changed upstream, still the player's\n"


def _release_3(files: dict) -> None:
    files["data/maps/south/objects.txt"] = b"river 3 4\n"
    del files["data/maps/north/objects.txt"]
    files["data/maps/east/settings.ini"] = _ini("png", "East")
    files["data/maps/east/.part_0_0.png"] = png_rgb(32, 32, (150, 30, 30))
    files["bin/tool.dll"] = b"tool v3\n"


def _qa_release(files: dict) -> None:
    files["data/config.ini"] = b"[game]\nversion=3-qa\n"
    files["data/qa_only.txt"] = b"test channel only\n"


def _write_tree(repo: Path, files: dict) -> None:
    for entry in repo.iterdir():
        if entry.name not in (".git", ".upgrade"):
            shutil.rmtree(entry) if entry.is_dir() else entry.unlink()
    for path, data in files.items():
        target = repo / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)


class Submodule:
    """A tree entry of type commit (a submodule) at a path, naming a commit of another repository."""

    def __init__(self, commit: str):
        self.commit = commit


def _commit(repo: Path, files: dict, message: str, number: int, previous, change_list=True) -> str:
    plain = {path: data for path, data in files.items() if not isinstance(data, Submodule)}
    _write_tree(repo, plain)
    _git(repo, "add", "-A", ".")
    for path, data in files.items():
        if isinstance(data, Submodule):
            _git(repo, "update-index", "--add", "--cacheinfo", f"160000,{data.commit},{path}")
    if previous and change_list:
        changes = _git(repo, "diff", "--cached", "--name-status", "-M", previous, "--",
                       ".", ":(exclude).upgrade")
        upgrade = repo / ".upgrade" / previous
        upgrade.parent.mkdir(exist_ok=True)
        upgrade.write_bytes(changes.encode("utf-8"))
        _git(repo, "add", "-A", ".")
    # Fixed dates make the commit hashes depend only on the content.
    date = f"2026-01-{number:02d}T12:00:00+00:00"
    _git(repo, "commit", "-q", "-m", message,
         env_extra={"GIT_AUTHOR_DATE": date, "GIT_COMMITTER_DATE": date})
    return _git(repo, "rev-parse", "HEAD").strip()


def _new_repository(out) -> Path:
    """An empty repository at out; an earlier sample repository there is replaced, anything else refused."""
    out = Path(out)
    if out.exists():
        if any(out.iterdir()) and not (out / ".git" / MARKER).exists():
            raise SystemExit(f"{out} exists and is not a sample repository; not touching it")
        shutil.rmtree(out)
    out.mkdir(parents=True)
    _git(out, "init", "-q", "-b", "main")
    (out / ".git" / MARKER).touch()
    return out


def generate(out: Path, launcher: bytes = PLACEHOLDER_EXE, game: bytes = PLACEHOLDER_EXE,
             with_maps: bool = True) -> dict:
    """with_maps=False leaves out data/maps/: a repository whose every file an installation keeps as is."""
    out = _new_repository(out)

    def released(files: dict) -> dict:
        return {path: data for path, data in files.items() if with_maps or not path.startswith("data/maps/")}

    files = _release_1(launcher, game)
    main = [_commit(out, released(files), "Release 1", 1, None)]
    for number, change in ((2, _release_2), (3, _release_3)):
        change(files)
        main.append(_commit(out, released(files), f"Release {number}", number, main[-1]))
    _git(out, "checkout", "-q", "-b", "qa")
    _qa_release(files)
    qa = main + [_commit(out, released(files), "Test release 4", 4, main[-1])]
    _git(out, "checkout", "-q", "main")
    return {"path": str(out), "main": main, "qa": qa}


def generate_releases(out: Path, releases: list, without_change_list=()) -> dict:
    """A repository whose branch main holds the given releases ({path: bytes or Submodule}, whole trees,
    oldest first), each after the first with the change list from the one before, except the releases
    whose index is in without_change_list (their change list is missing)."""
    out = _new_repository(out)
    main = []
    for number, files in enumerate(releases, start=1):
        main.append(_commit(out, files, f"Release {number}", number, main[-1] if main else None,
                            change_list=number - 1 not in without_change_list))
    return {"path": str(out), "main": main, "qa": list(main)}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("out", type=Path)
    parser.add_argument("--launcher", type=Path, help="file committed as Launcher.exe")
    parser.add_argument("--game", type=Path, help="file committed as VELDRA.exe")
    args = parser.parse_args()
    summary = generate(args.out,
                       args.launcher.read_bytes() if args.launcher else PLACEHOLDER_EXE,
                       args.game.read_bytes() if args.game else PLACEHOLDER_EXE)
    json.dump(summary, sys.stdout, indent=2)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
