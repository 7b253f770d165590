#!/usr/bin/env python3
"""The repository service stand-in (tools/service) with quicker git reads, for
the update benchmark: the stand-in starts several git processes per raw file,
which would make the server, not the clients, the measure of the download
phase. Same replies and record; only the lookups differ: a branch is read from
its ref file, a commit's paths are listed once, blobs come from one
`git cat-file --batch` process.

Usage: quick_service.py --repo PATH --record FILE --port-file FILE
"""
import argparse
import subprocess
import sys
import threading
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools" / "service"))
from gitrepo import GitRepo  # noqa: E402
from repository_service import RepositoryService  # noqa: E402


class QuickRepo(GitRepo):
    def __init__(self, path):
        super().__init__(path)
        self._lock = threading.Lock()
        self._trees = {}  # commit -> {path: blob sha}
        self._batch = subprocess.Popen(["git", "-C", str(self.path), "cat-file", "--batch"],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def _branch(self, ref):
        head = self.path / ".git" / "refs" / "heads" / ref
        return head.read_text().strip() if head.is_file() else None

    def _paths(self, commit):
        with self._lock:
            if commit not in self._trees:
                out = self._git("ls-tree", "-r", "-z", commit).stdout
                paths = {}
                for record in out.split(b"\x00"):
                    if record:
                        meta, name = record.split(b"\t", 1)
                        _, kind, sha = meta.decode().split()
                        if kind == "blob":
                            paths[name.decode("utf-8")] = sha
                self._trees[commit] = paths
            return self._trees[commit]

    def resolve(self, ref, kind="commit"):
        name, colon, path = ref.partition(":")
        commit = self._branch(name) if name and not name.startswith("-") else None
        if colon and kind == "blob" and commit:
            return self._paths(commit).get(path)
        if not colon and kind == "commit" and commit:
            return commit
        return super().resolve(ref, kind)

    def blob(self, sha):
        with self._lock:
            self._batch.stdin.write(sha.encode() + b"\n")
            self._batch.stdin.flush()
            header = self._batch.stdout.readline().split()
            if len(header) != 3:
                return super().blob(sha)
            data = self._batch.stdout.read(int(header[2]))
            self._batch.stdout.read(1)
            return data


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True, type=Path)
    parser.add_argument("--record", required=True, type=Path)
    parser.add_argument("--port-file", required=True, type=Path)
    args = parser.parse_args()
    service = RepositoryService(args.repo, record_file=args.record)
    service.repo = QuickRepo(args.repo)
    args.port_file.write_text(str(service.server.server_address[1]))
    try:
        service.server.serve_forever()
    finally:
        service.server.server_close()


if __name__ == "__main__":
    main()
