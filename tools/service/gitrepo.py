"""Read access to a local git repository through git plumbing commands."""
import subprocess
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional


@dataclass
class TreeEntry:
    mode: str
    type: str  # "blob", "tree" or "commit"
    sha: str
    size: Optional[int]
    path: str


@dataclass
class CommitInfo:
    sha: str
    tree: str
    parents: List[str]
    author_name: str
    author_email: str
    date: str
    message: str


class GitRepo:
    def __init__(self, path):
        self.path = Path(path)

    def _git(self, *args: str, check=True) -> subprocess.CompletedProcess:
        return subprocess.run(["git", "-C", str(self.path), *args], capture_output=True, check=check)

    def resolve(self, ref: str, kind: str = "commit") -> Optional[str]:
        """The object a branch, tag or hash names, peeled to `kind`; None when unknown."""
        if not ref or ref.startswith("-"):
            return None
        # "ref:path" names an object inside a tree; peeling would apply to the path.
        if ":" in ref:
            done = self._git("rev-parse", "--verify", "--quiet", ref, check=False)
            sha = done.stdout.decode().strip() if done.returncode == 0 else None
            return sha if sha and self.object_type(sha) == kind else None
        done = self._git("rev-parse", "--verify", "--quiet", f"{ref}^{{{kind}}}", check=False)
        return done.stdout.decode().strip() if done.returncode == 0 else None

    def commit(self, sha: str) -> CommitInfo:
        fmt = "%H%x00%T%x00%P%x00%an%x00%ae%x00%cI%x00%B"
        out = self._git("show", "-s", f"--format={fmt}", sha).stdout.decode("utf-8")
        h, tree, parents, name, email, date, message = out.split("\x00", 6)
        return CommitInfo(h, tree, parents.split(), name, email, date, message.rstrip("\n"))

    def log(self, ref: str, path: Optional[str] = None) -> List[str]:
        """Commits reachable from ref, newest first, optionally only those touching path."""
        args = ["log", "--format=%H", ref, "--"]
        if path:
            args.append(path)
        return self._git(*args).stdout.decode().split()

    def ls_tree(self, tree: str, recursive: bool) -> List[TreeEntry]:
        args = ["ls-tree", "-l", "-z", "--full-tree"]
        if recursive:
            args += ["-r", "-t"]
        out = self._git(*args, tree).stdout
        entries = []
        for record in out.split(b"\x00"):
            if not record:
                continue
            meta, path = record.split(b"\t", 1)
            mode, kind, sha, size = meta.decode().split()
            entries.append(TreeEntry(mode, kind, sha, None if size == "-" else int(size),
                                     path.decode("utf-8")))
        return entries

    def blob_at(self, ref: str, path: str) -> Optional[bytes]:
        """Content of the file at path in ref; None when there is no such file."""
        sha = self.resolve(f"{ref}:{path}", "blob") if self.resolve(ref) else None
        return self.blob(sha) if sha else None

    def blob(self, sha: str) -> bytes:
        return self._git("cat-file", "blob", sha).stdout

    def object_type(self, sha: str) -> Optional[str]:
        done = self._git("cat-file", "-t", sha, check=False)
        return done.stdout.decode().strip() if done.returncode == 0 else None
